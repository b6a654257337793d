#include "app/korveltapedrive.h"

#include "app/app_globals.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QMovie>
#include <QTimer>

KorvelTapeDrive::KorvelTapeDrive(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("Tarnwick"));
    detectScaleFactor();
    createWidgets();
    applyScaledStyles();
    applyTexts();
    setInitialState();
    layoutWidgets();
    connectSignals();
}

KorvelTapeDrive::~KorvelTapeDrive()
{
    delete toolBarTimer;
    delete connectedMovie;
}

void KorvelTapeDrive::detectScaleFactor()
{
    scaleFactor = 1.0f;
}

void KorvelTapeDrive::setInitialState()
{
}

void KorvelTapeDrive::connectSignals()
{
}

void KorvelTapeDrive::showMinimzedWin()
{
    showMinimized();
}

void KorvelTapeDrive::OnMenuProduct()
{
}

void KorvelTapeDrive::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
}

void KorvelTapeDrive::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
}

void KorvelTapeDrive::mouseDoubleClickEvent(QMouseEvent *)
{
}

void KorvelTapeDrive::mouseMoveEvent(QMouseEvent *event)
{
    QWidget::mouseMoveEvent(event);
}

void KorvelTapeDrive::keyPressEvent(QKeyEvent *event)
{
    event->ignore();
}
