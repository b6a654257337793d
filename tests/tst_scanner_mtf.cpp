// Windows backup media read by quorlin, from .bkf files, .tape images and masters
// made by the test writer: what is restored whole, and that every damage is named.
#include "mtf_writer.h"
#include "tst_scanner_images.h"

#include <QtTest>

#include <sys/stat.h>

using namespace ScannerTest;
using MtfTest::Writer;

namespace {

struct Restored
{
    QByteArray data;
    qint64 mtime = 0;
    int mode = 0644;
};

/// Two sets: folders, a Unicode (or Latin-1) name, a read-only file, an empty file,
/// a sparse file, a file with alternate data; @p fault changes one thing in the first.
struct Media
{
    Writer writer;
    QMap<QString, Restored> expected; ///< output name -> what it must hold
};

Media makeMedia(MtfTest::StringType strings, int block, const QString &fault)
{
    Media m { Writer(block, strings), {} };
    Writer &w = m.writer;
    const QString odd = strings == MtfTest::Unicode ? QStringLiteral("Gr\u00fc\u00dfe \u2713.txt")
                                                    : QStringLiteral("Gr\u00fc\u00dfe.txt");
    const QByteArray report = randomBytes(1, 70000);
    w.tape(QStringLiteral("Media 1"));
    w.beginSet(QStringLiteral("Weekly"), QStringLiteral("Full backup of C:"),
        QStringLiteral("ACME\\anna"), 1650000000, fault == QLatin1String("compressed") ? 1 : 0);
    w.folder(QString(), 1500000000).folder(QStringLiteral("Docs"), 1600000000);
    w.file(QStringLiteral("report.txt"), report, 1600000100);
    m.expected.insert(QStringLiteral("archive-1/Docs/report.txt"), { report, 1600000100 });
    w.file(odd, "hello", 1600000200, MtfTest::readOnly);
    m.expected.insert(QStringLiteral("archive-1/Docs/") + odd, { "hello", 1600000200, 0444 });
    w.file(QStringLiteral("empty.dat"), {}, 1600000300);
    m.expected.insert(QStringLiteral("archive-1/Docs/empty.dat"), { {}, 1600000300 });
    QByteArray middle = randomBytes(2, 9000);
    if (fault == QLatin1String("zero record")) // whole records of zeros inside the data
        middle = randomBytes(2, 40000).replace(8000, 25000, QByteArray(25000, '\0'));
    if (fault == QLatin1String("damaged stream"))
        w.file(QStringLiteral("middle.bin"), {}, 1600000400, 0,
            { { "STAN", middle, 0, true }, { "CSUM", Writer::checksumOf(middle) } }, 0, false);
    else if (fault == QLatin1String("continued"))
        w.continuedFile(QStringLiteral("middle.bin"), middle, 1600000400);
    else if (fault == QLatin1String("compressed") || fault == QLatin1String("encrypted"))
        w.file(QStringLiteral("middle.bin"), middle, 1600000400, 0, {},
            fault == QLatin1String("compressed") ? MtfTest::streamCompressed
                                                 : MtfTest::streamEncrypted);
    else
        w.file(QStringLiteral("middle.bin"), middle, 1600000400);
    if (fault == QLatin1String("corrupt file"))
        w.corruptFile();
    m.expected.insert(QStringLiteral("archive-1/Docs/middle.bin"), { middle, 1600000400 });
    w.folder(QStringLiteral("Docs/Empty"), 1600000500);
    w.folder(QStringLiteral("Tools"), 1600000600);
    QByteArray sparse(3 << 20, '\0');
    sparse.replace(0, 4, "head");
    sparse.replace(2 << 20, 4, "tail");
    w.file(QStringLiteral("disk.img"), {}, 1600000700, 0,
        { { "SPAR", Writer::sparsePiece(0, "head") },
            { "SPAR", Writer::sparsePiece(2 << 20, "tail") } },
        0, false);
    m.expected.insert(
        QStringLiteral("archive-1/Tools/disk.img"), { sparse.left((2 << 20) + 4), 1600000700 });
    w.file(QStringLiteral("notes.txt"), "notes", 1600000800, 0,
        { { "ADAT", Writer::alternate(QStringLiteral("Zone.Identifier"), "[ZoneTransfer]") } });
    m.expected.insert(QStringLiteral("archive-1/Tools/notes.txt"), { "notes", 1600000800 });
    m.expected.insert(QStringLiteral("archive-1/Tools/notes.txt:Zone.Identifier"),
        { "[ZoneTransfer]", 1600000800 });
    w.endSet();
    const QByteArray changed = randomBytes(3, 3000);
    w.beginSet(
        QStringLiteral("Daily"), QStringLiteral("Changes"), QStringLiteral("bob"), 1650086400);
    w.folder(QStringLiteral("Docs"), 1650000000)
        .file(QStringLiteral("report.txt"), changed, 1650000100);
    m.expected.insert(QStringLiteral("archive-2/Docs/report.txt"), { changed, 1650000100 });
    w.endSet().endMedia();
    return m;
}

/// Writes the media as @p kind: "bkf" (a file of its own), "tape" (an image) or "tap" (a
/// master), tape files in records of 10240 bytes. @p edit changes the .bkf's bytes.
QString place(const QString &dir, const Media &media, const QString &kind,
    const std::function<void(QByteArray *)> &edit = {}, int unreadableRecord = -1)
{
    if (kind == QLatin1String("bkf")) {
        QByteArray bytes = media.writer.bkf();
        if (edit)
            edit(&bytes);
        const QString path = dir + QStringLiteral("/backup.bkf");
        return writeFile(path, bytes) ? path : QString();
    }
    Tape tape;
    int records = 0;
    for (const QByteArray &file : media.writer.tapeFiles()) {
        const QByteArray data = asRecords(file, 10240);
        for (int at = 0; at < data.size(); at += 10240, ++records)
            tape.record(data.mid(at, 10240), records == unreadableRecord);
        tape.mark();
    }
    const QString made = imageFromTape(dir, tape, QStringLiteral("Auto"));
    return kind == QLatin1String("tap") ? dir + QStringLiteral("/source.tap") : made;
}

QStringList filesIn(const QString &folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        names << it.next().mid(folder.size() + 1);
    return names;
}

} // namespace

