#include "scanner/core/carver.h"
#include "scanner/core/decoder.h"
#include "scanner/core/extractor.h"
#include "scanner/core/report.h"
#include "scanner/core/signatures.h"
#include "tst_scanner_images.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

using namespace Quorlin;
using namespace ScannerTest;

namespace {

/// What an extraction wrote (bytes by the name below its folder) and the problems it named.
struct Extracted
{
    bool whole = false;
    QMap<QString, QByteArray> files;
    QString problems;
};

/// Extracts @p selection, by default everything, into a fresh folder.
Extracted extract(const ScanResult &result, Selection selection = {})
{
    if (selection.isEmpty())
        selection = selectMatching(result, {});
    QTemporaryDir out;
    Extractor extractor(result, out.path());
    Extracted done;
    done.whole = extractor.run(selection);
    for (const QString &file : extractor.written())
        done.files.insert(QDir(out.path()).relativeFilePath(file), fileBytes(file));
    done.problems = extractor.problems().join(QLatin1Char('\n'));
    return done;
}

/// Archive @p archive, all of it extracted, gives back @p files and nothing else.
bool givesBack(const ScanResult &result, int archive, const QVector<File> &files)
{
    Selection selection;
    for (int e = 0; e < result.archives[archive].entries.size(); ++e)
        selection.entries[archive].insert(e);
    const Extracted done = extract(result, selection);
    bool same = done.whole && done.files.size() == files.size();
    for (const File &file : files)
        same = same && done.files.value(entryOutputName(archive, file.name)) == file.data;
    return same;
}

} // namespace

class TestScanner : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString image(const QString &name) const { return m_dir.filePath(name); }

