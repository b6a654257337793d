// The create road with the real window, the real virtual tape and real image files.
#include "app/destination.h"
#include "app/korveltapedrive.h"
#include "dialogs/repairfinishdialog.h"
#include "dialogs/yesnoapplicationdlg.h"
#include "imaging/imaging_state.h"
#include "platform/tap_writer.h"
#include "platform/virtual_tape.h"
#include "platform/win32_process.h"
#include "platform/win32_tape.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>

#define WIDGET(Type, name)                                                                         \
    static Type *name(KorvelTapeDrive &w)                                                          \
    {                                                                                              \
        return w.name;                                                                             \
    }

class KorvelTapeDriveTestAccess
{
public:
    WIDGET(QFrame, connectPageFrame)
    WIDGET(QFrame, destinationPageFrame)
    WIDGET(QFrame, progressPageFrame)
    WIDGET(QPushButton, optionNextBtn)
    WIDGET(QPushButton, browseDestinationBtn)
    WIDGET(QTextEdit, destinationPathEdit)
    WIDGET(QComboBox, blockSizeCombo)
    WIDGET(QLabel, recommendedLabel)
    WIDGET(QPushButton, createBtn)
    WIDGET(QCheckBox, ejectCheckBox)
    WIDGET(QCheckBox, turnOffCheckBox)
    WIDGET(QLabel, creatingTitleLabel)
    WIDGET(QLabel, imagePathInfoLabel)
    WIDGET(QLabel, imageSizeInfoLabel)
    WIDGET(QPushButton, scanCreatedBtn)
    WIDGET(QLabel, percentLabel)
    WIDGET(QProgressBar, imagingProgressBar)
    WIDGET(QPushButton, backBtn)
    WIDGET(QPushButton, menuBtn)
};
#undef WIDGET

using Access = KorvelTapeDriveTestAccess;
using Objects = QVector<int>; // tape contents: a record length, or kMark for a tape mark

