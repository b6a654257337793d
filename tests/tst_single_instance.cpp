// The program's life as a process: one instance per user session, in a folder of the
// user's own, and a close request answered Yes ends the process there and then.
#include "app/korveltapedrive.h"
#include "app/single_instance.h"
#include "common/app_globals.h"
#include "modal_helper.h"
#include "platform/backend/win32_handles.h"
#include "platform/win32_instance.h"

#include <QProcess>
#include <QSharedMemory>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kStartedLine = "Application started successfully.";

/// A user of the test's own, removed again at the end; making one needs root.
class TestUser
{
public:
    explicit TestUser(const QString &name)
        : m_name(name)
    {
        quietly(QStringLiteral("userdel"), { name }); // left by a run that crashed
        const QStringList options
            = { QStringLiteral("--no-create-home"), QStringLiteral("--user-group"),
                  QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"), name };
        const passwd *entry = quietly(QStringLiteral("useradd"), options) == 0
            ? ::getpwnam(qPrintable(name))
            : nullptr;
        if (entry)
            m_ids = { entry->pw_uid, entry->pw_gid };
    }
    ~TestUser()
    {
        if (made())
            quietly(QStringLiteral("userdel"), { m_name });
    }
    bool made() const { return m_ids.first != 0; }
    uid_t uid() const { return m_ids.first; }
    /// setpriv's arguments that run a program as this user.
    QStringList runAs() const
    {
        return { QStringLiteral("--reuid=%1").arg(m_ids.first),
            QStringLiteral("--regid=%1").arg(m_ids.second), QStringLiteral("--clear-groups"),
            QStringLiteral("--") };
    }

private:
    static int quietly(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished() && process.exitStatus() == QProcess::NormalExit
            ? process.exitCode()
            : -1;
    }

    QString m_name;
    QPair<uid_t, gid_t> m_ids { 0, 0 };
};

bool waitForStart(QProcess &process)
{
    QByteArray seen;
    return waitForLine(process, kStartedLine, seen, true);
}

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

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_private.isValid());
        // A private folder for the lock and the segment's key, so a Tarnwick
        // running on this machine does not interfere.
        qputenv("TMPDIR", QFile::encodeName(m_private.path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_private.path()));
    }

    void init()
    {
        scaleFactor = 1.0f;
        m_asUser = nullptr;
    }

    void guard_data()
    {
        QTest::addColumn<QString>("held"); // by another instance: "", "segment" or "lock"
        QTest::addColumn<float>("scale");
        QTest::addColumn<QRect>("logo"); // of the already-running message; empty: none
        QTest::newRow("nothing held: goes on") << "" << 1.0f << QRect();
        QTest::newRow("segment held, 1.5") << "segment" << 1.5f << QRect(157, 9, 24, 24);
        QTest::newRow("lock held") << "lock" << 1.0f << QRect(105, 6, 16, 16);
    }

    void guard()
    {
        QFETCH(QString, held);
        QFETCH(float, scale);
        QFETCH(QRect, logo);
        scaleFactor = scale;
        QSharedMemory running;
        running.setNativeKey(singleInstanceKeyFile());
        if (held == QLatin1String("segment"))
            QVERIFY(running.create(512));
        HANDLE lock
            = held == QLatin1String("lock") ? CreateMutexW(nullptr, TRUE, L"Tarnwick") : nullptr;

        ModalAnswerer answerer;
        QSharedMemory segment;
        QCOMPARE(passSingleInstanceGuard(segment), logo.isEmpty());
        QCOMPARE(segment.isAttached(), logo.isEmpty());
        if (logo.isEmpty()) {
            QCOMPARE(segment.size(), 512);
            // The lock is not held after the check: it only covers racing starts.
            CloseHandle(CreateMutexW(nullptr, TRUE, L"Tarnwick"));
            QCOMPARE(GetLastError(), DWORD(ERROR_SUCCESS));
            return;
        }
        QCOMPARE(answerer.messages.size(), 1);
        QCOMPARE(answerer.messages.first().text(),
            QStringLiteral("         Tarnwick\n Tarnwick is already\n running."));
        QCOMPARE(answerer.messages.first().logo, logo);
        // The refused start leaves the running instance's segment alone.
        QCOMPARE(running.attach() || running.isAttached(), held == QLatin1String("segment"));
        if (lock)
            QVERIFY(CloseHandle(lock));
    }

    // Real processes: the program itself, started twice, then killed.
    void secondProcessIsRefusedAndKilledFirstDoesNotBlock()
    {
        QProcess first;
        startProgram(first);
        QVERIFY2(waitForStart(first), "the first start did not come up");

        // Its message dismissed, a second start ends with exit code 0, never having started.
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

    // Two users sharing /tmp: neither's instance, running or killed, stops the other's
    // start, and a folder one plants for the other is not used.
    void usersKeepTheirOwnGuards()
    {
        if (::geteuid() != 0)
            QSKIP("making two users needs root");
        const QString prefix = QStringLiteral("tw%1").arg(QCoreApplication::applicationPid());
        TestUser first(prefix + QLatin1Char('a')), second(prefix + QLatin1Char('b'));
        if (!first.made() || !second.made())
            QSKIP("useradd cannot make users here");
        QTemporaryDir sharedTmp(QStringLiteral("/tmp/tarnwick-users-XXXXXX"));
        QVERIFY(sharedTmp.isValid());
        QVERIFY(::chmod(QFile::encodeName(sharedTmp.path()).constData(), 01777) == 0);
        m_asUser = &first;
        m_sharedTmp = sharedTmp.path();
        if (QProcess::execute(QStringLiteral("setpriv"),
                first.runAs() << QStringLiteral("test") << QStringLiteral("-x")
                              << QStringLiteral(TARNWICK_BIN_DIR "/tarnwick"))
            != 0)
            QSKIP("other users cannot run the built program from this folder");

        QProcess a, b;
        startProgram(a);
        QVERIFY2(waitForStart(a), "the first user's start did not come up");
        m_asUser = &second;
        startProgram(b, 200);
        QVERIFY2(waitForStart(b), "another user's instance refused the start");

        // Killed, an instance leaves its segment behind; it is in nobody else's way.
        for (QProcess *each : { &a, &b }) {
            each->kill();
            each->waitForFinished();
        }
        QProcess again;
        startProgram(again, 200);
        QVERIFY2(waitForStart(again), "a start after SIGKILL was refused");
        again.kill();
        again.waitForFinished();

        // The second user plants the first one's folder: the first user's start refuses it,
        // goes on and says so.
        const QString folder = QStringLiteral("%1/tarnwick-%2").arg(m_sharedTmp).arg(first.uid());
        QVERIFY(QDir(folder).removeRecursively());
        QCOMPARE(QProcess::execute(QStringLiteral("setpriv"),
                     second.runAs() << QStringLiteral("mkdir") << QStringLiteral("-m")
                                    << QStringLiteral("777") << folder),
            0);
        m_asUser = &first;
        QProcess planted;
        startProgram(planted, 200);
        QByteArray seen;
        QVERIFY2(waitForLine(planted, kStartedLine, seen, true), seen.constData());
        QVERIFY2(seen.contains("belongs to another user"), seen.constData());
        planted.kill();
        planted.waitForFinished();
        m_asUser = nullptr;
    }

    // The lock and the segment's key live in a folder of the user's own, so no other user's
    // instance, running or killed, is in the way (the two-user run above shows that end to end),
    // and a folder planted for the user (by another user, open to others, a link) is not used: the
    // start then goes on unguarded.
    void privateFolder_data()
    {
        QTest::addColumn<QString>("runtime"); // what is at $XDG_RUNTIME_DIR/tarnwick first
        QTest::addColumn<QString>("temporary"); // and at $TMPDIR/tarnwick-<uid>
        QTest::addColumn<QString>("used"); // "runtime", "temporary" or "" (none)
        // clang-format off
        QTest::newRow("made in the runtime folder") << "" << "" << "runtime";
        QTest::newRow("runtime one open to others") << "open" << "" << "temporary";
        QTest::newRow("runtime one a link to a folder") << "link" << "" << "temporary";
        QTest::newRow("runtime one another user's") << "other" << "" << "temporary";
        QTest::newRow("both planted") << "open" << "other" << "";
        // clang-format on
    }

    void privateFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, temporary);
        QFETCH(QString, used);
        if ((runtime == QLatin1String("other") || temporary == QLatin1String("other"))
            && ::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QTemporaryDir base;
        const QString paths[] = { base.filePath(QStringLiteral("tarnwick")),
            base.filePath(QStringLiteral("tarnwick-%1").arg(::geteuid())) };
        const QString states[] = { runtime, temporary };
        for (int i = 0; i < 2; ++i) {
            const QByteArray path = QFile::encodeName(paths[i]);
            if (states[i] == QLatin1String("open"))
                QVERIFY(
                    ::mkdir(path.constData(), 0700) == 0 && ::chmod(path.constData(), 0777) == 0);
            if (states[i] == QLatin1String("link")) // to a folder that would pass
                QVERIFY(::mkdir(QFile::encodeName(base.filePath(QStringLiteral("elsewhere"))), 0700)
                        == 0
                    && QFile::link(base.filePath(QStringLiteral("elsewhere")), paths[i]));
            if (states[i] == QLatin1String("other"))
                QVERIFY(::mkdir(path.constData(), 0700) == 0
                    && ::chown(path.constData(), 4321, 4321) == 0);
        }
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(base.path()));
        qputenv("TMPDIR", QFile::encodeName(base.path()));
        QString problem;
        const QString folder = namedObjectFolder(&problem);
        QCOMPARE(
            folder, used.isEmpty() ? QString() : paths[used == QLatin1String("runtime") ? 0 : 1]);
        if (folder.isEmpty()) {
            QVERIFY2(problem.contains(QLatin1String("open to other users"))
                    && problem.contains(QLatin1String("belongs to another user")),
                qPrintable(problem));
            QSharedMemory segment;
            QVERIFY(passSingleInstanceGuard(segment)); // unguarded, not refused
        } else {
            struct stat info = {};
            QVERIFY(::lstat(QFile::encodeName(folder).constData(), &info) == 0);
            QVERIFY(S_ISDIR(info.st_mode) && info.st_uid == ::geteuid());
            QCOMPARE(info.st_mode & 0777, mode_t(0700));
            QVERIFY(singleInstanceKeyFile().startsWith(folder + QLatin1Char('/')));
            QVERIFY(mutexLockFilePath(QStringLiteral("Tarnwick"))
                        .startsWith(folder + QLatin1Char('/')));
        }
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_private.path()));
        qputenv("TMPDIR", QFile::encodeName(m_private.path()));
    }

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
    void cleanupTestCase()
    {
        // Remove the segment the killed processes left behind.
        QSharedMemory stale;
        stale.setNativeKey(singleInstanceKeyFile());
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
        const QString program = QStringLiteral(TARNWICK_BIN_DIR "/tarnwick");
        if (m_asUser) {
            environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
            environment.insert(QStringLiteral("TMPDIR"), m_sharedTmp);
            environment.insert(QStringLiteral("HOME"), m_sharedTmp);
            process.setProcessEnvironment(environment);
            process.start(QStringLiteral("setpriv"), m_asUser->runAs() << program);
        } else {
            process.setProcessEnvironment(environment);
            process.start(program, QStringList());
        }
        QVERIFY(process.waitForStarted());
    }

    QTemporaryDir m_private;
    const TestUser *m_asUser = nullptr; ///< starts run as this user, sharing m_sharedTmp
    QString m_sharedTmp;
};

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], kChildSwitch) == 0)
        return runChild(argc, argv, argv[2]);
    QApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_single_instance.moc"
