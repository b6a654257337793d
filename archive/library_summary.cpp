// library.csv and library.json: the same fields, once as text for a
// spreadsheet and once typed for scripts.
#include "archive/library_summary.h"

#include "platform/posix/native_file.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Library {
namespace {

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue timeOrNull(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

// Counts come from the image's run record once the attempt has ended; while it
// runs (or after a batch was killed in it) nobody knows them.
QJsonValue countOrNull(const Attempt &attempt, qint64 count)
{
    return attempt.ended.isValid() ? QJsonValue(double(count)) : QJsonValue();
}

struct Field
{
    const char *name;
    QJsonValue (*value)(const Attempt &);
};

const Field fields[] = {
    { "cartridge", [](const Attempt &a) { return QJsonValue(a.cartridge); } },
    { "barcode", [](const Attempt &a) { return textOrNull(a.barcode); } },
    { "slot", [](const Attempt &a) { return a.slot > 0 ? QJsonValue(a.slot) : QJsonValue(); } },
    { "drive", [](const Attempt &a) { return textOrNull(a.drive); } },
    { "image", [](const Attempt &a) { return textOrNull(a.image); } },
    { "started", [](const Attempt &a) { return timeOrNull(a.started); } },
    { "ended", [](const Attempt &a) { return timeOrNull(a.ended); } },
    { "bytes", [](const Attempt &a) { return countOrNull(a, a.bytes); } },
    { "records", [](const Attempt &a) { return countOrNull(a, a.records); } },
    { "tape_files", [](const Attempt &a) { return countOrNull(a, a.tapeFiles); } },
    { "verdict", [](const Attempt &a) { return QJsonValue(a.verdict); } },
    { "sha256", [](const Attempt &a) { return textOrNull(a.sha256); } },
    { "errors", [](const Attempt &a) { return QJsonValue(QJsonArray::fromStringList(a.errors)); } },
    { "description", [](const Attempt &a) { return textOrNull(a.description); } },
};

QString csvText(const QJsonValue &value)
{
    if (value.isDouble())
        return QString::number(qint64(value.toDouble()));
    if (value.isArray()) {
        QStringList lines;
        for (const QJsonValue &line : value.toArray())
            lines << line.toString();
        return lines.join(QLatin1Char('\n'));
    }
    return value.toString(); // null: an empty field
}

// Quoted only when it must be, so that plain fields stay readable.
QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n')
        || bytes.contains('\r')) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

QString failure(const char *what, const QString &path)
{
    return QStringLiteral("cannot %1 %2: %3")
        .arg(QLatin1String(what), path, NativeFile::errorText(errno));
}

} // namespace

QStringList summaryFields()
{
    QStringList names;
    for (const Field &field : fields)
        names << QLatin1String(field.name);
    return names;
}

QByteArray summaryCsv(const std::vector<Attempt> &attempts)
{
    QByteArray csv = summaryFields().join(QLatin1Char(',')).toUtf8() + "\r\n";
    for (const Attempt &attempt : attempts) {
        QByteArrayList line;
        for (const Field &field : fields)
            line << csvField(csvText(field.value(attempt)));
        csv += line.join(',') + "\r\n";
    }
    return csv;
}

QByteArray summaryJson(const std::vector<Attempt> &attempts)
{
    QJsonArray array;
    for (const Attempt &attempt : attempts) {
        QJsonObject object;
        for (const Field &field : fields)
            object.insert(QLatin1String(field.name), field.value(attempt));
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

bool writeSummaryFile(const QString &path, const QByteArray &data, QString &problem)
{
    const QByteArray native = QFile::encodeName(path);
    QByteArray temporary = native + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        problem = failure("create a file beside", path);
        return false;
    }
    const QString shownTemporary = QFile::decodeName(temporary);
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t wrote = ::write(fd, data.constData() + done, std::size_t(data.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            break;
        done += wrote;
    }
    // mkostemp leaves the file to its owner only; a summary is as public as the folder's images.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = true;
    if (done != data.size()) {
        problem = failure("write", shownTemporary);
        ok = false;
    } else if (::fchmod(fd, 0666 & ~mask) != 0 || !NativeFile::sync(fd)) {
        problem = failure("write to the disk", shownTemporary);
        ok = false;
    }
    if (!NativeFile::close(fd) && ok) {
        problem = failure("write", shownTemporary);
        ok = false;
    }
    if (ok && !NativeFile::rename(temporary, native, true)) {
        problem = failure("put in place", path);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.constData());
        return false;
    }
    if (!NativeFile::syncFolderOf(native)) {
        problem = failure("write to the disk the folder of", path);
        return false;
    }
    return true;
}

} // namespace Library
