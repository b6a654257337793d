#include "app/screen_dc.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtMath>

HDC GetDC(HWND)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return nullptr;
    return QGuiApplication::primaryScreen();
}

int GetDeviceCaps(HDC dc, int index)
{
    if (index != LOGPIXELSX)
        return 0;
    if (!dc)
        return 96; // no screen at all: lay out at 100 %
    return qRound(static_cast<QScreen *>(dc)->logicalDotsPerInchX());
}

int ReleaseDC(HWND, HDC)
{
    return 1;
}
