#include "archive/operator_fields.h"

#include "archive/notices.h"
#include "platform/posix/native_file.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTextCodec>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace OperatorFields {

namespace {

/// Reads the regular file @p path (a link is followed) whole, up to @p limit bytes; the
/// reason in words when it cannot be used.
QString readFile(const QByteArray &path, qint64 limit, QByteArray &content)
{
    const QString name = Archive::shown(path);
    struct stat link = {};
    if (::lstat(path.constData(), &link) != 0)
        return QStringLiteral("%1: %2").arg(name, NativeFile::errorText(errno));
    // O_NONBLOCK: a FIFO must be refused, not waited on for a writer.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && S_ISLNK(link.st_mode))
        return QStringLiteral("%1 is a symbolic link to nothing").arg(name);
    if (fd < 0)
        return QStringLiteral("%1: %2").arg(name, NativeFile::errorText(errno));
    struct stat info = {};
    QString problem;
    if (::fstat(fd, &info) != 0)
        problem = QStringLiteral("%1: %2").arg(name, NativeFile::errorText(errno));
    else if (!S_ISREG(info.st_mode))
        problem = QStringLiteral("%1 is not a regular file").arg(name);
    else if (info.st_size > limit)
        problem = QStringLiteral("%1 is too large (%2 bytes; at most %3)")
                      .arg(name)
                      .arg(qint64(info.st_size))
                      .arg(limit);
    content.clear();
    char chunk[65536];
    while (problem.isEmpty()) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            problem = QStringLiteral("%1: %2").arg(name, NativeFile::errorText(errno));
        else if (got == 0)
            break;
        else if (content.size() + got > limit) // it grew while read
            problem = QStringLiteral("%1 is too large (at most %2 bytes)").arg(name).arg(limit);
        else
            content.append(chunk, int(got));
    }
    ::close(fd);
    return problem;
}

/// @p bytes as text, or a null string when they are not UTF-8 text (a byte that is not
/// UTF-8, or a control character a text file does not hold).
QString asText(const QByteArray &bytes)
{
    QTextCodec::ConverterState state; // a byte order mark at the start is not text
    const QString text
        = QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0)
        return QString();
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f') || u == 0x7F)
            return QString();
    }
    return text.isNull() ? QStringLiteral("") : text;
}

QString extensionOf(const QString &name)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return QString();
    const QString extension = name.mid(dot + 1).toLower();
    if (extension.isEmpty() || extension.size() > 8)
        return QString();
    for (const QChar c : extension)
        if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))))
            return QString();
    return extension;
}

} // namespace

QString load(const Given &given, RunRecord::Operator &fields, QByteArray &photo)
{
    fields = RunRecord::Operator();
    photo.clear();
    fields.description = given.description;
    if (!given.notesPath.isEmpty()) {
        QByteArray bytes;
        QString problem = readFile(given.notesPath, kLargestNotes, bytes);
        if (problem.isEmpty()) {
            fields.notes = asText(bytes);
            if (fields.notes.isNull())
                problem
                    = QStringLiteral("%1 is not UTF-8 text").arg(Archive::shown(given.notesPath));
            else if (fields.notes.trimmed().isEmpty())
                problem = QStringLiteral("%1 holds no text").arg(Archive::shown(given.notesPath));
        }
        if (!problem.isEmpty())
            return QStringLiteral("--notes: ") + problem;
    }
    if (!given.photoPath.isEmpty()) {
        QString problem = readFile(given.photoPath, kLargestPhoto, photo);
        if (problem.isEmpty() && photo.isEmpty())
            problem = QStringLiteral("%1 is empty").arg(Archive::shown(given.photoPath));
        if (!problem.isEmpty()) {
            photo.clear();
            return QStringLiteral("--label-photo: ") + problem;
        }
        const QByteArray base = given.photoPath.mid(given.photoPath.lastIndexOf('/') + 1);
        fields.photoName = QFile::decodeName(base);
        fields.photoSize = photo.size();
        fields.photoSha256 = QString::fromLatin1(
            QCryptographicHash::hash(photo, QCryptographicHash::Sha256).toHex());
    }
    return QString();
}

QByteArray photoBeside(const QByteArray &imagePath, const QString &photoName)
{
    const QString extension = extensionOf(photoName);
    return imagePath + ".label" + (extension.isEmpty() ? QByteArray() : '.' + extension.toLatin1());
}

QStringList carry(const RunRecord::Operator &earlier, RunRecord::Operator &given)
{
    QStringList changes;
    const auto keep = [&changes](const QString &before, QString &now, const char *what) {
        if (now.isEmpty())
            now = before;
        else if (!before.isEmpty() && before != now)
            changes << QStringLiteral("the %1 given differs from the earlier run's: the one "
                                      "given now is kept")
                           .arg(QLatin1String(what));
    };
    keep(earlier.description, given.description, "description");
    keep(earlier.notes, given.notes, "notes");
    if (given.photoName.isEmpty()) {
        given.photoName = earlier.photoName;
        given.photoSize = earlier.photoSize;
        given.photoSha256 = earlier.photoSha256;
    } else if (!earlier.photoName.isEmpty() && earlier.photoSha256 != given.photoSha256) {
        changes << QStringLiteral("the label photo given differs from the earlier run's: the "
                                  "one given now is kept");
    }
    return changes;
}

} // namespace OperatorFields
