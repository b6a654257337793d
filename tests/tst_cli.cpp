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

    void runs_data()
    {
        QTest::addColumn<Objects>("objects");
        QTest::addColumn<QString>("drive"); // "missing", "held" by this process, or faults
        QTest::addColumn<QString>("output"); // relative to the test folder; empty: none
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<bool>("earlier"); // an earlier image at the output
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("image"); // the output file afterwards

        const Objects two { 65536, 65536, kMark }, five(5, 65536),
            marked { 65536, 65536, kMark, 65536 };
        const QString out = QStringLiteral("run.tape");
        const QByteArray none("<missing>"), earlier("an earlier image");
        const QByteArray whole = expectedImage(two, QStringLiteral("auto"), 2) + " 65536 5 65536 5";
        const QStringList force = words({ "--force" }), eject = words({ "--eject" });
        const auto size = [](const char *value) { return words({ "--block-size", value }); };
        // clang-format off
        // Abandoned after reading: what was written stays, without trailer; an empty file does not.
        QTest::newRow("shorter, no --yes") << five << "" << out << size("131072") << false << 7
            << "block of 65536 bytes, shorter than the block size 131072: give --yes" << none;
        QTest::newRow("longer: refused") << five << "" << out << size("32768") << false << 6
            << "block of 65536 bytes, longer than the block size 32768" << none;
        // The tape mark reads as a block of no bytes, shorter than the size chosen.
        QTest::newRow("mark after two blocks") << marked << "" << out << size("65536") << false
            << 7 << "block of 0 bytes" << expectedImage(marked, QStringLiteral("65536"), 2);
        // Failures before the first read: one line, no file.
        QTest::newRow("no such drive") << two << "missing" << out << QStringList() << false << 3
            << "no such drive" << none;
        QTest::newRow("drive in use") << two << "held" << out << QStringList() << false << 3
            << "in use by another program" << none;
        QTest::newRow("drive refuses to open") << two << "open" << out << QStringList() << false
            << 3 << "cannot open the tape drive" << none;
        QTest::newRow("not ready") << two << "notready" << out << QStringList() << false << 4
            << "is not ready" << none;
        QTest::newRow("load fails") << two << "load" << out << QStringList() << false << 5
            << "could not be loaded (4 tries" << none;
        QTest::newRow("position unknown") << two << "position" << out << QStringList() << false
            << 10 << "did not report its position" << none;
        QTest::newRow("folder is a file") << two << "" << "tape.tap/x.tape" << QStringList()
            << false << 8 << "cannot create" << none;
        QTest::newRow("no such folder") << two << "" << "missing/x.tape" << QStringList() << false
            << 8 << "No such file" << none;
        QTest::newRow("no destination") << two << "" << "" << QStringList() << false << 2
            << "exactly one of --output" << none;
        QTest::newRow("1024 is not offered") << two << "" << out << size("1024") << false << 2
            << "--block-size takes auto or one of 512 2048" << none;
        QTest::newRow("drive block size not a number") << two << "" << out
            << words({ "--drive-block-size", "64k" }) << false << 2
            << "--drive-block-size takes a number of bytes" << none;
        QTest::newRow("both destinations") << two << "" << out << words({ "--folder", "." })
            << false << 2 << "exactly one" << none;
        QTest::newRow("unknown option") << two << "" << out << words({ "--fast" }) << false << 2
            << "Unknown option" << none;
        QTest::newRow("earlier file needs --force") << two << "" << out << QStringList() << true
            << 8 << "give --force" << earlier;
        QTest::newRow("failed run keeps the earlier file even with --force") << two << "position"
            << out << force << true << 10 << "" << earlier;
        // Complete runs.
        QTest::newRow("--force replaces the earlier file") << two << "" << out << force << true
            << 0 << "" << whole;
        // Without figures a total of 0 would end the run before its first block.
        QTest::newRow("no media figures: imaged to the end") << two << "media" << out
            << QStringList() << false << 0 << "did not report the size" << whole;
        QTest::newRow("eject") << two << "" << out << eject << false << 0 << "" << whole;
        QTest::newRow("tape stuck: the image is still complete") << two << "eject" << out << eject
            << false << 0 << "could not be ejected" << whole;
        // clang-format on
    }

    void runs()
    {
        QFETCH(QString, drive);
        QFETCH(QString, output);
        QFETCH(QStringList, extra);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(Objects, objects);
        QString tapePath = tape(objects);
        const QString image = output.isEmpty() ? QString() : freshPath(output);
        if (!image.isEmpty())
            extra << QStringLiteral("--output") << image;
        QFETCH(bool, earlier);
        if (earlier)
            QVERIFY(writeFile(image, "an earlier image"));
        HANDLE held = drive == QLatin1String("held") ? openTapeFile(tapePath) : nullptr;
        QVERIFY(held != INVALID_HANDLE_VALUE);
        if (drive == QLatin1String("missing"))
            tapePath = m_dir.filePath(QStringLiteral("no-such.tap"));
        const ToolRun run = runImageTool(extra, tapePath, drive);
        if (held)
            CloseHandle(held);

        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        const bool readBlocks = exitCode == 0 || exitCode == 6 || exitCode == 7;
        if (!readBlocks) { // the one line says why
            QVERIFY2(run.err.startsWith(QLatin1String("tarnwick-image: ")), qPrintable(run.err));
            QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        } else if (exitCode == 0 && message.isEmpty()) { // progress and the summary only
            QCOMPARE(run.err.count(QLatin1String("tarnwick-image: ")), 1);
        }
        QCOMPARE(run.out, exitCode == 0 ? image + QLatin1Char('\n') : QString());
        QTEST(image.isEmpty() ? QByteArray("<missing>") : fileBytes(image), "image");
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
