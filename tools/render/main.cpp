// tarnwick-render: draws windows into PNG files, for looking at them as a user sees them.
//
//   tarnwick-render dialogs FOLDER        every message dialog at scale 1.0, 1.25 and 1.5
//   tarnwick-render scanner IMAGE FOLDER  the scanner's window on IMAGE, scanned and extracted
//
// The scanner's pictures are named after QT_FONT_DPI, so runs at several densities can
// share a folder.
#include "common/app_globals.h"
#include "common/fonts.h"
#include "dialogs/aboutdlg.h"
#include "dialogs/closeapplicationdlg.h"
#include "dialogs/repairfinishdialog.h"
#include "dialogs/yesnoapplicationdlg.h"
#include "scanner/ui/scanner_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
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

int renderDialogs(const QString &folder)
{
    installFontSubstitutes(); // as the program does at start
    bool ok = true;
    for (const float scale : { 1.0f, 1.25f, 1.5f }) {
        scaleFactor = scale;
        const QString suffix = QStringLiteral("-%1.png").arg(qRound(scale * 100));
        const auto path = [&](const char *name) {
            return folder + QLatin1Char('/') + QLatin1String(name) + suffix;
        };
        ok = save(std::make_unique<CloseApplicationDlg>().get(), path("close")) && ok;
        ok = save(std::make_unique<YesNoApplicationDlg>().get(), path("yesno")) && ok;
        ok = save(std::make_unique<repairFinishDialog>().get(), path("repair")) && ok;
        ok = save(std::make_unique<AboutDlg>().get(), path("about")) && ok;
        // The two uses that move the logo: another instance runs, and work in progress.
        repairFinishDialog running;
        running.repairedLabl->setText(QStringLiteral(" Tarnwick is already\n running."));
        running.label_8->setText(QStringLiteral("         Tarnwick"));
        placeScaledSquare(running.label_3, 105, 6, 16);
        ok = save(&running, path("already-running")) && ok;
        repairFinishDialog busy;
        busy.repairedLabl->setText(
            QStringLiteral("An image of selected tape is being created. \nYou "
                           "can exit the app once the image is \ncomplete."));
        busy.label_8->setText(QStringLiteral("Exit"));
        placeScaledSquare(busy.label_3, 165, 6, 16);
        ok = save(&busy, path("busy-exit")) && ok;
    }
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