namespace {

constexpr int kMark = -1;

QByteArray recordContent(int index, int length)
{
    QByteArray data(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        data[i] = char(1 + (index * 31 + i * 7 + (i >> 9)) % 251); // never 0: padding shows
    return data;
}

bool writeTape(const QString &path, const Objects &objects, int errorRecord = -1)
{
    TapWriter tape;
    if (!tape.open(path.toStdString()))
        return false;
    for (int i = 0; i < objects.size(); ++i) {
        if (objects[i] == kMark) {
            tape.writeTapeMark();
        } else {
            const QByteArray data = recordContent(i, objects[i]);
            tape.writeRecord(data.constData(), std::uint32_t(data.size()), i == errorRecord);
        }
    }
    return tape.close();
}

QByteArray trailer(uint tapeBlockLength, uint blockSize)
{
    const QByteArray t = QByteArray::number(tapeBlockLength);
    const QByteArray s = QByteArray::number(blockSize);
    return ' ' + t + ' ' + QByteArray::number(t.size()) + ' ' + s + ' '
        + QByteArray::number(s.size());
}

/// The image a run must write, made from the tape's objects without the engine: the first
/// @p records objects, each at the fixed size or its own length, a tape mark (or the end of
/// data) as zeros as long as the first object.
QByteArray expectedImage(const Objects &objects, const QString &choice, int records)
{
    QByteArray image;
    int first = 0;
    for (int i = 0; i < records; ++i) {
        const int length = i < objects.size() && objects[i] != kMark ? objects[i] : 0;
        if (i == 0)
            first = length;
        const QByteArray data = recordContent(i, length);
        int recordLength = choice.toInt();
        if (choice == QLatin1String("Auto"))
            recordLength = length != 0 ? length : (first != 0 ? first : 65536);
        image += data + QByteArray(recordLength - length, '\0');
    }
    return image;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

/// What a modal dialog looked like when it came up.
struct Seen
{
    QString title;
    QString message;
    bool yesShown = false;
    QString noText;
};

/// Answers the modal dialogs of a run from a script: "yes", "no", "escape" for the question.
class ModalAnswerer : public QObject
{
public:
    explicit ModalAnswerer(QStringList script = {})
        : m_script(std::move(script))
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_timer.start(5);
    }

    QVector<Seen> questions;
    QVector<Seen> messages;
    std::function<void()> duringRun; ///< called once, from the first event pass of a busy run
    QString shotName; ///< when set, each dialog is saved as a picture

private:
    void poll()
    {
        if (duringRun && ImagingState::busy && ImagingState::readBuffer) {
            // From a fresh timer: this one does not fire again while its slot runs, so a
            // dialog opened from here directly would never be answered.
            QTimer::singleShot(0, this, std::move(duringRun));
            duringRun = nullptr;
            return;
        }
        QWidget *modal = QApplication::activeModalWidget();
        // A dialog counts as up only once its exec() loop runs; closing it before that
        // (from an event pass inside show()) would leave exec() waiting for ever.
        if (modal && QThread::currentThread()->loopLevel() < openModalDialogs())
            return;
        if (modal && !shotName.isEmpty())
            modal->grab().save(shotName + QString::number(++m_shots) + QStringLiteral(".png"));
        if (auto *question = qobject_cast<YesNoApplicationDlg *>(modal)) {
            questions.append({ question->label_8->text(), question->label_2->text(),
                !question->YesBtn->isHidden(), question->NoBtn->text() });
            const QString answer = m_script.value(questions.size() - 1, QStringLiteral("no"));
            if (answer == QLatin1String("yes"))
                question->YesBtn->click();
            else if (answer == QLatin1String("no"))
                question->NoBtn->click();
            else
                QTest::keyClick(question, Qt::Key_Escape);
        } else if (auto *message = qobject_cast<repairFinishDialog *>(modal)) {
            messages.append(
                { message->label_8->text(), message->repairedLabl->text(), false, QString() });
            message->OkBtn->click();
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
    QTimer m_timer;
    int m_shots = 0;
};

/// A small tmpfs of our own, for full disks and read-only volumes; needs root.
class SmallVolume
{
public:
    SmallVolume(const QString &path, const char *options)
        : m_path(path)
    {
        QDir().mkpath(path);
        m_mounted = ::mount("tmpfs", path.toUtf8().constData(), "tmpfs", 0, options) == 0;
    }
    ~SmallVolume()
    {
        if (m_mounted)
            ::umount2(m_path.toUtf8().constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }

private:
    QString m_path;
    bool m_mounted = false;
};

} // namespace

class TestCreateRoad : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tapePath;
    QString m_folder;

    /// Makes the tape, opens a window on it and goes to the destination page.
    void openOnTape(KorvelTapeDrive &window, const Objects &objects, int errorRecord = -1)
    {
        m_tapePath = m_dir.filePath(QStringLiteral("tape.tap"));
        QVERIFY(writeTape(m_tapePath, objects, errorRecord));
        qputenv("TAPE", m_tapePath.toUtf8());
        window.show();
        Access::optionNextBtn(window)->click();
        QVERIFY(!Access::destinationPageFrame(window)->isHidden());
    }

    void chooseFolder(KorvelTapeDrive &window, const QString &folder)
    {
        Destination::folderDialog = [folder](QWidget *, const QString &) { return folder; };
        Access::browseDestinationBtn(window)->click();
    }

    static bool onImageCreatedPage(KorvelTapeDrive &window)
    {
        return !Access::progressPageFrame(window)->isHidden()
            && Access::destinationPageFrame(window)->isHidden()
            && Access::creatingTitleLabel(window)->text() == QLatin1String("Image Created")
            && !Access::scanCreatedBtn(window)->isHidden();
    }

    static bool onDestinationPage(KorvelTapeDrive &window)
    {
        return !Access::destinationPageFrame(window)->isHidden()
            && Access::progressPageFrame(window)->isHidden();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_folder = m_dir.filePath(QStringLiteral("images"));
        QVERIFY(QDir().mkpath(m_folder));
    }

    void init()
    {
        // Every test starts as a fresh process would: no drive open, nothing chosen.
        if (ImagingState::driveOpen)
            CloseHandle(ImagingState::tapeHandle);
        ImagingState::tapeHandle = nullptr;
        ImagingState::driveOpen = false;
        ImagingState::loadStatus = 1;
        ImagingState::totalBytes = 0;
        ImagingState::bytesDone = 0;
        ImagingState::blockCount = 0;
        ImagingState::chosenBlockSize = 0;
        ImagingState::lastReadLength = 0;
        ImagingState::blockSizeText = QString();
        ImagingState::imagePath.clear();
        ImagingState::runFlag = false;
        ImagingState::abortFlag = false;
        ImagingState::progressPagePrepared = false;
        ImagingState::ejectFlag = false;
        ImagingState::turnOffFlag = false;
        VirtualTape::setFaults(VirtualTape::NoFault);
        QDir(m_folder).removeRecursively();
        QDir().mkpath(m_folder);
    }

    void fullRuns_data()
    {
        QTest::addColumn<Objects>("tape");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<bool>("created");
        QTest::addColumn<int>("records");
        QTest::addColumn<QByteArray>("trailer");
        QTest::addColumn<int>("questions");

        const Objects fiveBlocks { 65536, 65536, 65536, 65536, 65536, kMark };
        const Objects sixBlocks { 65536, 65536, 65536, 65536, 65536, 65536, kMark };
        const QString autoSize = QStringLiteral("Auto");
        // clang-format off
        QTest::newRow("Auto") << fiveBlocks << autoSize << QStringList() << true << 5
            << QByteArray(" 65536 5 65536 5") << 0;
        QTest::newRow("65536") << fiveBlocks << "65536" << QStringList() << true << 5
            << QByteArray(" 65536 5 65536 5") << 0;
        QTest::newRow("131072, Yes: padded, half the blocks") << sixBlocks << "131072"
            << QStringList{QStringLiteral("yes")} << true << 3 << QByteArray(" 65536 5 131072 6") << 1;
        QTest::newRow("131072, closed then Yes") << sixBlocks << "131072"
            << QStringList{QStringLiteral("escape"), QStringLiteral("yes")} << true << 4 << QByteArray(" 65536 5 131072 6") << 2;
        QTest::newRow("131072, No") << sixBlocks << "131072" << QStringList{QStringLiteral("no")} << false << 0
            << QByteArray() << 1;
        QTest::newRow("32768 refused") << fiveBlocks << "32768" << QStringList() << false << 0
            << QByteArray() << 1;
        // The mark after the 32768-byte block becomes zeros as long as the first block.
        QTest::newRow("Auto, tape mark inside") << Objects{65536, 32768, kMark, 65536, kMark}
            << autoSize << QStringList() << true << 5 << QByteArray(" 0 1 65536 5") << 0;
        QTest::newRow("empty tape") << Objects{} << autoSize << QStringList() << true << 0
            << QByteArray(" 0 1 0 1") << 0;
        QTest::newRow("end of data at block 1") << Objects{65536} << autoSize << QStringList()
            << true << 1 << QByteArray(" 65536 5 65536 5") << 0;
        // clang-format on
    }

    void fullRuns()
    {
        QFETCH(Objects, tape);
        QFETCH(QString, choice);
        QFETCH(QStringList, answers);
        QFETCH(bool, created);
        QFETCH(int, records);
        QFETCH(QByteArray, trailer);
        QFETCH(int, questions);

        KorvelTapeDrive window;
        openOnTape(window, tape);
        Access::blockSizeCombo(window)->setCurrentText(choice);
        chooseFolder(window, m_folder);
        const QString image = ImagingState::imagePath;
        QVERIFY(image.startsWith(m_folder + QStringLiteral("/Tape_Image_(")));

        ModalAnswerer answerer(answers);
        Access::createBtn(window)->click();

        QCOMPARE(answerer.questions.size(), questions);
        QVERIFY(answerer.messages.isEmpty());
        QCOMPARE(ImagingState::busy, false);
        if (created) {
            QByteArray expected = expectedImage(tape, choice, records);
            if (answers.value(0) == QLatin1String("escape")) {
                // The block read while the question went unanswered keeps its own length.
                expected
                    = expectedImage(tape, QStringLiteral("Auto"), 1) + expected.mid(choice.toInt());
            }
            QCOMPARE(fileBytes(image), expected + trailer);
            QVERIFY(onImageCreatedPage(window));
            QCOMPARE(ImagingState::chosenBlockSize, DWORD(0));
        } else {
            QCOMPARE(fileBytes(image), QByteArray()); // records so far, and no trailer
            QVERIFY(onDestinationPage(window));
            QVERIFY(ImagingState::abortFlag);
            QCOMPARE(ImagingState::chosenBlockSize, DWORD(0));
        }
    }

    void refusalTexts()
    {
        KorvelTapeDrive window;
        openOnTape(window, { 65536, 65536, kMark });
        Access::blockSizeCombo(window)->setCurrentText(QStringLiteral("32768"));
        chooseFolder(window, m_folder);
        ModalAnswerer answerer;
        Access::createBtn(window)->click();

        QCOMPARE(answerer.questions.size(), 1);
        const Seen refusal = answerer.questions.first();
        QCOMPARE(refusal.title, QStringLiteral("     Block Size Mismatch"));
        QCOMPARE(refusal.message,
            QStringLiteral("You have selected a block size that is smaller than the block "
                           "size of the tape. You need to set the block size equal to or "
                           "larger than the tape block size to proceed."));
        QVERIFY(!refusal.yesShown);
        QCOMPARE(refusal.noText, QStringLiteral("OK"));
    }

    void completionPage_data()
    {
        QTest::addColumn<bool>("eject");
        QTest::addColumn<bool>("turnOff");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("neither") << false << false << QStringList();
        QTest::newRow("eject") << true << false << QStringList { QStringLiteral("ejected") };
        QTest::newRow("turn off") << false << true
                                  << QStringList { QStringLiteral("poweroff, tape in") };
        QTest::newRow("both: eject first")
            << true << true
            << QStringList { QStringLiteral("ejected"), QStringLiteral("poweroff, tape out") };
    }

    void completionPage()
    {
        QFETCH(bool, eject);
        QFETCH(bool, turnOff);
        QStringList events;
        setDetachedStarter([&events](const QString &program, const QStringList &arguments) {
            const VirtualTape *tape = VirtualTape::fromHandle(ImagingState::tapeHandle);
            events << arguments.join(QLatin1Char(' '))
                    + (tape && tape->ejected() ? QStringLiteral(", tape out")
                                               : QStringLiteral(", tape in"));
            return program == QLatin1String("systemctl");
        });

        KorvelTapeDrive window;
        openOnTape(window, { 1000, 1000, 1000, kMark });
        Access::ejectCheckBox(window)->setChecked(eject);
        Access::turnOffCheckBox(window)->setChecked(turnOff);
        // A long folder name: the path must be cut in the middle to fit the label.
        const QString folder = m_folder + QLatin1Char('/') + QString(120, QLatin1Char('x'));
        QVERIFY(QDir().mkpath(folder));
        chooseFolder(window, folder);
        Access::createBtn(window)->click();
        setDetachedStarter(nullptr);

        const VirtualTape *tape = VirtualTape::fromHandle(ImagingState::tapeHandle);
        QVERIFY(tape);
        if (tape->ejected())
            events.prepend(QStringLiteral("ejected"));
        QTEST(events, "events");

        QVERIFY(onImageCreatedPage(window));
        QCOMPARE(Access::imageSizeInfoLabel(window)->text(),
            QStringLiteral("Image Size:  2.93 KB in disk"));
        const QString full = QStringLiteral("Image Path: ") + ImagingState::imagePath;
        QLabel *path = Access::imagePathInfoLabel(window);
        QCOMPARE(path->toolTip(), full);
        QVERIFY(path->text().contains(QChar(0x2026)));
        QVERIFY(path->text().startsWith(QStringLiteral("Image Path: /")));
        QVERIFY(path->text().endsWith(QStringLiteral(").tape")));
        QVERIFY(path->fontMetrics().horizontalAdvance(path->text()) <= path->width());
        QVERIFY(!ImagingState::runFlag);
    }

    void secondRunResetsTheProgressPage()
    {
        KorvelTapeDrive window;
        openOnTape(window, { 4096, 4096, kMark });
        chooseFolder(window, m_folder);
        Access::createBtn(window)->click();
        QVERIFY(onImageCreatedPage(window));
        const QString first = ImagingState::imagePath;

        QFile::remove(first);
        Access::progressPageFrame(window)->hide();
        Access::destinationPageFrame(window)->show();
        Access::createBtn(window)->click(); // same path: the file is written again
        QVERIFY(onImageCreatedPage(window));
        QCOMPARE(fileBytes(first),
            expectedImage({ 4096, 4096 }, QStringLiteral("Auto"), 2) + trailer(4096, 4096));
        QVERIFY(!Access::imageSizeInfoLabel(window)->isHidden());
    }

    void readErrorRecordIsImagedAsRead()
    {
        KorvelTapeDrive window;
        const Objects tape { 8192, 8192, 8192, kMark };
        openOnTape(window, tape, 1);
        chooseFolder(window, m_folder);
        ModalAnswerer answerer;
        Access::createBtn(window)->click();
        QVERIFY(answerer.messages.isEmpty());
        QVERIFY(onImageCreatedPage(window));
        QCOMPARE(fileBytes(ImagingState::imagePath),
            expectedImage(tape, QStringLiteral("Auto"), 3) + trailer(8192, 8192));
    }

    void positionQueryFails()
    {
        KorvelTapeDrive window;
        openOnTape(window, { 65536, 65536, kMark });
        chooseFolder(window, m_folder);
        VirtualTape *tape = VirtualTape::fromHandle(ImagingState::tapeHandle);
        QVERIFY(tape);
        tape->setInstanceFaults(VirtualTape::Position);
        ModalAnswerer answerer;
        Access::createBtn(window)->click();

        QCOMPARE(answerer.messages.size(), 1);
        QCOMPARE(answerer.messages.first().title, QStringLiteral("   Tape position unknown"));
        QVERIFY(onDestinationPage(window));
        QVERIFY(!QFile::exists(ImagingState::imagePath));
        QCOMPARE(ImagingState::busy, false);
    }

    void folderRemovedBeforeCreate()
    {
        KorvelTapeDrive window;
        openOnTape(window, { 65536, kMark });
        const QString folder = m_folder + QStringLiteral("/gone");
        QVERIFY(QDir().mkpath(folder));
        chooseFolder(window, folder);
        QVERIFY(!ImagingState::imagePath.isEmpty());
        QVERIFY(QDir(folder).removeRecursively());

        ModalAnswerer answerer;
        Access::createBtn(window)->click();
        QCOMPARE(answerer.messages.size(), 1);
        QCOMPARE(answerer.messages.first().title, QStringLiteral("   Image not created"));
        QVERIFY(answerer.messages.first().message.contains(QStringLiteral("could not be created")));
        QVERIFY(onDestinationPage(window));
        QVERIFY(!QFileInfo::exists(folder));
        QCOMPARE(ImagingState::busy, false);
    }

    void diskFillsUp_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("blocks");
        // 4 MiB of stdio buffer: a short run fails only when the file is closed, a long one
        // half way through the blocks.
        QTest::newRow("tmpfs, full at close") << "tmpfs" << 10;
        QTest::newRow("tmpfs, full during the blocks") << "tmpfs" << 100;
        QTest::newRow("file-size limit, full at close") << "limit" << 10;
        QTest::newRow("file-size limit, full during the blocks") << "limit" << 100;
    }

    void diskFillsUp()
    {
        QFETCH(QString, how);
        QFETCH(int, blocks);
        const qint64 room = 300 * 1024;
        KorvelTapeDrive window;
        Objects objects(blocks, 65536);
        objects << kMark;
        openOnTape(window, objects);

        QString folder = m_folder;
        std::unique_ptr<SmallVolume> volume;
        if (how == QLatin1String("tmpfs")) {
            folder = m_dir.filePath(QStringLiteral("small"));
            volume.reset(new SmallVolume(folder, "size=16m"));
            if (!volume->mounted())
                QSKIP("mounting a tmpfs needs root");
        }
        chooseFolder(window, folder);
        QVERIFY(!ImagingState::imagePath.isEmpty());

        rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        if (volume) {
            // Fill the volume up to a little room, as another program would.
            QFile filler(folder + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const qint64 fill = QStorageInfo(folder).bytesAvailable() - room;
            QCOMPARE(filler.write(QByteArray(int(fill), 'f')), fill);
            filler.close();
        } else {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = saved;
            limit.rlim_cur = rlim_t(room);
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        }
        ModalAnswerer answerer;
        Access::createBtn(window)->click();
        setrlimit(RLIMIT_FSIZE, &saved);

        QCOMPARE(answerer.messages.size(), 1);
        QCOMPARE(answerer.messages.first().title, QStringLiteral("   Image incomplete"));
        QVERIFY(onDestinationPage(window));
        QVERIFY(Access::creatingTitleLabel(window)->text() != QLatin1String("Image Created"));
        // What reached the disk is kept, and it is whole records of the tape.
        const QByteArray written = fileBytes(ImagingState::imagePath);
        QVERIFY(written.size() > 0);
        QVERIFY(written.size() <= room);
        QCOMPARE(
            written, expectedImage(objects, QStringLiteral("Auto"), blocks).left(written.size()));
        QCOMPARE(ImagingState::busy, false);
        QCOMPARE(ImagingState::chosenBlockSize, DWORD(0));
    }

    void closeRequestDuringRun()
    {
        KorvelTapeDrive window;
        Objects objects(50, 65536);
        objects << kMark;
        openOnTape(window, objects);
        chooseFolder(window, m_folder);
        ModalAnswerer answerer;
        answerer.duringRun = [&window] { window.close(); };
        Access::createBtn(window)->click();

        QCOMPARE(answerer.messages.size(), 1);
        QCOMPARE(answerer.messages.first().title, QStringLiteral("Exit"));
        QVERIFY(onImageCreatedPage(window));
        QCOMPARE(fileBytes(ImagingState::imagePath),
            expectedImage(objects, QStringLiteral("Auto"), 50) + trailer(65536, 65536));
    }

    void destinationChecks_data()
    {
        QTest::addColumn<QString>("volume"); // "" plain folder, "ro" read-only tmpfs, "1m" tmpfs
        QTest::addColumn<qint64>("spaceDelta"); // total bytes minus the free space
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("insufficient");
        QTest::newRow("cancelled") << "" << qint64(0) << true << false << false;
        QTest::newRow("read-only volume") << "ro" << qint64(0) << false << false << false;
        QTest::newRow("free space below") << "1m" << qint64(1) << false << false << true;
        QTest::newRow("free space equal") << "1m" << qint64(0) << false << true << false;
        QTest::newRow("free space above") << "1m" << qint64(-1) << false << true << false;
    }

    void destinationChecks()
    {
        QFETCH(QString, volume);
        QFETCH(qint64, spaceDelta);
        QFETCH(bool, cancel);
        QFETCH(bool, accepted);
        QFETCH(bool, insufficient);

        KorvelTapeDrive window;
        openOnTape(window, { 512, kMark });
        chooseFolder(window, m_folder); // an earlier choice, forgotten by the next Browse
        QVERIFY(!ImagingState::imagePath.isEmpty());

        QString folder = m_folder;
        std::unique_ptr<SmallVolume> mount;
        if (!volume.isEmpty()) {
            folder = m_dir.filePath(QStringLiteral("volume"));
            const QByteArray options = volume == QLatin1String("ro") ? "ro,size=1m" : "size=1m";
            mount.reset(new SmallVolume(folder, options.constData()));
            if (!mount->mounted())
                QSKIP("mounting a tmpfs needs root");
            ImagingState::totalBytes = QStorageInfo(folder).bytesAvailable() + spaceDelta;
        }
        ModalAnswerer answerer;
        chooseFolder(window, cancel ? QString() : folder);

        QCOMPARE(!ImagingState::imagePath.isEmpty(), accepted);
        QCOMPARE(Access::destinationPathEdit(window)->toPlainText(), ImagingState::imagePath);
        if (accepted)
            QVERIFY(ImagingState::imagePath.startsWith(folder + QStringLiteral("/Tape_Image_(")));
        QCOMPARE(answerer.messages.size(), insufficient ? 1 : 0);
        if (insufficient) {
            QCOMPARE(answerer.messages.first().title, QStringLiteral("   Insufficient space"));
            QCOMPARE(answerer.messages.first().message,
                QStringLiteral(" Insufficient space in the disk."));
        }
        if (!accepted) {
            // Create then refuses and stays on the page.
            Access::createBtn(window)->click();
            QCOMPARE(answerer.messages.size(), insufficient ? 2 : 1);
            QCOMPARE(answerer.messages.last().title,
                QStringLiteral("             Select Destination Path"));
            QCOMPARE(answerer.messages.last().message,
                QStringLiteral(" Select a valid destination path to save the \n image of "
                               "the selected tape drive."));
            QVERIFY(onDestinationPage(window));
        }
    }

    void imageNameAtRootFolder()
    {
        KorvelTapeDrive window;
        openOnTape(window, { 512, kMark });
        ImagingState::totalBytes = 0;
        chooseFolder(window, QStringLiteral("/"));
        if (QStorageInfo(QStringLiteral("/")).isReadOnly())
            QSKIP("the root volume is read-only here");
        const QRegularExpression name(QStringLiteral(
            "^//Tape_Image_\\(\\S+ \\S+ \\d\\d \\d{4} \\d\\d-\\d\\d-\\d\\d\\)\\.tape$"));
        QVERIFY2(
            name.match(ImagingState::imagePath).hasMatch(), qPrintable(ImagingState::imagePath));
    }

    void blockSizeList()
    {
        KorvelTapeDrive window;
        openOnTape(window, { 512, 512, kMark });
        QComboBox *combo = Access::blockSizeCombo(window);
        QCOMPARE(combo->count(), 11);
        QCOMPARE(combo->currentText(), QStringLiteral("Auto"));
        QCOMPARE(ImagingState::blockSizeText, QStringLiteral("Auto"));
        QVERIFY(!Access::recommendedLabel(window)->isHidden());
        const qint64 recorded = ImagingState::totalBytes;
        QVERIFY(recorded > 0);

        ImagingState::totalBytes = 7;
        combo->setCurrentText(QStringLiteral("65536"));
        QVERIFY(Access::recommendedLabel(window)->isHidden());
        QCOMPARE(ImagingState::totalBytes, qint64(7)); // a number does not ask the drive
        combo->setCurrentText(QStringLiteral("Auto"));
        QCOMPARE(ImagingState::totalBytes, recorded);
        QVERIFY(!Access::recommendedLabel(window)->isHidden());

        // Back to the option page and forward again: still eleven entries, choice kept.
        combo->setCurrentText(QStringLiteral("2048"));
        Access::backBtn(window)->click();
        Access::optionNextBtn(window)->click();
        QCOMPARE(combo->count(), 11);
        QCOMPARE(combo->currentText(), QStringLiteral("2048"));
    }

    /// Pictures of the pages and messages of this road, for a person to look at:
    /// TARNWICK_SHOTS=<folder> (run under Xvfb with QT_QPA_PLATFORM=xcb to see real fonts).
    void renderPages()
    {
        const QString shots = qEnvironmentVariable("TARNWICK_SHOTS");
        if (shots.isEmpty())
            QSKIP("set TARNWICK_SHOTS to a folder to render the pages");
        QDir().mkpath(shots);
        const auto save = [&shots](QWidget &widget, const char *name) {
            widget.grab().save(shots + QLatin1Char('/') + QLatin1String(name));
        };
        KorvelTapeDrive window;
        Objects objects(400, 65536);
        objects << kMark;
        openOnTape(window, objects);
        Access::ejectCheckBox(window)->setChecked(true);
        chooseFolder(window, m_folder);
        save(window, "destination.png");

        ModalAnswerer answerer;
        answerer.shotName = shots + QStringLiteral("/dialog-");
        QTimer halfWay;
        connect(&halfWay, &QTimer::timeout, &window, [&] {
            if (ImagingState::busy && ImagingState::bytesDone * 2 >= ImagingState::totalBytes) {
                halfWay.stop();
                save(window, "progress.png");
            }
        });
        halfWay.start(1);
        Access::createBtn(window)->click();
        save(window, "image-created.png");
        Access::ejectCheckBox(window)->setChecked(false);
        CloseHandle(ImagingState::tapeHandle); // put the ejected tape back
        ImagingState::driveOpen = false;
        Access::optionNextBtn(window)->click();
        chooseFolder(window, m_folder);

        // The refusal and a failure message.
        Access::progressPageFrame(window)->hide();
        Access::destinationPageFrame(window)->show();
        Access::blockSizeCombo(window)->setCurrentText(QStringLiteral("32768"));
        Access::createBtn(window)->click();
        Access::blockSizeCombo(window)->setCurrentText(QStringLiteral("Auto"));
        QFile::remove(ImagingState::imagePath);
        QDir(m_folder).removeRecursively();
        Access::createBtn(window)->click();
        QDir().mkpath(m_folder);
    }
};

QTEST_MAIN(TestCreateRoad)
#include "tst_create_road.moc"
