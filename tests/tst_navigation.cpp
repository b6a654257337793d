// The pages of the window and the ways between them: the connection sequence through the
// virtual tape, the menu, and the load road up to the scanner's hand-off (which ends the
// program: the end-to-end run's business).
#include "common/app_globals.h"
#include "fifo_partner.h"
#include "imaging/imaging_state.h"
#include "modal_helper.h"
#include "scan/image_loading.h"
#include "tape/run_and_wait.h"
#include "tape_fixtures.h"
#include "window_test_access.h"

#include <QAbstractEventDispatcher>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QString kCreateHint = QStringLiteral(
    "Select this option to create a new image of the tape drive. This image can later be used to "
    "\nrecover data.");
const QString kCreateHintAgain = QStringLiteral(
    "Select this option to create a new image of the tape drive.This image can later be used to "
    "\nrecover data.");
const QString kLoadHint = QStringLiteral(
    "Load an already existing image of the tape drive to scan and recover data from it.");

/// Runs the menu animation one tick at a time (no event loop, so the real
/// timer never fires) and writes down each item that changed, as
/// "tick:+item" or "tick:-item", and the tick on which the timer stopped.
QString recordAnimation(KorvelTapeDrive &w, int ticks)
{
    const QList<QPair<QString, QWidget *>> items = {
        { QStringLiteral("back"), A::backBtn(w) },
        { QStringLiteral("home"), A::homeBtn(w) },
        { QStringLiteral("separator"), A::menuSeparatorLabel(w) },
        { QStringLiteral("help"), A::helpBtn(w) },
        { QStringLiteral("about"), A::aboutBtn(w) },
    };
    QStringList log;
    for (int tick = 1; tick <= ticks && A::toolBarTimer(w)->isActive(); ++tick) {
        QVector<bool> before;
        for (const auto &item : items)
            before << item.second->isHidden();
        A::tick(w);
        for (int i = 0; i < items.size(); ++i) {
            if (items[i].second->isHidden() != before[i])
                log << QStringLiteral("%1:%2%3").arg(tick).arg(
                    before[i] ? QStringLiteral("+") : QStringLiteral("-"), items[i].first);
        }
        if (!A::toolBarTimer(w)->isActive())
            log << QStringLiteral("stop@%1").arg(tick);
    }
    return log.join(QLatin1Char(' '));
}

/// Where Back and Home are, where shown, and where Help is: "back56 help86".
QString menuButtons(KorvelTapeDrive &w)
{
    QStringList shown;
    if (!A::backBtn(w)->isHidden())
        shown << QStringLiteral("back%1").arg(A::backBtn(w)->x());
    if (!A::homeBtn(w)->isHidden())
        shown << QStringLiteral("home%1").arg(A::homeBtn(w)->x());
    return (shown << QStringLiteral("help%1").arg(A::helpBtn(w)->x())).join(QLatin1Char(' '));
}

void chooseFile(KorvelTapeDrive &window, const QString &path)
{
    ImageLoading::openFileDialog = [path](QWidget *, const QString &, const QString &filter) {
        return filter == QLatin1String("Image Files (*.tape)") ? path : QStringLiteral("?");
    };
    QMetaObject::invokeMethod(&window, "browseImagePathLoad");
}

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

