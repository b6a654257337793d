#include "archive/run_record.h"

#include "archive/shown_name.h"

#include "platform/posix/native_file.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace RunRecord {

namespace {

constexpr qint64 kLargestRecordFile = 64 << 20; // a tape of many files still fits

const char *const kVerdictNames[]
    = { "complete", "damaged", "stops-short", "unfinished", "not-known" };

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonArray filesToJson(const QVector<TapeFile> &files)
{
    QJsonArray array;
    for (const TapeFile &file : files) {
        QJsonObject lengths;
        for (auto it = file.lengths.cbegin(); it != file.lengths.cend(); ++it)
            lengths.insert(QString::number(it.key()), it.value());
        array.append(QJsonObject { { QStringLiteral("records"), file.records },
            { QStringLiteral("recordLengths"), lengths } });
    }
    return array;
}

QVector<TapeFile> filesFromJson(const QJsonArray &array)
{
    QVector<TapeFile> files;
    for (const QJsonValue &value : array) {
        const QJsonObject object = value.toObject();
        TapeFile file;
        file.records = qint64(object.value(QStringLiteral("records")).toDouble());
        const QJsonObject lengths = object.value(QStringLiteral("recordLengths")).toObject();
        for (auto it = lengths.constBegin(); it != lengths.constEnd(); ++it)
            file.lengths.insert(it.key().toUInt(), qint64(it.value().toDouble()));
        files.append(file);
    }
    return files;
}

QJsonArray problemsToJson(const QVector<Problem> &problems)
{
    QJsonArray array;
    for (const Problem &problem : problems) {
        array.append(QJsonObject { { QStringLiteral("block"), qint64(problem.block) },
            { QStringLiteral("kind"), problemKindName(problem.kind) },
            { QStringLiteral("text"), problem.text } });
    }
    return array;
}

} // namespace

QString problemKindName(ProblemKind kind)
{
    switch (kind) {
    case ProblemKind::Unreadable:
        return QStringLiteral("unreadable");
    case ProblemKind::Cut:
        return QStringLiteral("cut");
    case ProblemKind::Recovered:
        return QStringLiteral("recovered");
    }
    return QStringLiteral("unreadable");
}

ProblemKind problemKindFromName(const QString &name, bool *ok)
{
    for (ProblemKind kind : { ProblemKind::Unreadable, ProblemKind::Cut, ProblemKind::Recovered }) {
        if (name == problemKindName(kind)) {
            if (ok)
                *ok = true;
            return kind;
        }
    }
    if (ok)
        *ok = false;
    return ProblemKind::Unreadable;
}

