// mktap: writes a virtual tape (a SIMH .tap file) from files or generated data.
//
//   mktap --output tape.tap [--block-size N] [--file-block-size F:N]... [--error-record K]...
//         [--odd-record K]... [--pad-last] [--end-of-medium] INPUT...
//
// Each INPUT becomes one tape file, cut into records of the block size (or of
// the size --file-block-size gives tape file F, counted from 1: labels are
// 80-byte records around files of larger blocks) and followed by a tape mark. An INPUT of the form
// gen:SIZE is SIZE bytes of generated data (a repeating pattern that differs per file and per
// block).
#include "platform/tap/tap_format.h"
#include "platform/tap/tap_writer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace {

struct Options
{
    QString output;
    quint32 blockSize = 65536;
    QMap<int, quint32> fileBlockSizes; ///< by tape file, from 1
    QSet<quint64> errorRecords; ///< 1-based, counted over the whole tape
    QSet<quint64> oddRecords; ///< written one byte short
    bool padLast = false;
    bool endOfMedium = false;
    QStringList inputs;
};

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

bool parseRecordList(const QStringList &values, QSet<quint64> &records)
{
    for (const QString &value : values) {
        bool ok = false;
        const quint64 record = value.toULongLong(&ok);
        if (!ok || record == 0)
            return false;
        records.insert(record);
    }
    return true;
}

/// "F:N" values: tape file F (from 1) in records of N bytes.
bool parseFileBlockSizes(const QStringList &values, QMap<int, quint32> &sizes)
{
    for (const QString &value : values) {
        bool fileOk = false;
        bool sizeOk = false;
        const int file = value.section(QLatin1Char(':'), 0, 0).toInt(&fileOk);
        const quint32 size = value.section(QLatin1Char(':'), 1).toUInt(&sizeOk);
        if (!fileOk || !sizeOk || file < 1 || size == 0 || size > TapFormat::kLargestRecord)
            return false;
        sizes.insert(file, size);
    }
    return true;
}

bool parseOptions(const QCoreApplication &app, Options &options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a virtual tape (SIMH .tap file)."));
    parser.addHelpOption();
    const QCommandLineOption output({ QStringLiteral("o"), QStringLiteral("output") },
        QStringLiteral("The tape file to write."), QStringLiteral("file"));
    const QCommandLineOption block({ QStringLiteral("b"), QStringLiteral("block-size") },
        QStringLiteral("Record length in bytes (default 65536)."), QStringLiteral("bytes"),
        QStringLiteral("65536"));
    const QCommandLineOption fileBlock(QStringLiteral("file-block-size"),
        QStringLiteral("Record length of tape file F (from 1) alone."), QStringLiteral("F:N"));
    const QCommandLineOption error(QStringLiteral("error-record"),
        QStringLiteral("Flag record K (1-based) as unreadable."), QStringLiteral("K"));
    const QCommandLineOption odd(QStringLiteral("odd-record"),
        QStringLiteral("Write record K one byte short."), QStringLiteral("K"));
    const QCommandLineOption pad(
        QStringLiteral("pad-last"), QStringLiteral("Pad each file's last record with zeros."));
    const QCommandLineOption eom(QStringLiteral("end-of-medium"),
        QStringLiteral("End the tape with an end-of-medium marker."));
    parser.addOptions({ output, block, fileBlock, error, odd, pad, eom });
    parser.addPositionalArgument(
        QStringLiteral("inputs"), QStringLiteral("Files, or gen:SIZE for generated data."));
    parser.process(app);

    bool ok = false;
    options.output = parser.value(output);
    options.blockSize = parser.value(block).toUInt(&ok);
    options.padLast = parser.isSet(pad);
    options.endOfMedium = parser.isSet(eom);
    options.inputs = parser.positionalArguments();
    if (options.output.isEmpty() || options.inputs.isEmpty() || !ok || options.blockSize == 0
        || options.blockSize > TapFormat::kLargestRecord
        || !parseFileBlockSizes(parser.values(fileBlock), options.fileBlockSizes)
        || !parseRecordList(parser.values(error), options.errorRecords)
        || !parseRecordList(parser.values(odd), options.oddRecords)) {
        err() << parser.helpText() << Qt::flush;
        return false;
    }
    return true;
}

// Where one tape file's bytes come from: a file, or generated on the fly.
class Source
{
public:
    Source(const QString &input, int fileIndex)
        : m_file(input)
        , m_fileIndex(fileIndex)
    {
        if (input.startsWith(QLatin1String("gen:")))
            m_generated = input.mid(4).toLongLong(&m_isGenerated);
    }

    bool open() { return m_isGenerated ? m_generated >= 0 : m_file.open(QIODevice::ReadOnly); }
    QString errorString() const
    {
        return m_isGenerated ? QStringLiteral("bad size") : m_file.errorString();
    }

    /// Fills up to @p length bytes; returns the count (0 at the end), -1 on error.
    qint64 next(char *data, qint64 length)
    {
        if (!m_isGenerated)
            return m_file.read(data, length);
        const qint64 count = qMin(length, m_generated - m_offset);
        for (qint64 i = 0; i < count; ++i)
            data[i] = char('A' + (m_offset + i + m_fileIndex * 7) % 26);
        m_offset += count;
        return count;
    }

private:
    QFile m_file;
    int m_fileIndex;
    bool m_isGenerated = false;
    qint64 m_generated = 0;
    qint64 m_offset = 0;
};

// Reads up to `want` bytes into `block`; -1 on a read error.
qint64 fill(Source &source, std::vector<char> &block, qint64 want)
{
    qint64 filled = 0;
    while (filled < want) {
        const qint64 got = source.next(block.data() + filled, want - filled);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        filled += got;
    }
    return filled;
}

bool writeTapeFile(
    TapWriter &tape, Source &source, const Options &options, quint32 blockSize, quint64 &record)
{
    std::vector<char> block(blockSize);
    for (;;) {
        const quint64 number = record + 1;
        const bool odd = options.oddRecords.contains(number) && blockSize > 1;
        const qint64 want = qint64(blockSize) - (odd ? 1 : 0);
        qint64 filled = fill(source, block, want);
        if (filled < 0)
            return false;
        if (filled == 0)
            return true;
        const bool last = filled < want;
        if (last && options.padLast) {
            std::fill(block.begin() + filled, block.begin() + want, 0);
            filled = want;
        }
        record = number;
        if (!tape.writeRecord(block.data(), quint32(filled), options.errorRecords.contains(record)))
            return false;
        if (last)
            return true;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!parseOptions(app, options))
        return 2;
    TapWriter tape;
    if (!tape.open(QFile::encodeName(options.output).toStdString())) {
        err() << "mktap: cannot create " << options.output << '\n' << Qt::flush;
        return 1;
    }
    quint64 record = 0;
    for (int i = 0; i < options.inputs.size(); ++i) {
        Source source(options.inputs.at(i), i);
        if (!source.open()) {
            err() << "mktap: " << options.inputs.at(i) << ": " << source.errorString() << '\n'
                  << Qt::flush;
            return 1;
        }
        const quint32 blockSize = options.fileBlockSizes.value(i + 1, options.blockSize);
        if (!writeTapeFile(tape, source, options, blockSize, record) || !tape.writeTapeMark()) {
            err() << "mktap: cannot write " << options.output << '\n' << Qt::flush;
            return 1;
        }
    }
    if ((options.endOfMedium && !tape.writeEndOfMedium()) || !tape.close()) {
        err() << "mktap: cannot write " << options.output << '\n' << Qt::flush;
        return 1;
    }
    return 0;
}
