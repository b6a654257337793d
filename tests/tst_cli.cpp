// tarnwick-image run as the user runs it: the built program, real virtual tapes, real files;
// its images compared with the window's, made in this process through the window's slots.
#include "app/destination.h"
#include "app/korveltapedrive.h"
#include "dialogs/yesnoapplicationdlg.h"
#include "imaging/image_file.h"
#include "imaging/image_name.h"
#include "imaging/imaging_state.h"
#include "platform/tap_writer.h"
#include "platform/win32_tape.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <sys/mount.h>

class KorvelTapeDriveTestAccess
{
public:
    static QPushButton *optionNextBtn(KorvelTapeDrive &w) { return w.optionNextBtn; }
    static QComboBox *blockSizeCombo(KorvelTapeDrive &w) { return w.blockSizeCombo; }
    static QPushButton *browseDestinationBtn(KorvelTapeDrive &w) { return w.browseDestinationBtn; }
    static QPushButton *createBtn(KorvelTapeDrive &w) { return w.createBtn; }
    static QLabel *creatingTitleLabel(KorvelTapeDrive &w) { return w.creatingTitleLabel; }
};
using Access = KorvelTapeDriveTestAccess;
using Objects = QVector<int>; // tape contents: a record length, or kMark for a tape mark

namespace {

constexpr int kMark = -1;
const QString kProgram = QStringLiteral(TARNWICK_BIN_DIR "/tarnwick-image");

QByteArray recordContent(int index, int length)
{
    QByteArray data(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        data[i] = char(1 + (index * 37 + i * 5 + (i >> 10)) % 253); // never 0: padding shows
    return data;
}

bool writeTape(const QString &path, const Objects &objects)
{
    TapWriter tape;
    if (!tape.open(path.toStdString()))
        return false;
    for (int i = 0; i < objects.size(); ++i) {
        if (objects[i] == kMark) {
            tape.writeTapeMark();
        } else {
            const QByteArray data = recordContent(i, objects[i]);
            tape.writeRecord(data.constData(), std::uint32_t(data.size()));
        }
    }
    return tape.close();
}

/// The image of the first @p records objects, made without the engine: each record at the
/// fixed size or its own length; a tape mark as zeros as long as the first block (or 64 KiB).
QByteArray expectedBody(const Objects &objects, const QString &choice, int records)
{
    QByteArray image;
    int first = 0;
    for (int i = 0; i < records; ++i) {
        const int length = objects[i] != kMark ? objects[i] : 0;
        if (i == 0)
            first = length;
        int recordLength = choice.toInt();
        if (choice == QLatin1String("auto"))
            recordLength = length != 0 ? length : (first != 0 ? first : 65536);
        image += recordContent(i, length) + QByteArray(recordLength - length, '\0');
    }
    return image;
}

QStringList words(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list << QString::fromUtf8(item);
    return list;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runTool(const QStringList &arguments, const QString &tape, const QString &faults = QString())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TAPE"), tape);
    env.insert(QStringLiteral("TARNWICK_VTAPE_FAULTS"), faults);
    process.setProcessEnvironment(env);
    process.start(kProgram, arguments);
    if (!process.waitForFinished(60000))
        return {};
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromLocal8Bit(process.readAllStandardOutput()),
        QString::fromLocal8Bit(process.readAllStandardError()) };
}

/// As a fresh start of the program leaves the shared imaging state.
void resetImagingState()
{
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
}

/// The image the window makes of the tape at @p tapePath: option page "Next", the block
/// size, the folder, "Create", the question answered as @p yes says.
QByteArray windowImage(
    const QString &tapePath, const QString &choice, bool yes, const QString &folder)
{
    resetImagingState();
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    qputenv("TAPE", tapePath.toUtf8());
    KorvelTapeDrive window;
    window.show();
    Access::optionNextBtn(window)->click();
    Access::blockSizeCombo(window)->setCurrentText(
        choice == QLatin1String("auto") ? QStringLiteral("Auto") : choice);
    Destination::folderDialog = [folder](QWidget *, const QString &) { return folder; };
    Access::browseDestinationBtn(window)->click();

    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [yes] {
        // Answer only from inside the dialog's exec() loop: closed before it runs, exec() waits.
        auto *question = qobject_cast<YesNoApplicationDlg *>(QApplication::activeModalWidget());
        if (question && QThread::currentThread()->loopLevel() > 0)
            (yes ? question->YesBtn : question->NoBtn)->click();
    });
    answerer.start(5);
    Access::createBtn(window)->click();
    const bool created
        = Access::creatingTitleLabel(window)->text() == QLatin1String("Image Created");
    // The window keeps the drive open for good; let the next program have it.
    CloseHandle(ImagingState::tapeHandle);
    return created ? fileBytes(ImagingState::imagePath) : QByteArray("<no image>");
}