namespace {

QVector<Problem> problemsFromJson(const QJsonArray &array)
{
    QVector<Problem> problems;
    for (const QJsonValue &value : array) {
        const QJsonObject object = value.toObject();
        problems.append({ quint64(object.value(QStringLiteral("block")).toDouble()),
            problemKindFromName(object.value(QStringLiteral("kind")).toString()),
            object.value(QStringLiteral("text")).toString() });
    }
    return problems;
}

QJsonObject operatorToJson(const Operator &fields)
{
    QJsonObject object { { QStringLiteral("description"), orNull(fields.description) },
        { QStringLiteral("notes"), orNull(fields.notes) } };
    object.insert(QStringLiteral("labelPhoto"),
        fields.photoName.isEmpty() ? QJsonValue()
                                   : QJsonObject { { QStringLiteral("name"), fields.photoName },
                                       { QStringLiteral("size"), fields.photoSize },
                                       { QStringLiteral("sha256"), fields.photoSha256 } });
    return object;
}

Operator operatorFromJson(const QJsonObject &object)
{
    Operator fields;
    fields.description = object.value(QStringLiteral("description")).toString();
    fields.notes = object.value(QStringLiteral("notes")).toString();
    const QJsonObject photo = object.value(QStringLiteral("labelPhoto")).toObject();
    fields.photoName = photo.value(QStringLiteral("name")).toString();
    fields.photoSize = qint64(photo.value(QStringLiteral("size")).toDouble());
    fields.photoSha256 = photo.value(QStringLiteral("sha256")).toString();
    return fields;
}

QString isoTime(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

QString formatName(ImageFormat format)
{
    return format == ImageFormat::Tap ? QStringLiteral("tap") : QStringLiteral("tape");
}

ImageFormat formatFromName(const QString &name)
{
    return name == QLatin1String("tap") ? ImageFormat::Tap : ImageFormat::Tape;
}

QString verdictName(Verdict verdict)
{
    return QString::fromLatin1(kVerdictNames[int(verdict)]);
}

Verdict verdictFromName(const QString &name, bool *ok)
{
    for (int i = 0; i < int(sizeof kVerdictNames / sizeof *kVerdictNames); ++i) {
        if (name == QLatin1String(kVerdictNames[i])) {
            if (ok)
                *ok = true;
            return Verdict(i);
        }
    }
    if (ok)
        *ok = false;
    return Verdict::NotKnown;
}

QJsonArray passesToJson(const QVector<Pass> &passes)
{
    QJsonArray array;
    for (const Pass &p : passes) {
        QJsonObject object { { QStringLiteral("pass"), p.number },
            { QStringLiteral("started"), isoTime(p.started) },
            { QStringLiteral("ended"), isoTime(p.ended) }, { QStringLiteral("tried"), p.tried },
            { QStringLiteral("good"), p.good }, { QStringLiteral("failed"), p.failed } };
        if (p.resumedAt >= 0) {
            object.insert(QStringLiteral("resumedAtBlock"), p.resumedAt + 1);
            object.insert(QStringLiteral("countsEarlierRun"), p.earlierCounted);
        }
        array.append(object);
    }
    return array;
}

QVector<Pass> passesFromJson(const QJsonArray &array)
{
    QVector<Pass> passes;
    for (const QJsonValue &value : array) {
        const QJsonObject o = value.toObject();
        Pass p;
        p.number = o.value(QStringLiteral("pass")).toInt();
        p.started
            = QDateTime::fromString(o.value(QStringLiteral("started")).toString(), Qt::ISODate);
        p.ended = QDateTime::fromString(o.value(QStringLiteral("ended")).toString(), Qt::ISODate);
        p.tried = qint64(o.value(QStringLiteral("tried")).toDouble());
        p.good = qint64(o.value(QStringLiteral("good")).toDouble());
        p.failed = qint64(o.value(QStringLiteral("failed")).toDouble());
        p.resumedAt = qint64(o.value(QStringLiteral("resumedAtBlock")).toDouble()) - 1;
        p.earlierCounted = o.value(QStringLiteral("countsEarlierRun")).toBool();
        passes.append(p);
    }
    return passes;
}

QByteArray toJson(const Record &record)
{
    const QJsonObject device { { QStringLiteral("path"), record.devicePath },
        { QStringLiteral("kind"), record.deviceKind },
        { QStringLiteral("vendor"), orNull(record.vendor) },
        { QStringLiteral("product"), orNull(record.product) },
        { QStringLiteral("revision"), orNull(record.revision) },
        { QStringLiteral("serial"), orNull(record.serial) } };
    const bool buffered = record.bufferBytes >= 0;
    QJsonObject json { { QStringLiteral("program"), record.program },
        { QStringLiteral("version"), record.version },
        { QStringLiteral("format"), formatName(record.format) },
        { QStringLiteral("device"), device },
        { QStringLiteral("started"), isoTime(record.started) },
        { QStringLiteral("ended"), isoTime(record.ended) },
        { QStringLiteral("blockSize"), record.blockSize },
        { QStringLiteral("answer"), orNull(record.answer) },
        { QStringLiteral("endOfData"),
            record.endOfData < 0 ? QJsonValue() : QJsonValue(record.endOfData) },
        { QStringLiteral("blocksRead"), record.blocksRead },
        { QStringLiteral("marksRead"), record.marksRead },
        { QStringLiteral("files"), filesToJson(record.files) },
        { QStringLiteral("problems"), problemsToJson(record.problems) },
        { QStringLiteral("bytesWritten"), record.bytesWritten },
        { QStringLiteral("bufferBytes"), buffered ? QJsonValue(record.bufferBytes) : QJsonValue() },
        { QStringLiteral("readerWaits"), buffered ? QJsonValue(record.readerWaits) : QJsonValue() },
        { QStringLiteral("readerWaitSeconds"),
            buffered ? QJsonValue(record.readerWaitSeconds) : QJsonValue() },
        { QStringLiteral("verdict"), verdictName(record.verdict) },
        { QStringLiteral("verdictText"), record.verdictText },
        { QStringLiteral("sha256"), orNull(record.sha256) } };
    if (!record.map.isEmpty()) {
        json.insert(QStringLiteral("passes"), passesToJson(record.passes));
        json.insert(QStringLiteral("map"), record.map);
    }
    if (!record.merge.isEmpty())
        json.insert(QStringLiteral("merge"), record.merge);
    if (!record.drive.isEmpty())
        json.insert(QStringLiteral("drive"), record.drive);
    if (!record.operatorFields.isEmpty())
        json.insert(QStringLiteral("operator"), operatorToJson(record.operatorFields));
    return QJsonDocument(json).toJson(QJsonDocument::Indented);
}

bool fromJson(const QByteArray &json, Record &record)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    bool known = false;
    record.verdict = verdictFromName(object.value(QStringLiteral("verdict")).toString(), &known);
    if (!known || !object.value(QStringLiteral("bytesWritten")).isDouble())
        return false;
    const auto text
        = [&object](const char *key) { return object.value(QLatin1String(key)).toString(); };
    const auto number = [&object](const char *key) {
        return qint64(object.value(QLatin1String(key)).toDouble(-1));
    };
    const QJsonObject device = object.value(QStringLiteral("device")).toObject();
    record.program = text("program");
    record.version = text("version");
    record.format = formatFromName(text("format"));
    record.devicePath = device.value(QStringLiteral("path")).toString();
    record.deviceKind = device.value(QStringLiteral("kind")).toString();
    record.vendor = device.value(QStringLiteral("vendor")).toString();
    record.product = device.value(QStringLiteral("product")).toString();
    record.revision = device.value(QStringLiteral("revision")).toString();
    record.serial = device.value(QStringLiteral("serial")).toString();
    record.started = QDateTime::fromString(text("started"), Qt::ISODate);
    record.ended = QDateTime::fromString(text("ended"), Qt::ISODate);
    record.blockSize = text("blockSize");
    record.answer = text("answer");
    record.endOfData = number("endOfData");
    record.blocksRead = number("blocksRead");
    record.marksRead = number("marksRead");
    record.files = filesFromJson(object.value(QStringLiteral("files")).toArray());
    record.problems = problemsFromJson(object.value(QStringLiteral("problems")).toArray());
    record.bytesWritten = number("bytesWritten");
    record.bufferBytes = number("bufferBytes");
    record.readerWaits = qMax<qint64>(0, number("readerWaits"));
    record.readerWaitSeconds = object.value(QStringLiteral("readerWaitSeconds")).toDouble();
    record.verdictText = text("verdictText");
    record.sha256 = text("sha256");
    record.passes = passesFromJson(object.value(QStringLiteral("passes")).toArray());
    record.map = text("map");
    record.merge = object.value(QStringLiteral("merge")).toObject();
    record.drive = object.value(QStringLiteral("drive")).toObject();
    record.operatorFields = operatorFromJson(object.value(QStringLiteral("operator")).toObject());
    return true;
}

QByteArray recordPath(const QByteArray &imagePath)
{
    return imagePath + ".json";
}

QByteArray checksumPath(const QByteArray &imagePath)
{
    return imagePath + ".sha256";
}

bool writeBeside(const QByteArray &imagePath, const Record &record)
{
    return NativeFile::writeReplacing(recordPath(imagePath), toJson(record));
}

bool writeChecksumBeside(const QByteArray &imagePath, const QString &sha256)
{
    bool escaped = false;
    const QByteArray name
        = Archive::checksumLineName(imagePath.mid(imagePath.lastIndexOf('/') + 1), escaped);
    return NativeFile::writeReplacing(
        checksumPath(imagePath), (escaped ? "\\" : "") + sha256.toLatin1() + "  " + name + '\n');
}

bool readBeside(const QByteArray &imagePath, Record &record)
{
    QByteArray json;
    return NativeFile::readAll(recordPath(imagePath), kLargestRecordFile, json)
        && fromJson(json, record);
}

} // namespace RunRecord
