#include "tools/tarnwick-image/rescue_command.h"

#include "archive/file_hasher.h"
#include "archive/image_target.h"
#include "archive/operator_fields.h"
#include "archive/rescue_merge.h"
#include "archive/rescue_picture.h"
#include "platform/posix/native_file.h"
#include "platform/posix/stop_signals.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>

#include <fcntl.h>

namespace {

constexpr int kDifferencesShown = 20; ///< on stderr; the run record keeps more
constexpr int kProblemsShown = 20;

QJsonObject mergeSection(const Options &options, const Rescue::MergeResult &result)
{
    QJsonArray sources;
    for (int i = 0; i < options.mergeSources.size(); ++i)
        sources.append(QJsonObject { { QStringLiteral("source"), i + 1 },
            { QStringLiteral("path"), Console::shown(options.mergeSources[i]) } });
    return QJsonObject { { QStringLiteral("sources"), sources },
        { QStringLiteral("differingReads"), qint64(result.differing) },
        { QStringLiteral("differences"),
            Rescue::differencesToJson(result.differences, result.differences.size()) } };
}

void reportDifferences(const Options &options, const Rescue::MergeResult &result)
{
    for (int i = 0; i < result.differences.size() && i < kDifferencesShown; ++i) {
        const Rescue::Difference &d = result.differences[i];
        QStringList reads;
        for (const Rescue::DifferingRead &read : d.reads)
            reads << QStringLiteral("%1 SHA-256 %2")
                         .arg(Console::shown(options.mergeSources[read.source - 1]),
                             QString::fromLatin1(read.sha256));
        Console::say(QStringLiteral("position %1 was read good by more than one master, and "
                                    "the reads differ: %2; the first is kept")
                         .arg(d.position)
                         .arg(reads.join(QStringLiteral(", "))));
    }
    if (result.differing > std::uint64_t(kDifferencesShown))
        Console::say(QStringLiteral("and %1 more positions read differently; the run record "
                                    "lists up to %2 of them")
                         .arg(result.differing - kDifferencesShown)
                         .arg(result.differences.size()));
}

RunRecord::Record recordOf(const Options &options, const Rescue::MergeResult &result,
    const QDateTime &started, qint64 size, const QString &sha256)
{
    RunRecord::Record record;
    record.program = QStringLiteral("tarnwick-image");
    record.version = QCoreApplication::applicationVersion();
    record.format = RunRecord::ImageFormat::Tap;
    QStringList names;
    for (const QByteArray &source : options.mergeSources)
        names << Console::shown(source);
    record.devicePath = names.join(QStringLiteral(" + "));
    record.deviceKind = QStringLiteral("merge of %1 masters").arg(options.mergeSources.size());
    record.started = started;
    record.ended = QDateTime::currentDateTime();
    record.blockSize = QStringLiteral("each block at its own length");
    record.endOfData = result.endOfData;
    record.blocksRead = qint64(result.objects);
    record.marksRead = qint64(result.marks);
    record.files = result.files;
    record.problems = result.problems;
    record.bytesWritten = size;
    record.verdict = result.verdict;
    record.verdictText = result.verdictText;
    record.sha256 = sha256;
    record.merge = mergeSection(options, result);
    record.operatorFields = options.operatorFields;
    return record;
}

/// Without fields of its own a merge keeps what the operator said of the first master
/// that has any, with its label photo.
void carryOperatorFields(Options &options)
{
    if (!options.operatorFields.isEmpty())
        return;
    for (const QByteArray &source : qAsConst(options.mergeSources)) {
        RunRecord::Record record;
        if (!RunRecord::readBeside(source, record) || record.operatorFields.isEmpty())
            continue;
        options.operatorFields = record.operatorFields;
        const QString photo = record.operatorFields.photoName;
        if (photo.isEmpty())
            return;
        const QByteArray copy = OperatorFields::photoBeside(source, photo);
        if (!NativeFile::readAll(copy, OperatorFields::kLargestPhoto, options.labelPhoto)
            || QCryptographicHash::hash(options.labelPhoto, QCryptographicHash::Sha256).toHex()
                != record.operatorFields.photoSha256.toLatin1()) {
            options.labelPhoto.clear();
            Console::say(QStringLiteral("the label photo %1 is missing or changed: the merged "
                                        "master has none beside it")
                             .arg(Console::shown(copy)));
        }
        return;
    }
}

void sayFailed(const QString &what, const QByteArray &path)
{
    Console::say(
        QStringLiteral("%1 %2 could not be written: %3")
            .arg(what, Console::shown(path), NativeFile::errorText(NativeFile::lastError())));
}

/// The merged master is whole: its checksum, its name, its run record and map beside it.
int placeMerged(ImageTarget &target, const Options &options, Rescue::MergeResult &result,
    const QDateTime &started)
{
    // The output is open for writing only: it is read back through a descriptor of its own.
    const qint64 size = NativeFile::size(target.fd());
    const int readBack = ::open(NativeFile::nameOf(target.fd()).constData(), O_RDONLY | O_CLOEXEC);
    const QString sha256
        = options.checksum && readBack >= 0 ? FileHasher::ofFile(readBack) : QString();
    if (options.checksum && sha256.isEmpty())
        Console::say(QStringLiteral("the checksum cannot be computed: the merged master cannot "
                                    "be read back"));
    if (readBack >= 0)
        result.map.partialTail = Rescue::tailChecksum(readBack, std::uint64_t(size));
    NativeFile::close(readBack);
    const bool complete = result.verdict == RunRecord::Verdict::Complete;
    if (const int code = ExitCode::of(target.place(complete)))
        return code;
    const QByteArray image = target.currentPath();
    if (!RunRecord::writeBeside(image, recordOf(options, result, started, size, sha256)))
        sayFailed(QStringLiteral("the run record"), RunRecord::recordPath(image));
    if (target.placed() && !sha256.isEmpty() && !RunRecord::writeChecksumBeside(image, sha256))
        sayFailed(QStringLiteral("the checksum file"), RunRecord::checksumPath(image));
    if (!result.map.save(image + ".map"))
        sayFailed(QStringLiteral("the map"), image + ".map");
    const QByteArray photo = OperatorFields::photoBeside(image, options.operatorFields.photoName);
    QString unused; // sayFailed() words errno as the other files' failures are worded
    if (!options.labelPhoto.isEmpty()
        && !NativeFile::writeDurably(photo, options.labelPhoto, unused))
        sayFailed(QStringLiteral("the label photo"), photo);
    for (int i = 0; i < result.problems.size() && i < kProblemsShown; ++i)
        Console::say(result.problems[i].text);
    if (result.problems.size() > kProblemsShown)
        Console::say(QStringLiteral("and %1 more; the run record lists them all")
                         .arg(result.problems.size() - kProblemsShown));
    Console::say(
        result.verdictText + QStringLiteral(" (") + result.map.summary() + QStringLiteral(")"));
    if (target.placed())
        Console::outPath(target.path());
    return ExitCode::ofVerdict(result.verdict);
}

/// The map to draw for @p master: its map, a map given itself, or the master read as one.
bool mapToDraw(const QByteArray &master, Rescue::Map &map, QString &error)
{
    const auto loaded = [&map, &error](const QByteArray &path) {
        if (map.load(path, error))
            return true;
        error = QStringLiteral("%1 is not a rescue map this program reads: %2")
                    .arg(Console::shown(path), error);
        return false;
    };
    // A rescue under way: its map "<master>.partial.map" (or "<master>.map") beside
    // "<master>.partial", the master not there yet.
    const QByteArray masterName
        = master.endsWith(".partial") ? master.left(master.size() - 8) : master;
    if (master.endsWith(".partial")
        && NativeFile::kindAt(master + ".map") == NativeFile::Kind::Regular)
        return loaded(master + ".map"); // while the rescue runs
    if (NativeFile::kindAt(masterName + ".map") == NativeFile::Kind::Regular)
        return loaded(masterName + ".map");
    if (NativeFile::kindAt(masterName + ".partial.map") == NativeFile::Kind::Regular)
        return loaded(masterName + ".partial.map");
    QFile file(QFile::decodeName(master));
    if (file.open(QIODevice::ReadOnly) && file.read(19) == "tarnwick-rescue-map")
        return loaded(master);
    Rescue::Layout layout;
    if (!Rescue::readLayout(master, layout, error))
        return false;
    for (const QString &note : qAsConst(layout.notes))
        Console::say(note);
    map = layout.map;
    return true;
}

} // namespace

