#include "platform/tap/tap_file.h"
#include "platform/tap/tap_format.h"
#include "platform/tap/tap_pipeline.h"
#include "platform/tap/tap_writer.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

/// "R7 E0 M EOM": a record of 7 bytes, an empty one flagged unreadable, a mark, the end.
struct Step
{
    char kind;
    std::uint32_t length;
    bool error;
};

QVector<Step> steps(const QString &script)
{
    QVector<Step> out;
    for (const QString &word : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word == QLatin1String("M"))
            out.append({ 'M', 0, false });
        else if (word == QLatin1String("EOM"))
            out.append({ 'X', 0, false });
        else
            out.append({ 'R', word.mid(1).toUInt(), word.at(0) == QLatin1Char('E') });
    }
    return out;
}

QByteArray content(std::uint32_t length)
{
    QByteArray bytes(int(length), '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + 1);
    return bytes;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
}

/// Resident memory of this process in bytes.
qint64 resident()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

} // namespace

class TestTapFormat : public QObject
{
    Q_OBJECT

private slots:
    void recordWord_data();
    void recordWord();
    void bothWritersFrameAlike_data();
    void bothWritersFrameAlike();
    void bufferRidesOutAStall_data();
    void bufferRidesOutAStall();

private:
    QTemporaryDir m_dir;
};

void TestTapFormat::recordWord_data()
{
    QTest::addColumn<quint32>("length");
    QTest::addColumn<bool>("error");
    QTest::addColumn<quint32>("word");
    QTest::newRow("a record") << 100u << false << 100u;
    QTest::newRow("flagged") << 100u << true << 0x80000064u;
    // Its word would be 0, which reads back as a tape mark.
    QTest::newRow("empty, read whole") << 0u << false << 0u;
    QTest::newRow("empty, flagged") << 0u << true << 0x80000000u;
    QTest::newRow("the longest") << 0x0FFFFFFFu << false << 0x0FFFFFFFu;
    // One more would run into the class bits and read back as another kind of word.
    QTest::newRow("too long") << 0x10000000u << false << 0u;
    QTest::newRow("too long, flagged") << 0x10000000u << true << 0u;
}

void TestTapFormat::recordWord()
{
    QFETCH(quint32, length);
    QFETCH(bool, error);
    QTEST(TapFormat::recordWord(length, error), "word");
}

void TestTapFormat::bothWritersFrameAlike_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("readBack");
    QTest::newRow("even and odd") << "R100 R7 M R1 M"
                                  << "R100 R7 M R1 M E";
    QTest::newRow("flagged, odd") << "E5 R4 M"
                                  << "C5 R4 M E";
    QTest::newRow("empty flagged") << "E0 M"
                                   << "C0 M E";
    QTest::newRow("end of medium") << "R3 EOM"
                                   << "R3 EOM";
    // Both refuse what they cannot frame and keep nothing of it (mktap stops there).
    QTest::newRow("empty read whole refused") << "R2 R0"
                                              << "R2 E";
}

