// The connection sequence through the real main window and the virtual tape.
#include "tape/run_and_wait.h"
#include "tape_fixtures.h"
#include "window_test_access.h"

#include <QAbstractEventDispatcher>
#include <QtTest>

namespace {

// Names of the connection page's widgets that are not hidden, sorted.
QStringList shownOnConnectionPage(KorvelTapeDrive &window)
{
    QStringList shown;
    const auto widgets = A::connectionWidgets(window);
    for (auto it = widgets.cbegin(); it != widgets.cend(); ++it) {
        if (!it.value()->isHidden())
            shown << it.key();
    }
    return shown;
}

const QStringList kConnecting = { QStringLiteral("connectingHint"),
    QStringLiteral("connectingTitle"), QStringLiteral("movie") };
const QStringList kDisconnected
    = { QStringLiteral("connectingTitle"), QStringLiteral("disconnected"),
          QStringLiteral("notConnected"), QStringLiteral("powerHint"), QStringLiteral("retry") };

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void init() { resetImagingState(); }
    void cleanup() { resetImagingState(); }

    void sequence_data()
    {
        QTest::addColumn<QString>("drive");
        QTest::addColumn<bool>("open");
        QTest::addColumn<uint>("loadCalls");
        QTest::addColumn<DWORD>("loadStatus");
        QTest::addColumn<QStringList>("shown"); // empty: the destination page is up
        QTest::addColumn<uint>("loadCallsAfterRetry");
        QTest::addColumn<QStringList>("shownAfterRetry");
        const QStringList destination;
        // clang-format off
        QTest::newRow("no device, then it appears") << "absent" << false << 0u << DWORD(1)
            << kDisconnected << 1u << destination;
        QTest::newRow("drive in use, then freed") << "in use" << false << 0u << DWORD(1)
            << kDisconnected << 1u << destination;
        // Retry closes the drive (else the new open would be refused) and loads again.
        QTest::newRow("load keeps failing") << "load fails" << true << 4u << ERROR_NOT_READY
            << kConnecting << 8u << kConnecting;
        QTest::newRow("success") << "ok" << true << 1u << DWORD(0) << destination << 1u
            << destination;
        // clang-format on
    }

    void sequence()
    {
        QFETCH(QString, drive);
        QFETCH(QStringList, shown);
        const QString tape = m_dir.filePath(QStringLiteral("drive.tap"));
        QFile::remove(tape);
        if (drive != QLatin1String("absent"))
            QVERIFY(writeTape(tape, { 10, kMark }));
        qputenv("TAPE", QFile::encodeName(tape));
        HANDLE other = INVALID_HANDLE_VALUE;
        if (drive == QLatin1String("in use"))
            QVERIFY((other = openTapeFile(tape)) != INVALID_HANDLE_VALUE);
        if (drive == QLatin1String("load fails"))
            VirtualTape::setFaults(VirtualTape::Load);

        KorvelTapeDrive window;
        A::optionPageFrame(window)->show(); // as the option page leaves it
        A::connectPageFrame(window)->hide();
        A::destinationPageFrame(window)->hide();
        QVector<bool> busy;
        QStringList shownWhenPainted;
        QTimer probe;
        connect(&probe, &QTimer::timeout, this, [&] {
            busy << ImagingState::busy;
            if (shownWhenPainted.isEmpty())
                shownWhenPainted = shownOnConnectionPage(window);
        });
        probe.start(0);
        A::loadTapeDrive(window);
        probe.stop();
        // Busy all through; the first events processed show the connecting state.
        QVERIFY(!busy.isEmpty());
        QVERIFY(!busy.contains(false));
        QVERIFY(!ImagingState::busy);
        QCOMPARE(shownWhenPainted, kConnecting);

        QTEST(ImagingState::driveOpen, "open");
        QTEST(VirtualTape::prepareCallCount(), "loadCalls");
        QTEST(ImagingState::loadStatus, "loadStatus");
        QCOMPARE(A::visiblePage(window),
            shown.isEmpty() ? QStringLiteral("destination") : QStringLiteral("connect"));
        QVERIFY(A::optionPageFrame(window)->isHidden());
        if (shown.isEmpty()) {
            QVERIFY(VirtualTape::fromHandle(ImagingState::tapeHandle));
            return;
        }
        QCOMPARE(shownOnConnectionPage(window), shown);
        if (!ImagingState::driveOpen)
            QCOMPARE(ImagingState::tapeHandle, INVALID_HANDLE_VALUE);

        if (drive == QLatin1String("absent"))
            QVERIFY(writeTape(tape, { 10, kMark }));
        CloseHandle(other);
        A::retry(window);
        QVERIFY(ImagingState::driveOpen);
        QTEST(VirtualTape::prepareCallCount(), "loadCallsAfterRetry");
        QFETCH(QStringList, shownAfterRetry);
        QCOMPARE(A::visiblePage(window),
            shownAfterRetry.isEmpty() ? QStringLiteral("destination") : QStringLiteral("connect"));
        if (!shownAfterRetry.isEmpty())
            QCOMPARE(shownOnConnectionPage(window), shownAfterRetry);
        QVERIFY(!ImagingState::busy);
    }

    // A worker that takes its time (a slow drive) is waited for with the events processed
    // all along, yet without spinning: the loop sleeps on the worker between rounds.
    void waitingOnASlowWorker()
    {
        struct SlowRead : QThread
        {
            void run() override { msleep(300); }
        } worker;
        int rounds = 0, ticks = 0;
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, this,
            [&rounds] { ++rounds; });
        QTimer animation;
        connect(&animation, &QTimer::timeout, this, [&ticks] { ++ticks; });
        animation.start(15);
        runAndWait(worker);
        QVERIFY(worker.isFinished());
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks))); // 20 at the nominal pace
        QVERIFY2(rounds < 1500, qPrintable(QString::number(rounds))); // about one a millisecond
    }
};

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