private slots:
    // Tape files as KIND@BLOCK (see tapeFileBytes()), a "!" after the block leaving the
    // last block short; the run's block size choice.
    void engineImagesGiveBackEveryFile_data()
    {
        QTest::addColumn<QString>("tapeFiles");
        QTest::addColumn<QString>("blockSize");
        // clang-format off
        QTest::newRow("three tars between tape marks") << "ustar@10240 gnu@10240 v7@10240" << "Auto";
        // xz takes zeros between streams for padding: a tape mark must still end the first.
        QTest::newRow("odc cpio in bzip2, two pax tar.xz, other data")
            << "odc|bzip2@32768 pax|xz@32768 pax|xz@32768 random:614400@32768" << "32768";
        QTest::newRow("lzma and lzop tars, lzop cpio, other data")
            << "gnu|lzma@10240 ustar|lzop@10240 newc|lzop@10240 random:614400@10240" << "Auto";
        QTest::newRow("zstd, lz4, lzip, zstd cpio, zip")
            << "gnu|zstd@10240 ustar|lz4@10240 gnu|lzip@10240 newc|zstd@10240 zip@10240" << "Auto";
        // A dump's files listed by name, not split at what they hold (it was one region).
        QTest::newRow("dump volume between archives") << "gnu@10240 dump@10240 newc@10240" << "Auto";
        // An Auto run stops once the records so far outweigh the block count times the
        // current length (a tape mark counts as long as the first block): a long tail in
        // the first block's size keeps every archive inside the image.
        QTest::newRow("Auto, three block sizes")
            << "newc@512 gnu@10240 gnu|gzip@65536 random:614400@512" << "Auto";
        // Tape marks as long as the 1000-byte first block put the later files off the 512 grid.
        QTest::newRow("Auto, odd first block")
            << "ustar@1000 gnu@10240 gnu@10240 random:614400@1000" << "Auto";
        // A larger size answered Yes pads each record and ends the run early (half the
        // blocks at 131072 over 65536): the random tail keeps the archives in what it reads.
        QTest::newRow("16384 answered Yes over 10240-byte blocks")
            << "gnu@10240 newc@10240 random:307200@10240" << "16384";
        QTest::newRow("padded, gzip tar ending in a short block")
            << "gnu|gzip@65536! gnu@65536 random:614400@65536" << "131072";
        // T is the last block read, here one of the tail's 4096 bytes: the archives' records
        // hold 10240, and each tape file keeps its own.
        QTest::newRow("padded, T shorter than the archives' blocks")
            << "gnu@10240 newc@10240 random:614400@4096" << "65536";
        // clang-format on
    }

    // Through two doors: the image tarnwick-image makes, and the virtual tape itself.
    void engineImagesGiveBackEveryFile()
    {
        QFETCH(QString, tapeFiles);
        QFETCH(QString, blockSize);
        Tape tape;
        QVector<QVector<File>> originals;
        QStringList kinds;
        QVector<QByteArray> pieces; ///< each tape file as its records hold it
        QVector<int> blocks;
        for (QString word : tapeFiles.split(QLatin1Char(' '))) {
            const bool shortLast = word.endsWith(QLatin1Char('!'));
            word.remove(QLatin1Char('!'));
            kinds.append(word.section(QLatin1Char('@'), 0, 0));
            blocks.append(word.section(QLatin1Char('@'), 1).toInt());
            originals.append(sampleFiles(quint32(100 + kinds.size())));
            const QByteArray bytes = tapeFileBytes(kinds.last(), originals.last());
            if (bytes.isEmpty())
                QSKIP(qPrintable(kinds.last() + QStringLiteral(" cannot be made here")));
            tape.file(bytes, blocks.last(), !shortLast);
            pieces.append(asRecords(bytes, blocks.last()));
        }
        const bool padded = blockSize.toInt() > blocks.first();
        QTemporaryDir dir;
        const QString imagePath = imageFromTape(dir.path(), tape, blockSize);
        QVERIFY(!imagePath.isEmpty());
        for (const QString &path : { imagePath, dir.filePath(QStringLiteral("source.tap")) }) {
            const bool tap = path.endsWith(QLatin1String(".tap"));
            const ScanResult result = scanImage(path);
            const QByteArray list = listing(result).toUtf8();
            QCOMPARE(result.facts.hasTrailer, !tap);
            QVERIFY2((result.facts.recordData > 0) == (padded && !tap), list);
            if (padded && !tap) {
                QCOMPARE(result.facts.recordData, qint64(blocks.first()));
                QVERIFY(result.facts.trailerNote.contains(QLatin1String("padding is left out")));
            }
            int archives = 0, regions = 0;
            for (int i = 0; i < kinds.size(); ++i) {
                if (!isRegion(kinds[i])) {
                    QVERIFY2(archives < result.archives.size(), list);
                    const FoundArchive &found = result.archives[archives];
                    QVERIFY2(!found.damaged, qPrintable(found.note));
                    QCOMPARE(found.filter.isEmpty(), !kinds[i].contains(QLatin1Char('|')));
                    QVERIFY2(givesBack(result, archives++, originals[i]), list);
                    continue;
                }
                QVERIFY2(regions < result.rawRegions.size(), list);
                const RawRegion &region = result.rawRegions[regions];
                QVERIFY(region.kind.isEmpty());
                // What is not an archive comes back as it was on the tape; an image made
                // by an early ending run holds the first part of it.
                Selection one;
                one.rawRegions.insert(regions++);
                const QByteArray raw = extract(result, one).files.first();
                QVERIFY2(
                    tap ? raw == pieces[i] : !raw.isEmpty() && pieces[i].startsWith(raw), list);
            }
            QVERIFY2(
                result.archives.size() == archives && result.rawRegions.size() == regions, list);
        }
    }

    // Random data must not pass for an archive start, or a raw region turns into
    // dozens of "damaged archives" with garbage names.
    void archiveStartsNeedAWholeHeader_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<bool>("archive");
        const auto header = [](int format) {
            return makeArchive(format, ARCHIVE_FILTER_NONE, sampleFiles(1, 1, 100)).left(512);
        };
        const QByteArray binary = header(ARCHIVE_FORMAT_CPIO_BIN_LE);
        QByteArray swapped = binary; // the same header from a big-endian machine
        for (int i = 0; i < 26; i += 2)
            std::swap(swapped.data()[i], swapped.data()[i + 1]);
        const QByteArray noise = randomBytes(77, 512);
        QByteArray tar = header(ARCHIVE_FORMAT_TAR_USTAR);
        QTest::newRow("binary cpio") << binary << true;
        QTest::newRow("big-endian binary cpio") << swapped << true;
        QTest::newRow("binary cpio magic, then noise") << binary.left(2) + noise.mid(2) << false;
        QTest::newRow("big-endian magic, then noise") << swapped.left(2) + noise.mid(2) << false;
        QTest::newRow("binary cpio with an unknown file type")
            << binary.left(7) + char(binary[7] | 0x70) + binary.mid(8) << false;
        // LZMA-alone has no magic: the header fields and a first decode must all hold.
        const QByteArray lzma = tapeFileBytes(QStringLiteral("gnu|lzma"), sampleFiles(1, 1, 100));
        QByteArray lzmaZeroDictionary = lzma;
        lzmaZeroDictionary.replace(1, 4, QByteArray(4, '\0'));
        QByteArray lzmaOddDictionary = lzma;
        lzmaOddDictionary[2] = char(lzmaOddDictionary[2] | 0x01);
        QTest::newRow("lzma") << lzma.left(512) << true;
        QTest::newRow("lzma header, then noise") << lzma.left(14) + noise.mid(14) << false;
        QTest::newRow("lzma with a zero dictionary") << lzmaZeroDictionary.left(512) << false;
        QTest::newRow("lzma with a dictionary no tool writes")
            << lzmaOddDictionary.left(512) << false;
        QTest::newRow("lzma with a huge uncompressed size")
            << lzma.left(5) + QByteArray("\0\0\0\0\0\x10\0\0", 8) + lzma.mid(13, 499) << false;
        const QByteArray lzop = tapeFileBytes(QStringLiteral("gnu|lzop"), sampleFiles(1, 1, 100));
        QByteArray lzopBadHeader = lzop;
        lzopBadHeader[30] = char(lzopBadHeader[30] ^ 0x40); // inside the mode or time
        QTest::newRow("lzop") << lzop.left(512) << true;
        QTest::newRow("lzop with a wrong header checksum") << lzopBadHeader.left(512) << false;
        QTest::newRow("lzop magic, then noise") << lzop.left(9) + noise.mid(9) << false;
        const QByteArray amanda("AMANDA: FILE 20100101000000 host /export lev 0 comp N program "
                                "/bin/tar\nTo restore...\n\f\n");
        QTest::newRow("Amanda dump header") << amanda + QByteArray(512, '\0') << true;
        QTest::newRow("Amanda header of no kind it writes")
            << QByteArray(amanda).replace("FILE", "NOTE") << false;
        QTest::newRow("Amanda tag, then noise") << amanda.left(8) + noise.mid(8) << false;
        QTest::newRow("Amanda header without its level")
            << QByteArray(amanda).replace("lev 0", "at 0") << false;
        QTest::newRow("Amanda first line never ends") << amanda.left(60) << false;
        QTest::newRow("tar") << tar << true;
        tar[0] = char(tar[0] + 1);
        QTest::newRow("tar with a wrong checksum") << tar << false;
    }

    void archiveStartsNeedAWholeHeader()
    {
        QFETCH(QByteArray, start);
        const auto *bytes = reinterpret_cast<const unsigned char *>(start.constData());
        QTEST(detectSignature(bytes, std::size_t(start.size())) != Signature::None, "archive");
    }

    // A byte flipped inside a stream: the decoder hands out only bytes the stream really
    // held, stops with an error, and the error comes before the end of what it held.
    void damagedStreamsGiveOnlyTrueBytes_data()
    {
        QTest::addColumn<QString>("compressor");
        QTest::addColumn<int>("flipAt"); ///< byte of the compressed stream
        QTest::addColumn<bool>("someBack"); ///< something before the damage is handed out
        // Lzop checks each 256 KiB block before handing it out: damage in the second block
        // keeps the first whole (a block with a bad sum once came out as it decoded).
        QTest::newRow("lzop, second block") << "lzop" << 400000 << true;
        QTest::newRow("lzop, first block") << "lzop" << 5000 << false;
        QTest::newRow("lzop, block header") << "lzop" << -1 << false;
        // Lzma has no checksum: it decodes on after damage (14 KB of garbage here) until
        // something cannot be decoded, so the last 64 KiB before are never handed out.
        QTest::newRow("lzma, middle") << "lzma" << 300000 << true;
        QTest::newRow("lzma, near the start") << "lzma" << 40 << false;
    }

    void damagedStreamsGiveOnlyTrueBytes()
    {
        QFETCH(QString, compressor);
        QFETCH(int, flipAt);
        QFETCH(bool, someBack);
        // Half compressible, so each compressor writes several blocks.
        QByteArray plain = randomBytes(31, 1 << 20);
        for (int at = 0; at < plain.size(); at += 8192)
            plain.replace(at, 4096, QByteArray(4096, char(at / 8192)));
        QByteArray packed;
        const QString tool = compressor == QLatin1String("lzma")
            ? QStringLiteral("xz --format=lzma -c")
            : QStringLiteral("lzop -c");
        QVERIFY(runTool(tool, {}, &packed, plain));
        const auto *head = reinterpret_cast<const unsigned char *>(packed.constData());
        const Compression kind
            = detectCompression(head, std::min<std::size_t>(1024, packed.size()));
        QVERIFY(kind != Compression::None);
        // -1: the first block's length, just after lzop's header (its name is empty).
        if (flipAt < 0)
            flipAt = packed.indexOf(QByteArray("\0\x04\0\0", 4), 30);
        QVERIFY(flipAt > 0 && flipAt < packed.size());
        packed[flipAt] = char(packed[flipAt] ^ 0x10);
        const std::unique_ptr<Decoder> decoder = makeDecoder(kind);
        QByteArray out(plain.size() + (1 << 20), '\0');
        const auto *in = reinterpret_cast<const unsigned char *>(packed.constData());
        std::size_t inLeft = std::size_t(packed.size());
        auto *next = reinterpret_cast<unsigned char *>(out.data());
        std::size_t outLeft = std::size_t(out.size());
        Decoder::Status status = Decoder::Status::Working;
        // A small input piece at a time, as the scan feeds it.
        while (status == Decoder::Status::Working) {
            const std::size_t piece = std::min<std::size_t>(inLeft, 3000);
            std::size_t left = piece;
            const std::size_t outBefore = outLeft;
            status = decoder->step(in, left, next, outLeft);
            inLeft -= piece - left;
            if (left == piece && outLeft == outBefore)
                break;
        }
        const int made = int(next - reinterpret_cast<unsigned char *>(out.data()));
        QCOMPARE(status, Decoder::Status::Error);
        QVERIFY(!decoder->error().isEmpty());
        int same = 0;
        while (same < made && out[same] == plain[same])
            ++same;
        QVERIFY2(same == made, qPrintable(QStringLiteral("%1 of %2").arg(same).arg(made)));
        QCOMPARE(made > 0, someBack);
        QVERIFY(made < plain.size());
    }

    // An Amanda tape file: the header block's first line shown, the archive behind it
    // restored as any other.
    void amandaHeadersAreShown_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("compressor");
        QTest::addColumn<QString>("facts");
        // clang-format off
        QTest::newRow("gzip dump") << QByteArray("AMANDA: FILE 20100101000000 corpushost /export/home lev 1 comp .gz program /bin/tar")
            << "gzip" << "host corpushost, disk /export/home, level 1, date 2010-01-01 00:00:00, compression .gz, program /bin/tar";
        QTest::newRow("uncompressed, date only") << QByteArray("AMANDA: FILE 20091231 h /var lev 0 comp N program /sbin/dump")
            << "" << "host h, disk /var, level 0, date 2009-12-31, compression none, program /sbin/dump";
        QTest::newRow("one part of a split dump") << QByteArray("AMANDA: SPLIT_FILE 20100101000000 h /srv part 2/3 lev 0 comp N program /bin/tar")
            << "" << "host h, disk /srv, level 0, date 2010-01-01 00:00:00, compression none, program /bin/tar, part 2/3; part 1 is not in this image: the data of this part is kept as found";
        // clang-format on
    }

    void amandaHeadersAreShown()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, compressor);
        const QVector<File> files = sampleFiles(9);
        QByteArray header = line + "\nTo restore, position tape at start of file and run:\n\f\n";
        header.append(QByteArray(32768 - header.size(), '\0'));
        const QByteArray dump = tapeFileBytes(
            compressor.isEmpty() ? QStringLiteral("gnu") : QStringLiteral("gnu|") + compressor,
            files);
        Tape tape;
        tape.file(header + dump, 32768);
        tape.file(randomBytes(4, 100000), 32768);
        QTemporaryDir dir;
        const QString path = imageFromTape(dir.path(), tape, QStringLiteral("Auto"));
        QVERIFY(!path.isEmpty());
        const ScanResult result = scanImage(path);
        const QByteArray list = listing(result).toUtf8();
        QVERIFY2(result.archives.size() == 1 && !result.rawRegions.isEmpty(), list);
        QCOMPARE(result.rawRegions.first().offset, qint64(0));
        QCOMPARE(result.rawRegions.first().length, qint64(32768));
        QTEST(result.rawRegions.first().label, "facts");
        QVERIFY2(list.contains("an Amanda tape file header: "), list);
        QCOMPARE(result.archives.first().offset, qint64(32768));
        QVERIFY(givesBack(result, 0, files));
    }

    // An Amanda dump split over tape files: the parts joined in the order of their numbers,
    // whatever their order on the tape; a part missing or differing named, and nothing
    // written under its own name with other bytes.
    void amandaSplitDumpsAreJoined_data()
    {
        QTest::addColumn<QString>("kind"); ///< "tape" (an image) or "tap" (a master)
        /// The parts on the tape; "2'": part 2 with other bytes, "2!": its first data record
        /// flagged unreadable.
        QTest::addColumn<QString>("order");
        QTest::addColumn<QString>("total"); ///< what the headers say after "N/"
        QTest::addColumn<QString>("said"); ///< in the problems; empty: restored whole
        QTest::newRow("three parts, image") << "tape"
                                            << "1 2 3"
                                            << "3"
                                            << "";
        QTest::newRow("three parts, master") << "tap"
                                             << "1 2 3"
                                             << "3"
                                             << "";
        QTest::newRow("parts out of order, total unknown") << "tape"
                                                           << "2 1 3"
                                                           << "UNKNOWN"
                                                           << "";
        QTest::newRow("a part twice, alike") << "tape"
                                             << "1 2 2 3"
                                             << "3"
                                             << "";
        QTest::newRow("a part missing") << "tape"
                                        << "1 3"
                                        << "3"
                                        << "part 2 is not in this image";
        QTest::newRow("the last part missing, master") << "tap"
                                                       << "1 2"
                                                       << "3"
                                                       << "part 3 is not in this image";
        QTest::newRow("a part twice, with other bytes") << "tape"
                                                        << "1 2 2' 3"
                                                        << "3"
                                                        << "part 2 is on the tape twice";
        QTest::newRow("an unreadable record in a part, master") << "tap"
                                                                << "1 2! 3"
                                                                << "3"
                                                                << "unreadable";
    }

    void amandaSplitDumpsAreJoined()
    {
        QFETCH(QString, kind);
        QFETCH(QString, order);
        QFETCH(QString, total);
        QFETCH(QString, said);
        const QVector<File> files = sampleFiles(12, 4, 40000);
        const QByteArray dump = tapeFileBytes(QStringLiteral("gnu|gzip"), files);
        constexpr int chunk = 65536;
        QCOMPARE((dump.size() + chunk - 1) / chunk, 3);
        Tape tape;
        int records = 0; ///< tape marks count
        for (const QString &part : order.split(QLatin1Char(' '))) {
            const int n = part.left(1).toInt();
            QByteArray header = QStringLiteral("AMANDA: SPLIT_FILE 20240102030405 client "
                                               "/home part %1/%2 lev 0 comp .gz program /bin/tar\n")
                                    .arg(n)
                                    .arg(total)
                                    .toLatin1();
            header.append(QByteArray(32768 - header.size(), '\0'));
            const QByteArray data = part.endsWith(QLatin1Char('\''))
                ? randomBytes(5, chunk)
                : dump.mid((n - 1) * chunk, chunk);
            tape.file(header + data, 32768);
            if (part.endsWith(QLatin1Char('!')))
                tape.damage(records + 1, 7);
            records += (header.size() + data.size() + 32767) / 32768 + 1;
        }
        tape.file(randomBytes(6, 50000), 32768); // another tape file after the dump
        QTemporaryDir dir;
        const QString tap = dir.filePath(QStringLiteral("source.tap"));
        const QString path = kind == QLatin1String("tap")
            ? (tape.write(tap) ? tap : QString())
            : imageFromTape(dir.path(), tape, QStringLiteral("Auto"));
        QVERIFY(!path.isEmpty());
        const ScanResult result = scanImage(path);
        const QByteArray list = listing(result).toUtf8();
        QVERIFY2(result.archives.size() == 1, list);
        QVERIFY2(result.rawRegions.last().length >= 50000, list); // the tape file after it
        const Extracted done = extract(result);
        QVERIFY2(done.whole == said.isEmpty(), qPrintable(done.problems));
        QVERIFY2(list.contains(said.toUtf8()), list);
        int restored = 0;
        for (const File &file : files) {
            const QString name = entryOutputName(0, file.name);
            QVERIFY2(!done.files.contains(name) || done.files.value(name) == file.data,
                qPrintable(name));
            restored += done.files.contains(name) ? 1 : 0;
        }
        QCOMPARE(restored == files.size(), said.isEmpty());
        QVERIFY2(restored > 0, qPrintable(done.problems)); // the first part's files at least
    }

    void damagedBlockKeepsWhatSurrounds_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("fault"); ///< garbled, zeros, flagged (the .tap only), cut
        QTest::addColumn<int>("record"); ///< the record it hits, or the first one cut away
        QTest::addColumn<QVector<int>>("recovered"); ///< file numbers read back whole
        QTest::addColumn<int>("damagedFile"); ///< the one listed as damaged; -1: none
        QTest::addColumn<qint64>("offset"); ///< where the note puts the damage; -1: unchecked
        QTest::addColumn<QString>("fileNote"); ///< what the damaged file's note says
        const QString cut = QStringLiteral("damaged: only its first part can be written");
        const QString tar = QStringLiteral("ustar"), gzip = QStringLiteral("ustar|gzip");
        // Four files in 10240-byte records: file 1's header starts record 4, file 2's
        // header sits in record 8 behind the last 512 bytes of file 1.
        // clang-format off
        QTest::newRow("garbled record in a tar") << tar << "garbled" << 4 << QVector<int>{0, 2, 3}
            << -1 << qint64(40960) << QString();
        // A compressed stream cannot be resumed past the damage.
        QTest::newRow("garbled record in a gzip tar") << gzip << "garbled" << 6 << QVector<int>{0}
            << 1 << qint64(-1) << cut;
        // An unreadable block in the image: zeros that end the tar, but it goes on.
        QTest::newRow("record of zeros in a tar") << tar << "zeros" << 8 << QVector<int>{0, 3}
            << 1 << qint64(81920) << cut;
        // With no checksum to tell, the last 64 KiB decoded before the damage showed are
        // dropped too: they may already be wrong (an earlier file came back with garbage).
        QTest::newRow("garbled record in an lzma tar") << QStringLiteral("ustar|lzma") << "garbled"
            << 12 << QVector<int>{0} << 1 << qint64(-1) << cut;
        QTest::newRow("lzma tar cut short") << QStringLiteral("ustar|lzma") << "cut" << 6
            << QVector<int>{0} << 1 << qint64(61440) << cut;
        // All the stream yields before the cut comes back, the file it cuts in part.
        QTest::newRow("gzip tar cut short") << gzip << "cut" << 6 << QVector<int>{0} << 1
            << qint64(61440) << cut;
        // The flagged record is read all the same: the file is whole, its note says where.
        QTest::newRow("record flagged unreadable in a .tap") << tar << "flagged" << 4
            << QVector<int>{0, 1, 2, 3} << 1 << qint64(4 * (10240 + 8) + 4)
            << QStringLiteral("damaged: whole in length, but holds unreadable bytes, the first "
                              "at byte 0 of it (image offset %1)").arg(4 * (10240 + 8) + 4 + 512);
        // clang-format on
    }

    void damagedBlockKeepsWhatSurrounds()
    {
        QFETCH(QString, kind);
        QFETCH(QString, fault);
        QFETCH(int, record);
        QFETCH(QVector<int>, recovered);
        QFETCH(int, damagedFile);
        QFETCH(qint64, offset);
        const QVector<File> files = sampleFiles(7, 4);
        QByteArray archive = asRecords(tapeFileBytes(kind, files), 10240);
        if (fault == QLatin1String("cut"))
            archive.truncate(record * 10240);
        else if (fault == QLatin1String("zeros"))
            archive.replace(record * 10240, 10240, QByteArray(10240, '\0'));
        const bool flagged = fault == QLatin1String("flagged");
        Tape tape;
        for (int at = 0, index = 0; at < archive.size(); at += 10240, ++index)
            tape.record(archive.mid(at, 10240), flagged && index == record);
        tape.mark();
        if (!kind.contains(QLatin1Char('|'))) // other data, on a tape file of its own
            tape.file(randomBytes(8, 30000), 10240);
        if (fault == QLatin1String("garbled"))
            tape.damage(record, 3);
        QTemporaryDir dir;
        const QString path = imageFromTape(dir.path(), tape, QStringLiteral("Auto"));
        QVERIFY(!path.isEmpty());

        const ScanResult result
            = scanImage(flagged ? dir.filePath(QStringLiteral("source.tap")) : path);
        const QByteArray list = listing(result).toUtf8();
        QVERIFY2(!result.archives.isEmpty() && hasDamage(result), list);
        QVERIFY2(result.archives.first().damaged, list);
        QVERIFY2(result.archives.first().note.contains(offset < 0
                         ? QStringLiteral("Damaged at image offset")
                         : QStringLiteral("Damaged at image offset %1:").arg(offset)),
            list);
        for (const FoundArchive &found : result.archives)
            QVERIFY2(found.continuation || &found == &result.archives.first(), list);
        const Extracted done = extract(result);
        QVERIFY(!done.whole && !done.problems.isEmpty()); // the damage is reported
        const QList<QByteArray> written = done.files.values();
        for (int i : recovered)
            QVERIFY2(written.contains(files[i].data), qPrintable(files[i].name));
        // Exactly the file the damage falls into is marked, none around it, and its note
        // says how: cut short, or whole with unreadable bytes (the extraction says so too).
        const auto &entries = result.archives.first().entries;
        QVERIFY2(entries.size() > damagedFile, list);
        for (int i = 0; i < entries.size(); ++i)
            QVERIFY2(entries[i].damaged == (i == damagedFile), list);
        if (damagedFile >= 0)
            QTEST(entryDamageNote(result.facts, entries[damagedFile]), "fileNote");
        QVERIFY(!flagged || done.problems.contains(entryDamageNote(result.facts, entries[1])));
        // What lies between the damage and the next archive header is named as part of the
        // damaged archive; the data on the next tape file is not.
        for (int r = 0; r < result.rawRegions.size(); ++r) {
            QCOMPARE(rawRegionNote(result, r).contains(QLatin1String("archive 1")),
                result.rawRegions[r].offset < archive.size());
        }
        // What a stream yields before a cut is written out, up to the cut.
        if (fault == QLatin1String("cut")) {
            QVERIFY(std::any_of(written.cbegin(), written.cend(), [&](const QByteArray &b) {
                return b.size() > 10000 && b.size() < files[1].data.size()
                    && files[1].data.startsWith(b);
            }));
        }
    }

    /// Images that no run writes: a trailer missing, lying, or shorter than the blocks.
    void handMadeTrailers_data()
    {
        QTest::addColumn<QByteArray>("trailer");
        QTest::addColumn<bool>("taken"); ///< read as the image's trailer
        QTest::addColumn<QString>("note");
        // clang-format off
        QTest::newRow("no trailer") << QByteArray() << false << "No trailer";
        QTest::newRow("block size that does not divide the body")
            << ImageFile::trailerText(10240, 65536) << true << "not all 65536 bytes";
        // Taking these for trailers would frame the body in records it does not have.
        QTest::newRow("block size of 1") << QByteArray(" 1 1 1 1") << false
            << "S = 1 is no block size";
        QTest::newRow("block size out of range") << ImageFile::trailerText(10240, 999999) << false
            << "S = 999999 is no block size";
        QTest::newRow("T larger than S") << ImageFile::trailerText(30000, 20480) << false
            << "T = 30000 is larger";
        // Cutting each 20480-byte record at T would lose the second half of every block.
        QTest::newRow("T shorter than the blocks") << ImageFile::trailerText(10240, 20480) << true
            << "read whole";
        // clang-format on
    }

    void handMadeTrailers()
    {
        QFETCH(QByteArray, trailer);
        QFETCH(bool, taken);
        QFETCH(QString, note);
        const QVector<File> first = sampleFiles(31), second = sampleFiles(32);
        const QByteArray body
            = asRecords(makeArchive(ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_NONE, first), 20480)
            + QByteArray(20480, '\0')
            + asRecords(
                makeArchive(ARCHIVE_FORMAT_CPIO_SVR4_NOCRC, ARCHIVE_FILTER_GZIP, second), 20480);
        const QString path = image(QStringLiteral("hand-made.tape"));
        QVERIFY(writeFile(path, body + trailer));

        const ScanResult result = scanImage(path);
        QCOMPARE(result.facts.hasTrailer, taken);
        // Nothing is cut away: what is not a trailer is scanned as data.
        QCOMPARE(result.facts.streamLength, qint64(body.size() + (taken ? 0 : trailer.size())));
        QVERIFY2(result.facts.trailerNote.contains(note), qPrintable(result.facts.trailerNote));
        QCOMPARE(result.rawRegions.size(), taken || trailer.isEmpty() ? 0 : 1);
        QCOMPARE(result.archives.size(), 2);
        QVERIFY(givesBack(result, 0, first));
        QVERIFY(givesBack(result, 1, second));
    }

    /// Padded images (T < S) whose records end in zeros that are data: a mostly-zero file
    /// (a disk image) leaves every 10240-byte block with 1240 zeros at its end. Each record
    /// was cut to 9216 bytes although T said 10240: the archive damaged, wrong bytes from
    /// there on. Tape files of BLOCK@COUNT records, "tar" the one with the file.
    void paddedRecordsKeepTheirZeros_data()
    {
        QTest::addColumn<QString>("tapeFiles");
        QTest::addColumn<int>("tapeBlock"); ///< T
        QTest::addColumn<int>("tarBlock"); ///< the tar's own block length
        QTest::addColumn<int>("hole"); ///< zeros in the middle of the file, whole records of them
        // clang-format off
        QTest::newRow("tar, then other data, T from the last block") << "tar@10240 random@10240"
            << 10240 << 10240 << 0;
        QTest::newRow("the tar is the last tape file read") << "tar@10240" << 10240 << 10240 << 0;
        // Records of zeros inside the file look like tape marks between tape files.
        QTest::newRow("a hole of whole records in the file") << "tar@10240 random@10240"
            << 10240 << 10240 << 40000;
        // T proves nothing here: the tar's blocks are shorter, its headers say so.
        QTest::newRow("tar of shorter blocks before longer ones") << "tar@4096 random@10240"
            << 10240 << 4096 << 0;
        // clang-format on
    }

    void paddedRecordsKeepTheirZeros()
    {
        QFETCH(QString, tapeFiles);
        QFETCH(int, tapeBlock);
        QFETCH(int, tarBlock);
        QFETCH(int, hole);
        constexpr int record = 20480;
        QByteArray disk = randomBytes(12, 150000);
        for (int at = 0; at < disk.size(); ++at) {
            if ((at + 512) % tarBlock >= tarBlock - 1240 || (at / 1500) % 4 == 1
                || (at >= 60000 && at < 60000 + hole))
                disk[at] = 0;
        }
        const QVector<File> files { { QStringLiteral("disk.img"), disk },
            { QStringLiteral("notes.txt"), QByteArray(300, 'n') } };
        QByteArray body;
        for (const QString &word : tapeFiles.split(QLatin1Char(' '))) {
            const int block = word.section(QLatin1Char('@'), 1).toInt();
            const QByteArray data = word.startsWith(QLatin1String("tar"))
                ? asRecords(
                    makeArchive(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE, files), block)
                : randomBytes(13, 5 * block);
            for (int at = 0; at < data.size(); at += block)
                body += data.mid(at, block) + QByteArray(record - block, '\0');
            body += QByteArray(record, '\0'); // the tape mark
        }
        if (!tapeFiles.contains(QLatin1String("random")))
            body.chop(record); // the last block read ends the image
        const QString path = image(QStringLiteral("padded.tape"));
        QVERIFY(writeFile(path, body + ImageFile::trailerText(quint32(tapeBlock), record)));

        const ScanResult result = scanImage(path);
        const QByteArray list = listing(result).toUtf8();
        QVERIFY2(!result.archives.isEmpty() && !result.archives.first().damaged, list);
        QVERIFY2(givesBack(result, 0, files), list);
    }

    /// Data made to be costly: magics everywhere, a header asking for gigabytes.
    void badInputStaysCheap_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("zeros"); ///< then this many zero bytes (a sparse file)
        const auto everyBlock = [](const QByteArray &magic) {
            QByteArray bytes = randomBytes(9, 8 << 20);
            for (int at = 0; at < bytes.size(); at += 512)
                bytes.replace(at, magic.size(), magic);
            return bytes;
        };
        QTest::newRow("newc magic every 512 bytes") << everyBlock("070701") << qint64(0);
        // Random bytes after it decode as zstd blocks for a while, in a 1 MiB window.
        QTest::newRow("zstd frame header every 512 bytes")
            << everyBlock(QByteArray("\x28\xb5\x2f\xfd\x00\x50", 6)) << qint64(0);
        // A name size of 0xD0000000 in the second header of a newc archive.
        QByteArray huge = makeArchive(
            ARCHIVE_FORMAT_CPIO_SVR4_NOCRC, ARCHIVE_FILTER_NONE, sampleFiles(11, 2, 1000));
        huge.replace(huge.indexOf("070701", 6) + 94, 8, "D0000000");
        QTest::newRow("newc name of 3.49 GB") << huge << qint64(256 << 20);
    }

    void badInputStaysCheap()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, zeros);
        const QString path = image(QStringLiteral("costly.tape"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.write(content) == content.size() && file.resize(content.size() + zeros));
        file.close();
        QElapsedTimer timer;
        timer.start();
        const ScanResult result = scanImage(path);
        // Quadratic, the 8 MiB of newc magics took 16 s; a try that costs a new zstd
        // window and heap, 40 s. Now each takes well under one.
        QVERIFY2(timer.elapsed() < 8000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(result.rawRegions.size() <= 1, qPrintable(listing(result)));
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        // Holding the 256 MiB that header asks for would show here.
        QVERIFY2(usage.ru_maxrss < 224 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
    }

    // The same work the fuzzer does: files no run writes, and seeded mutations of a valid
    // image. Each ends in a result that stays inside the image, and extracts.
    void badImagesNeverCrash()
    {
        const auto piece = [](int format, int filter, quint32 seed) {
            return asRecords(makeArchive(format, filter, sampleFiles(seed, 2, 3000)), 512);
        };
        const QByteArray seed = piece(ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_GZIP, 1)
            + piece(ARCHIVE_FORMAT_CPIO_SVR4_NOCRC, ARCHIVE_FILTER_NONE, 2)
            + piece(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE, 3)
            + ImageFile::trailerText(512, 512);
        // With whether a trailer is taken: an empty tape's " 0 1 0 1" is one.
        QVector<QPair<QByteArray, int>> contents { { {}, 0 }, { " 0 1 0 1", 1 },
            { QByteArray(4 * 512, '\0') + " 512 3 512 3", 1 } };
        QRandomGenerator random(2024);
        for (int round = 0; round < 150; ++round) {
            QByteArray content = seed;
            const int edits = 1 + int(random.bounded(8));
            for (int e = 0; e < edits; ++e)
                content[int(random.bounded(content.size()))] = char(random.bounded(256));
            if (round % 5 == 0)
                content.truncate(int(random.bounded(content.size())));
            contents.append({ content, -1 });
        }
        const QString path = image(QStringLiteral("mutated.tape"));
        for (const auto &content : qAsConst(contents)) {
            QVERIFY(writeFile(path, content.first));
            const ScanResult result = scanImage(path);
            QVERIFY(result.error.isEmpty());
            QCOMPARE(result.facts.fileSize, qint64(content.first.size()));
            QVERIFY(content.second < 0 || result.facts.hasTrailer == bool(content.second));
            for (const FoundArchive &archive : result.archives)
                QVERIFY(archive.offset + archive.length <= result.facts.streamLength);
            QVERIFY(!listing(result).isEmpty());
            extract(result);
        }
    }
};

QTEST_GUILESS_MAIN(TestScanner)
#include "tst_scanner.moc"
