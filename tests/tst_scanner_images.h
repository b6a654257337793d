#pragma once
// Test images for the scanner: archives made with libarchive, laid out as
// the records of a tape image and closed with the image file's own trailer.
#include "imaging/image_file.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <QVector>

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

/// Pads @p data with zeros to whole records of @p blockSize bytes.
inline QByteArray asRecords(QByteArray data, int blockSize)
{
    const int over = data.size() % blockSize;
    if (over != 0)
        data.append(QByteArray(blockSize - over, '\0'));
    return data;
}

/// Writes @p body and, when @p withTrailer, the trailer T, S.
inline bool writeImage(const QString &path, const QByteArray &body, bool withTrailer,
    quint32 tapeBlockLength, quint32 blockSize)
{
    std::FILE *file = ImageFile::openForWriting(path);
    if (!file)
        return false;
    bool ok = std::fwrite(body.constData(), 1, size_t(body.size()), file) == size_t(body.size());
    if (withTrailer)
        ok = ImageFile::writeTrailer(file, tapeBlockLength, blockSize) && ok;
    return std::fclose(file) == 0 && ok;
}

} // namespace ScannerTest
