#pragma once
// Test images for the scanner. Most are made the way a user makes them: the
// archives go onto a virtual tape, block by block, and tarnwick-image copies that
// tape into an image. A few hand-made images hold what no run writes (no
// trailer, a lying trailer).
#include "imaging/image_file.h"
#include "tape_fixtures.h"

#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

namespace ScannerTest {

struct File
{
    QString name;
    QByteArray data;
};

inline QVector<File> sampleFiles(quint32 seed, int count = 3, int size = 40000)
{
    QRandomGenerator random(seed);
    QVector<File> files;
    for (int i = 0; i < count; ++i) {
        QByteArray data(size + i * 777, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
        files.append({ QStringLiteral("docs/file-%1.bin").arg(i), data });
    }
    return files;
}

inline la_ssize_t appendToArray(archive *, void *target, const void *data, size_t size)
{
    static_cast<QByteArray *>(target)->append(static_cast<const char *>(data), int(size));
    return la_ssize_t(size);
}

/// An archive of @p files; @p format and @p filter are libarchive's codes.
inline QByteArray makeArchive(int format, int filter, const QVector<File> &files)
{
    QByteArray bytes;
    archive *writer = archive_write_new();
    archive_write_set_format(writer, format);
    if (filter != ARCHIVE_FILTER_NONE)
        archive_write_add_filter(writer, filter);
    // Whole output as it comes: the tape blocks are cut by the test, not here.
    archive_write_set_bytes_in_last_block(writer, 1);
    archive_write_open(writer, &bytes, nullptr, &appendToArray, nullptr);
    for (const File &file : files) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, file.name.toUtf8().constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, file.data.size());
        archive_entry_set_mtime(entry, 1700000000, 0);
        archive_write_header(writer, entry);
        archive_write_data(writer, file.data.constData(), size_t(file.data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return bytes;
}

/// Runs @p command (a Debian tool and its options, between blanks: "zstd -c") with @p more
/// arguments in @p dir, fed @p input; @p output gets what it writes. False when it fails.
inline bool runTool(const QString &command, const QStringList &more = {},
    QByteArray *output = nullptr, const QByteArray &input = {}, const QString &dir = {})
{
    const QStringList words = command.split(QLatin1Char(' '));
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(words.first(), words.mid(1) + more);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return false;
    if (output)
        *output = process.readAllStandardOutput();
    return true;
}

/// Writes @p files below @p dir, folders included.
inline bool writeFiles(const QString &dir, const QVector<File> &files)
{
    for (const File &file : files) {
        const QString path = dir + QLatin1Char('/') + file.name;
        if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !writeFile(path, file.data))
            return false;
    }
    return true;
}

/// Writes @p tape to a .tap file in @p dir and has tarnwick-image, answering Yes, copy it
/// into an image at @p blockSize ("Auto" or a number). Returns the image path, or an empty
/// string when the run made none (an image that stops short or holds damage is one).
/// @p cutFromEnd bytes taken off the end of the tape's .tap file first (a damaged virtual tape).
inline QString imageFromTape(
    const QString &dir, const Tape &tape, const QString &blockSize, int cutFromEnd = 0)
{
    const QString tapPath = dir + QStringLiteral("/source.tap");
    const QString imagePath = dir + QStringLiteral("/Tape_Image_(test).tape");
    QFile::remove(imagePath);
    const QStringList arguments { QStringLiteral("--block-size"), blockSize.toLower(),
        QStringLiteral("--yes"), QStringLiteral("--output"), imagePath };
    bool written = tape.write(tapPath);
    if (written && cutFromEnd > 0) {
        QFile file(tapPath);
        written = file.resize(file.size() - cutFromEnd);
    }
    const int exitCode = written ? runImageTool(arguments, tapPath).exitCode : -1;
    return exitCode == 0 || exitCode == 11 || exitCode == 12 ? imagePath : QString();
}

/// A dump volume of @p files: an ext2 file system made with mke2fs -d and dumped through a
/// loop device, which dump needs. Empty where that cannot be done (not root).
inline QByteArray makeDump(const QVector<File> &files)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("root"));
    const QString fs = dir.filePath(QStringLiteral("fs.img"));
    QByteArray device;
    QByteArray volume;
    if (!writeFiles(root, files)
        || !runTool(QStringLiteral("mke2fs -q -F -t ext2 -d"), { root, fs, QStringLiteral("4M") })
        || !runTool(QStringLiteral("losetup --find --show"), { fs }, &device))
        return QByteArray();
    const QString loop = QString::fromLocal8Bit(device.trimmed());
    runTool(QStringLiteral("dump -0 -f -"), { loop }, &volume);
    runTool(QStringLiteral("losetup -d"), { loop });
    return volume;
}

/// The bytes of a tape file of @p kind holding @p files: "gnu", "ustar", "v7", "pax", "newc"
/// or "odc" (an archive), optionally compressed by a Debian tool ("gnu|zstd"); "zip"; "dump";
/// or "random:SIZE" bytes. Empty when a tool failed.
inline QByteArray tapeFileBytes(const QString &kind, const QVector<File> &files)
{
    static const QMap<QString, int> formats { { QStringLiteral("gnu"), ARCHIVE_FORMAT_TAR_GNUTAR },
        { QStringLiteral("ustar"), ARCHIVE_FORMAT_TAR_USTAR },
        { QStringLiteral("v7"), ARCHIVE_FORMAT_TAR },
        { QStringLiteral("pax"), ARCHIVE_FORMAT_TAR_PAX_RESTRICTED },
        { QStringLiteral("newc"), ARCHIVE_FORMAT_CPIO_SVR4_NOCRC },
        { QStringLiteral("odc"), ARCHIVE_FORMAT_CPIO_POSIX } };
    const QString format = kind.section(QLatin1Char('|'), 0, 0);
    const QString compressor = kind.section(QLatin1Char('|'), 1);
    if (format.startsWith(QLatin1String("random:"))) {
        // With stretches of zeros inside, which must not split it.
        QByteArray bytes = randomBytes(55, format.mid(7).toInt());
        for (int at = 50000; at + 20000 < bytes.size(); at += 150000)
            bytes.replace(at, 20000, QByteArray(20000, '\0'));
        return bytes;
    }
    if (format == QLatin1String("dump"))
        return makeDump(files);
    QByteArray bytes;
    QTemporaryDir dir;
    if (format == QLatin1String("zip")) {
        if (!writeFiles(dir.path(), files)
            || !runTool(QStringLiteral("zip -q -r -D - ."), {}, &bytes, {}, dir.path()))
            return QByteArray();
    } else {
        bytes = makeArchive(formats.value(format), ARCHIVE_FILTER_NONE, files);
    }
    // xz writes the old lzma tools' files; the Debian lzma package is gone.
    const QString tool
        = compressor == QLatin1String("lzma") ? QStringLiteral("xz --format=lzma") : compressor;
    if (!compressor.isEmpty() && !runTool(tool + QStringLiteral(" -c"), {}, &bytes, bytes))
        return QByteArray();
    return bytes;
}

inline bool isRegion(const QString &kind)
{
    return kind.startsWith(QLatin1String("random:"));
}

/// quorlin run with @p arguments, with no display to reach (a window must not open).
inline ToolRun quorlin(const QStringList &arguments, int waitMs = 120000)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-display"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TARNWICK_BIN_DIR "/quorlin"), arguments);
    process.waitForFinished(waitMs);
    return { process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError()) };
}

} // namespace ScannerTest