void TestTapFormat::bothWritersFrameAlike()
{
    QFETCH(QString, script);
    QVERIFY(m_dir.isValid());
    const QString writerPath = m_dir.filePath(QStringLiteral("writer.tap"));
    const QString pipePath = m_dir.filePath(QStringLiteral("pipe.tap"));

    TapWriter writer;
    QVERIFY(writer.open(writerPath.toStdString()));
    const int fd
        = ::open(QFile::encodeName(pipePath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QVERIFY(fd >= 0);
    {
        TapPipeline pipe(fd, 1 << 16);
        QVERIFY(pipe.start());
        for (const Step &step : steps(script)) {
            if (step.kind == 'M') {
                writer.writeTapeMark();
                pipe.commitMark();
            } else if (step.kind == 'X') {
                writer.writeEndOfMedium();
                pipe.commitEndOfMedium();
            } else {
                const QByteArray data = content(step.length);
                const bool framed = TapFormat::recordWord(step.length, step.error) != 0;
                QCOMPARE(writer.writeRecord(data.constData(), step.length, step.error), framed);
                std::memcpy(pipe.recordBuffer(), data.constData(), std::size_t(data.size()));
                QCOMPARE(pipe.commitRecord(step.length, step.error), framed);
            }
        }
        QVERIFY(pipe.finish());
    }
    ::close(fd);
    writer.close(); // false after a refused record, which is not what is compared here

    const QByteArray bytes = readFile(pipePath);
    QCOMPARE(bytes, readFile(writerPath));

    // And the reader reads back what went in, bytes and all.
    const int in = ::open(QFile::encodeName(pipePath).constData(), O_RDONLY);
    QVERIFY(in >= 0);
    TapFile tape(in, bytes.size());
    QStringList seen;
    QByteArray buffer(1 << 16, '\0');
    for (;;) {
        std::uint32_t copied = 0;
        const TapFile::Object object
            = tape.read(buffer.data(), std::uint32_t(buffer.size()), copied);
        if (object.kind == TapFile::Kind::End) {
            seen << (object.endOfMedium ? QStringLiteral("EOM") : QStringLiteral("E"));
            break;
        }
        if (object.kind == TapFile::Kind::Mark) {
            seen << QStringLiteral("M");
            continue;
        }
        QCOMPARE(buffer.left(int(copied)), content(object.length));
        seen << (object.error ? QStringLiteral("C") : QStringLiteral("R"))
                + QString::number(object.length);
    }
    ::close(in);
    QTEST(seen.join(QLatin1Char(' ')), "readBack");
}

// The buffer between reading and writing: a disk that stalls must not stop the reader when the
// buffer holds what comes meanwhile, the reader's waits are counted when it does not, and a
// disk that keeps up leaves the buffer's memory untouched. Faults: a queue of four chunks
// whatever the buffer; a queue that took its chunks in turn, touching all of them.
void TestTapFormat::bufferRidesOutAStall_data()
{
    QTest::addColumn<int>("bufferMiB");
    QTest::addColumn<int>("stallMs"); // before the disk takes anything
    QTest::addColumn<bool>("waits");
    QTest::addColumn<int>("residentMiB"); // at most this much more memory afterwards
    QTest::newRow("stall within the buffer") << 64 << 300 << false << 24;
    QTest::newRow("stall longer than the buffer") << 4 << 300 << true << 24;
    QTest::newRow("a disk that keeps up, a large buffer") << 1024 << 0 << false << 12;
}

void TestTapFormat::bufferRidesOutAStall()
{
    QFETCH(int, bufferMiB);
    QFETCH(int, stallMs);
    constexpr int kRecords = 256; // 16 MiB of 64 KiB records
    constexpr std::uint32_t kLength = 1 << 16;
    int ends[2];
    QVERIFY(::pipe(ends) == 0);
    qint64 drained = 0;
    std::thread disk([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
        std::vector<char> sink(1 << 16);
        for (ssize_t got; (got = ::read(ends[0], sink.data(), sink.size())) > 0;)
            drained += got;
    });
    const qint64 before = resident();
    TapPipeline pipe(ends[1], kLength, quint64(bufferMiB) << 20);
    QVERIFY(pipe.start());
    for (int i = 0; i < kRecords; ++i) {
        std::memset(pipe.recordBuffer(), i, kLength);
        QVERIFY(pipe.commitRecord(kLength, false));
    }
    QVERIFY(pipe.finish());
    const qint64 grown = resident() - before;
    ::close(ends[1]);
    disk.join();
    ::close(ends[0]);
    QCOMPARE(drained, qint64(kRecords) * (kLength + 8));
    QFETCH(bool, waits);
    QCOMPARE(pipe.readerWaits() > 0, waits);
    QCOMPARE(pipe.readerWaitNanoseconds() > quint64(stallMs) * 500000, waits);
    QFETCH(int, residentMiB);
    QVERIFY2(grown < qint64(residentMiB) << 20, qPrintable(QString::number(grown)));
}

QTEST_GUILESS_MAIN(TestTapFormat)
#include "tst_tap_format.moc"
