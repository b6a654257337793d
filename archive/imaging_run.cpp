#include "archive/imaging_run.h"

#include "archive/drive_session.h"
#include "archive/operator_fields.h"
#include "archive/rescue_claim.h"
#include "imaging/imaging_state.h"
#include "imaging/size_text.h"
#include "platform/posix/native_file.h"

#include <csignal>
#include <fcntl.h>

namespace {

constexpr int kProblemsShown = 20; ///< the rest are in the run record

QString signalName(int signal)
{
    switch (signal) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signal);
    }
}

} // namespace

ImagingRun::ImagingRun(const Settings &settings)
    : m_checksum(settings.checksum)
    , m_tap(settings.tap)
    , m_force(settings.target.force)
    , m_driveBlockSize(settings.driveBlockSize)
    , m_target(settings.target)
    , m_keeper(
          m_record, m_log, [this] { return m_target.currentPath(); },
          [this] { return m_target.fd(); })
{
    // What was read is on record as the run goes, should it never get to write its own.
    m_log.setWatcher([this](bool mark) { m_keeper.logged(mark); });
    m_record.program = settings.program;
    m_record.version = settings.version;
    m_record.format = settings.tap ? RunRecord::ImageFormat::Tap : RunRecord::ImageFormat::Tape;
    m_record.blockSize
        = settings.tap ? QStringLiteral("each block at its own length") : settings.blockSizeText;
    m_record.devicePath = DriveSession::devicePath();
    m_record.operatorFields = settings.operatorFields;
    m_labelPhoto = settings.labelPhoto;
}

Archive::Failure ImagingRun::claim()
{
    m_record.started = QDateTime::currentDateTime();
    // A master goes on with the rescue an earlier run left, if there is one.
    const Archive::Failure failure
        = m_tap ? Rescue::claim(m_target, m_force, m_map, m_resumed) : m_target.claim();
    return failure == Archive::Failure::None ? claimLabelPhoto() : failure;
}

Archive::Failure ImagingRun::claimLabelPhoto()
{
    const QByteArray partial = m_target.partialPath();
    RunRecord::Operator &fields = m_record.operatorFields;
    RunRecord::Record earlier;
    // An earlier run's fields go on with its rescue (its record lies beside the partial file).
    if (m_resumed && RunRecord::readBeside(partial, earlier)) {
        const RunRecord::Operator given = fields;
        for (const QString &change : OperatorFields::carry(earlier.operatorFields, fields))
            Archive::say(change);
        const QString before = earlier.operatorFields.photoName;
        const QByteArray copy = OperatorFields::photoBeside(partial, before);
        if (!before.isEmpty() && given.photoName.isEmpty()) {
            // A master taken up again has its photo beside its own name.
            const QByteArray placed = OperatorFields::photoBeside(m_target.path(), before);
            if (NativeFile::kindAt(copy) != NativeFile::Kind::Regular
                && NativeFile::kindAt(placed) == NativeFile::Kind::Regular)
                NativeFile::rename(placed, copy, true);
        } else if (!before.isEmpty()
            && copy != OperatorFields::photoBeside(partial, fields.photoName)) {
            NativeFile::removeFile(copy);
        }
    }
    if (m_labelPhoto.isEmpty())
        return Archive::Failure::None;
    const QByteArray copy = OperatorFields::photoBeside(partial, fields.photoName);
    if (OperatorFields::writePhoto(copy, m_labelPhoto))
        return Archive::Failure::None;
    const QString error = NativeFile::errorText(errno);
    keepWhatWasRead();
    return Archive::fail(Archive::Failure::CannotCreate,
        QStringLiteral("cannot write the label photo %1: %2").arg(Archive::shown(copy), error));
}

void ImagingRun::placeLabelPhoto()
{
    const QString name = m_record.operatorFields.photoName;
    if (name.isEmpty() || !m_target.placed())
        return;
    const QByteArray from = OperatorFields::photoBeside(m_target.partialPath(), name);
    const QByteArray to = OperatorFields::photoBeside(m_target.path(), name);
    if (NativeFile::rename(from, to, true))
        NativeFile::syncFolderOf(to);
    else if (NativeFile::kindAt(to) != NativeFile::Kind::Regular)
        Archive::say(QStringLiteral("the label photo %1 could not be put beside the image: %2")
                         .arg(Archive::shown(from), NativeFile::errorText(errno)));
}

void ImagingRun::replaceImage(int fd)
{
    m_hasher.finish(-1); // it followed the file that was replaced
    m_target.adopt(fd);
}

