// tarnwick-image run as the user runs it: the built program, real virtual tapes, real files.
// That its images equal the window's is checked with the window's runs (tst_create_road).
#include "imaging/image_file.h"
#include "imaging/image_name.h"
#include "tape_fixtures.h"

#include <QtTest>

namespace {

QStringList words(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list << QString::fromUtf8(item);
    return list;
}

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
        const ToolRun run = runImageTool(
            { QStringLiteral("--block-size"), choice, QStringLiteral("--output"), image },
            tape(objects));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        // No trailer: what was written stays, an empty file does not.
        QCOMPARE(QFile::exists(image), recordsKept > 0);
        if (recordsKept > 0)
            QCOMPARE(fileBytes(image), expectedImage(objects, choice, recordsKept));
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
        const ToolRun run = runImageTool(arguments, tapePath, faults);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.startsWith(QLatin1String("tarnwick-image: ")), qPrintable(run.err));
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY(image.isEmpty() || !QFile::exists(image));
    }

    void noDriveAndDriveInUse()
    {
        const ToolRun missing
            = runImageTool({ QStringLiteral("--output"), freshPath(QStringLiteral("a.tape")) },
                m_dir.filePath(QStringLiteral("no-such.tap")));
        QCOMPARE(missing.exitCode, 3);
        QVERIFY2(missing.err.contains(QLatin1String("no such drive")), qPrintable(missing.err));

        // Hold the drive in this process, as another program would.
        const QString tapePath = tape(Objects(2, 65536));
        qputenv("TAPE", tapePath.toUtf8());
        const HANDLE held = CreateFileW(L"//./Tape0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_ARCHIVE, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
        const ToolRun busy = runImageTool(
            { QStringLiteral("--output"), freshPath(QStringLiteral("a.tape")) }, tapePath);
        CloseHandle(held);
        QCOMPARE(busy.exitCode, 3);
        QVERIFY2(
            busy.err.contains(QLatin1String("in use by another program")), qPrintable(busy.err));
    }

    void existingFileNeedsForce()
    {
        const QString image = freshPath(QStringLiteral("existing.tape"));
        QVERIFY(writeFile(image, "an earlier image"));
        const Objects objects { 65536, 65536, kMark };
        const QStringList arguments { QStringLiteral("--output"), image };

        const ToolRun refused = runImageTool(arguments, tape(objects));
        QCOMPARE(refused.exitCode, 8);
        QVERIFY2(refused.err.contains(QLatin1String("give --force")), qPrintable(refused.err));
        QCOMPARE(fileBytes(image), QByteArray("an earlier image"));

        // A run that fails before reading leaves the old file whole, even with --force.
        const ToolRun failed = runImageTool(arguments + QStringList { QStringLiteral("--force") },
            tape(objects), QStringLiteral("position"));
        QCOMPARE(failed.exitCode, 10);
        QCOMPARE(fileBytes(image), QByteArray("an earlier image"));

        const ToolRun forced
            = runImageTool(arguments + QStringList { QStringLiteral("--force") }, tape(objects));
        QCOMPARE(forced.exitCode, 0);
        QCOMPARE(fileBytes(image),
            expectedImage(objects, QStringLiteral("auto"), 2) + " 65536 5 65536 5");
    }

    void noMediaFiguresStillImagesToTheEnd()
    {
        // Without figures a total of 0 would end the run before its first block.
        const Objects objects { 65536, 65536, 65536, kMark };
        const QString image = freshPath(QStringLiteral("no-figures.tape"));
        const ToolRun run = runImageTool(
            { QStringLiteral("--output"), image }, tape(objects), QStringLiteral("media"));
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains(QLatin1String("did not report the size")), qPrintable(run.err));
        QCOMPARE(fileBytes(image),
            expectedImage(objects, QStringLiteral("auto"), 3) + " 65536 5 65536 5");
    }

    void folderGetsTheWindowsName()
    {
        const QString folder = m_dir.filePath(QStringLiteral("images"));
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(folder));
        const QDateTime before = QDateTime::currentDateTime();
        const ToolRun run = runImageTool(
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
        const ToolRun run = runImageTool({ QStringLiteral("--output"), image }, tapePath);
        QCOMPARE(run.exitCode, 9);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(QFile::exists(image), kept);
        if (kept)
            QVERIFY(!ImageFile::readTrailer(image).valid); // what was written, without trailer
    }

    void progress()
    {
        const QString tapePath = tape(Objects(8, 4096) << kMark);
        const ToolRun plain = runImageTool(
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
                QStringLiteral(TARNWICK_BIN_DIR "/tarnwick-image --output ")
                    + freshPath(QStringLiteral("t.tape")),
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
        const ToolRun ejected
            = runImageTool(arguments + QStringList { freshPath(QStringLiteral("e1.tape")) },
                tape(Objects(2, 512)));
        QCOMPARE(ejected.exitCode, 0);
        QVERIFY(!ejected.err.contains(QLatin1String("eject")));
        // The image is complete whether or not the tape comes out.
        const ToolRun stuck
            = runImageTool(arguments + QStringList { freshPath(QStringLiteral("e2.tape")) },
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
        QTest::newRow("no such file") << QByteArray() << 1 << QStringList();
    }

    void inspect()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, exitCode);
        QFETCH(QStringList, lines);

        const QString path = freshPath(QStringLiteral("inspected.tape"));
        if (!content.isEmpty())
            QVERIFY(writeFile(path, content));
        const ToolRun run = runImageTool({ QStringLiteral("--inspect"), path }, QString());
        if (content.isEmpty())
            QVERIFY2(run.err.contains(QLatin1String("does not exist")), qPrintable(run.err));
        QCOMPARE(run.exitCode, exitCode);
        for (const QString &line : lines)
            QVERIFY2(run.out.contains(line), qPrintable(run.out));
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
