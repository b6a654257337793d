#include "scanner/core/carver.h"
#include "scanner/core/extractor.h"
#include "scanner/core/report.h"
#include "scanner/core/signatures.h"
#include "tst_scanner_images.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Quorlin;
using namespace ScannerTest;

namespace {

/// One tape file: an archive of libarchive's format and filter, written in
/// blocks of @c block bytes, the last one short unless @c padLast.
struct TapeFile
{
    int format;
    int filter;
    int block;
    bool padLast = true;
};
using TapeFiles = QVector<TapeFile>;

} // namespace

Q_DECLARE_METATYPE(TapeFiles)

class TestScanner : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString image(const QString &name) const { return m_dir.filePath(name); }

    static void verifyExtracted(const ScanResult &result, int archive, const QVector<File> &files)
    {
        QTemporaryDir out;
        Selection selection;
        for (int e = 0; e < result.archives[archive].entries.size(); ++e)
            selection.entries[archive].insert(e);
        Extractor extractor(result, out.path());
        QVERIFY2(
            extractor.run(selection), qPrintable(extractor.problems().join(QLatin1Char('\n'))));
        QCOMPARE(result.archives[archive].entries.size(), files.size());
        for (const File &file : files) {
            const QString path = out.filePath(entryOutputName(archive, file.name));
            QVERIFY2(fileBytes(path) == file.data, qPrintable(path));
        }
    }

    static QByteArray extractAll(const ScanResult &result, QSet<QByteArray> *contents)
    {
        QTemporaryDir out;
        Extractor extractor(result, out.path());
        extractor.run(selectMatching(result, {}));
        for (const QString &file : extractor.written())
            contents->insert(fileBytes(file));
        return extractor.problems().join(QLatin1Char('\n')).toUtf8();
    }

