#include "app/korveltapedrive.h"
#include "modal_helper.h"

#include <QProcess>
#include <QtTest>
#include <cstdio>
#include <cstring>

namespace {

const char *const kChildSwitch = "--close-request-child";

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

/*
 * The child: a real main window whose close request is answered "yes" or "no"
 * as named on the command line. "yes" must end this very process.
 */
int runChild(int argc, char **argv, const char *answer)
{
    QApplication app(argc, argv);
    KorvelTapeDrive window;
    window.show();
    QTimer::singleShot(0, &window, [&window, answer] {
        ModalAnswerer answerer({ QString::fromLatin1(answer) });
        answerer.beforeAnswer = [](const Seen &question) {
            say(question.title == QLatin1String("Exit") ? "question-open" : "unexpected-dialog");
        };
        window.close();
        say(window.isVisible() ? "window-still-open" : "window-closed");
    });
    return QApplication::exec();
}

} // namespace

class TestCloseRequest : public QObject
{
    Q_OBJECT

private slots:
    void answerInRealProcess_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("ends");
        QTest::newRow("Yes ends the process") << "yes" << true;
        QTest::newRow("No keeps it running") << "no" << false;
    }

    void answerInRealProcess()
    {
        QFETCH(QString, answer);
        QFETCH(bool, ends);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(environment);
        child.start(
            QCoreApplication::applicationFilePath(), { QLatin1String(kChildSwitch), answer });
        QVERIFY(child.waitForStarted());
        QByteArray output;
        QVERIFY2(
            waitForLine(child, "question-open", output, false), "the exit question did not open");
        if (ends) {
            QVERIFY2(child.waitForFinished(10000), "Yes did not end the process");
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);
            QCOMPARE(child.exitCode(), 9); // SIGKILL
            QVERIFY(!(output + child.readAllStandardOutput()).contains("window-"));
        } else {
            QVERIFY(waitForLine(child, "window-still-open", output, false));
            QVERIFY(!child.waitForFinished(1000));
            QCOMPARE(child.state(), QProcess::Running);
            child.kill();
            child.waitForFinished();
        }
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], kChildSwitch) == 0)
        return runChild(argc, argv, argv[2]);
    QApplication app(argc, argv);
    TestCloseRequest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_close_request.moc"
