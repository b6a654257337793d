// tarnwick-render: draws windows into PNG files, for looking at them as a user sees them.
//
//   tarnwick-render dialogs FOLDER        every dialog at the scale of the screen's density
//   tarnwick-render scanner IMAGE FOLDER  the scanner's window on IMAGE, scanned and extracted
//
// The scanner's pictures are named after QT_FONT_DPI, so runs at several densities can
// share a folder.
#include "common/app_globals.h"
#include "common/fonts.h"
#include "common/scale_set.h"
#include "dialogs/aboutdlg.h"
#include "dialogs/closeapplicationdlg.h"
#include "dialogs/repairfinishdialog.h"
#include "dialogs/yesnoapplicationdlg.h"
#include "platform/win32_registry.h"
#include "scanner/ui/scanner_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QWindow>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

/// Runs the event loop until @p done or @p timeoutMs have passed.
bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

/// Shows @p widget, lets it paint, and writes it to @p path.
bool save(QWidget *widget, const QString &path)
{
    widget->move(20, 20);
    widget->show();
    const bool exposed = waitFor(
        [widget] { return widget->windowHandle() && widget->windowHandle()->isExposed(); }, 5000);
    // Labels added to a shown window appear after a turn of the event loop.
    waitFor([] { return false; }, 200);
    if (exposed && widget->grab().save(path)) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "tarnwick-render: could not write %s\n", qPrintable(path));
    return false;
}

// At the screen's density, as the program scales itself, so text and layout are
// the size a user sees; the About dialog reads the installed settings.
int renderDialogs(const QString &folder)
{
    installFontSubstitutes(); // as the program does at start
    settingsPath = QLatin1String(kApplicationKeyPath);
    scaleFactor
        = scaleFactorForDpi(qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchX()));
    const QString suffix = QStringLiteral("-%1.png").arg(qRound(scaleFactor * 100));
    const auto path = [&](const char *name) {
        return folder + QLatin1Char('/') + QLatin1String(name) + suffix;
    };
    bool ok = save(std::make_unique<CloseApplicationDlg>().get(), path("close"));
    ok = save(std::make_unique<YesNoApplicationDlg>().get(), path("yesno")) && ok;
    ok = save(std::make_unique<repairFinishDialog>().get(), path("repair")) && ok;
    ok = save(std::make_unique<AboutDlg>().get(), path("about")) && ok;
    // The uses with other titles, two of them with the logo moved.
    const auto message = [&](const char *name, const char *title, const char *text, int logoX) {
        repairFinishDialog dialog;
        dialog.label_8->setText(QLatin1String(title));
        dialog.repairedLabl->setText(QLatin1String(text));
        if (logoX >= 0)
            placeScaledSquare(dialog.label_3, logoX, 6, 16);
        return save(&dialog, path(name));
    };
    ok = message("already-running", "         Tarnwick", " Tarnwick is already\n running.", 105)
        && ok;
    ok = message("busy-exit", "Exit",
             "An image of selected tape is being created. \nYou can exit the app once the "
             "image is \ncomplete.",
             165)
        && ok;
    ok = message(
             "insufficient-space", "   Insufficient space", " Insufficient space in the disk.", -1)
        && ok;
    return ok ? 0 : 1;
}

int renderScanner(const QString &image, const QString &folder)
{
    const QString dpi = qEnvironmentVariable("QT_FONT_DPI", QStringLiteral("96"));
    ScannerWindow window(image);
    const auto idle = [&window] { return !window.isBusy(); };
    bool ok = waitFor(idle, 60000)
        && save(&window, folder + QStringLiteral("/quorlin-scanned-%1dpi.png").arg(dpi));
    if (ok) {
        window.findChild<QPushButton *>(QStringLiteral("extractButton"))->click();
        ok = waitFor(idle, 60000)
            && save(&window, folder + QStringLiteral("/quorlin-extracted-%1dpi.png").arg(dpi));
    }
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString mode = arguments.value(0);
    if (mode == QLatin1String("dialogs") && arguments.size() == 2 && QDir().mkpath(arguments[1]))
        return renderDialogs(arguments[1]);
    if (mode == QLatin1String("scanner") && arguments.size() == 3 && QDir().mkpath(arguments[2]))
        return renderScanner(arguments[1], arguments[2]);
    std::fprintf(stderr,
        "usage: tarnwick-render dialogs FOLDER\n"
        "       tarnwick-render scanner IMAGE FOLDER\n");
    return 2;
}
