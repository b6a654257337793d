#include "imaging/image_file.h"

#include "platform/posix/native_file.h"

#include <QFile>
#include <QIODevice>

#include <cstring>

namespace ImageFile {

namespace {

// The longest trailer the reader looks at: blanks, two one-digit counts and
// two numbers of at most nine digits each.
constexpr qint64 kLongestTrailer = 4 + 2 + 9 + 9;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

Trailer invalid(Trailer trailer, const QString &problem)
{
    trailer.valid = false;
    trailer.bodyLength = trailer.fileSize;
    trailer.trailerLength = 0;
    trailer.problem = problem;
    return trailer;
}

// Reads the number of `count` digits that ends right before `end` in `tail`,
// with the blank in front of it; moves `end` to that blank.
bool numberBefore(const QByteArray &tail, int &end, int count, quint64 &value)
{
    const int start = end - count;
    if (count < 1 || start < 1 || tail.at(start - 1) != ' ')
        return false;
    if (count > 1 && tail.at(start) == '0')
        return false; // "% d" never writes leading zeros
    value = 0;
    for (int i = start; i < end; ++i) {
        if (!isDigit(tail.at(i)))
            return false;
        value = value * 10 + quint64(tail.at(i) - '0');
    }
    end = start - 1;
    return true;
}

// Reads " <digit>" ending right before `end`: a digit count.
bool countBefore(const QByteArray &tail, int &end, int &count)
{
    if (end < 2 || !isDigit(tail.at(end - 1)) || tail.at(end - 2) != ' ')
        return false;
    count = tail.at(end - 1) - '0';
    end -= 2;
    return count >= 1;
}

} // namespace

int digitCount(quint64 value)
{
    int digits = 1;
    for (quint64 rest = value / 10; rest != 0; rest /= 10)
        ++digits;
    return digits;
}

QByteArray trailerText(quint32 tapeBlockLength, quint32 blockSize)
{
    char text[64];
    const int length = std::snprintf(text, sizeof text, "% d% d% d% d", int(tapeBlockLength),
        digitCount(tapeBlockLength), int(blockSize), digitCount(blockSize));
    return QByteArray(text, length);
}

std::FILE *openForWriting(const QString &path)
{
    // Not fopen "wb": in a folder others can write to, a FIFO planted at the name would hang
    // the run and take its bytes, and a link would have them written over its target.
    return NativeFile::writingStream(NativeFile::createOrRewriteOwn(path.toUtf8()));
}

bool writeRecord(std::FILE *file, unsigned char *buffer, quint32 bytesRead, quint32 recordLength)
{
    if (!file)
        return false;
    if (bytesRead < recordLength)
        std::memset(buffer + bytesRead, 0, recordLength - bytesRead);
    return std::fwrite(buffer, 1, recordLength, file) == recordLength;
}

bool writeTrailer(std::FILE *file, quint32 tapeBlockLength, quint32 blockSize)
{
    if (!file)
        return false;
    const int values[] = { int(tapeBlockLength), digitCount(tapeBlockLength), int(blockSize),
        digitCount(blockSize) };
    bool written = true;
    for (int value : values)
        written = std::fprintf(file, "% d", value) > 0 && written;
    return written && std::ferror(file) == 0;
}

Trailer readTrailer(QIODevice &device)
{
    Trailer trailer;
    trailer.fileSize = device.size();
    trailer.bodyLength = trailer.fileSize;
    if (!device.isOpen() || !device.isReadable() || device.isSequential())
        return invalid(trailer, QStringLiteral("The file cannot be read from its end."));
    if (trailer.fileSize < 8)
        return invalid(trailer, QStringLiteral("The file is too short to hold a trailer."));
    const qint64 tailLength = qMin(trailer.fileSize, kLongestTrailer);
    if (!device.seek(trailer.fileSize - tailLength))
        return invalid(trailer, QStringLiteral("The end of the file cannot be read."));
    const QByteArray tail = device.read(tailLength);
    if (tail.size() != tailLength)
        return invalid(trailer, QStringLiteral("The end of the file cannot be read."));

    // Backwards from the last byte: D2, S, D1, T, each after one blank.
    int end = tail.size();
    int d2 = 0;
    int d1 = 0;
    quint64 s = 0;
    quint64 t = 0;
    if (!countBefore(tail, end, d2) || !numberBefore(tail, end, d2, s)
        || !countBefore(tail, end, d1) || !numberBefore(tail, end, d1, t)) {
        return invalid(trailer,
            QStringLiteral("The file does not end with a trailer \" T D1 S D2\": "
                           "it may be the file of an abandoned run."));
    }
    trailer.valid = true;
    trailer.tapeBlockLength = t;
    trailer.blockSize = s;
    trailer.trailerLength = 6 + d1 + d2;
    trailer.bodyLength = trailer.fileSize - trailer.trailerLength;
    if (s > 0) {
        trailer.recordCount = trailer.bodyLength / qint64(s);
        trailer.bodyDividesEvenly = trailer.bodyLength % qint64(s) == 0;
    } else {
        trailer.bodyDividesEvenly = trailer.bodyLength == 0;
    }
    return trailer;
}

Trailer readTrailer(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Trailer trailer;
        trailer.problem = QStringLiteral("The file cannot be opened: %1").arg(file.errorString());
        return trailer;
    }
    return readTrailer(file);
}

} // namespace ImageFile
