#include "app/korveltapedrive.h"
#include "imaging/imaging_state.h"
#include "platform/tap_writer.h"
#include "platform/virtual_tape.h"
#include "platform/win32_tape.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class KorvelTapeDriveTestAccess
{
public:
    static void loadTapeDrive(KorvelTapeDrive &w) { w.loadTapeDrive(); }
    static void retry(KorvelTapeDrive &w) { w.Retry(); }
    static QWidget *option(KorvelTapeDrive &w) { return w.optionPageFrame; }
    static QWidget *connect(KorvelTapeDrive &w) { return w.connectPageFrame; }
    static QWidget *destination(KorvelTapeDrive &w) { return w.destinationPageFrame; }

    /// The connection page's widgets that the sequence shows or hides, by name.
    static QMap<QString, QWidget *> connectionWidgets(KorvelTapeDrive &w)
    {
        return { { QStringLiteral("movie"), w.connectedMovieLabel },
            { QStringLiteral("connectingTitle"), w.connectingTitleLabel },
            { QStringLiteral("connectingHint"), w.connectingHintLabel },
            { QStringLiteral("notConnected"), w.notConnectedLabel },
            { QStringLiteral("tapeDriveTitle"), w.tapeDriveTitleLabel },
            { QStringLiteral("disconnected"), w.disconnectedLabel },
            { QStringLiteral("powerHint"), w.powerHintLabel },
            { QStringLiteral("retry"), w.retryBtn } };
    }
};

namespace {

using Access = KorvelTapeDriveTestAccess;

// Names of the connection page's widgets that are not hidden, sorted.
QStringList shownOnConnectionPage(KorvelTapeDrive &window)
{
    QStringList shown;
    const auto widgets = Access::connectionWidgets(window);
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
    QString m_tape;

    // The window as the option page leaves it: option page up, the others down.
    void startOnOptionPage(KorvelTapeDrive &window)
    {
        Access::option(window)->show();
        Access::connect(window)->hide();
        Access::destination(window)->hide();
    }

private slots:
    void initTestCase()
    {
        m_tape = m_dir.filePath(QStringLiteral("drive.tap"));
        TapWriter writer;
        QVERIFY(writer.open(QFile::encodeName(m_tape).toStdString()));
        writer.writeRecord("0123456789", 10);
        writer.writeTapeMark();
        QVERIFY(writer.close());
    }

    void init()
    {
        ImagingState::tapeHandle = nullptr;
        ImagingState::driveOpen = false;
        ImagingState::loadStatus = 1;
        ImagingState::busy = false;
        VirtualTape::setFaults(VirtualTape::NoFault);
        VirtualTape::resetPrepareCallCount();
        qputenv("TAPE", QFile::encodeName(m_tape));
    }

    void cleanup()
    {
        CloseHandle(ImagingState::tapeHandle);
        VirtualTape::setFaults(VirtualTape::NoFault);
    }

    void noDeviceShowsDisconnectedState()
    {
        qputenv("TAPE", QFile::encodeName(m_dir.filePath(QStringLiteral("absent.tap"))));
        KorvelTapeDrive window;
        startOnOptionPage(window);
        Access::loadTapeDrive(window);
        QCOMPARE(ImagingState::tapeHandle, INVALID_HANDLE_VALUE);
        QVERIFY(!ImagingState::driveOpen);
        QCOMPARE(ImagingState::loadStatus, DWORD(1));
        QCOMPARE(VirtualTape::prepareCallCount(), 0u);
        QVERIFY(Access::option(window)->isHidden());
        QVERIFY(!Access::connect(window)->isHidden());
        QVERIFY(Access::destination(window)->isHidden());
        QCOMPARE(shownOnConnectionPage(window), kDisconnected);
    }

    void driveInUseIsLikeNoDrive()
    {
        HANDLE other
            = CreateFileW(L"//./Tape0", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        QVERIFY(other != INVALID_HANDLE_VALUE);
        KorvelTapeDrive window;
        startOnOptionPage(window);
        Access::loadTapeDrive(window);
        CloseHandle(other);
        QVERIFY(!ImagingState::driveOpen);
        QCOMPARE(shownOnConnectionPage(window), kDisconnected);
    }

    void loadThatKeepsFailing()
    {
        VirtualTape::setFaults(VirtualTape::Load);
        KorvelTapeDrive window;
        startOnOptionPage(window);
        Access::loadTapeDrive(window);
        QVERIFY(ImagingState::driveOpen);
        QCOMPARE(VirtualTape::prepareCallCount(), 4u);
        QCOMPARE(ImagingState::loadStatus, ERROR_NOT_READY);
        QCOMPARE(shownOnConnectionPage(window), kConnecting);
        QVERIFY(Access::destination(window)->isHidden());

        // Retry closes the drive (else the new open would be refused) and
        // leaves the connecting state on screen.
        Access::retry(window);
        QVERIFY(ImagingState::driveOpen);
        QCOMPARE(VirtualTape::prepareCallCount(), 8u);
        QCOMPARE(shownOnConnectionPage(window), kConnecting);
        QVERIFY(Access::destination(window)->isHidden());
        QVERIFY(!ImagingState::busy);
    }

    void successShowsDestinationPage()
    {
        KorvelTapeDrive window;
        startOnOptionPage(window);
        Access::loadTapeDrive(window);
        QVERIFY(ImagingState::driveOpen);
        QCOMPARE(ImagingState::loadStatus, DWORD(0));
        QCOMPARE(VirtualTape::prepareCallCount(), 1u);
        QVERIFY(VirtualTape::fromHandle(ImagingState::tapeHandle));
        QVERIFY(Access::option(window)->isHidden());
        QVERIFY(Access::connect(window)->isHidden());
        QVERIFY(!Access::destination(window)->isHidden());
    }

    void retryAfterTheDriveAppears()
    {
        const QString late = m_dir.filePath(QStringLiteral("late.tap"));
        qputenv("TAPE", QFile::encodeName(late));
        KorvelTapeDrive window;
        startOnOptionPage(window);
        Access::loadTapeDrive(window);
        QCOMPARE(shownOnConnectionPage(window), kDisconnected);
        QVERIFY(QFile::copy(m_tape, late));
        Access::retry(window);
        QVERIFY(ImagingState::driveOpen);
        QVERIFY(!Access::destination(window)->isHidden());
        QVERIFY(Access::connect(window)->isHidden());
    }

    void busyOnlyDuringTheSequence_data()
    {
        QTest::addColumn<bool>("deviceThere");
        QTest::newRow("no device") << false;
        QTest::newRow("device") << true;
    }

    void busyOnlyDuringTheSequence()
    {
        QFETCH(bool, deviceThere);
        if (!deviceThere)
            qputenv("TAPE", QFile::encodeName(m_dir.filePath(QStringLiteral("absent.tap"))));
        KorvelTapeDrive window;
        startOnOptionPage(window);
        QVector<bool> seen;
        QStringList shownWhenPainted;
        QTimer probe;
        probe.setInterval(0);
        connect(&probe, &QTimer::timeout, this, [&] {
            seen << ImagingState::busy;
            if (shownWhenPainted.isEmpty())
                shownWhenPainted = shownOnConnectionPage(window);
        });
        probe.start();
        Access::loadTapeDrive(window);
        probe.stop();
        QVERIFY(!seen.isEmpty());
        QVERIFY(!seen.contains(false));
        QVERIFY(!ImagingState::busy);
        // The first events processed are those before the open: connecting state.
        QCOMPARE(shownWhenPainted, kConnecting);
    }
};

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
