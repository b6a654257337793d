#include "scanner/core/carver.h"
#include "scanner/core/extractor.h"
#include "scanner/core/report.h"
#include "tst_scanner_images.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Quorlin;
using namespace ScannerTest;

namespace {

struct TapeFile
{
    int format;
    int filter;
};
using TapeFiles = QVector<TapeFile>;

struct Layout
{
    int blockSize = 10240;
    int tapeMarks = 1; ///< zero records after each tape file
    bool trailer = true;
    quint32 trailerBlockSize = 0; ///< 0: the true block size
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(TapeFiles)
Q_DECLARE_METATYPE(Layout)

class TestScanner : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString image(const QString &name) const { return m_dir.filePath(name); }

    void verifyExtracted(const ScanResult &result, int archive, const QVector<File> &files)
    {
        QTemporaryDir out;
        Selection selection;
        for (int e = 0; e < result.archives[archive].entries.size(); ++e)
            selection.entries[archive].insert(e);
        Extractor extractor(result, out.path());
        QVERIFY2(
            extractor.run(selection), qPrintable(extractor.problems().join(QLatin1Char('\n'))));
        for (const File &file : files) {
            const QString path = out.filePath(entryOutputName(archive, file.name));
            QVERIFY2(readFile(path) == file.data, qPrintable(path));
        }
    }

private slots:
    void findsEveryArchiveAndExtractsItExactly_data()
    {
        QTest::addColumn<TapeFiles>("tapeFiles");
        QTest::addColumn<Layout>("layout");
        const TapeFile gnu { ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_NONE };
        QTest::newRow("one tar") << TapeFiles { gnu } << Layout {};
        QTest::newRow("three tars between tape marks")
            << TapeFiles { { ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE }, gnu,
                   { ARCHIVE_FORMAT_TAR, ARCHIVE_FILTER_NONE } }
            << Layout {};
        QTest::newRow("gzip tar") << TapeFiles {
            { ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_GZIP }
        } << Layout {};
        QTest::newRow("newc cpio")
            << TapeFiles { { ARCHIVE_FORMAT_CPIO_SVR4_NOCRC, ARCHIVE_FILTER_NONE } } << Layout {};
        QTest::newRow("odc cpio in bzip2, xz tar, no tape mark")
            << TapeFiles { { ARCHIVE_FORMAT_CPIO_POSIX, ARCHIVE_FILTER_BZIP2 },
                   { ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, ARCHIVE_FILTER_XZ } }
            << Layout { 10240, 0, true, 0 };
        QTest::newRow("gzip tar after gzip tar")
            << TapeFiles { { ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_GZIP },
                   { ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_GZIP } }
            << Layout {};
        QTest::newRow("no trailer")
            << TapeFiles { gnu, { ARCHIVE_FORMAT_CPIO_SVR4_NOCRC, ARCHIVE_FILTER_GZIP } }
            << Layout { 10240, 1, false, 0 };
        QTest::newRow("trailer lies about the block size")
            << TapeFiles { gnu, gnu } << Layout { 10240, 1, true, 65536 };
        QTest::newRow("trailer block size out of range")
            << TapeFiles { gnu, gnu } << Layout { 10240, 1, true, 999999 };
        QTest::newRow("512-byte records") << TapeFiles { gnu, gnu } << Layout { 512, 2, true, 0 };
    }

    void findsEveryArchiveAndExtractsItExactly()
    {
        QFETCH(TapeFiles, tapeFiles);
        QFETCH(Layout, layout);
        QByteArray body;
        QVector<QVector<File>> originals;
        for (int i = 0; i < tapeFiles.size(); ++i) {
            originals.append(sampleFiles(quint32(100 + i)));
            body += asRecords(
                makeArchive(tapeFiles[i].format, tapeFiles[i].filter, originals.last()),
                layout.blockSize);
            body += QByteArray(layout.tapeMarks * layout.blockSize, '\0');
        }
        const quint32 trailerS
            = layout.trailerBlockSize ? layout.trailerBlockSize : layout.blockSize;
        const QString path = image(QStringLiteral("found.tape"));
        QVERIFY(writeImage(path, body, layout.trailer, quint32(layout.blockSize), trailerS));

        const ScanResult result = scanImage(path);
        QCOMPARE(result.facts.hasTrailer, layout.trailer);
        QCOMPARE(result.facts.bodyLength, qint64(body.size()));
        QCOMPARE(result.facts.trailerNote.isEmpty(), layout.trailer && !layout.trailerBlockSize);
        QVERIFY2(result.rawRegions.isEmpty(), qPrintable(listing(result)));
        QCOMPARE(result.archives.size(), tapeFiles.size());
        for (int i = 0; i < tapeFiles.size(); ++i) {
            const FoundArchive &found = result.archives[i];
            QVERIFY2(!found.damaged, qPrintable(found.note));
            QCOMPARE(found.filter.isEmpty(), tapeFiles[i].filter == ARCHIVE_FILTER_NONE);
            QCOMPARE(found.entries.size(), originals[i].size());
            QCOMPARE(found.entries.first().path, originals[i].first().name);
            verifyExtracted(result, i, originals[i]);
        }
    }

    void damagedArchiveKeepsWhatSurrounds_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<int>("badRecord");
        QTest::addColumn<QVector<int>>("recovered"); ///< file numbers read back whole
        // Record 4 holds the header of file 1; the files around it stay readable.
        QTest::newRow("plain tar") << int(ARCHIVE_FILTER_NONE) << 4 << QVector<int> { 0, 2 };
        // A compressed stream cannot be resumed past the damage.
        QTest::newRow("gzip tar") << int(ARCHIVE_FILTER_GZIP) << 6 << QVector<int> { 0 };
    }