/// A small tmpfs of our own for a full disk; needs root.
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

class TestCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString tape(const Objects &objects)
    {
        const QString path = m_dir.filePath(QStringLiteral("tape.tap"));
        return writeTape(path, objects) ? path : QString();
    }

    QString freshPath(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        QFile::remove(path);
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void imageOfTape_data()
    {
        QTest::addColumn<Objects>("objects");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<int>("records");
        QTest::addColumn<QByteArray>("trailer");

        const Objects five { 65536, 65536, 65536, 65536, 65536, kMark };
        QTest::newRow("64 KiB, auto")
            << five << "auto" << false << 5 << QByteArray(" 65536 5 65536 5");
        QTest::newRow("64 KiB, 65536")
            << five << "65536" << false << 5 << QByteArray(" 65536 5 65536 5");
        // Every record padded to 131072: the tape's bytes are reached after half the blocks.
        QTest::newRow("64 KiB, 131072, yes")
            << five << "131072" << true << 3 << QByteArray(" 65536 5 131072 6");
        QTest::newRow("tape mark inside, auto") << Objects { 65536, 65536, kMark, 65536, 65536,
            kMark } << "auto" << false << 5 << QByteArray(" 65536 5 65536 5");
        QTest::newRow("short last block, auto") << Objects { 65536, 65536, 1000, kMark } << "auto"
                                                << false << 3 << QByteArray(" 1000 4 1000 4");
        QTest::newRow("256 KiB, 524288, yes") << (Objects(4, 262144) << kMark) << "524288" << true
                                              << 2 << QByteArray(" 262144 6 524288 6");
        // The block count is the end-of-data position less one: written for tapes that end
        // with a tape mark, it leaves out the last block of a tape that does not.
        QTest::newRow("no tape mark at the end")
            << Objects(3, 65536) << "auto" << false << 2 << QByteArray(" 65536 5 65536 5");
        QTest::newRow("empty tape") << Objects {} << "auto" << false << 0 << QByteArray(" 0 1 0 1");
    }

    void imageOfTape()
    {
        QFETCH(Objects, objects);
        QFETCH(QString, choice);
        QFETCH(bool, yes);
        QFETCH(int, records);
        QFETCH(QByteArray, trailer);

        const QString image = freshPath(QStringLiteral("image.tape"));
        QStringList arguments { QStringLiteral("--block-size"), choice, QStringLiteral("--output"),
            image };
        if (yes)
            arguments << QStringLiteral("--yes");
        const Run run = runTool(arguments, tape(objects));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, image + QLatin1Char('\n'));
        QCOMPARE(fileBytes(image), expectedBody(objects, choice, records) + trailer);
        QCOMPARE(windowImage(tape(objects), choice, yes, m_dir.filePath(QStringLiteral("window"))),
            fileBytes(image));
    }

    void abandoned_data()
    {
        QTest::addColumn<Objects>("objects");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("recordsKept");

        QTest::newRow("shorter, no --yes")
            << Objects(5, 65536) << "131072" << 7
            << "block of 65536 bytes, shorter than the block size 131072: give --yes" << 0;
        QTest::newRow("longer: refused")
            << Objects(5, 65536) << "32768" << 6
            << "block of 65536 bytes, longer than the block size 32768" << 0;
        // The tape mark reads as a block of no bytes, shorter than the size chosen.
        QTest::newRow("mark after two blocks")
            << Objects { 65536, 65536, kMark, 65536 } << "65536" << 7 << "block of 0 bytes" << 2;
    }

    void abandoned()
    {
        QFETCH(Objects, objects);
        QFETCH(QString, choice);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(int, recordsKept);

        const QString image = freshPath(QStringLiteral("abandoned.tape"));
        const Run run
            = runTool({ QStringLiteral("--block-size"), choice, QStringLiteral("--output"), image },
                tape(objects));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        // No trailer: what was written stays, an empty file does not.
        QCOMPARE(QFile::exists(image), recordsKept > 0);
        if (recordsKept > 0)
            QCOMPARE(fileBytes(image), expectedBody(objects, choice, recordsKept));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("faults");
        QTest::addColumn<QString>("output"); // relative to the test folder
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");

        const QString ok = QStringLiteral("failed.tape");
        QTest::newRow("drive refuses to open")
            << "open" << ok << QStringList() << 3 << "cannot open the tape drive";
        QTest::newRow("not ready") << "notready" << ok << QStringList() << 4 << "is not ready";
        QTest::newRow("load fails")
            << "load" << ok << QStringList() << 5 << "could not be loaded (4 tries";
        QTest::newRow("position unknown")
            << "position" << ok << QStringList() << 10 << "did not report its position";
        QTest::newRow("folder is a file")
            << ""
            << "tape.tap/x.tape" << QStringList() << 8 << "cannot create";
        QTest::newRow("no such folder") << ""
                                        << "missing/x.tape" << QStringList() << 8 << "No such file";
        QTest::newRow("no destination") << ""
                                        << "" << QStringList() << 2 << "exactly one of --output";
        QTest::newRow("1024 is not offered") << "" << ok << words({ "--block-size", "1024" }) << 2
                                             << "--block-size takes auto or one of 512 2048";
        QTest::newRow("both destinations")
            << "" << ok << words({ "--folder", "." }) << 2 << "exactly one";
        QTest::newRow("unknown option") << "" << ok << words({ "--fast" }) << 2 << "Unknown option";
    }

    void failures()
    {
        QFETCH(QString, faults);
        QFETCH(QString, output);
        QFETCH(QStringList, extra);
        QFETCH(int, exitCode);
        QFETCH(QString, message);

        const QString tapePath = tape(Objects(3, 65536));
        QStringList arguments = extra;
        const QString image = output.isEmpty() ? QString() : freshPath(output);
        if (!image.isEmpty())
            arguments << QStringLiteral("--output") << image;
        const Run run = runTool(arguments, tapePath, faults);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.startsWith(QLatin1String("tarnwick-image: ")), qPrintable(run.err));
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY(image.isEmpty() || !QFile::exists(image));
    }

    void noDriveAndDriveInUse()
    {
        const Run missing
            = runTool({ QStringLiteral("--output"), freshPath(QStringLiteral("a.tape")) },
                m_dir.filePath(QStringLiteral("no-such.tap")));
        QCOMPARE(missing.exitCode, 3);
        QVERIFY2(missing.err.contains(QLatin1String("no such drive")), qPrintable(missing.err));

        // Hold the drive in this process, as another program would.
        const QString tapePath = tape(Objects(2, 65536));
        qputenv("TAPE", tapePath.toUtf8());
        const HANDLE held = CreateFileW(L"//./Tape0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_ARCHIVE, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
        const Run busy = runTool(
            { QStringLiteral("--output"), freshPath(QStringLiteral("a.tape")) }, tapePath);
        CloseHandle(held);
        QCOMPARE(busy.exitCode, 3);
        QVERIFY2(
            busy.err.contains(QLatin1String("in use by another program")), qPrintable(busy.err));
    }

    void existingFileNeedsForce()
    {
        const QString image = freshPath(QStringLiteral("existing.tape"));
        QFile keep(image);
        QVERIFY(keep.open(QIODevice::WriteOnly));
        keep.write("an earlier image");
        keep.close();
        const Objects objects { 65536, 65536, kMark };
        const QStringList arguments { QStringLiteral("--output"), image };

        const Run refused = runTool(arguments, tape(objects));
        QCOMPARE(refused.exitCode, 8);
        QVERIFY2(refused.err.contains(QLatin1String("give --force")), qPrintable(refused.err));
        QCOMPARE(fileBytes(image), QByteArray("an earlier image"));

        // A run that fails before reading leaves the old file whole, even with --force.
        const Run failed = runTool(arguments + QStringList { QStringLiteral("--force") },
            tape(objects), QStringLiteral("position"));
        QCOMPARE(failed.exitCode, 10);
        QCOMPARE(fileBytes(image), QByteArray("an earlier image"));

        const Run forced
            = runTool(arguments + QStringList { QStringLiteral("--force") }, tape(objects));
        QCOMPARE(forced.exitCode, 0);
        QCOMPARE(fileBytes(image),
            expectedBody(objects, QStringLiteral("auto"), 2) + " 65536 5 65536 5");
    }

    void noMediaFiguresStillImagesToTheEnd()
    {
        // Without figures a total of 0 would end the run before its first block.
        const Objects objects { 65536, 65536, 65536, kMark };
        const QString image = freshPath(QStringLiteral("no-figures.tape"));
        const Run run
            = runTool({ QStringLiteral("--output"), image }, tape(objects), QStringLiteral("media"));
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains(QLatin1String("did not report the size")), qPrintable(run.err));
        QCOMPARE(fileBytes(image),
            expectedBody(objects, QStringLiteral("auto"), 3) + " 65536 5 65536 5");
    }

    void folderGetsTheWindowsName()
    {
        const QString folder = m_dir.filePath(QStringLiteral("images"));
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(folder));
        const QDateTime before = QDateTime::currentDateTime();
        const Run run = runTool(
            { QStringLiteral("--folder"), folder + QLatin1Char('/') }, tape(Objects(2, 512)));
        const QDateTime after = QDateTime::currentDateTime();
        QCOMPARE(run.exitCode, 0);

        const QStringList made = QDir(folder).entryList(QDir::Files);
        QCOMPARE(made.size(), 1);
        const QString path = folder + QLatin1Char('/') + made.first();
        QCOMPARE(run.out, path + QLatin1Char('\n'));
        QStringList names;
        for (QDateTime t = before.addSecs(-1); t <= after.addSecs(1); t = t.addSecs(1))
            names << ImageName::imagePath(folder, ImageName::timeStamp(t));
        QVERIFY2(names.contains(path), qPrintable(path));
    }

    void diskFull_data()
    {
        QTest::addColumn<Objects>("objects");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("kept");

        // More recorded data than the volume holds: refused before reading, as the window's
        // destination page refuses the folder.
        QTest::newRow("tape larger than the volume")
            << Objects(8, 65536) << "not enough free space" << false;
        // Fits by its recorded bytes, but each tape mark becomes a 64 KiB record of zeros.
        QTest::newRow("full while writing") << Objects { 65536, kMark, 65536, kMark, 65536, kMark }
                                            << "(is the disk full?)" << true;
    }

    void diskFull()
    {
        QFETCH(Objects, objects);
        QFETCH(QString, message);
        QFETCH(bool, kept);

        const QString tapePath = tape(objects);
        SmallVolume volume(m_dir.filePath(QStringLiteral("small")), "size=256k");
        if (!volume.mounted())
            QSKIP("cannot mount a tmpfs here (needs root)");
        const QString image = m_dir.filePath(QStringLiteral("small/full.tape"));
        const Run run = runTool({ QStringLiteral("--output"), image }, tapePath);
        QCOMPARE(run.exitCode, 9);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(QFile::exists(image), kept);
        if (kept)
            QVERIFY(!ImageFile::readTrailer(image).valid); // what was written, without trailer
    }

    void progress()
    {
        const QString tapePath = tape(Objects(8, 4096) << kMark);
        const Run plain = runTool(
            { QStringLiteral("--output"), freshPath(QStringLiteral("p.tape")) }, tapePath);
        QCOMPARE(plain.exitCode, 0);
        // Block count 8 (the tape mark counts): each percentage once, in order.
        QVERIFY2(plain.err.startsWith(QLatin1String("12%\n25%\n37%\n50%\n62%\n75%\n87%\n100%\n")),
            qPrintable(plain.err));

        if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty())
            QSKIP("no script(1) to give the program a terminal");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TAPE"), tapePath);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("script"),
            { QStringLiteral("-qec"),
                kProgram + QStringLiteral(" --output ") + freshPath(QStringLiteral("t.tape")),
                QStringLiteral("/dev/null") });
        QVERIFY(process.waitForFinished(60000));
        const QString shown = QString::fromLocal8Bit(process.readAllStandardOutput());
        QVERIFY2(
            shown.contains(QLatin1String("\r[#####")) && shown.contains(QLatin1String("] 100%")),
            qPrintable(shown));
        QVERIFY2(!shown.contains(QLatin1String("12%\n")), qPrintable(shown));
    }

    void eject()
    {
        const QStringList arguments { QStringLiteral("--eject"), QStringLiteral("--output") };
        const Run ejected
            = runTool(arguments + QStringList { freshPath(QStringLiteral("e1.tape")) },
                tape(Objects(2, 512)));
        QCOMPARE(ejected.exitCode, 0);
        QVERIFY(!ejected.err.contains(QLatin1String("eject")));
        // The image is complete whether or not the tape comes out.
        const Run stuck = runTool(arguments + QStringList { freshPath(QStringLiteral("e2.tape")) },
            tape(Objects(2, 512)), QStringLiteral("eject"));
        QCOMPARE(stuck.exitCode, 0);
        QVERIFY2(stuck.err.contains(QLatin1String("could not be ejected")), qPrintable(stuck.err));
    }

    void inspect_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("complete") << QByteArray(3 * 512, 'x') + " 512 3 512 3" << 0
                                  << words({ "\" 512 3 512 3\"", "tape block length T:  512",
                                         "body length:          1536", "records:              3",
                                         "complete:             yes" });
        QTest::newRow("empty tape") << QByteArray(
            " 0 1 0 1") << 0 << words({ "records:              0", "complete:             yes" });
        QTest::newRow("abandoned: no trailer") << QByteArray(
            1024, 'x') << 1 << words({ "trailer:              none", "complete:             no" });
        QTest::newRow("body not whole records")
            << QByteArray(1000, 'x') + " 512 3 512 3" << 1
            << words({ "records:              1", "complete:             no" });
        QTest::newRow("garbage") << QByteArray("not an image at all\n") << 1 << words({ "none (" });
    }

    void inspect()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, exitCode);
        QFETCH(QStringList, lines);

        const QString path = freshPath(QStringLiteral("inspected.tape"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        const Run run = runTool({ QStringLiteral("--inspect"), path }, QString());
        QCOMPARE(run.exitCode, exitCode);
        for (const QString &line : lines)
            QVERIFY2(run.out.contains(line), qPrintable(run.out));

        const Run missing
            = runTool({ QStringLiteral("--inspect"), path + QLatin1Char('x') }, QString());
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(missing.err.contains(QLatin1String("does not exist")));
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