Archive::Failure ImagingRun::prepareDrive()
{
    // Each step only once the one before it worked: a drive that did not open is not asked more.
    Archive::Failure failure = DriveSession::connect();
    if (failure == Archive::Failure::None)
        failure = DriveSession::checkReady();
    if (failure == Archive::Failure::None)
        failure = DriveSession::prepareMedia(m_driveBlockSize);
    if (failure == Archive::Failure::None)
        failure = m_target.checkSpace(ImagingState::totalBytes);
    return failure;
}

void ImagingRun::start()
{
    DriveSession::describe(m_record);
    if (m_checksum && !m_hasher.start(m_target.fd()))
        Archive::say(
            QStringLiteral("the checksum cannot be computed: the image cannot be read back"));
}

void ImagingRun::writeRecord(RunRecord::Verdict verdict, const QString &text, const QString &sha256)
{
    m_record.ended = QDateTime::currentDateTime();
    m_log.fill(m_record);
    m_record.bytesWritten = NativeFile::size(m_target.fd());
    m_record.verdict = verdict;
    m_record.verdictText = text;
    m_record.sha256 = sha256;
    const QByteArray image = m_target.currentPath();
    if (!RunRecord::writeBeside(image, m_record)) {
        Archive::say(QStringLiteral("the run record %1 could not be written: %2")
                         .arg(Archive::shown(RunRecord::recordPath(image)),
                             NativeFile::errorText(NativeFile::lastError())));
    }
    m_keeper.finish(RunRecord::recordPath(image));
    if (!m_target.placed() || sha256.isEmpty())
        return;
    if (!RunRecord::writeChecksumBeside(image, sha256)) {
        Archive::say(QStringLiteral("the checksum file %1 could not be written: %2")
                         .arg(Archive::shown(RunRecord::checksumPath(image)),
                             NativeFile::errorText(NativeFile::lastError())));
    }
}

void ImagingRun::reportProblems()
{
    const QVector<RunRecord::Problem> &problems = m_log.problems();
    for (int i = 0; i < problems.size() && i < kProblemsShown; ++i)
        Archive::say(problems[i].text);
    if (problems.size() > kProblemsShown) {
        Archive::say(QStringLiteral("and %1 more blocks; the run record lists them all")
                         .arg(problems.size() - kProblemsShown));
    }
}

Archive::Failure ImagingRun::finish(RunRecord::Verdict verdict, const QString &text)
{
    const qint64 size = NativeFile::size(m_target.fd());
    QString sha256 = m_hasher.finish(size);
    if (sha256.isEmpty() && m_checksum) {
        // Not followed as it grew (cut back on resuming, or replaced): read it whole.
        const int readable
            = ::open(NativeFile::nameOf(m_target.fd()).constData(), O_RDONLY | O_CLOEXEC);
        if (readable >= 0) {
            sha256 = FileHasher::ofFile(readable);
            NativeFile::close(readable);
        }
    }
    const Archive::Failure placing = m_target.place(verdict == RunRecord::Verdict::Complete);
    if (placing != Archive::Failure::None) {
        if (m_target.keepWhatWasRead())
            writeRecord(RunRecord::Verdict::Unfinished,
                QStringLiteral("the run read the tape, "
                               "but the image could not be put in place"),
                QString());
        else
            m_keeper.finish(QByteArray());
        return placing;
    }
    placeLabelPhoto();
    writeRecord(verdict, text, sha256);
    reportProblems();
    const QString details = (m_imageSummary.isEmpty() ? m_log.summary() : m_imageSummary)
        + QStringLiteral(", ") + SizeText::windowUnits(size);
    if (verdict == RunRecord::Verdict::Complete)
        Archive::say(QStringLiteral("image complete: ") + details);
    else
        Archive::say(text + QStringLiteral(" (") + details + QLatin1Char(')'));
    return Archive::Failure::None;
}

bool ImagingRun::keepWhatWasRead()
{
    if (m_target.keepWhatWasRead())
        return true;
    // Nothing is left for the photo to stand beside.
    const QString photo = m_record.operatorFields.photoName;
    if (!photo.isEmpty() && !m_target.placed()
        && NativeFile::kindAt(m_target.partialPath()) == NativeFile::Kind::Missing)
        NativeFile::removeFile(OperatorFields::photoBeside(m_target.partialPath(), photo));
    return false;
}

QString ImagingRun::abandon(const QString &message)
{
    m_hasher.finish(-1);
    if (!keepWhatWasRead()) {
        m_keeper.finish(QByteArray());
        return message + QStringLiteral("; no image file was left");
    }
    writeRecord(RunRecord::Verdict::Unfinished, message, QString());
    reportProblems();
    return message
        + QStringLiteral("; %1 keeps what was read so far, but it is not a complete image")
              .arg(Archive::shown(m_target.partialPath()));
}

QString ImagingRun::stoppedBy(int signal) const
{
    return QStringLiteral("stopped by %1 after block %2")
        .arg(signalName(signal))
        .arg(m_log.objects());
}
