#pragma once
// Virtual tapes and image files made by the tests, and the shared imaging state
// put back as a fresh process has it.
#include "imaging/imaging_state.h"
#include "platform/tap/tap_writer.h"
#include "platform/tap/virtual_tape.h"
#include "platform/win32_tape.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QVector>

#include <sys/mount.h>

/// Tape contents: a record length each, or kMark for a tape mark.
using Objects = QVector<int>;
constexpr int kMark = -1;

/// The bytes of the record at @p index; never 0, so zero padding stands out.
inline QByteArray recordContent(int index, int length)
{
    QByteArray data(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        data[i] = char(1 + (index * 31 + i * 7 + (i >> 9)) % 251);
    return data;
}

inline QByteArray randomBytes(quint32 seed, int size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    return data;
}

/// Pads @p data with zeros to whole records of @p blockSize bytes.
inline QByteArray asRecords(QByteArray data, int blockSize)
{
    if (data.size() % blockSize != 0)
        data.append(QByteArray(blockSize - data.size() % blockSize, '\0'));
    return data;
}

/// A virtual tape under construction: records (any of them unreadable) and tape marks.
class Tape
{
public:
    Tape &record(const QByteArray &data, bool error = false)
    {
        m_records.append({ data, false, error });
        return *this;
    }
    Tape &mark()
    {
        m_records.append({ QByteArray(), true, false });
        return *this;
    }
    /// @p data cut into blocks of @p blockSize; the last block is short unless
    /// @p padLast, which fills it with zeros as archivers do. Ends with a tape mark.
    Tape &file(QByteArray data, int blockSize, bool padLast = true)
    {
        if (padLast)
            data = asRecords(data, blockSize);
        for (int at = 0; at < data.size(); at += blockSize)
            record(data.mid(at, blockSize));
        return mark();
    }
    /// Record @p index (tape marks count) reads back as garbage with an error.
    Tape &damage(int index, quint32 seed)
    {
        m_records[index].data = randomBytes(seed, m_records[index].data.size());
        m_records[index].error = true;
        return *this;
    }
    bool write(const QString &path) const
    {
        TapWriter writer;
        if (!writer.open(QFile::encodeName(path).toStdString()))
            return false;
        for (const Record &r : m_records) {
            if (r.mark)
                writer.writeTapeMark();
            else
                writer.writeRecord(r.data.constData(), quint32(r.data.size()), r.error);
        }
        return writer.close();
    }

private:
    struct Record
    {
        QByteArray data;
        bool mark;
        bool error;
    };
    QVector<Record> m_records;
};

/// Writes a virtual tape file; the record at @p errorRecord is marked unreadable.
inline bool writeTape(const QString &path, const Objects &objects, int errorRecord = -1)
{
    Tape tape;
    for (int i = 0; i < objects.size(); ++i)
        objects[i] == kMark ? tape.mark()
                            : tape.record(recordContent(i, objects[i]), i == errorRecord);
    return tape.write(path);
}

/// The body a run must write, made from the tape's objects without the engine: the first
/// @p records objects, each at the fixed size or its own length ("Auto"), a tape mark (or the
/// end of data) as zeros as long as the first object.
inline QByteArray expectedImage(const Objects &objects, const QString &choice, int records)
{
    const bool automatic = choice.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0;
    QByteArray image;
    int first = 0;
    for (int i = 0; i < records; ++i) {
        const int length = i < objects.size() && objects[i] != kMark ? objects[i] : 0;
        if (i == 0)
            first = length;
        int recordLength = choice.toInt();
        if (automatic)
            recordLength = length != 0 ? length : (first != 0 ? first : 65536);
        image += recordContent(i, length) + QByteArray(recordLength - length, '\0');
    }
    return image;
}

/// What a run of tarnwick-image did.
struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

inline ToolRun runImageTool(
    const QStringList &arguments, const QString &tape, const QString &faults = QString())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TAPE"), tape);
    env.insert(QStringLiteral("TARNWICK_VTAPE_FAULTS"), faults);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TARNWICK_BIN_DIR "/tarnwick-image"), arguments);
    if (!process.waitForFinished(60000))
        return {};
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromLocal8Bit(process.readAllStandardOutput()),
        QString::fromLocal8Bit(process.readAllStandardError()) };
}

/// A small tmpfs of our own, for full disks and read-only volumes; needs root. Without
/// @p options nothing is mounted.
class SmallVolume
{
public:
    SmallVolume(const QString &path, const char *options)
        : m_path(QFile::encodeName(path))
    {
        QDir().mkpath(path);
        m_mounted = options && ::mount("tmpfs", m_path.constData(), "tmpfs", 0, options) == 0;
    }
    ~SmallVolume()
    {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }

private:
    QByteArray m_path;
    bool m_mounted = false;
};

/// Opens a tape file directly, as the program opens its drive.
inline HANDLE openTapeFile(const QString &path)
{
    const std::wstring name = path.toStdWString();
    return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_ARCHIVE, nullptr);
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

/// The shared imaging state as a fresh process starts with it, no drive open.
inline void resetImagingState()
{
    if (ImagingState::driveOpen)
        CloseHandle(ImagingState::tapeHandle);
    ImagingState::tapeHandle = nullptr;
    ImagingState::driveOpen = false;
    ImagingState::loadStatus = 1;
    ImagingState::busy = false;
    ImagingState::totalBytes = 0;
    ImagingState::bytesDone = 0;
    ImagingState::blockCount = 0;
    ImagingState::chosenBlockSize = 0;
    ImagingState::lastReadLength = 0;
    ImagingState::blockSizeText = QString();
    ImagingState::imagePath.clear();
    ImagingState::runFlag = false;
    ImagingState::abortFlag = false;
    ImagingState::progressPagePrepared = false;
    ImagingState::ejectFlag = false;
    ImagingState::turnOffFlag = false;
    VirtualTape::setFaults(VirtualTape::NoFault);
    VirtualTape::resetPrepareCallCount();
}