private slots:
    void engineImagesGiveBackEveryFile_data()
    {
        QTest::addColumn<TapeFiles>("tapeFiles");
        QTest::addColumn<QString>("blockSize"); ///< the run's choice
        QTest::addColumn<int>("randomTail"); ///< bytes of random data as a last tape file
        QTest::addColumn<bool>("padded"); ///< records of T data bytes and zeros up to S

        const int none = ARCHIVE_FILTER_NONE;
        const TapeFile gnu { ARCHIVE_FORMAT_TAR_GNUTAR, none, 10240 };
        const QString autoSize = QStringLiteral("Auto");
        // clang-format off
        QTest::newRow("one tar") << TapeFiles{gnu} << autoSize << 0 << false;
        QTest::newRow("three tars between tape marks") << TapeFiles{
            {ARCHIVE_FORMAT_TAR_USTAR, none, 10240}, gnu, {ARCHIVE_FORMAT_TAR, none, 10240}}
            << autoSize << 0 << false;
        QTest::newRow("odc cpio in bzip2, pax tar in xz") << TapeFiles{
            {ARCHIVE_FORMAT_CPIO_POSIX, ARCHIVE_FILTER_BZIP2, 32768},
            {ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, ARCHIVE_FILTER_XZ, 32768}}
            << QStringLiteral("32768") << 0 << false;
        QTest::newRow("random data only") << TapeFiles{} << autoSize << 300 * 1024 << false;
        // An Auto run stops once the records so far outweigh the block count times the
        // current length (a tape mark counts as long as the first block): a long tail in
        // the first block's size keeps every archive inside the image.
        QTest::newRow("Auto, three block sizes") << TapeFiles{
            {ARCHIVE_FORMAT_CPIO_SVR4_NOCRC, none, 512}, gnu,
            {ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_GZIP, 65536}} << autoSize << 600 * 1024
            << false;
        // Tape marks as long as the 1000-byte first block put the later files off the 512 grid.
        QTest::newRow("Auto, odd first block") << TapeFiles{
            {ARCHIVE_FORMAT_TAR_USTAR, none, 1000}, gnu, gnu} << autoSize << 600 * 1024 << false;
        // A larger size answered Yes ends the run early (half the blocks at 131072 over 65536):
        // the random tail keeps the archives in the part it reads.
        QTest::newRow("16384 answered Yes over 10240-byte blocks") << TapeFiles{gnu,
            {ARCHIVE_FORMAT_CPIO_SVR4_NOCRC, none, 10240}}
            << QStringLiteral("16384") << 300 * 1024 << true;
        QTest::newRow("padded, gzip tar ending in a short block") << TapeFiles{
            {ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_GZIP, 65536, false},
            {ARCHIVE_FORMAT_TAR_GNUTAR, none, 65536}}
            << QStringLiteral("131072") << 600 * 1024 << true;
        // clang-format on
    }

    void engineImagesGiveBackEveryFile()
    {
        QFETCH(TapeFiles, tapeFiles);
        QFETCH(QString, blockSize);
        QFETCH(int, randomTail);
        QFETCH(bool, padded);
        Tape tape;
        QVector<QVector<File>> originals;
        for (int i = 0; i < tapeFiles.size(); ++i) {
            const TapeFile &file = tapeFiles[i];
            originals.append(sampleFiles(quint32(100 + i)));
            tape.file(
                makeArchive(file.format, file.filter, originals.last()), file.block, file.padLast);
        }
        const QByteArray tail = randomBytes(55, randomTail);
        if (randomTail > 0)
            tape.file(tail, tapeFiles.isEmpty() ? 65536 : tapeFiles.first().block);
        tape.mark();
        QTemporaryDir dir;
        const QString path = imageFromTape(dir.path(), tape, blockSize);
        QVERIFY(!path.isEmpty());

        const ScanResult result = scanImage(path);
        QVERIFY(result.facts.hasTrailer);
        QVERIFY2((result.facts.recordData > 0) == padded, qPrintable(listing(result)));
        if (padded) {
            QCOMPARE(result.facts.recordData, qint64(tapeFiles.first().block));
            QVERIFY(result.facts.trailerNote.contains(QLatin1String("padding is left out")));
        }
        QVERIFY2(result.archives.size() == tapeFiles.size(), qPrintable(listing(result)));
        for (int i = 0; i < tapeFiles.size(); ++i) {
            const FoundArchive &found = result.archives[i];
            QVERIFY2(!found.damaged, qPrintable(found.note));
            QCOMPARE(found.filter.isEmpty(), tapeFiles[i].filter == ARCHIVE_FILTER_NONE);
            verifyExtracted(result, i, originals[i]);
        }
        // What is not an archive comes back as raw data, as it was on the tape.
        QCOMPARE(result.rawRegions.size(), randomTail > 0 ? 1 : 0);
        if (randomTail > 0) {
            QTemporaryDir out;
            Extractor extractor(result, out.path());
            QVERIFY(extractor.run(selectMatching(result, { QStringLiteral("raw-*") })));
            const QByteArray raw = fileBytes(extractor.written().value(0));
            QVERIFY(raw.size() >= 65536);
            QVERIFY(tail.startsWith(raw));
        }
    }

    // Random data must not pass for an archive start, or a raw region turns into
    // dozens of "damaged archives" with garbage names.
    void archiveStartsNeedAWholeHeader_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<bool>("archive");
        const QByteArray binary
            = makeArchive(ARCHIVE_FORMAT_CPIO_BIN_LE, ARCHIVE_FILTER_NONE, sampleFiles(1, 1, 100))
                  .left(512);
        QByteArray swapped = binary; // the same header from a big-endian machine
        for (int i = 0; i < 26; i += 2)
            std::swap(swapped.data()[i], swapped.data()[i + 1]);
        const QByteArray noise = randomBytes(77, 512);
        QByteArray tar
            = makeArchive(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE, sampleFiles(1, 1, 100))
                  .left(512);
        QTest::newRow("binary cpio") << binary << true;
        QTest::newRow("big-endian binary cpio") << swapped << true;
        QTest::newRow("binary cpio magic, then noise") << binary.left(2) + noise.mid(2) << false;
        QTest::newRow("big-endian magic, then noise") << swapped.left(2) + noise.mid(2) << false;
        QTest::newRow("binary cpio with an unknown file type")
            << binary.left(7) + char(binary[7] | 0x70) + binary.mid(8) << false;
        QTest::newRow("tar") << tar << true;
        tar[0] = char(tar[0] + 1);
        QTest::newRow("tar with a wrong checksum") << tar << false;
    }

    void archiveStartsNeedAWholeHeader()
    {
        QFETCH(QByteArray, start);
        QFETCH(bool, archive);
        const auto *bytes = reinterpret_cast<const unsigned char *>(start.constData());
        QCOMPARE(detectSignature(bytes, std::size_t(start.size())) != Signature::None, archive);
    }

    void damagedBlockKeepsWhatSurrounds_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<int>("badRecord");
        QTest::addColumn<QVector<int>>("recovered"); ///< file numbers read back whole
        // Record 4 holds the header of file 1; the files around it stay readable.
        QTest::newRow("plain tar") << int(ARCHIVE_FILTER_NONE) << 4 << QVector<int> { 0, 2 };
        // A compressed stream cannot be resumed past the damage.
        QTest::newRow("gzip tar") << int(ARCHIVE_FILTER_GZIP) << 6 << QVector<int> { 0 };
    }

    void damagedBlockKeepsWhatSurrounds()
    {
        QFETCH(int, filter);
        QFETCH(int, badRecord);
        QFETCH(QVector<int>, recovered);
        const QVector<File> files = sampleFiles(7);
        Tape tape;
        tape.file(makeArchive(ARCHIVE_FORMAT_TAR_USTAR, filter, files), 10240).mark();
        tape.damage(badRecord, 3);
        QTemporaryDir dir;
        const QString path = imageFromTape(dir.path(), tape, QStringLiteral("Auto"));
        QVERIFY(!path.isEmpty());

        const ScanResult result = scanImage(path);
        QVERIFY(!result.archives.isEmpty());
        QVERIFY(result.archives.first().damaged);
        QVERIFY(result.archives.first().note.contains(QLatin1String("Damaged at image offset")));
        QVERIFY2(!result.rawRegions.isEmpty(), "the damaged bytes are offered as raw data");
        QSet<QByteArray> written;
        QVERIFY(!extractAll(result, &written).isEmpty()); // the damage is reported
        for (int i : recovered)
            QVERIFY2(written.contains(files[i].data), qPrintable(files[i].name));
        QVERIFY(!written.contains(files[1].data));
    }

    /// Images that no run writes: a trailer missing, lying, or shorter than the blocks.
    void handMadeTrailers_data()
    {
        QTest::addColumn<bool>("trailer");
        QTest::addColumn<quint32>("tapeBlockLength");
        QTest::addColumn<quint32>("blockSize");
        QTest::addColumn<QString>("note");
        QTest::newRow("no trailer") << false << 0u << 0u << QStringLiteral("No trailer");
        QTest::newRow("block size that does not divide the body")
            << true << 10240u << 65536u << QStringLiteral("not all 65536 bytes");
        QTest::newRow("block size out of range")
            << true << 10240u << 999999u << QStringLiteral("not all 999999 bytes");
        // Cutting each 20480-byte record at T would lose the second half of every block.
        QTest::newRow("T shorter than the blocks")
            << true << 10240u << 20480u << QStringLiteral("read whole");
    }

    void handMadeTrailers()
    {
        QFETCH(bool, trailer);
        QFETCH(quint32, tapeBlockLength);
        QFETCH(quint32, blockSize);
        QFETCH(QString, note);
        const QVector<File> first = sampleFiles(31);
        const QVector<File> second = sampleFiles(32);
        QByteArray body
            = asRecords(makeArchive(ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_NONE, first), 20480);
        body += QByteArray(20480, '\0');
        body += asRecords(
            makeArchive(ARCHIVE_FORMAT_CPIO_SVR4_NOCRC, ARCHIVE_FILTER_GZIP, second), 20480);
        const QString path = image(QStringLiteral("hand-made.tape"));
        QVERIFY(writeFile(
            path, trailer ? body + ImageFile::trailerText(tapeBlockLength, blockSize) : body));

        const ScanResult result = scanImage(path);
        QCOMPARE(result.facts.hasTrailer, trailer);
        QCOMPARE(result.facts.streamLength, qint64(body.size()));
        QVERIFY2(result.facts.trailerNote.contains(note), qPrintable(result.facts.trailerNote));
        QVERIFY2(result.rawRegions.isEmpty(), qPrintable(listing(result)));
        QCOMPARE(result.archives.size(), 2);
        verifyExtracted(result, 0, first);
        verifyExtracted(result, 1, second);
    }

    void badInputEndsCleanly_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("trailer");
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("trailer only") << QByteArray(" 0 1 0 1") << true;
        QTest::newRow("trailer with zero block size") << QByteArray(2048, 'x') + " 5 1 0 1" << true;
        QByteArray truncated
            = makeArchive(ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_NONE, sampleFiles(5));
        truncated.truncate(30000);
        QTest::newRow("tar cut short, no trailer") << truncated << false;
        QByteArray gzip
            = makeArchive(ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_GZIP, sampleFiles(6));
        QTest::newRow("gzip cut short") << gzip.left(gzip.size() / 2) + " 512 3 512 3" << true;
        QTest::newRow("lone tape marks") << QByteArray(4 * 512, '\0') + " 512 3 512 3" << true;
    }

    void badInputEndsCleanly()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, trailer);
        const QString path = image(QStringLiteral("bad.tape"));
        QVERIFY(writeFile(path, content));
        const ScanResult result = scanImage(path);
        QVERIFY(result.error.isEmpty());
        QCOMPARE(result.facts.hasTrailer, trailer);
        QCOMPARE(result.facts.fileSize, qint64(content.size()));
        QVERIFY(!listing(result).isEmpty());
        for (const FoundArchive &archive : result.archives)
            QVERIFY(archive.offset + archive.length <= result.facts.streamLength);
    }

    // The same work the fuzzer does, over seeded mutations of a valid image.
    void mutatedImagesNeverCrash()
    {
        const auto piece = [](int format, int filter, quint32 seed) {
            return asRecords(makeArchive(format, filter, sampleFiles(seed, 2, 3000)), 512);
        };
        const QByteArray seed = piece(ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_GZIP, 1)
            + piece(ARCHIVE_FORMAT_CPIO_SVR4_NOCRC, ARCHIVE_FILTER_NONE, 2)
            + piece(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE, 3)
            + ImageFile::trailerText(512, 512);
        QRandomGenerator random(2024);
        const QString path = image(QStringLiteral("mutated.tape"));
        for (int round = 0; round < 150; ++round) {
            QByteArray content = seed;
            const int edits = 1 + int(random.bounded(8));
            for (int e = 0; e < edits; ++e)
                content[int(random.bounded(content.size()))] = char(random.bounded(256));
            if (round % 5 == 0)
                content.truncate(int(random.bounded(content.size())));
            QVERIFY(writeFile(path, content));
            const ScanResult result = scanImage(path);
            QVERIFY(result.error.isEmpty());
            QTemporaryDir out;
            Extractor(result, out.path()).run(selectMatching(result, {}));
        }
    }
};

QTEST_GUILESS_MAIN(TestScanner)
#include "tst_scanner.moc"
