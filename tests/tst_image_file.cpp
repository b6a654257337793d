#include "imaging/image_file.h"
#include "tape_fixtures.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

ImageFile::Trailer trailerOf(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return ImageFile::readTrailer(buffer);
}

} // namespace

class TestImageFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void trailer_data()
    {
        QTest::addColumn<quint32>("tapeBlock");
        QTest::addColumn<quint32>("blockSize");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("65536 run") << 65536u << 65536u << QByteArray(" 65536 5 65536 5");
        QTest::newRow("empty image") << 0u << 0u << QByteArray(" 0 1 0 1");
        QTest::newRow("9 and 10") << 9u << 10u << QByteArray(" 9 1 10 2");
        QTest::newRow("99 and 524288") << 99u << 524288u << QByteArray(" 99 2 524288 6");
        QTest::newRow("over-long block") << 524289u << 65536u << QByteArray(" 524289 6 65536 5");
    }

    // The trailer as written to a real file (under a UTF-8 name), byte for byte, and read back.
    void trailer()
    {
        QFETCH(quint32, tapeBlock);
        QFETCH(quint32, blockSize);
        QFETCH(QByteArray, text);
        QCOMPARE(ImageFile::trailerText(tapeBlock, blockSize), text);

        const QString path = m_dir.filePath(QStringLiteral("Bänder – テープ (1).tape"));
        std::FILE *file = ImageFile::openForWriting(path);
        QVERIFY(file);
        QVERIFY(ImageFile::writeTrailer(file, tapeBlock, blockSize));
        QCOMPARE(std::fclose(file), 0);
        QCOMPARE(fileBytes(path), text);

        const ImageFile::Trailer trailer = ImageFile::readTrailer(path);
        QVERIFY2(trailer.valid, qPrintable(trailer.problem));
        QCOMPARE(trailer.tapeBlockLength, quint64(tapeBlock));
        QCOMPARE(trailer.blockSize, quint64(blockSize));
        QCOMPARE(trailer.trailerLength, qint64(text.size()));
        QCOMPARE(trailer.bodyLength, qint64(0));
        QCOMPARE(trailer.recordCount, qint64(0));
    }

    void recordsArePaddedWithZeros()
    {
        const QString path = m_dir.filePath(QStringLiteral("records.tape"));
        std::FILE *file = ImageFile::openForWriting(path);
        QVERIFY(file);
        QByteArray buffer(1024, char(0xEE)); // what an earlier, longer block left behind
        auto *data = reinterpret_cast<unsigned char *>(buffer.data());
        QVERIFY(ImageFile::writeRecord(file, data, 512, 512));
        buffer.fill('b', 100);
        QVERIFY(ImageFile::writeRecord(file, data, 100, 512));
        QVERIFY(ImageFile::writeRecord(file, data, 0, 512));
        QVERIFY(ImageFile::writeTrailer(file, 100, 512));
        QCOMPARE(std::fclose(file), 0);

        const QByteArray bytes = fileBytes(path);
        const QByteArray trailerText(" 100 3 512 3");
        QCOMPARE(bytes.size(), 3 * 512 + trailerText.size());
        QCOMPARE(bytes.left(512), QByteArray(512, char(0xEE)));
        QCOMPARE(bytes.mid(512, 100), QByteArray(100, 'b'));
        QCOMPARE(bytes.mid(612, 412), QByteArray(412, '\0'));
        QCOMPARE(bytes.mid(1024, 512), QByteArray(512, '\0'));
        QVERIFY(bytes.endsWith(trailerText));

        const ImageFile::Trailer trailer = ImageFile::readTrailer(path);
        QVERIFY(trailer.valid);
        QCOMPARE(trailer.bodyLength, qint64(1536));
        QCOMPARE(trailer.recordCount, qint64(3));
        QVERIFY(trailer.bodyDividesEvenly);
    }

    void fileWithoutTrailer_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("tiny") << QByteArray(" 1");
        QTest::newRow("seven bytes") << QByteArray(" 0 1 0 ");
        QTest::newRow("abandoned run") << QByteArray(4096, char(0xA5));
        QTest::newRow("zeros") << QByteArray(65536, '\0');
        QTest::newRow("line end after") << QByteArray(" 65536 5 65536 5\n");
        QTest::newRow("blank missing in front") << QByteArray("65536 5 65536 5");
        QTest::newRow("digit count too small") << QByteArray("xx 65536 4 65536 5");
        QTest::newRow("leading zero") << QByteArray("xx 065536 6 65536 5");
        QTest::newRow("zero digits") << QByteArray("xx 65536 5 65536 0");
        QTest::newRow("two blanks") << QByteArray("xx 65536 5  65536 5");
        QTest::newRow("letters") << QByteArray("xx 65a36 5 65536 5");
    }

    void fileWithoutTrailer()
    {
        QFETCH(QByteArray, bytes);
        const ImageFile::Trailer trailer = trailerOf(bytes);
        QVERIFY(!trailer.valid);
        QVERIFY(!trailer.problem.isEmpty());
        QCOMPARE(trailer.fileSize, qint64(bytes.size()));
        QCOMPARE(trailer.bodyLength, qint64(bytes.size()));
    }

    void missingFileIsReported()
    {
        const ImageFile::Trailer trailer
            = ImageFile::readTrailer(m_dir.filePath(QStringLiteral("none.tape")));
        QVERIFY(!trailer.valid);
        QVERIFY(!trailer.problem.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestImageFile)
#include "tst_image_file.moc"