int runMerge(const Options &given)
{
    Options options = given;
    carryOperatorFields(options);
    const QDateTime started = QDateTime::currentDateTime();
    ImageTarget::Settings settings;
    settings.output = options.output;
    settings.tapName = true;
    settings.force = options.force;
    settings.sync = options.sync;
    ImageTarget target(settings);
    if (const int code = ExitCode::of(target.claim()))
        return code;
    QStringList names;
    for (const QByteArray &source : options.mergeSources)
        names << QFile::decodeName(source);
    Rescue::MergeResult result = Rescue::merge(
        options.mergeSources, names, target.fd(), [] { return StopSignals::received() != 0; });
    for (const QString &note : qAsConst(result.notes))
        Console::say(note);
    // An unfinished merge holds nothing its masters do not: its partial file goes.
    const auto dropPartial = [&target] {
        NativeFile::truncate(target.fd(), 0);
        target.keepWhatWasRead();
    };
    if (!result.refusal.isEmpty()) {
        dropPartial();
        return Console::fail(ExitCode::Unmergeable, result.refusal);
    }
    if (result.writeError != 0) {
        const QString failure
            = target.writeFailure(QStringLiteral(": ") + NativeFile::errorText(result.writeError));
        dropPartial();
        return Console::fail(ExitCode::WriteFailed, failure + QStringLiteral("; nothing was kept"));
    }
    if (result.stopped) {
        const int signal = StopSignals::received();
        dropPartial();
        Console::say(QStringLiteral("stopped by a signal; nothing was kept (the masters are as "
                                    "they were)"));
        StopSignals::endBy(signal);
    }
    reportDifferences(options, result);
    return placeMerged(target, options, result, started);
}

int runMapPicture(const Options &options)
{
    const QByteArray &master = options.pictureMaster;
    Rescue::Map map;
    QString error;
    if (!mapToDraw(master, map, error))
        return Console::fail(ExitCode::Unmergeable, error);
    if (!Rescue::writePicture(map, Console::shown(master), options.picturePath, error)) {
        return Console::fail(ExitCode::CannotCreate,
            QStringLiteral("cannot write %1: %2").arg(Console::shown(options.picturePath), error));
    }
    Console::say(map.summary());
    Console::outPath(options.picturePath);
    return ExitCode::Complete;
}