    void damagedArchiveKeepsWhatSurrounds()
    {
        QFETCH(int, filter);
        QFETCH(int, badRecord);
        QFETCH(QVector<int>, recovered);
        const QVector<File> files = sampleFiles(7);
        QByteArray body = asRecords(makeArchive(ARCHIVE_FORMAT_TAR_USTAR, filter, files), 10240);
        QRandomGenerator garbage(3);
        for (int i = 0; i < 10240; ++i)
            body[badRecord * 10240 + i] = char(garbage.bounded(256));
        const QString path = image(QStringLiteral("damaged.tape"));
        QVERIFY(writeImage(path, body, true, 10240, 10240));

        const ScanResult result = scanImage(path);
        QVERIFY(!result.archives.isEmpty());
        QVERIFY(result.archives.first().damaged);
        QVERIFY(result.archives.first().note.contains(QLatin1String("Damaged at offset")));
        QVERIFY2(!result.rawRegions.isEmpty(), "the damaged bytes are offered as raw data");
        QTemporaryDir out;
        Extractor extractor(result, out.path());
        extractor.run(selectMatching(result, {}));
        QSet<QByteArray> written;
        for (const QString &file : extractor.written())
            written.insert(readFile(file));
        for (int i : recovered)
            QVERIFY2(written.contains(files[i].data), qPrintable(files[i].name));
        QVERIFY(!written.contains(files[1].data));
    }

    void randomDataIsOneRawRegion()
    {
        QByteArray body(300 * 1024, Qt::Uninitialized);
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32 *>(body.data()), body.size() / 4);
        const QString path = image(QStringLiteral("random.tape"));
        QVERIFY(writeImage(path, body, true, 65536, 65536));
        const ScanResult result = scanImage(path);
        QVERIFY(result.archives.isEmpty());
        QCOMPARE(result.rawRegions.size(), 1);
        QCOMPARE(result.rawRegions[0].offset, qint64(0));
        QCOMPARE(result.rawRegions[0].length, qint64(body.size()));
        QTemporaryDir out;
        Extractor extractor(result, out.path());
        QVERIFY(extractor.run(selectMatching(result, { QStringLiteral("raw-*") })));
        QCOMPARE(readFile(out.filePath(QStringLiteral("raw-0.bin"))), body);
    }

    void badInputEndsCleanly_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("trailer");
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("trailer only") << QByteArray(" 0 1 0 1") << true;
        QTest::newRow("trailer with zero block size") << QByteArray(2048, 'x') + " 5 1 0 1" << true;
        QTest::newRow("digits that are not a trailer") << QByteArray("12345678") << false;
        QTest::newRow("line end after the trailer") << QByteArray(" 512 3 512 3\n") << false;
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
        QVERIFY(writeImage(path, content, false, 0, 0));
        const ScanResult result = scanImage(path);
        QVERIFY(result.error.isEmpty());
        QCOMPARE(result.facts.hasTrailer, trailer);
        QCOMPARE(result.facts.fileSize, qint64(content.size()));
        QVERIFY(!listing(result).isEmpty());
        for (const FoundArchive &archive : result.archives)
            QVERIFY(archive.offset + archive.length <= result.facts.bodyLength);
    }

    // The same work the fuzzer does, over seeded mutations of a valid image.
    void mutatedImagesNeverCrash()
    {
        QByteArray seed = asRecords(makeArchive(ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_GZIP,
                                        sampleFiles(1, 2, 3000)),
                              512)
            + asRecords(makeArchive(ARCHIVE_FORMAT_CPIO_SVR4_NOCRC, ARCHIVE_FILTER_NONE,
                            sampleFiles(2, 2, 3000)),
                512)
            + asRecords(
                makeArchive(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE, sampleFiles(3, 2, 3000)),
                512)
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
            QVERIFY(writeImage(path, content, false, 0, 0));
            const ScanResult result = scanImage(path);
            QVERIFY(result.error.isEmpty());
            QTemporaryDir out;
            Extractor(result, out.path()).run(selectMatching(result, {}));
        }
    }

    void commandLineListsAndExtractsWithoutDisplay()
    {
        const QVector<File> files = sampleFiles(9);
        const QString path = image(QStringLiteral("cli image.tape"));
        QVERIFY(writeImage(path,
            asRecords(makeArchive(ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_GZIP, files), 10240),
            true, 10240, 10240));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-display"));
        const QString program = QStringLiteral(TARNWICK_BIN_DIR "/quorlin");
        QProcess list;
        list.setProcessEnvironment(environment);
        list.start(program, { QStringLiteral("--list"), path });
        QVERIFY(list.waitForFinished(30000));
        QCOMPARE(list.exitCode(), 0);
        const QString text = QString::fromUtf8(list.readAllStandardOutput());
        QVERIFY(text.contains(QLatin1String("T = 10240, S = 10240")));
        QVERIFY(text.contains(QLatin1String("archive-1/docs/file-2.bin")));

        QTemporaryDir out;
        QProcess extract;
        extract.setProcessEnvironment(environment);
        extract.start(
            program, { QStringLiteral("--extract"), path, out.path(), QStringLiteral("*file-1*") });
        QVERIFY(extract.waitForFinished(30000));
        QCOMPARE(extract.exitCode(), 0);
        QCOMPARE(
            readFile(out.filePath(QStringLiteral("archive-1/docs/file-1.bin"))), files[1].data);
        QVERIFY(!QFile::exists(out.filePath(QStringLiteral("archive-1/docs/file-0.bin"))));

        QProcess wrong;
        wrong.start(program, { QStringLiteral("--extract"), path });
        QVERIFY(wrong.waitForFinished(30000));
        QCOMPARE(wrong.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestScanner)
#include "tst_scanner.moc"
