#include "platform/tap/tap_file.h"
#include "platform/tap/tap_format.h"
#include "platform/tap/tap_pipeline.h"
#include "platform/tap/tap_writer.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <fcntl.h>
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

} // namespace

class TestTapFormat : public QObject
{
    Q_OBJECT

private slots:
    void recordWord_data();
    void recordWord();
    void bothWritersFrameAlike_data();
    void bothWritersFrameAlike();

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
    QTest::newRow("empty read whole refused") << "R2 R0" << "R2 E";
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

QTEST_GUILESS_MAIN(TestTapFormat)
#include "tst_tap_format.moc"