class TestNavigation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { A::forceScale(1.0f); }

    void init()
    {
        resetImagingState();
        // Should a test reach the connection sequence unasked, let it fail at once.
        qputenv("TAPE", "/nonexistent/tarnwick-test-tape");
        createOptionSelected = false;
        loadOptionSelected = false;
        selectedImageMark = false;
        loadedImagePath.clear();
        ImagingState::driveOpen = true; // the drive is there unless a test says otherwise
        ImagingState::abortFlag = false;
        ImagingState::imagePath.clear();
        ImagingState::ejectFlag = false;
        ImagingState::turnOffFlag = false;
    }

    // The tiles and Next choose the road; Back and Home go back. Each road forgets the image
    // of its own earlier visit only, and the create road copies the check boxes anew.
    void pages_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("buttons"); // which of Back and Home are shown, where Help is
        QTest::addColumn<QString>("hint"); // of the create tile; empty: not checked
        QTest::addColumn<QString>("loaded"); // the loaded image afterwards
        const QString kept = QStringLiteral("/old/loaded.tape");
        const QString old = QStringLiteral("/data/old.tape");
        // clang-format off
        QTest::newRow("load, then create") << "load,create,next" << "destination" << "back56 help86"
            << kCreateHint << kept;
        QTest::newRow("create, then load") << "create,load,next" << "load" << "back56 help86"
            << kLoadHint << "";
        QTest::newRow("Back twice from destination: second spelling")
            << "load,create,next,type,back,next,back" << "option" << "help56" << kCreateHintAgain
            << kept;
        QTest::newRow("Back from the selected image keeps it") << "load,next,select,back"
            << "load" << "back56 help86" << "" << old;
        QTest::newRow("then Back to the options") << "load,next,select,back,back" << "option"
            << "help56" << "" << old;
        QTest::newRow("Home empties the load page") << "load,next,select,home" << "option"
            << "help56" << kCreateHintAgain << old;
        QTest::newRow("first Back on the load page goes home")
            << "load,next,select,home,load,next,back" << "option" << "help56" << "" << "";
        QTest::newRow("Image Created") << "next,created" << "progress" << "home56 help86" << "" << kept;
        QTest::newRow("Home from Image Created keeps the drive") << "next,created,home"
            << "option" << "help56" << "" << kept;
        QTest::newRow("then Next") << "next,created,home,next" << "destination" << "back56 help86"
            << "" << kept;
        // Without a drive the connection page stays, with no page above it.
        // Cancelling the file dialog empties the choice: Next then says so and stays.
        QTest::newRow("choice cancelled, then Next") << "load,next,choose,cancel,scan" << "load"
            << "back56 help86" << "" << "";
        QTest::newRow("no drive") << "nodrive,next" << "connect" << "back56 help86" << "" << kept;
        QTest::newRow("Back on the disconnected page") << "nodrive,next,back" << "option" << "help56"
            << "" << kept;
        // clang-format on
    }

    void pages()
    {
        QFETCH(QString, steps);
        QFETCH(QString, page);
        QFETCH(QString, hint);
        KorvelTapeDrive w;
        ImagingState::imagePath = QStringLiteral("/old/image.tape");
        loadedImagePath = QStringLiteral("/old/loaded.tape");
        A::turnOffCheckBox(w)->setChecked(true);
        ImagingState::ejectFlag = true; // stale values, replaced by the boxes' on the create road
        ImagingState::turnOffFlag = false;
        const QMap<QString, std::function<void()>> actions {
            { QStringLiteral("create"), [&] { A::createImageBtn(w)->click(); } },
            { QStringLiteral("load"), [&] { A::loadImageBtn(w)->click(); } },
            { QStringLiteral("next"), [&] { A::optionNextBtn(w)->click(); } },
            { QStringLiteral("back"), [&] { A::backBtn(w)->click(); } },
            { QStringLiteral("home"), [&] { A::homeBtn(w)->click(); } },
            { QStringLiteral("type"),
                [&] { A::destinationPathEdit(w)->setText(QStringLiteral("/media/backup")); } },
            { QStringLiteral("select"),
                [&] {
                    chooseFile(w, QStringLiteral("/data/old.tape"));
                    QMetaObject::invokeMethod(&w, "scanImage");
                } },
            { QStringLiteral("choose"), [&] { chooseFile(w, QStringLiteral("/tmp/a.tape")); } },
            { QStringLiteral("cancel"), [&] { chooseFile(w, QString()); } },
            { QStringLiteral("scan"), [&] { QMetaObject::invokeMethod(&w, "scanImage"); } },
            { QStringLiteral("created"), [&] { enterImageCreatedPage(w); } },
            { QStringLiteral("nodrive"), [] { ImagingState::driveOpen = false; } },
        };
        ModalAnswerer answerer;
        for (const QString &step : steps.split(QLatin1Char(',')))
            actions.value(step)();
        QCOMPARE(A::visiblePage(w), page);
        QCOMPARE(answerer.messages.size(), steps.contains(QLatin1String("cancel")) ? 1 : 0);
        QVERIFY(answerer.messages.isEmpty()
            || answerer.messages.first().text()
                == QLatin1String("Select Image\nYou need to select an image to scan for data."));
        QTEST(menuButtons(w), "buttons");
        QCOMPARE(A::backShown(w), !A::backBtn(w)->isHidden());
        if (!hint.isEmpty())
            QCOMPARE(A::createHintLabel(w)->text(), hint);
        const bool loadHighlighted = A::createHintLabel(w)->text() == kLoadHint;
        QCOMPARE(A::loadImageBtn(w)->styleSheet(),
            QStringLiteral("QPushButton{border-image: url(:/images/100/%1)}")
                .arg(loadHighlighted ? QLatin1String("img_EraseImageH.png")
                                     : QLatin1String("img_EraseImageN.png")));
        QTEST(loadedImagePath, "loaded");
        if (page == QLatin1String("load"))
            QCOMPARE(ImagingState::imagePath, QStringLiteral("/old/image.tape"));
        if (page == QLatin1String("destination"))
            QVERIFY(ImagingState::imagePath.isEmpty() && !ImagingState::ejectFlag
                && ImagingState::turnOffFlag);
        // Whatever the way back, nothing of the pages left behind stays chosen.
        QVERIFY(!createOptionSelected && !loadOptionSelected && !selectedImageMark);
        QVERIFY(A::loadPathEdit(w)->toPlainText().isEmpty());
        QVERIFY(A::destinationPathEdit(w)->toPlainText().isEmpty());
        QCOMPARE(A::imageCreatedShown(w), steps.endsWith(QLatin1String("created")));
        QVERIFY(!A::menuOnlyHelpAbout(w));
        QVERIFY(ImagingState::driveOpen || steps.startsWith(QLatin1String("nodrive")));
    }

    // The menu's items come and go one every two ticks, the last first when it closes; Back
    // and Home take part where the page has them. Each "menu" step clicks the menu button
    // and notes the animation ("menu7": its first 7 ticks), "look" notes the menu buttons.
    void menu_data()
    {
        QTest::addColumn<QString>("page"); // the flags of: "created", "backHome", or none
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("log"); // what the steps noted, between " | "
        const QString closeBare = QStringLiteral("6:-about 8:-help 10:-separator stop@12");
        const QString openBare = QStringLiteral("2:+separator 4:+help 6:+about stop@12");
        const QString openBack = QStringLiteral("2:+back 4:+separator 6:+help 8:+about stop@14");
        // clang-format off
        QTest::newRow("image created, open") << "created" << "hidden,menu"
            << "2:+home 4:+separator 6:+help 8:+about stop@14";
        QTest::newRow("image created, close") << "created" << "shown,menu"
            << "6:-about 8:-help 10:-separator 12:-home stop@14";
        QTest::newRow("back and home, open") << "backHome" << "hidden,menu"
            << "2:+back 4:+home 6:+separator 8:+help 10:+about stop@16";
        QTest::newRow("back and home, close") << "backHome" << "shown,menu"
            << "6:-about 8:-help 10:-separator 12:-home 14:-back stop@16";
        QTest::newRow("a click restarts the animation") << "" << "menu7,menu"
            << "6:-about | 6:+about stop@12";
        // Back mode (the destination page), reached by Next with the menu open or closed, and
        // by a run given up there; the option page after it has no Back.
        QTest::newRow("menu open, run abandoned") << "" << "next,abandon,look,menu,menu,look,back,menu,menu"
            << QStringLiteral("back56 help86 | 6:-about 8:-help 10:-separator 12:-back stop@14 | %1 | "
                              "back56 help86 | %2 | %3").arg(openBack, closeBare, openBare);
        QTest::newRow("menu closed, run abandoned") << "" << "menu,next,abandon,look,menu,look,back,menu,menu"
            << QStringLiteral("%1 | help86 | %2 | back56 help86 | %1 | %3").arg(closeBare, openBack, openBare);
        QTest::newRow("menu closed, no run") << "" << "menu,next,look,menu,look,back,menu,menu"
            << QStringLiteral("%1 | help86 | %2 | back56 help86 | %1 | %3").arg(closeBare, openBack, openBare);
        // clang-format on
    }

    void menu()
    {
        QFETCH(QString, page);
        QFETCH(QString, steps);
        KorvelTapeDrive w;
        A::backShown(w) = A::homeAndBackShown(w) = page == QLatin1String("backHome");
        A::imageCreatedShown(w) = page == QLatin1String("created");
        QStringList log;
        for (const QString &step : steps.split(QLatin1Char(','))) {
            if (step == QLatin1String("shown") || step == QLatin1String("hidden")) {
                // every item in the other end state, so each change shows
                for (QWidget *item : std::initializer_list<QWidget *> { A::backBtn(w),
                         A::homeBtn(w), A::menuSeparatorLabel(w), A::helpBtn(w), A::aboutBtn(w) })
                    item->setVisible(step == QLatin1String("shown"));
                A::menuBtn(w)->setChecked(step == QLatin1String("shown"));
            } else if (step.startsWith(QLatin1String("menu"))) {
                const bool opening = !A::menuBtn(w)->isChecked();
                A::menuBtn(w)->click();
                QCOMPARE(A::menuBtn(w)->isChecked(), opening);
                QCOMPARE(A::toolBarTimer(w)->interval(), 15);
                log << recordAnimation(w, step == QLatin1String("menu7") ? 7 : 40);
            } else if (step == QLatin1String("next")) {
                A::optionNextBtn(w)->click();
                QCOMPARE(A::visiblePage(w), QStringLiteral("destination"));
            } else if (step == QLatin1String("abandon")) {
                A::abandonRun(w);
            } else if (step == QLatin1String("back")) {
                A::backBtn(w)->click();
            } else if (step == QLatin1String("look")) {
                log << menuButtons(w);
            }
        }
        QTEST(log.join(QLatin1String(" | ")), "log");
    }

    void selectedImage_data()
    {
        QTest::addColumn<QString>("name"); // in a fresh folder; with a '/': a path of its own
        QTest::addColumn<qint64>("size"); // -1: no such file (gone before Next)
        QTest::addColumn<QString>("plant"); // what is at the name instead of a file
        QTest::addColumn<QString>("text"); // empty: refused, the load page stays
        const QString none, refused;
        QTest::newRow("one MiB") << "My Tape (1).tape" << qint64(1048576) << none
                                 << QStringLiteral("Image Size:  1.00 MB in disk");
        QTest::newRow("gone, long path")
            << QStringLiteral("/begin/") + QString(300, QLatin1Char('x'))
                + QStringLiteral("/end.tape")
            << qint64(-1) << none << QStringLiteral("Image Size:  0.00 KB in disk");
        // Next used to wait in open() until someone wrote to the FIFO.
        QTest::newRow("FIFO: refused, no hang") << "fifo.tape" << qint64(-1) << "fifo" << refused;
        QTest::newRow("link to a FIFO: refused")
            << "link.tape" << qint64(-1) << "link to fifo" << refused;
        QTest::newRow("link to an image: its size")
            << "link.tape" << qint64(-1) << "link to image"
            << QStringLiteral("Image Size:  2.00 KB in disk");
    }

    void selectedImage()
    {
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QFETCH(QString, plant);
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QString path = name.startsWith(QLatin1Char('/')) ? name : dir.filePath(name);
        if (size >= 0)
            QVERIFY(writeFile(path, QByteArray(int(size), 'i')));
        QString fifo; // where the FIFO is, the name itself or the target of a link there
        if (plant == QLatin1String("fifo"))
            fifo = path;
        else if (plant == QLatin1String("link to fifo"))
            fifo = dir.filePath(QStringLiteral("fifo"));
        if (!fifo.isEmpty())
            QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
        if (plant == QLatin1String("link to image"))
            QVERIFY(writeFile(dir.filePath(QStringLiteral("image")), QByteArray(2048, 'i')));
        if (plant.startsWith(QLatin1String("link to ")))
            QVERIFY(QFile::link(dir.filePath(plant.mid(8)), path));

        KorvelTapeDrive window;
        window.show();
        A::loadImageBtn(window)->click();
        A::optionNextBtn(window)->click();
        chooseFile(window, path);
        QCOMPARE(loadedImagePath, path);
        QCOMPARE(A::loadPathEdit(window)->toPlainText(), path);
        QVERIFY(A::showsThePathsEnd(A::loadPathEdit(window)));
        QCOMPARE(
            A::selectedImagePathLabel(window)->toolTip(), QStringLiteral("Image Path:  ") + path);
        FifoPartner writer(fifo, FifoPartner::End::Writes);
        ModalAnswerer answerer;
        QMetaObject::invokeMethod(&window, "scanImage");
        writer.taken();
        if (text.isEmpty()) {
            QCOMPARE(answerer.messages.size(), 1);
            QCOMPARE(answerer.messages.first().text(),
                QStringLiteral("Select Image\nYou need to select an image to scan for data."));
            QCOMPARE(A::visiblePage(window), QStringLiteral("load"));
            QCOMPARE(loadedImagePath, path); // kept, as after any refused Next
            return;
        }
        QCOMPARE(A::visiblePage(window), QStringLiteral("selected"));
        QTEST(A::selectedImageSizeLabel(window)->text(), "text");
        // A long path: cut in the middle on the selected-image page.
        const QString shown = A::selectedImagePathLabel(window)->text();
        QCOMPARE(shown.contains(QChar(0x2026)), path.size() > 300);
        QVERIFY(shown.startsWith(path.left(7)));
        QVERIFY(shown.endsWith(QStringLiteral(".tape")));
    }

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
        ImagingState::driveOpen = false;
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

private:
    QTemporaryDir m_dir;

    /// The Image Created page as the completion step leaves it.
    static void enterImageCreatedPage(KorvelTapeDrive &w)
    {
        A::destinationPageFrame(w)->hide();
        A::progressPageFrame(w)->show();
        A::imageCreatedShown(w) = true;
        A::backShown(w) = false;
        A::backBtn(w)->hide();
        A::homeShown(w) = true;
        A::layout(w);
        A::homeShown(w) = false;
        A::homeBtn(w)->show();
    }
};

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
