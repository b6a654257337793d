// The create road with the real window, the real virtual tape and real image files; each
// finished run is repeated with tarnwick-image, which must write the same bytes.
#include "app/destination.h"
#include "fifo_partner.h"
#include "imaging/image_file.h"
#include "modal_helper.h"
#include "platform/posix/native_file.h"
#include "platform/win32_process.h"
#include "tape_fixtures.h"
#include "window_test_access.h"

#include <QAbstractItemView>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Objects blocks(int count, int length = 65536)
{
    return Objects(count, length) << kMark;
}

const QByteArray t64k(" 65536 5 65536 5");

} // namespace

class TestCreateRoad : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_folder;

    /// Makes the tape, opens a window on it and goes to the destination page.
    void openOnTape(KorvelTapeDrive &window, const Objects &objects, int errorRecord = -1)
    {
        const QString tape = m_dir.filePath(QStringLiteral("tape.tap"));
        QVERIFY(writeTape(tape, objects, errorRecord));
        qputenv("TAPE", QFile::encodeName(tape));
        window.show();
        A::optionNextBtn(window)->click();
        QCOMPARE(A::visiblePage(window), QStringLiteral("destination"));
    }

    static void chooseFolder(KorvelTapeDrive &window, const QString &folder)
    {
        Destination::folderDialog = [folder](QWidget *, const QString &) { return folder; };
        A::browseDestinationBtn(window)->click();
    }

    static bool onImageCreatedPage(KorvelTapeDrive &window)
    {
        return A::visiblePage(window) == QLatin1String("progress")
            && A::destinationPageFrame(window)->isHidden()
            && A::creatingTitleLabel(window)->text() == QLatin1String("Image Created")
            && !A::scanCreatedBtn(window)->isHidden();
    }

    static bool onDestinationPage(KorvelTapeDrive &window)
    {
        return !A::destinationPageFrame(window)->isHidden()
            && A::progressPageFrame(window)->isHidden();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_folder = m_dir.filePath(QStringLiteral("images"));
    }

    void init()
    {
        resetImagingState(); // as a fresh process: no drive open, nothing chosen
        QDir(m_folder).removeRecursively();
        QDir().mkpath(m_folder);
    }

    // Each finished run's image is made again by tarnwick-image (--yes answering the first
    // question), which must write the same bytes. Runs meet trouble too: the drive, the
    // folder, the disk, the user closing the window.
    void runs_data()
    {
        QTest::addColumn<Objects>("tape");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QString>("message"); // the title of the one message; empty: none
        QTest::addColumn<int>("records"); // -1: abandoned; with the disk full: what was kept
        QTest::addColumn<QByteArray>("trailer"); // abandoned: the file ("<missing>": none)
        const QStringList none, yes { QStringLiteral("yes") }, no { QStringLiteral("no") };
        const QString automatic = QStringLiteral("Auto"),
                      full = QStringLiteral("   Image incomplete");
        const QByteArray t128k(" 65536 5 131072 6"), missing("<missing>");
        // clang-format off
        QTest::newRow("131072, Yes: padded, half the blocks") << blocks(6) << "131072" << yes
            << "" << 1 << "" << 3 << t128k;
        QTest::newRow("131072, closed then Yes") << blocks(6) << "131072"
            << QStringList{QStringLiteral("escape"), QStringLiteral("yes")} << "" << 2 << "" << 4 << t128k;
        QTest::newRow("131072, No: the records so far") << blocks(6) << "131072" << no << "" << 1
            << "" << -1 << QByteArray();
        QTest::newRow("32768 refused") << blocks(5) << "32768" << none << "" << 1 << "" << -1
            << QByteArray();
        // The mark after the 32768-byte block becomes zeros as long as the first block.
        QTest::newRow("Auto, tape mark inside") << Objects{65536, 32768, kMark, 65536, kMark}
            << automatic << none << "" << 0 << "" << 5 << QByteArray(" 0 1 65536 5");
        QTest::newRow("empty tape") << Objects{} << automatic << none << "" << 0 << "" << 0
            << QByteArray(" 0 1 0 1");
        // The block count is the end-of-data position less one: written for tapes that end
        // with a tape mark, it leaves out the last block of a tape that does not.
        QTest::newRow("no tape mark at the end") << Objects(3, 65536) << automatic << none << ""
            << 0 << "" << 2 << t64k;
        QTest::newRow("read error record is imaged as read") << blocks(50) << automatic << none
            << "read error" << 0 << "" << 50 << t64k;
        // Without figures the run reads up to the end of data, and that read, as every read
        // of no bytes, becomes a record of zeros: 65,548 bytes, not the 8-byte " 0 1 0 1"
        // of an empty tape whose drive reports its figures.
        QTest::newRow("media query fails on an empty tape") << Objects{} << automatic << none
            << "media" << 0 << "" << 1 << QByteArray(" 0 1 65536 5");
        QTest::newRow("close request during the run: refused") << blocks(50) << automatic << none
            << "close" << 0 << "Exit" << 50 << t64k;
        QTest::newRow("position query fails") << blocks(50) << automatic << none << "position"
            << 0 << "   Tape position unknown" << -1 << missing;
        QTest::newRow("image folder removed before Create") << blocks(50) << automatic << none
            << "folder gone" << 0 << "   Image not created" << -1 << missing;
        // Another user who can write the folder plants something at the shown name. The
        // window used to hang in open() on the FIFO and then hand it the image, and to write
        // through the links over their target.
        const QString refused = QStringLiteral("   Image not created");
        QTest::newRow("FIFO planted at the name") << blocks(50) << automatic << none << "fifo"
            << 0 << refused << -1 << missing;
        QTest::newRow("symbolic link planted at the name") << blocks(50) << automatic << none
            << "symlink" << 0 << refused << -1 << missing;
        QTest::newRow("hard link planted at the name") << blocks(50) << automatic << none
            << "hard link" << 0 << refused << -1 << missing;
        // The user's own file of that name (a folder chosen twice in one second) is written
        // anew, as before: the same bytes as into a new file.
        QTest::newRow("own longer file at the name") << blocks(50) << automatic << none
            << "own file" << 0 << "" << 50 << t64k;
        // A short run fails only when the stream is flushed at the end (its 50 KB wait in the
        // 64 KiB stream buffer for a volume with 20 KiB left), a long one half way through the
        // blocks. What reached the disk is kept: whole records of the tape.
        QTest::newRow("tmpfs full at close") << blocks(50, 1000) << automatic << none << "tmpfs"
            << 0 << full << 50 << QByteArray();
        QTest::newRow("file-size limit, full during the blocks") << blocks(100) << automatic
            << none << "file size" << 0 << full << 100 << QByteArray();
        // clang-format on
    }

    void runs()
    {
        QFETCH(Objects, tape);
        QFETCH(QString, choice);
        QFETCH(QStringList, answers);
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QFETCH(int, records);
        QFETCH(QByteArray, trailer);
        const bool tmpfs = fault == QLatin1String("tmpfs");
        const bool full = tmpfs || fault == QLatin1String("file size");
        KorvelTapeDrive window;
        openOnTape(window, tape, fault == QLatin1String("read error") ? 1 : -1);
        A::blockSizeCombo(window)->setCurrentText(choice);
        const QString folder = m_folder + QStringLiteral("/run");
        SmallVolume volume(folder, tmpfs ? "size=16m" : nullptr);
        if (tmpfs && !volume.mounted())
            QSKIP("mounting a tmpfs needs root");
        chooseFolder(window, folder);
        const QString image = ImagingState::imagePath;
        QVERIFY(image.startsWith(folder + QStringLiteral("/Tape_Image_(")));
        VirtualTape *drive = VirtualTape::fromHandle(ImagingState::tapeHandle);
        if (fault == QLatin1String("position"))
            drive->setInstanceFaults(VirtualTape::Position);
        if (fault == QLatin1String("media")) { // a drive that never reported its figures
            drive->setInstanceFaults(VirtualTape::Media);
            ImagingState::totalBytes = 0;
        }
        if (fault == QLatin1String("folder gone"))
            QVERIFY(QDir(folder).removeRecursively());
        const QByteArray name = QFile::encodeName(image);
        const QString victim = m_dir.filePath(QStringLiteral("victim"));
        const QByteArray kept("another file, kept as it is");
        QVERIFY(writeFile(victim, kept));
        if (fault == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(name.constData(), 0666), 0);
        if (fault == QLatin1String("symlink"))
            QCOMPARE(::symlink(QFile::encodeName(victim).constData(), name.constData()), 0);
        if (fault == QLatin1String("hard link"))
            QCOMPARE(::link(QFile::encodeName(victim).constData(), name.constData()), 0);
        if (fault == QLatin1String("own file"))
            QVERIFY(writeFile(image, QByteArray(5 << 20, 'x')));
        const NativeFile::Kind planted = NativeFile::kindAt(name);
        FifoPartner reader(
            fault == QLatin1String("fifo") ? image : QString(), FifoPartner::End::Reads);
        QTimer duringRun;
        connect(&duringRun, &QTimer::timeout, &window, [&] {
            if (ImagingState::busy && ImagingState::readBuffer) {
                duringRun.stop();
                // From a fresh timer: this one does not fire again while its slot runs, so
                // the message opened by close() would never be answered.
                QTimer::singleShot(0, &window, [&window] { window.close(); });
            }
        });
        if (fault == QLatin1String("close"))
            duringRun.start(5);
        const qint64 room = (tmpfs ? 20 : 300) * 1024;
        rlimit saved {}, limit {};
        getrlimit(RLIMIT_FSIZE, &saved);
        limit = saved;
        if (tmpfs) { // fill the volume up to a little room, as another program would
            const qint64 fill = QStorageInfo(folder).bytesAvailable() - room;
            QVERIFY(writeFile(folder + QStringLiteral("/filler"), QByteArray(int(fill), 'f')));
        } else if (full) {
            std::signal(SIGXFSZ, SIG_IGN);
            limit.rlim_cur = rlim_t(room);
        }
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        ModalAnswerer answerer(answers);
        A::createBtn(window)->click();
        setrlimit(RLIMIT_FSIZE, &saved);

        QVERIFY(!ImagingState::busy && ImagingState::chosenBlockSize == 0);
        QTEST(answerer.questions.size(), "questions"); // a close request is no exit question
        QCOMPARE(answerer.messages.size(), message.isEmpty() ? 0 : 1);
        QVERIFY(message.isEmpty() || answerer.messages.first().title == message);
        if (choice == QLatin1String("32768")) {
            const Seen refusal = answerer.questions.first();
            QCOMPARE(refusal.text(),
                QStringLiteral("     Block Size Mismatch\nYou have selected a block size that is "
                               "smaller than the block size of the tape. You need to set the "
                               "block size equal to or larger than the tape block size to "
                               "proceed."));
            QVERIFY(!refusal.yesShown && refusal.noText == QLatin1String("OK"));
        }
        if (fault == QLatin1String("close")) {
            const Seen refusal = answerer.messages.first();
            QCOMPARE(refusal.parent, &window);
            QCOMPARE(refusal.message,
                QStringLiteral("An image of selected tape is being created. \nYou can exit "
                               "the app once the image is \ncomplete."));
            QCOMPARE(refusal.logo, QRect(165, 6, 16, 16));
        }
        if (fault == QLatin1String("folder gone")) {
            QVERIFY(
                answerer.messages.first().message.contains(QLatin1String("could not be created")));
            QVERIFY(!QFileInfo::exists(folder)); // not made again behind the user's back
        }
        QCOMPARE(reader.taken(), QByteArray());
        QCOMPARE(fileBytes(victim), kept);
        if (message == QLatin1String("   Image not created")
            && planted != NativeFile::Kind::Missing) {
            QVERIFY(
                answerer.messages.first().message.contains(QLatin1String("could not be created")));
            QCOMPARE(NativeFile::kindAt(name), planted); // left for the user to look at
            QVERIFY(onDestinationPage(window));
            return;
        }
        const QByteArray written = fileBytes(image);
        QByteArray expected = expectedImage(tape, choice, qMax(records, 0));
        if (answers.value(0) == QLatin1String("escape")) // unanswered, a block keeps its length
            expected = expectedImage(tape, QStringLiteral("Auto"), 1) + expected.mid(131072);
        if (records < 0 || full) {
            QVERIFY(onDestinationPage(window));
            QVERIFY(answerer.questions.isEmpty() || ImagingState::abortFlag); // given up
            QCOMPARE(written, records < 0 ? trailer : expected.left(written.size()));
            QVERIFY(records < 0 || (written.size() > 0 && written.size() <= room));
            return;
        }
        QCOMPARE(written, expected + trailer);
        QVERIFY(onImageCreatedPage(window));
        if (!fault.isEmpty() || answers.size() > 1) // --yes answers the first question only
            return;
        CloseHandle(ImagingState::tapeHandle); // the window keeps its drive open
        ImagingState::driveOpen = false;
        const QString copy = m_dir.filePath(QStringLiteral("cli.tape"));
        QFile::remove(copy);
        QStringList arguments { QStringLiteral("--block-size"), choice.toLower(),
            QStringLiteral("--output"), copy };
        if (!answers.isEmpty())
            arguments << QStringLiteral("--yes");
        const ToolRun run = runImageTool(arguments, qEnvironmentVariable("TAPE"));
        // Where the window's rules end the run before the tape's last block, the command
        // line says so.
        int lastBlock = tape.size();
        while (lastBlock > 0 && tape[lastBlock - 1] == kMark)
            --lastBlock;
        QCOMPARE(run.exitCode, records < lastBlock ? 12 : 0);
        QCOMPARE(run.out, copy + QLatin1Char('\n'));
        QCOMPARE(fileBytes(copy), written);
    }

    void completionPage_data()
    {
        QTest::addColumn<bool>("eject");
        QTest::addColumn<bool>("turnOff");
        QTest::addColumn<QStringList>("events");
        const QString ejected = QStringLiteral("ejected");
        QTest::newRow("neither") << false << false << QStringList();
        QTest::newRow("eject") << true << false << QStringList { ejected };
        QTest::newRow("turn off") << false << true
                                  << QStringList { QStringLiteral("systemctl poweroff, tape in") };
        QTest::newRow("both: eject first")
            << true << true
            << QStringList { ejected, QStringLiteral("systemctl poweroff, tape out") };
    }

    void completionPage()
    {
        QFETCH(bool, eject);
        QFETCH(bool, turnOff);
        QStringList events;
        setDetachedStarter([&events](const QString &program, const QStringList &arguments) {
            const VirtualTape *tape = VirtualTape::fromHandle(ImagingState::tapeHandle);
            events << program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '))
                    + (tape && tape->ejected() ? QStringLiteral(", tape out")
                                               : QStringLiteral(", tape in"));
            return true;
        });
        KorvelTapeDrive window;
        openOnTape(window, { 1000, 1000, 1000, kMark });
        A::ejectCheckBox(window)->setChecked(eject);
        A::turnOffCheckBox(window)->setChecked(turnOff);
        // A long folder name: the path must be cut in the middle to fit the label.
        const QString folder = m_folder + QLatin1Char('/') + QString(120, QLatin1Char('x'));
        QVERIFY(QDir().mkpath(folder));
        chooseFolder(window, folder);
        QVERIFY(A::showsThePathsEnd(A::destinationPathEdit(window)));
        A::createBtn(window)->click();
        setDetachedStarter(nullptr);

        const VirtualTape *tape = VirtualTape::fromHandle(ImagingState::tapeHandle);
        QVERIFY(tape);
        if (tape->ejected())
            events.prepend(QStringLiteral("ejected"));
        QTEST(events, "events");
        QVERIFY(onImageCreatedPage(window) && !ImagingState::runFlag);
        QCOMPARE(
            A::imageSizeInfoLabel(window)->text(), QStringLiteral("Image Size:  2.93 KB in disk"));
        QLabel *path = A::imagePathInfoLabel(window);
        QCOMPARE(path->toolTip(), QStringLiteral("Image Path: ") + ImagingState::imagePath);
        QVERIFY(path->text().startsWith(QStringLiteral("Image Path: /"))
            && path->text().contains(QChar(0x2026))
            && path->text().endsWith(QStringLiteral(").tape")));
        QVERIFY(path->fontMetrics().horizontalAdvance(path->text()) <= path->width());
        if (eject || turnOff) // a second run would eject or turn off with no stand-in
            return;

        // Create again on the same path: the file is written anew, the page shown again whole.
        QFile::remove(ImagingState::imagePath);
        A::progressPageFrame(window)->hide();
        A::destinationPageFrame(window)->show();
        A::createBtn(window)->click();
        QVERIFY(onImageCreatedPage(window) && !A::imageSizeInfoLabel(window)->isHidden());
        QCOMPARE(fileBytes(ImagingState::imagePath),
            expectedImage({ 1000, 1000, 1000 }, QStringLiteral("Auto"), 3)
                + ImageFile::trailerText(1000, 1000));
    }

    void destinationChecks_data()
    {
        QTest::addColumn<QByteArray>("volume"); // tmpfs mount options; empty: a plain folder
        QTest::addColumn<qint64>("spaceDelta"); // total bytes minus the free space
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("insufficient");
        const QByteArray plain, small("size=1m");
        QTest::newRow("cancelled") << plain << qint64(0) << true << false << false;
        QTest::newRow("read-only volume") << "ro," + small << qint64(0) << false << false << false;
        QTest::newRow("free space below") << small << qint64(1) << false << false << true;
        QTest::newRow("free space equal") << small << qint64(0) << false << true << false;
    }

    void destinationChecks()
    {
        QFETCH(QByteArray, volume);
        QFETCH(qint64, spaceDelta);
        QFETCH(bool, cancel);
        QFETCH(bool, accepted);
        QFETCH(bool, insufficient);
        KorvelTapeDrive window;
        openOnTape(window, { 512, kMark });
        chooseFolder(window, m_folder); // an earlier choice, forgotten by the next Browse
        QVERIFY(!ImagingState::imagePath.isEmpty());
        const QString folder
            = volume.isEmpty() ? m_folder : m_dir.filePath(QStringLiteral("volume"));
        SmallVolume mount(folder, volume.isEmpty() ? nullptr : volume.constData());
        if (!volume.isEmpty() && !mount.mounted())
            QSKIP("mounting a tmpfs needs root");
        if (!volume.isEmpty())
            ImagingState::totalBytes = QStorageInfo(folder).bytesAvailable() + spaceDelta;
        ModalAnswerer answerer;
        chooseFolder(window, cancel ? QString() : folder);

        QCOMPARE(!ImagingState::imagePath.isEmpty(), accepted);
        QCOMPARE(A::destinationPathEdit(window)->toPlainText(), ImagingState::imagePath);
        QVERIFY(!accepted
            || ImagingState::imagePath.startsWith(folder + QStringLiteral("/Tape_Image_(")));
        QCOMPARE(answerer.messages.size(), insufficient ? 1 : 0);
        if (insufficient)
            QCOMPARE(answerer.messages.first().text(),
                QStringLiteral("   Insufficient space\n Insufficient space in the disk."));
        if (accepted)
            return;
        // Create then refuses and stays on the page.
        A::createBtn(window)->click();
        QCOMPARE(answerer.messages.size(), insufficient ? 2 : 1);
        QCOMPARE(answerer.messages.last().text(),
            QStringLiteral("             Select Destination Path\n Select a valid destination "
                           "path to save the \n image of the selected tape drive."));
        QVERIFY(onDestinationPage(window));
    }

    void blockSizeList()
    {
        KorvelTapeDrive window;
        openOnTape(window, { 512, 512, kMark });
        QComboBox *combo = A::blockSizeCombo(window);
        QCOMPARE(combo->count(), 11);
        QCOMPARE(combo->currentText(), QStringLiteral("Auto"));
        QCOMPARE(ImagingState::blockSizeText, QStringLiteral("Auto"));
        QVERIFY(!A::recommendedLabel(window)->isHidden());
        const qint64 recorded = ImagingState::totalBytes;
        QVERIFY(recorded > 0);

        ImagingState::totalBytes = 7;
        combo->setCurrentText(QStringLiteral("65536"));
        QVERIFY(A::recommendedLabel(window)->isHidden());
        QCOMPARE(ImagingState::totalBytes, qint64(7)); // a number does not ask the drive
        combo->setCurrentText(QStringLiteral("Auto"));
        QCOMPARE(ImagingState::totalBytes, recorded);
        QVERIFY(!A::recommendedLabel(window)->isHidden());

        // The row under the mouse becomes the open list's current row. Drawn as a menu item
        // under the list's border sheet, it was an empty box: white text on white.
        combo->showPopup();
        QAbstractItemView *list = combo->view();
        list->setCurrentIndex(list->model()->index(3, 0));
        const auto rowInside = [list](int row) {
            const QRect whole = list->visualRect(list->model()->index(row, 0));
            return list->viewport()->grab(whole.adjusted(3, 3, -3, -3)).toImage();
        };
        const QImage current = rowInside(3);
        const int plain = qGray(rowInside(0).pixel(0, 0));
        combo->hidePopup();
        const int background = qGray(current.pixel(0, 0));
        int contrast = 0;
        for (int y = 0; y < current.height(); ++y) {
            for (int x = 0; x < current.width(); ++x)
                contrast = qMax(contrast, qAbs(qGray(current.pixel(x, y)) - background));
        }
        QVERIFY2(qAbs(background - plain) > 60 && contrast > 100,
            qPrintable(QStringLiteral("highlight %1 on %2, text %3 from it")
                           .arg(background)
                           .arg(plain)
                           .arg(contrast)));

        // Back to the option page and forward again: still eleven entries, choice kept.
        combo->setCurrentText(QStringLiteral("2048"));
        A::backBtn(window)->click();
        A::optionNextBtn(window)->click();
        QCOMPARE(combo->count(), 11);
        QCOMPARE(combo->currentText(), QStringLiteral("2048"));
    }
};

QTEST_MAIN(TestCreateRoad)
#include "tst_create_road.moc"
