#include "app/korveltapedrive.h"

#include "app/outcome_texts.h"
#include "dialogs/yesnoapplicationdlg.h"
#include "imaging/imaging_state.h"
#include "platform/win32_tape.h"
#include "tape/imaging_driver.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

/// The main window's side of an imaging run: the question dialog and the progress page.
class CreateRunFrontEnd : public Imaging::ImagingFrontEnd
{
public:
    explicit CreateRunFrontEnd(KorvelTapeDrive *window)
        : m_window(window)
    {
    }

    void prepareQuestion() override { m_question = new YesNoApplicationDlg(m_window); }

    Imaging::Answer askLargerBlockSize() override
    {
        QCoreApplication::processEvents();
        m_question->setModal(true);
        m_question->exec();
        if (m_question->noFlag)
            return Imaging::Answer::No;
        if (m_question->yesFlag)
            return Imaging::Answer::Yes;
        return Imaging::Answer::Closed;
    }

    void refuseBlockSize() override
    {
        m_question->YesBtn->hide();
        m_question->NoBtn->setText(KorvelTapeDrive::tr("OK"));
        m_question->label_2->setText(QStringLiteral(
            "You have selected a block size that is smaller than the block size of the tape. "
            "You need to set the block size equal to or larger than the tape block size to "
            "proceed."));
        m_question->label_2->setAlignment(Qt::AlignJustify);
        QCoreApplication::processEvents();
        m_question->setModal(true);
        m_question->exec();
    }

    void resetProgress() override { m_window->imagingProgressBar->reset(); }

    void showProgress(const Imaging::BlockStep &step) override
    {
        // Called for every block while the drive streams: touch only what changed, since
        // a style sheet or text change re-lays out and repaints the label.
        QProgressBar *bar = m_window->imagingProgressBar;
        if (bar->minimum() != 0 || bar->maximum() != step.progressMaximum)
            bar->setRange(0, step.progressMaximum);
        if (step.percentKnown && step.percent != m_shownPercent) {
            m_shownPercent = step.percent;
            QLabel *percent = m_window->percentLabel;
            percent->setText(QString::number(step.percent) + QLatin1Char('%'));
            const QString noBackground = QStringLiteral("background-color: none;");
            if (percent->styleSheet() != noBackground)
                percent->setStyleSheet(noBackground);
        }
        bar->setValue(static_cast<int>(step.progressValue));
        QCoreApplication::processEvents();
    }

private:
    KorvelTapeDrive *m_window;
    YesNoApplicationDlg *m_question = nullptr; // owned by the window, as every dialog
    qint64 m_shownPercent = -1;
};

void KorvelTapeDrive::createImageNextBtnClick()
{
    if (GetTapeStatus(ImagingState::tapeHandle) != NO_ERROR) {
        connectPageFrame->show();
        destinationPageFrame->hide();
        CloseHandle(ImagingState::tapeHandle);
        loadTapeDrive();
        return;
    }
    if (ImagingState::imagePath.isEmpty()) {
        showMessage(QStringLiteral("             Select Destination Path"),
            QStringLiteral(" Select a valid destination path to save the \n image of "
                           "the selected tape drive."));
        return;
    }
    percentLabel->setText(QString::number(0) + QLatin1Char('%'));
    ImagingState::busy = true;
    prepareProgressPage();

    CreateRunFrontEnd frontEnd(this);
    const Imaging::RunOutcome outcome = Imaging::createImage(frontEnd);
    if (outcome == Imaging::RunOutcome::Completed) {
        imageCompleted();
    } else {
        returnToDestinationPage();
    }
    ImagingState::busy = false;
    if (!OutcomeTexts::message(outcome).isEmpty())
        // These titles are longer than the fixed ones: move the logo clear of them.
        showMessage(OutcomeTexts::title(outcome), OutcomeTexts::message(outcome), 100);
}

void KorvelTapeDrive::prepareProgressPage()
{
    backShown = false;
    backBtn->hide();
    layoutWidgets();
    destinationPageFrame->hide();
    progressPageFrame->show();
    stopBtn->hide(); // nothing may stop a run half way

    savingPathLabel->setText(ImagingState::imagePath);
    savingPathLabel->setFont(QFont(QStringLiteral("Segoe UI"), 8));
    savingPathLabel->setText(savingPathLabel->fontMetrics().elidedText(
        ImagingState::imagePath, Qt::ElideRight, savingPathLabel->width()));
    savingPathLabel->setToolTip(ImagingState::imagePath);

    progressDriveLabel->hide();
    scanCreatedBtn->hide();
    completedLabel->show();
    percentLabel->show();
    ImagingState::runFlag = true;
    QCoreApplication::processEvents();

    for (QWidget *widget : { static_cast<QWidget *>(homeBtn),
             static_cast<QWidget *>(imageSizeInfoLabel), static_cast<QWidget *>(imagePathInfoLabel),
             static_cast<QWidget *>(scanCreatedHintLabel),
             static_cast<QWidget *>(progressDriveLabel), static_cast<QWidget *>(scanCreatedBtn) })
        widget->hide();
    if (ImagingState::progressPagePrepared) {
        // Undo what the Image Created page of the previous run changed.
        imagingProgressBar->reset();
        imagingProgressBar->show();
        pleaseWaitLabel->show();
        percentLabel->show();
        savingAtLabel->show();
        savingPathLabel->show();
        creatingTitleLabel->setText(tr("Creating Image"));
        creatingTitleLabel->setFont(QFont(QStringLiteral("Segoe UI"), 16));
        creatingTitleLabel->show();
    }
    ImagingState::progressPagePrepared = true;
    QCoreApplication::processEvents();
}

void KorvelTapeDrive::returnToDestinationPage()
{
    destinationPageFrame->show();
    progressPageFrame->hide();
    backBtn->show();
    backShown = true;
    layoutWidgets();
    backShown = false;
    if (!menuBtn->isChecked())
        backBtn->hide();
}
