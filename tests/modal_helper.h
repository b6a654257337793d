#pragma once
// Answers modal dialogs from inside their own exec() loops. Showing some window
// types processes events before exec() has started its loop; a dialog closed
// at that moment would leave exec() waiting forever, so wait for the loop.
#include "dialogs/closeapplicationdlg.h"
#include "dialogs/repairfinishdialog.h"
#include "dialogs/yesnoapplicationdlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <functional>

/// What a message or a question showed when it came up.
struct Seen
{
    QString title;
    QString message;
    QRect logo;
    QWidget *parent = nullptr;
    bool yesShown = false;
    QString noText;

    /// The title, a line, then the text.
    QString text() const { return title + QLatin1Char('\n') + message; }
};

/**
 * Answers every modal dialog while it lives and notes what each showed: messages
 * with OK, questions from a script of "yes", "no" or "escape" ("no" once it runs out).
 */
class ModalAnswerer : public QObject
{
public:
    explicit ModalAnswerer(QStringList script = {})
        : m_script(std::move(script))
        , m_armedLevel(QThread::currentThread()->loopLevel())
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_timer.start(5);
    }

    QVector<Seen> questions;
    QVector<Seen> messages;
    std::function<void(const Seen &)> beforeAnswer; ///< called with each question first

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || QThread::currentThread()->loopLevel() - m_armedLevel < openModalDialogs())
            return;
        Ui_QuestionForm *question = qobject_cast<YesNoApplicationDlg *>(modal);
        if (!question)
            question = qobject_cast<CloseApplicationDlg *>(modal);
        if (question) {
            questions.append({ question->label_8->text(), question->label_2->text(),
                question->label_3->geometry(), modal->parentWidget(), !question->YesBtn->isHidden(),
                question->NoBtn->text() });
            if (beforeAnswer)
                beforeAnswer(questions.last());
            const QString answer = m_script.value(questions.size() - 1, QStringLiteral("no"));
            if (answer == QLatin1String("yes"))
                QTest::mouseClick(question->YesBtn, Qt::LeftButton);
            else if (answer == QLatin1String("no"))
                QTest::mouseClick(question->NoBtn, Qt::LeftButton);
            else
                QTest::keyClick(modal, Qt::Key_Escape);
        } else if (auto *message = qobject_cast<repairFinishDialog *>(modal)) {
            messages.append({ message->label_8->text(), message->repairedLabl->text(),
                message->label_3->geometry(), modal->parentWidget(), false, QString() });
            QTest::mouseClick(message->OkBtn, Qt::LeftButton);
        } else {
            modal->close();
        }
    }

    static int openModalDialogs()
    {
        int open = 0;
        for (QWidget *widget : QApplication::topLevelWidgets())
            open += widget->isModal() && widget->isVisible();
        return open;
    }

    QStringList m_script;
    int m_armedLevel; ///< event loops already running when made: none is a dialog's
    QTimer m_timer;
};

/// Waits up to 15 s for @p line in a child's output (stdout, or stderr with @p errors),
/// gathering what it read into @p seen; false once the child has ended without it.
inline bool waitForLine(QProcess &child, const QByteArray &line, QByteArray &seen, bool errors)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
        child.waitForReadyRead(100);
        seen += errors ? child.readAllStandardError() : child.readAllStandardOutput();
        if (seen.contains(line))
            return true;
        if (child.state() == QProcess::NotRunning)
            return false;
    }
    return false;
}