class TestScannerMtf : public QObject
{
    Q_OBJECT

private slots:
    void restoresSets_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("strings");
        QTest::addColumn<int>("block");
        QTest::addColumn<QString>("fault");
        QTest::newRow(".bkf, UTF-16 names") << "bkf" << int(MtfTest::Unicode) << 1024 << "";
        QTest::newRow(".bkf, ANSI names, 512-byte blocks")
            << "bkf" << int(MtfTest::Ansi) << 512 << "";
        QTest::newRow(".tape image: filemarks are tape marks")
            << "tape" << int(MtfTest::Unicode) << 1024 << "";
        QTest::newRow("master") << "tap" << int(MtfTest::Unicode) << 512 << "";
        // A record of zeros in a file's data was taken for a tape mark: named damaged.
        QTest::newRow(".tape image: a record of zeros inside a file is data")
            << "tape" << int(MtfTest::Unicode) << 1024 << "zero record";
        QTest::newRow("master: a record of zeros inside a file is data")
            << "tap" << int(MtfTest::Unicode) << 1024 << "zero record";
    }

    void restoresSets()
    {
        QFETCH(QString, kind);
        QFETCH(int, strings);
        QFETCH(int, block);
        QFETCH(QString, fault);
        ::umask(022);
        QTemporaryDir dir;
        const Media media = makeMedia(MtfTest::StringType(strings), block, fault);
        const QString image = place(dir.path(), media, kind);
        QVERIFY(!image.isEmpty());
        const ToolRun listed = quorlin({ QStringLiteral("--list"), image });
        QVERIFY2(listed.exitCode == 0, qPrintable(listed.out + listed.err));
        for (const char *said : { "\"Weekly\"", "Full backup of C:", "ACME\\\\anna",
                 "2022-04-15 05:20 UTC", "\"Daily\"", "\"bob\"", "archive-1/Docs/report.txt",
                 "archive-2/Docs/report.txt", "Zone.Identifier" })
            QVERIFY2(listed.out.contains(QLatin1String(said)), said);
        QVERIFY2(!listed.out.contains(QLatin1String("Raw region")), qPrintable(listed.out));
        // A .bkf is no image of an abandoned run.
        QCOMPARE(listed.out.contains(QLatin1String("Complete: not judged: a Windows backup file")),
            kind == QLatin1String("bkf"));
        const QString out = dir.filePath(QStringLiteral("out"));
        const ToolRun run = quorlin({ QStringLiteral("--extract"), image, out });
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        for (auto it = media.expected.cbegin(); it != media.expected.cend(); ++it) {
            const QString path = out + QLatin1Char('/') + it.key();
            QVERIFY2(fileBytes(path) == it.value().data, qPrintable(it.key()));
            struct stat info;
            QVERIFY(::stat(QFile::encodeName(path).constData(), &info) == 0);
            QCOMPARE(qint64(info.st_mtime), it.value().mtime);
            QCOMPARE(int(info.st_mode & 0777), it.value().mode);
        }
        struct stat folder;
        QVERIFY(::stat(QFile::encodeName(out + QStringLiteral("/archive-1/Docs/Empty")).constData(),
                    &folder)
            == 0);
        QVERIFY(S_ISDIR(folder.st_mode));
        QCOMPARE(qint64(folder.st_mtime), qint64(1600000500));
    }

    /// Each fault loses only what it held; what it held is named; nothing else is written
    /// under its own name with other bytes.
    void damageIsNamed_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("damaged"); ///< kept as NAME.damaged, or "-NAME": lost
        QTest::addColumn<QString>("said");
        const QString middle = QStringLiteral("archive-1/Docs/middle.bin");
        QTest::newRow("damaged SSET block: its files are still restored")
            << "damaged set block"
            << "bkf" << QStringLiteral("-none") << "start block is damaged";
        QTest::newRow("damaged FILE block skipped to the next block")
            << "damaged block"
            << "bkf" << QStringLiteral("-") + middle << "damaged descriptor block";
        QTest::newRow("damaged stream header") << "damaged stream"
                                               << "bkf" << middle << "damaged stream";
        QTest::newRow("data that fails its checksum") << "checksum"
                                                      << "bkf" << middle << "checksum";
        QTest::newRow("file the backup program could not read")
            << "corrupt file"
            << "bkf" << middle << "could not read";
        QTest::newRow(".bkf cut inside a file") << "cut"
                                                << "bkf" << middle << "ends inside it";
        QTest::newRow("compressed stream kept as stored")
            << "compressed"
            << "bkf" << QStringLiteral("-") + middle << "middle.bin.compressed: compressed";
        QTest::newRow("encrypted stream kept as stored")
            << "encrypted"
            << "bkf" << QStringLiteral("-") + middle << "middle.bin.encrypted: encrypted";
        QTest::newRow("unreadable record in a master") << "unreadable"
                                                       << "tap"
                                                       << "archive-1/Docs/report.txt"
                                                       << "unreadable";
        QTest::newRow("tape file cut inside a file, .tape image: a record of zeros")
            << "cut"
            << "tape" << middle << "record of zeros";
        QTest::newRow("tape file cut inside a file, master")
            << "cut"
            << "tap" << middle << "tape file ends inside it";
        QTest::newRow("file begun on an earlier volume") << "continued"
                                                         << "bkf" << middle << "earlier volume";
    }

    void damageIsNamed()
    {
        QFETCH(QString, fault);
        QFETCH(QString, kind);
        QFETCH(QString, damaged);
        QFETCH(QString, said);
        QTemporaryDir dir;
        Media media = makeMedia(MtfTest::Unicode, 1024, fault);
        const qint64 middleAt = media.writer.bkfOffsetOfFile(4);
        std::function<void(QByteArray *)> edit;
        if (fault == QLatin1String("damaged set block"))
            edit = [&](QByteArray *b) { b->replace(2 * 1024 + 12, 4, "XYZW"); };
        else if (fault == QLatin1String("damaged block"))
            edit = [&](QByteArray *b) { b->replace(int(middleAt) + 12, 4, "XYZW"); };
        else if (fault == QLatin1String("checksum"))
            edit = [&](QByteArray *b) {
                (*b)[int(middleAt) + 1024 + 100] = char((*b)[int(middleAt) + 1024 + 100] ^ 1);
            };
        QString image;
        if (fault == QLatin1String("cut") && kind != QLatin1String("bkf")) {
            // The tape file ends, and the tape with it, inside the file's data.
            // The tape file ends inside the file's data; the tape goes on after it.
            const bool master = kind == QLatin1String("tap");
            const QVector<QByteArray> files = media.writer.tapeFiles();
            Tape tape;
            tape.file(files[0], 10240)
                .file(files[1].left(int(middleAt) - files[0].size() - 1024 + 3000), 10240, !master);
            for (int i = 2; i < files.size(); ++i)
                tape.file(files[i], 10240);
            image = master && tape.write(dir.filePath(QStringLiteral("source.tap")))
                ? dir.filePath(QStringLiteral("source.tap"))
                : imageFromTape(dir.path(), tape, QStringLiteral("Auto"));
        } else if (fault == QLatin1String("cut")) {
            image = place(
                dir.path(), media, kind, [&](QByteArray *b) { b->truncate(int(middleAt) + 3000); });
        } else {
            image = place(
                dir.path(), media, kind, edit, fault == QLatin1String("unreadable") ? 1 : -1);
        }
        QVERIFY(!image.isEmpty());
        const ToolRun listed = quorlin({ QStringLiteral("--list"), image });
        // Kept as stored is no damage to the media; the extraction says it is not the file.
        const bool stored
            = fault == QLatin1String("compressed") || fault == QLatin1String("encrypted");
        QVERIFY2(listed.exitCode == (stored ? 0 : 1), qPrintable(listed.out + listed.err));
        QVERIFY2(!stored || listed.out.contains(QStringLiteral("middle.bin.") + fault),
            qPrintable(listed.out));
        const QString out = dir.filePath(QStringLiteral("out"));
        const ToolRun run = quorlin({ QStringLiteral("--extract"), image, out });
        QVERIFY2(run.exitCode == 1, qPrintable(run.out + run.err));
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        const bool lost = damaged.startsWith(QLatin1Char('-'));
        const QString name = lost ? damaged.mid(1) : damaged;
        const QByteArray original = media.expected.value(name).data;
        if (!lost) {
            const QByteArray kept
                = fileBytes(out + QLatin1Char('/') + name + QStringLiteral(".damaged"));
            QVERIFY2(run.err.contains(name), qPrintable(run.err));
            QVERIFY2(kept.size() <= original.size(), qPrintable(name));
            if (fault != QLatin1String("checksum") && fault != QLatin1String("unreadable"))
                QVERIFY2(original.startsWith(kept), qPrintable(name));
        }
        // No file under its own name holds other bytes than it had.
        for (const QString &found : filesIn(out)) {
            if (found.endsWith(QLatin1String(".damaged"))
                || found.startsWith(QLatin1String("raw-")))
                continue;
            if (found.endsWith(QLatin1String(".compressed"))
                || found.endsWith(QLatin1String(".encrypted"))) {
                QCOMPARE(fileBytes(out + QLatin1Char('/') + found), original);
                continue;
            }
            QVERIFY2(media.expected.contains(found), qPrintable(found));
            QVERIFY2(fileBytes(out + QLatin1Char('/') + found) == media.expected.value(found).data,
                qPrintable(found));
            QVERIFY2(found != name, qPrintable(found));
        }
        // What follows the damage is still restored, unless the media ends there.
        if (fault != QLatin1String("unreadable")
            && !(fault == QLatin1String("cut") && kind == QLatin1String("bkf")))
            QVERIFY(filesIn(out).contains(QStringLiteral("archive-2/Docs/report.txt")));
    }
};

QTEST_GUILESS_MAIN(TestScannerMtf)
#include "tst_scanner_mtf.moc"
