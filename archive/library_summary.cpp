// library.csv and library.json: the same fields, once as text for a
// spreadsheet and once typed for scripts.
#include "archive/library_summary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
    { "left_in_drive", [](const Attempt &a) { return textOrNull(a.leftIn); } },
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

} // namespace Library
