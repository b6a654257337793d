// window-driver: one imaging run of the real main window, for the benchmark.
//
//   TAPE=tape.tap QT_QPA_PLATFORM=offscreen window-driver BLOCK-SIZE FOLDER [yes]
//
// Goes the create road as a user does: option page "Next" (connection sequence, block-size
// list), the block size, the folder (through the folder dialog's seam), "Create". Answers
// the block-size question with Yes when asked to, else No. Prints the image path when the
// page says "Image Created" and exits 0; anything else exits 1.
#include "app/destination.h"
#include "app/korveltapedrive.h"
#include "dialogs/repairfinishdialog.h"
#include "dialogs/yesnoapplicationdlg.h"
#include "imaging/imaging_state.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <cstdio>

class KorvelTapeDriveTestAccess
{
public:
    static QPushButton *optionNextBtn(KorvelTapeDrive &w) { return w.optionNextBtn; }
    static QFrame *destinationPageFrame(KorvelTapeDrive &w) { return w.destinationPageFrame; }
    static QComboBox *blockSizeCombo(KorvelTapeDrive &w) { return w.blockSizeCombo; }
    static QPushButton *browseDestinationBtn(KorvelTapeDrive &w) { return w.browseDestinationBtn; }
    static QPushButton *createBtn(KorvelTapeDrive &w) { return w.createBtn; }
    static QLabel *creatingTitleLabel(KorvelTapeDrive &w) { return w.creatingTitleLabel; }
};
using Access = KorvelTapeDriveTestAccess;

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "window-driver: %s\n", what);
    return 1;
}

/// Answers whatever modal dialog the run brings up.
void answerDialogs(QTimer &timer, bool yes)
{
    QObject::connect(&timer, &QTimer::timeout, [yes] {
        QWidget *modal = QApplication::activeModalWidget();
        // Answer only from inside the dialog's exec() loop: closed before it runs, exec() waits.
        if (!modal || QThread::currentThread()->loopLevel() == 0)
            return;
        if (auto *question = qobject_cast<YesNoApplicationDlg *>(modal)) {
            (yes && !question->YesBtn->isHidden() ? question->YesBtn : question->NoBtn)->click();
        } else if (auto *message = qobject_cast<repairFinishDialog *>(modal)) {
            std::fprintf(stderr, "window-driver: message: %s\n",
                message->repairedLabl->text().toLocal8Bit().constData());
            message->OkBtn->click();
        }
    });
    timer.start(10);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 3)
        return fail("usage: window-driver BLOCK-SIZE FOLDER [yes]");
    const QString choice = arguments.at(1);
    const QString folder = arguments.at(2);

    KorvelTapeDrive window;
    window.show();
    Access::optionNextBtn(window)->click();
    if (Access::destinationPageFrame(window)->isHidden())
        return fail("the destination page did not come (no drive?)");
    Access::blockSizeCombo(window)->setCurrentText(choice);
    if (Access::blockSizeCombo(window)->currentText() != choice)
        return fail("the block-size list does not offer that size");
    Destination::folderDialog = [folder](QWidget *, const QString &) { return folder; };
    Access::browseDestinationBtn(window)->click();
    if (ImagingState::imagePath.isEmpty())
        return fail("the folder was not accepted");

    QTimer answerer;
    answerDialogs(answerer, arguments.value(3) == QLatin1String("yes"));
    QElapsedTimer run;
    run.start();
    Access::createBtn(window)->click(); // the whole run happens inside this click
    const double seconds = static_cast<double>(run.nsecsElapsed()) / 1e9;
    if (Access::creatingTitleLabel(window)->text() != QLatin1String("Image Created"))
        return fail("the run did not end on \"Image Created\"");
    std::printf("%s\n%.6f\n", ImagingState::imagePath.toLocal8Bit().constData(), seconds);
    return 0;
}
