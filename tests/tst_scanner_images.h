#pragma once
// Test images for the scanner. Most are made the way a user makes them: the
// archives go onto a virtual tape, block by block, and tarnwick-image copies that
// tape into an image. A few hand-made images hold what no run writes (no
// trailer, a lying trailer).
#include "imaging/image_file.h"
#include "tape_fixtures.h"

#include <QFileInfo>

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

/// Runs @p program (a Debian tool: zstd, zip, cpio, dump, ...) in @p dir with @p input;
/// @p output gets what it writes. False when it fails.
inline bool runTool(const QString &program, const QStringList &arguments,
    QByteArray *output = nullptr, const QByteArray &input = QByteArray(),
    const QString &dir = QString())
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(program, arguments);
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
/// string when the run did not complete.
inline QString imageFromTape(const QString &dir, const Tape &tape, const QString &blockSize)
{
    const QString tapPath = dir + QStringLiteral("/source.tap");
    const QString imagePath = dir + QStringLiteral("/Tape_Image_(test).tape");
    QFile::remove(imagePath);
    const QStringList arguments { QStringLiteral("--block-size"), blockSize.toLower(),
        QStringLiteral("--yes"), QStringLiteral("--output"), imagePath };
    return tape.write(tapPath) && runImageTool(arguments, tapPath).exitCode == 0 ? imagePath
                                                                                 : QString();
}

} // namespace ScannerTest
