// tarnwick-image run as the user runs it: the built program, real virtual tapes, real files.
// That its images equal the window's is checked with the window's runs (tst_create_road).
#include "archive/run_record.h"
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

/// What is at @p path after a run: "missing", "earlier" (the file put there before, untouched),
/// "link", "records" (what was read, without trailer) or "image" (with its trailer).
QString stateOf(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return QStringLiteral("link");
    if (!info.exists())
        return QStringLiteral("missing");
    if (fileBytes(path) == "an earlier image")
        return QStringLiteral("earlier");
    return ImageFile::readTrailer(path).valid ? QStringLiteral("image") : QStringLiteral("records");
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString tape(const Objects &objects, int unreadable = -1)
    {
        const QString path = m_dir.filePath(QStringLiteral("tape.tap"));
        return writeTape(path, objects, unreadable) ? path : QString();
    }

    /// @p name with its partial file and run record gone.
    QString freshPath(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        for (const char *suffix : { "", ".partial", ".json", ".sha256", ".partial.json" })
            QFile::remove(path + QLatin1String(suffix));
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void runs_data()
    {
        QTest::addColumn<Objects>("objects");
        QTest::addColumn<QString>("drive"); // "missing", "held" by this process, faults, "bad N"
        QTest::addColumn<QString>("output"); // relative to the test folder; empty: none
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<bool>("earlier"); // an earlier image at the output
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("image"); // the output file afterwards
        QTest::addColumn<QString>("partial"); // the state of its partial file afterwards

        const Objects two { 65536, 65536, kMark }, five(5, 65536),
            marked { 65536, 65536, kMark, 65536 }, long_ { 600001, kMark };
        Objects megabytes = Objects(15, 65536) << 16960 << kMark;
        megabytes += megabytes;
        const QString out = QStringLiteral("run.tape");
        const QByteArray none("<missing>"), earlier("an earlier image");
        const QByteArray whole = expectedImage(two, QStringLiteral("auto"), 2) + " 65536 5 65536 5";
        const QStringList force = words({ "--force" }), eject = words({ "--eject" });
        const auto size = [](const char *value) { return words({ "--block-size", value }); };
        // clang-format off
        // Abandoned after reading: what was read stays as the partial file; an empty one goes.
        QTest::newRow("shorter, no --yes") << five << "" << out << size("131072") << false << 7
            << "block of 65536 bytes, shorter than the block size 131072: give --yes" << none << "missing";
        QTest::newRow("longer: refused") << five << "" << out << size("32768") << false << 6
            << "block of 65536 bytes, longer than the block size 32768" << none << "missing";
        // The tape mark reads as a block of no bytes, shorter than the size chosen.
        QTest::newRow("mark after two blocks") << marked << "" << out << size("65536") << false
            << 7 << "block of 0 bytes" << none << "records";
        // Failures before the first read: one line, no file.
        QTest::newRow("no such drive") << two << "missing" << out << QStringList() << false << 3
            << "no such drive" << none << "missing";
        QTest::newRow("drive in use") << two << "held" << out << QStringList() << false << 3
            << "in use by another program" << none << "missing";
        QTest::newRow("drive refuses to open") << two << "open" << out << QStringList() << false
            << 3 << "cannot open the tape drive" << none << "missing";
        QTest::newRow("not ready") << two << "notready" << out << QStringList() << false << 4
            << "is not ready" << none << "missing";
        QTest::newRow("load fails") << two << "load" << out << QStringList() << false << 5
            << "could not be loaded (4 tries" << none << "missing";
        QTest::newRow("position unknown") << two << "position" << out << QStringList() << false
            << 10 << "did not report its position" << none << "missing";
        QTest::newRow("folder is a file") << two << "" << "tape.tap/x.tape" << QStringList()
            << false << 8 << "cannot create" << none << "missing";
        QTest::newRow("no such folder") << two << "" << "missing/x.tape" << QStringList() << false
            << 8 << "No such file" << none << "missing";
        QTest::newRow("no destination") << two << "" << "" << QStringList() << false << 2
            << "exactly one of --output" << none << "missing";
        QTest::newRow("1024 is not offered") << two << "" << out << size("1024") << false << 2
            << "--block-size takes auto or one of 512 2048" << none << "missing";
        QTest::newRow("drive block size not a number") << two << "" << out
            << words({ "--drive-block-size", "64k" }) << false << 2
            << "--drive-block-size takes a number of bytes" << none << "missing";
        QTest::newRow("both destinations") << two << "" << out << words({ "--folder", "." })
            << false << 2 << "exactly one" << none << "missing";
        QTest::newRow("unknown option") << two << "" << out << words({ "--fast" }) << false << 2
            << "Unknown option" << none << "missing";
        QTest::newRow("a master takes no block size") << two << "" << out
            << words({ "--format", "tap", "--block-size", "512" }) << false << 2
            << "--block-size and --yes do not apply" << none << "missing";
        QTest::newRow("a buffer below two chunks") << two << "" << out
            << words({ "--format", "tap", "--buffer", "1M" }) << false << 2
            << "--buffer takes a size from 2M to 64G" << none << "missing";
        QTest::newRow("a buffer for a .tape") << two << "" << out << words({ "--buffer", "4M" })
            << false << 2 << "--buffer applies to --format tap" << none << "missing";
        QTest::newRow("an empty description") << two << "" << out << words({ "--describe", " " })
            << false << 2 << "--describe takes a text" << none << "missing";
        QTest::newRow("notes twice") << two << "" << out
            << words({ "--notes", "a", "--notes", "b" }) << false << 2 << "give --notes once"
            << none << "missing";
        QTest::newRow("earlier file needs --force") << two << "" << out << QStringList() << true
            << 8 << "give --force" << earlier << "missing";
        QTest::newRow("failed run keeps the earlier file even with --force") << two << "position"
            << out << force << true << 10 << "" << earlier << "missing";
        // Complete runs.
        QTest::newRow("--force replaces the earlier file") << two << "" << out << force << true
            << 0 << "" << whole << "missing";
        // Without figures a total of 0 would end the run before its first block.
        QTest::newRow("no media figures: imaged to the end") << two << "media" << out
            << QStringList() << false << 0 << "did not report the size" << whole << "missing";
        QTest::newRow("tape stuck: the image is still complete") << two << "eject" << out << eject
            << false << 0 << "could not be ejected" << whole << "missing";
        // What the window's rules lose, said: an Auto run ends after a short block, a record
        // over 524,289 bytes is cut, an unreadable block is written as it came.
        QTest::newRow("two files of 1 MB: stops short") << megabytes << "" << out << QStringList()
            << false << 12 << "the image ends after block 16 of 34 blocks and marks; the rest of "
                              "the tape is not in it"
            << expectedImage(megabytes, QStringLiteral("auto"), 16) + " 16960 5 16960 5" << "missing";
        QTest::newRow("--force keeps the earlier image over one that stops short") << megabytes
            << "" << out << force << true << 12 << "was not replaced" << earlier << "image";
        QTest::newRow("a record cut") << long_ << "" << out << QStringList() << false << 11
            << "block 1 is longer than 524289 bytes"
            << recordContent(0, 600001).left(524289) + " 524289 6 524289 6" << "missing";
        QTest::newRow("an unreadable block") << Objects { 512, 512, 512, kMark } << "bad 1" << out
            << QStringList() << false << 11 << "block 2 could not be read"
            << expectedImage({ 512, 512, 512 }, QStringLiteral("auto"), 3) + " 512 3 512 3" << "missing";
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
        const bool bad = drive.startsWith(QLatin1String("bad "));
        QString tapePath = tape(objects, bad ? drive.mid(4).toInt() : -1);
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
        const ToolRun run = runImageTool(extra, tapePath, bad ? QString() : drive);
        if (held)
            CloseHandle(held);

        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        const bool readBlocks = exitCode == 0 || exitCode == 6 || exitCode == 7 || exitCode > 10;
        if (!readBlocks) { // the one line says why
            QVERIFY2(run.err.startsWith(QLatin1String("tarnwick-image: ")), qPrintable(run.err));
            QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        } else if (exitCode == 0 && message.isEmpty()) { // progress and the summary only
            QCOMPARE(run.err.count(QLatin1String("tarnwick-image: ")), 1);
        }
        const bool placed = (exitCode == 0 || exitCode > 10) && !earlier;
        QCOMPARE(
            run.out, placed || (exitCode == 0 && earlier) ? image + QLatin1Char('\n') : QString());
        QTEST(image.isEmpty() ? QByteArray("<missing>") : fileBytes(image), "image");
        QTEST(stateOf(image + QStringLiteral(".partial")), "partial");
        if (exitCode == 0 || placed) { // its run record and checksum say the same as the run
            RunRecord::Record record;
            QVERIFY(RunRecord::fromJson(fileBytes(image + QStringLiteral(".json")), record));
            QCOMPARE(record.bytesWritten, qint64(fileBytes(image).size()));
            QVERIFY2(run.err.contains(record.verdictText) || exitCode == 0, qPrintable(run.err));
            QCOMPARE(fileBytes(image + QStringLiteral(".sha256")),
                record.sha256.toLatin1() + "  " + QFileInfo(image).fileName().toUtf8() + '\n');
        }
    }

    // Faults that need a real process, a shell and real files: signals, limits, links, pipes,
    // a folder that goes away. $IMG is the program, $TAPE a tape of 200 blocks of 64 KiB; `slow`
    // runs the program at 2 ms a block, `partial` waits until a partial file holds data.
    void processFaults_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("files"); // name=state, see stateOf()

        // clang-format off
        QTest::newRow("--force over a link to a file elsewhere")
            << "echo -n 'an earlier image' >elsewhere; ln -s elsewhere x.tape; \"$IMG\" --force --output x.tape"
            << 8 << "is a symbolic link" << words({ "x.tape=link", "elsewhere=earlier", "x.tape.partial=missing" });
        QTest::newRow("--force over a FIFO") << "mkfifo x.tape; timeout 20 \"$IMG\" --force --output x.tape"
            << 8 << "not a regular file" << words({ "x.tape.partial=missing" });
        QTest::newRow("--force over /dev/null") << "\"$IMG\" --force --output /dev/null" << 8
            << "not a regular file" << QStringList();
        QTest::newRow("an unfinished run's file is kept") << "echo x >x.tape.partial; \"$IMG\" --output x.tape"
            << 8 << "give --force to replace it" << words({ "x.tape=missing", "x.tape.partial=records" });
        QTest::newRow("SIGTERM during a --force run") << "echo -n 'an earlier image' >x.tape; slow --force --output x.tape & partial x.tape; kill -TERM $!; wait $!"
            << 128 + 15 << "stopped by SIGTERM after block" << words({ "x.tape=earlier", "x.tape.partial=records", "x.tape.partial.json=records" });
        QTest::newRow("SIGINT during a master") << "slow --format tap --output x.tap & partial x.tap; kill -INT $!; wait $!"
            << 128 + 2 << "stopped by SIGINT" << words({ "x.tap=missing", "x.tap.partial=records" });
        // Killed outright, a run still leaves a record of what it had read, "unfinished".
        QTest::newRow("SIGKILL leaves a record") << "slow --output x.tape & partial x.tape; kill -KILL $!; wait $!; s=$?; "
            "grep -o '\"verdict\": \"unfinished\"' x.tape.partial.json >&2; grep -o '\"blocksRead\": [1-9]' x.tape.partial.json >&2; exit $s"
            << 128 + 9 << "\"verdict\": \"unfinished\"\n\"blocksRead\": " << words({ "x.tape=missing", "x.tape.partial=records" });
        QTest::newRow("SIGKILL during a master") << "slow --format tap --output x.tap & partial x.tap; kill -KILL $!; wait $!; s=$?; "
            "grep -o '\"blocksRead\": [1-9]' x.tap.partial.json >&2; exit $s"
            << 128 + 9 << "\"blocksRead\": " << words({ "x.tap=missing", "x.tap.partial=records" });
        // A run owns its partial file: a second --force run once deleted it mid-read.
        QTest::newRow("--force while another run reads") << "slow --format tap --output x.tap & partial x.tap; "
            "\"$IMG\" --force --format tap --output x.tap 2>err; s=$?; grep -o \"another run (process $!)\" err >&2; wait $! && exit $s"
            << 8 << "another run (process " << words({ "x.tap=records", "x.tap.partial=missing" });
        QTest::newRow("a killed run's file is taken over") << "slow --format tap --output x.tap & partial x.tap; kill -KILL $!; wait $!; "
            "\"$IMG\" --force --format tap --output x.tap"
            << 0 << "image complete" << words({ "x.tap=records", "x.tap.partial=missing" });
        QTest::newRow("file size limit") << "ulimit -f 64; \"$IMG\" --output x.tape" << 9
            << "reached the size limit" << words({ "x.tape=missing", "x.tape.partial=records" });
        QTest::newRow("file size limit, master") << "ulimit -f 64; \"$IMG\" --format tap --output x.tap" << 9
            << "reached the size limit" << words({ "x.tap=missing", "x.tap.partial=records" });
        QTest::newRow("folder removed during the run") << "mkdir sub; slow --output sub/x.tape & partial sub/x.tape; rm -r sub; wait $!"
            << 9 << "was removed during the run" << words({ "sub=missing" });
        // Byte for byte: the files made and the name printed.
        QTest::newRow("a name that is not UTF-8") << "n=$(printf 'x\\377.tap'); out=$(\"$IMG\" --format tap --output \"$n\") "
            "&& [ \"$out\" = \"$n\" ] && [ -f \"$n\" ] && [ -f \"$n.json\" ] && [ -f \"$n.sha256\" ] && sha256sum -c \"$n.sha256\" >&2"
            << 0 << ": OK" << QStringList();
        // Fault: a damaged virtual tape was read to its last whole record and called complete,
        // exit 0. `damaged` copies $TAPE to d.tap; its second record starts at byte 65544.
        QTest::newRow("tap: cut inside a record") << "damaged; truncate -s 100000 d.tap; TAPE=d.tap \"$IMG\" --format tap --output x.tap"
            << 11 << "damaged at byte 65544 of its file (block 2): the 34456 bytes" << words({ "x.tap=records" });
        QTest::newRow("tape: cut inside a record") << "damaged; truncate -s 100000 d.tap; TAPE=d.tap \"$IMG\" --output x.tape"
            << 11 << "damaged at byte 65544 of its file (block 2): the 34456 bytes" << words({ "x.tape=image" });
        QTest::newRow("tape: length words disagree") << "damaged; printf '\\001' | dd of=d.tap bs=1 seek=131084 conv=notrunc 2>/dev/null; "
            "TAPE=d.tap \"$IMG\" --output x.tape" << 11 << "damaged at byte 65544 of its file (block 2): the 13043260 bytes" << QStringList();
        QTest::newRow("tap: a reserved marker") << "damaged; printf '\\340' | dd of=d.tap bs=1 seek=65547 conv=notrunc 2>/dev/null; "
            "TAPE=d.tap \"$IMG\" --format tap --output x.tap" << 11 << "damaged at byte 65544 of its file (block 2): the 13043260 bytes" << QStringList();
        // Names with a newline and a backslash once forged lines and broke `sha256sum -c`.
        QTest::newRow("an escaped name in a message") << "n=$(printf 'a\\\\b\\nc.tape'); echo x >\"$n\"; \"$IMG\" --output \"$n\""
            << 8 << "tarnwick-image: a\\\\b\\nc.tape exists already" << QStringList();
        QTest::newRow("sha256sum -c reads an escaped name") << "n=$(printf 'a\\\\b\\nc.tap'); \"$IMG\" --format tap --output \"$n\" >/dev/null "
            "&& sha256sum -c \"$n.sha256\" >&2"
            << 0 << "\\a\\\\b\\nc.tap: OK" << QStringList();
        // What the operator says of the cartridge: a file that cannot be used stops the run
        // before the tape is touched; a good one reaches the run record and --inspect.
        const QStringList nothing = words({ "x.tape=missing", "x.tape.partial=missing" });
        QTest::newRow("notes not text") << "printf 'a\\000b' >n; \"$IMG\" --notes n --output x.tape"
            << 2 << "--notes: n is not UTF-8 text; nothing was written" << nothing;
        QTest::newRow("notes not UTF-8") << "printf 'caf\\351' >n; \"$IMG\" --notes n --output x.tape"
            << 2 << "n is not UTF-8 text" << nothing;
        QTest::newRow("notes too large") << "head -c 70000 /dev/zero | tr '\\000' a >n; \"$IMG\" --notes n --output x.tape"
            << 2 << "n is too large (70000 bytes; at most 65536)" << nothing;
        QTest::newRow("notes missing") << "\"$IMG\" --notes n --output x.tape" << 2 << "n: No such file" << nothing;
        QTest::newRow("notes a FIFO") << "mkfifo n; timeout 20 \"$IMG\" --notes n --output x.tape"
            << 2 << "n is not a regular file" << nothing;
        QTest::newRow("notes a link to nowhere") << "ln -s gone n; \"$IMG\" --notes n --format tap --output x.tap"
            << 2 << "n is a symbolic link to nothing" << words({ "x.tap.partial=missing" });
        QTest::newRow("label photo a folder") << "mkdir p; \"$IMG\" --label-photo p --output x.tape"
            << 2 << "--label-photo: p is not a regular file" << nothing;
        QTest::newRow("label photo empty") << ": >p; \"$IMG\" --label-photo p --output x.tape" << 2 << "p is empty" << nothing;
        // A byte order mark before the notes once stayed in their text.
        QTest::newRow("operator fields in a .tape's record") << "printf '\\357\\273\\277box 4\\r\\nshelf 2\\n' >n; printf JPEG >l.JPG; "
            "\"$IMG\" --describe 'DLT IV' --notes n --label-photo l.JPG --output x.tape >/dev/null && cmp l.JPG x.tape.label.jpg && \"$IMG\" --inspect x.tape >&2"
            << 0 << "description:          DLT IV\nnotes:                box 4\nnotes:                shelf 2\nlabel photo:          l.JPG (4 bytes, SHA-256 "
               "f4dc1c96a30fbdeb2a15cb6d4229469fff36c0266dc0c346599093c24d4c0a01)"
            << words({ "x.tape=image", "x.tape.partial.label.jpg=missing" });
        QTest::newRow("a failed run's photo goes with its empty file") << "printf PNG >l.png; TARNWICK_VTAPE_FAULTS=notready \"$IMG\" --label-photo l.png --output x.tape"
            << 4 << "is not ready" << words({ "x.tape.partial=missing", "x.tape.partial.label.png=missing" });
        // A master killed and run again keeps what the first run was told; what is given again wins.
        QTest::newRow("a resumed master keeps the operator fields") << "printf PNG >l.png; slow --format tap --describe first --label-photo l.png --output x.tap & "
            "partial x.tap; kill -KILL $!; wait $!; \"$IMG\" --format tap --describe second --output x.tap >/dev/null 2>err && grep -q 'description given differs' err && "
            "cmp l.png x.tap.label.png && \"$IMG\" --inspect x.tap >&2"
            << 0 << "description:          second\nlabel photo:          l.png (3 bytes" << words({ "x.tap.partial.label.png=missing" });
        QTest::newRow("a merge keeps a master's fields") << "printf PNG >l.png; \"$IMG\" --format tap --output a.tap >/dev/null; "
            "\"$IMG\" --format tap --describe one --label-photo l.png --output b.tap >/dev/null; "
            "\"$IMG\" --merge a.tap b.tap --output m.tap >/dev/null && cmp l.png m.tap.label.png && \"$IMG\" --inspect m.tap >&2"
            << 0 << "description:          one\nlabel photo:          l.png (3 bytes" << QStringList();
        // clang-format on
    }

    void processFaults()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, files);
        QTemporaryDir dir;
        QVERIFY(writeTape(dir.filePath(QStringLiteral("tape.tap")), Objects(200, 65536) << kMark));
        QProcess shell;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("IMG"), QStringLiteral(TARNWICK_BIN_DIR "/tarnwick-image"));
        env.insert(QStringLiteral("TAPE"), dir.filePath(QStringLiteral("tape.tap")));
        shell.setProcessEnvironment(env);
        shell.setWorkingDirectory(dir.path());
        shell.start(QStringLiteral("sh"),
            { QStringLiteral("-c"),
                QStringLiteral("slow() { TARNWICK_VTAPE_FAULTS=slow exec \"$IMG\" \"$@\"; }; "
                               "damaged() { cp \"$TAPE\" d.tap; }; "
                               "partial() { i=0; while [ ! -s \"$1.partial\" ] && [ $i -lt 2000 ]; "
                               "do sleep 0.01; i=$((i+1)); done; }; ")
                    + script });
        QVERIFY(shell.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(shell.readAllStandardError());
        QTEST(shell.exitCode(), "exitCode");
        QFETCH(QString, message);
        QVERIFY2(err.contains(message), qPrintable(err));
        for (const QString &file : files) {
            const QStringList nameAndState = file.split(QLatin1Char('='));
            QCOMPARE(stateOf(dir.filePath(nameAndState[0])), nameAndState[1]);
        }
    }

    // A master holds the tape as it is: read back as a virtual tape, it is the tape, so
    // TAPE=master gives the same .tape images as the drive.
    void masters_data()
    {
        QTest::addColumn<Objects>("objects");
        QTest::addColumn<int>("unreadable");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("kept"); // objects of the tape in the master; -1: all
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        // clang-format off
        QTest::newRow("odd lengths, several files") << Objects { 1001, 7, 3, kMark, 65536, 999, kMark, kMark }
            << -1 << QStringList() << -1 << 0 << "image complete: 5 records";
        QTest::newRow("records over 524,289 bytes") << Objects { 600001, 16, kMark, 1048576, kMark }
            << -1 << QStringList() << -1 << 0 << "1 of 1048576 bytes";
        QTest::newRow("unreadable blocks") << Objects { 512, 512, 512, kMark } << 1 << QStringList()
            << -1 << 11 << "block 2 could not be read (4 reads); the master keeps the 512 bytes";
        QTest::newRow("no retries") << Objects { 512, 512, kMark } << 0 << words({ "--retries", "0" })
            << -1 << 11 << "block 1 could not be read; the master keeps";
        // Without the end of data, two tape marks in a row end the tape's data.
        QTest::newRow("no end of data reported") << Objects { 512, kMark, 512, kMark, kMark, 512 }
            << -1 << words({ "position" }) << 5 << 0 << "reading up to two tape marks in a row";
        // clang-format on
    }

    void masters()
    {
        QFETCH(Objects, objects);
        QFETCH(int, unreadable);
        QFETCH(QStringList, extra);
        QFETCH(int, kept);
        const bool noPosition = extra.value(0) == QLatin1String("position");
        const QString source = tape(objects, unreadable);
        const QString master = freshPath(QStringLiteral("master.tap"));
        const ToolRun run = runImageTool(
            (noPosition ? QStringList() : extra) + words({ "--format", "tap", "--output" })
                << master,
            source, noPosition ? QStringLiteral("position") : QString());
        QTEST(run.exitCode, "exitCode");
        QFETCH(QString, message);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        const QString expected = kept < 0 ? source : m_dir.filePath(QStringLiteral("kept.tap"));
        if (kept >= 0)
            QVERIFY(writeTape(expected, objects.mid(0, kept)));
        QCOMPARE(fileBytes(master), fileBytes(expected));
    }

    // The window's format from a master: the same image as from the tape itself.
    void imagesFromAMaster()
    {
        const QString source = tape({ 512, 512, 512, 600001, kMark }, 1);
        const QString master = freshPath(QStringLiteral("m.tap"));
        QCOMPARE(
            runImageTool(words({ "--format", "tap", "--output" }) << master, source).exitCode, 11);
        const QString fromTape = freshPath(QStringLiteral("t.tape"));
        const QString fromMaster = freshPath(QStringLiteral("m.tape"));
        // Both hold a cut and an unreadable block, as the window's rules leave them.
        QCOMPARE(runImageTool({ QStringLiteral("--output"), fromTape }, source).exitCode, 11);
        QCOMPARE(runImageTool({ QStringLiteral("--output"), fromMaster }, master).exitCode, 11);
        QCOMPARE(fileBytes(fromMaster), fileBytes(fromTape));
    }

    void folderGetsTheWindowsName()
    {
        const QString folder = m_dir.filePath(QStringLiteral("images"));
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(folder));
        const QDateTime before = QDateTime::currentDateTime();
        const ToolRun run = runImageTool({ QStringLiteral("--folder"), folder + QLatin1Char('/') },
            tape(Objects { 512, 512, kMark }));
        const QDateTime after = QDateTime::currentDateTime();
        QCOMPARE(run.exitCode, 0);

        const QStringList made = QDir(folder).entryList({ QStringLiteral("*.tape") }, QDir::Files);
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
        QVERIFY(!QFile::exists(image));
        QCOMPARE(stateOf(image + QStringLiteral(".partial")),
            kept ? QStringLiteral("records") : QStringLiteral("missing"));
    }

    void progress()
    {
        const QString tapePath = tape(Objects(8, 4096) << kMark);
        const ToolRun plain = runImageTool(
            { QStringLiteral("--output"), freshPath(QStringLiteral("p.tape")) }, tapePath);
        QCOMPARE(plain.exitCode, 0);
        // Block count 8 (the tape mark counts): each percentage once, in order, with the bytes
        // and the tape file.
        const QStringList lines = plain.err.split(QLatin1Char('\n'));
        QStringList percents;
        for (const QString &line : lines.mid(0, 8))
            percents << line.section(QLatin1Char(' '), 0, 0);
        QCOMPARE(percents, words({ "12%", "25%", "37%", "50%", "62%", "75%", "87%", "100%" }));
        QVERIFY2(lines[1].contains(QLatin1String("8.00 KB"))
                && lines[1].endsWith(QLatin1String("tape file 1")),
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
        QVERIFY2(
            !shown.contains(QRegularExpression(QStringLiteral("(^|\\n)12% "))), qPrintable(shown));
    }

    // --inspect without a run record says only what the file shows.
    void inspect_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("well-formed") << QByteArray(3 * 512, 'x') + " 512 3 512 3" << 13
                                     << words({ "\" 512 3 512 3\"", "tape block length T:  512",
                                            "body length:          1536", "records:              3",
                                            "complete:             not known" });
        QTest::newRow("records of different lengths")
            << QByteArray(1000, 'x') + " 512 3 512 3" << 13
            << words({ "records:              not a whole number of S-byte records",
                   "complete:             not known" });
        QTest::newRow("no trailer") << QByteArray(
            1024, 'x') << 1 << words({ "trailer:              none", "complete:             no" });
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
            QVERIFY2(run.err.contains(QLatin1String("there is no such file")), qPrintable(run.err));
        QCOMPARE(run.exitCode, exitCode);
        for (const QString &line : lines)
            QVERIFY2(run.out.contains(line), qPrintable(run.out));
    }

    // The imager, --inspect and the scanner state one verdict; a changed image loses its record.
    void verdictsAgree_data()
    {
        QTest::addColumn<Objects>("objects");
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("changed"); // a byte of the image is changed after the run
        QTest::addColumn<int>("exitCode");
        Objects megabytes = Objects(15, 65536) << 16960 << kMark;
        megabytes += megabytes;
        QTest::newRow("complete") << Objects { 512, 512, kMark } << "tape" << false << 0;
        QTest::newRow("stops short") << megabytes << "tape" << false << 12;
        QTest::newRow("a record cut") << Objects { 600001, kMark } << "tape" << false << 11;
        QTest::newRow("a master") << megabytes << "tap" << false << 0;
        QTest::newRow("changed after the run")
            << Objects { 512, 512, kMark } << "tape" << true << 0;
    }

    void verdictsAgree()
    {
        QFETCH(Objects, objects);
        QFETCH(QString, format);
        QFETCH(bool, changed);
        QFETCH(int, exitCode);
        const QString image = freshPath(QStringLiteral("judged.") + format);
        const ToolRun made = runImageTool(
            { QStringLiteral("--format"), format, QStringLiteral("--output"), image },
            tape(objects));
        QCOMPARE(made.exitCode, exitCode);
        RunRecord::Record record;
        QVERIFY(RunRecord::fromJson(fileBytes(image + QStringLiteral(".json")), record));
        if (changed) {
            QFile file(image);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.write("x") == 1);
        }

        const ToolRun inspected = runImageTool(
            { QStringLiteral("--inspect"), image, QStringLiteral("--verify") }, QString());
        QCOMPARE(inspected.exitCode, changed ? 1 : exitCode); // the checksum no longer matches
        QProcess scanner;
        scanner.start(
            QStringLiteral(TARNWICK_BIN_DIR "/quorlin"), { QStringLiteral("--list"), image });
        QVERIFY(scanner.waitForFinished(60000));
        const QString listed = QString::fromLocal8Bit(scanner.readAllStandardOutput());
        QVERIFY2(inspected.out.contains(record.verdictText), qPrintable(inspected.out));
        QVERIFY2(
            listed.contains(QStringLiteral("Complete: ")) && listed.contains(record.verdictText),
            qPrintable(listed));
        QVERIFY2(inspected.out.contains(changed ? QLatin1String("does NOT match")
                                                : QLatin1String("the file matches its checksum")),
            qPrintable(inspected.out));
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
