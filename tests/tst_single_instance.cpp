#include "app/single_instance.h"
#include "common/app_globals.h"
#include "modal_helper.h"
#include "platform/win32_handles.h"
#include "platform/win32_instance.h"

#include <QProcess>
#include <QSharedMemory>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray kStartedLine = "Application started successfully.";

bool waitForStart(QProcess &process)
{
    QByteArray seen;
    return waitForLine(process, kStartedLine, seen, true);
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_private.isValid());
        // A private namespace for the segment (its key file lives in TMPDIR) and
        // the lock file, so a Tarnwick running on this machine does not interfere.
        qputenv("TMPDIR", QFile::encodeName(m_private.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_private.path()));
    }

    void init() { scaleFactor = 1.0f; }

    void firstStartGoesOn()
    {
        QSharedMemory segment(QString::fromLatin1(kSingleInstanceKey));
        QVERIFY(passSingleInstanceGuard(segment));
        QVERIFY(segment.isAttached());
        QCOMPARE(segment.size(), 512);
        // The lock is not held after the check: it only covers racing starts.
        HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Tarnwick");
        QCOMPARE(GetLastError(), DWORD(ERROR_SUCCESS));
        CloseHandle(mutex);
    }

    void runningInstanceRefuses_data()
    {
        QTest::addColumn<float>("scale");
        QTest::addColumn<QRect>("logo");
        QTest::newRow("1.0") << 1.0f << QRect(105, 6, 16, 16);
        QTest::newRow("1.5") << 1.5f << QRect(157, 9, 24, 24);
    }

    void runningInstanceRefuses()
    {
        QFETCH(float, scale);
        QFETCH(QRect, logo);
        scaleFactor = scale;
        QSharedMemory running(QString::fromLatin1(kSingleInstanceKey));
        QVERIFY(running.create(512));

        ModalAnswerer answerer;
        QSharedMemory segment(QString::fromLatin1(kSingleInstanceKey));
        QVERIFY(!passSingleInstanceGuard(segment));
        QCOMPARE(answerer.messages.size(), 1);
        QCOMPARE(answerer.messages.first().title, QStringLiteral("         Tarnwick"));
        QCOMPARE(
            answerer.messages.first().message, QStringLiteral(" Tarnwick is already\n running."));
        QCOMPARE(answerer.messages.first().logo, logo);
        // The refused start must not have removed the running instance's segment.
        QSharedMemory probe(QString::fromLatin1(kSingleInstanceKey));
        QVERIFY(probe.attach());
    }

    void heldLockRefuses()
    {
        HANDLE other = CreateMutexW(nullptr, TRUE, L"Tarnwick");
        QCOMPARE(GetLastError(), DWORD(ERROR_SUCCESS));
        ModalAnswerer answerer;
        QSharedMemory segment(QString::fromLatin1(kSingleInstanceKey));
        QVERIFY(!passSingleInstanceGuard(segment));
        QVERIFY(!segment.isAttached());
        QCOMPARE(answerer.messages.size(), 1);
        QVERIFY(CloseHandle(other));
        QVERIFY(!CloseHandle(other)); // a handle closes once
    }

    // Real processes: the program itself, started twice, then killed.
    void secondProcessIsRefusedAndKilledFirstDoesNotBlock()
    {
        QProcess first;
        startProgram(first);
        QVERIFY2(waitForStart(first), "the first start did not come up");

        // Left alone, the refused start waits on its message and shows no window.
        QProcess waiting;
        startProgram(waiting);
        QVERIFY(!waiting.waitForFinished(1500));
        QVERIFY(!waiting.readAllStandardError().contains(kStartedLine));
        waiting.kill();
        waiting.waitForFinished();

        // Dismissed, it ends with exit code 0, never having started.
        QProcess second;
        startProgram(second, 200);
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!second.readAllStandardError().contains(kStartedLine));

        // A killed instance leaves its segment behind; the next start must clear it.
        first.kill();
        QVERIFY(first.waitForFinished());
        QProcess third;
        startProgram(third, 200);
        QVERIFY2(waitForStart(third), "a start after SIGKILL was refused");
        third.kill();
        third.waitForFinished();
    }

    void cleanupTestCase()
    {
        // Remove the segment the killed processes left behind.
        QSharedMemory stale(QString::fromLatin1(kSingleInstanceKey));
        if (stale.attach())
            stale.detach();
    }

private:
    void startProgram(QProcess &process, int autoDismissMs = -1)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("TAPE"), m_private.filePath(QStringLiteral("no-tape")));
        if (autoDismissMs >= 0)
            environment.insert(
                QStringLiteral("TARNWICK_AUTO_DISMISS_MS"), QString::number(autoDismissMs));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TARNWICK_BIN_DIR "/tarnwick"), QStringList());
        QVERIFY(process.waitForStarted());
    }

    QTemporaryDir m_private;
};

QTEST_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
