#include "app/korveltapedrive.h"
#include "app/single_instance.h"
#include "common/app_globals.h"

#include <QApplication>
#include <QDebug>
#include <QSharedMemory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv); // arguments are accepted and ignored

    // The window (and with it the scale factor and the font stand-ins) comes before the instance
    // check, so a refused start's message is scaled like the window.
    KorvelTapeDrive window;

    QSharedMemory segment;
    if (!passSingleInstanceGuard(segment))
        return 0;

    qDebug() << "Application started successfully.";
    settingsPath = QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Brisolde\\Tarnwick");
    window.show();
    QCoreApplication::processEvents();
    const int result = QApplication::exec();
    segment.detach();
    return result;
}
