#include "archive/image_target.h"

#include "archive/notices.h"
#include "imaging/image_file.h"
#include "imaging/image_name.h"
#include "platform/posix/native_file.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <fcntl.h>

using NativeFile::Kind;

namespace {

/// The reason a path must not be written to, or empty when it may be.
QString refusal(const QByteArray &path, bool force, const char *what)
{
    const QString name = Archive::shown(path);
    switch (NativeFile::kindAt(path)) {
    case Kind::Missing:
        return QString();
    case Kind::Directory:
        return QStringLiteral("cannot create %1: it is a folder").arg(name);
    case Kind::SymbolicLink:
        return QStringLiteral("%1 is a symbolic link; an image is never written through one: "
                              "give the path of the file itself")
            .arg(name);
    case Kind::Other:
        return QStringLiteral("%1 is not a regular file (a pipe, device or socket); an image "
                              "goes to a file")
            .arg(name);
    case Kind::Regular:
        break;
    }
    return force ? QString() : QString::fromLatin1(what).arg(name);
}

std::function<void()> &beforeRename()
{
    static std::function<void()> hook;
    return hook;
}

QString heldByAnother(const QByteArray &path, int fd)
{
    const qint64 holder = NativeFile::lockHolder(fd);
    return QStringLiteral("%1 is being written by another run%2; it is left alone")
        .arg(Archive::shown(path),
            holder > 0 ? QStringLiteral(" (process %1)").arg(holder) : QString());
}

/**
 * An unfinished run's partial file at @p path, or an empty string when no run holds
 * it. With @p remove (--force) it and its run record go, under its lock so that no run
 * starts on it meanwhile.
 */
QString takeOverPartial(const QByteArray &path, bool remove)
{
    const int fd = NativeFile::openForReading(path);
    if (fd < 0) {
        // Not even readable to this user: no run of this user's writes it.
        if (remove && NativeFile::lastError() == EACCES) {
            NativeFile::removeFile(path);
            NativeFile::removeFile(path + ".json");
        }
        return QString(); // else gone already, or refused by the look at the name after
    }
    QString problem;
    if (!NativeFile::lockExclusive(fd))
        problem = heldByAnother(path, fd);
    else if (remove && NativeFile::stillAt(fd, path)) {
        NativeFile::removeFile(path);
        NativeFile::removeFile(path + ".json");
    }
    NativeFile::close(fd);
    return problem;
}

} // namespace

void ImageTarget::setBeforeRename(std::function<void()> hook)
{
    beforeRename() = std::move(hook);
}

Archive::Failure ImageTarget::holdForRun(int fd, const QByteArray &path)
{
    if (NativeFile::lockExclusive(fd))
        return Archive::Failure::None;
    return Archive::fail(Archive::Failure::CannotCreate, heldByAnother(path, fd));
}

ImageTarget::ImageTarget(const Settings &settings)
    : m_force(settings.force)
    , m_sync(settings.sync)
{
    if (!settings.output.isEmpty()) {
        m_path = settings.output;
        return;
    }
    // The name the destination page builds, without the trailing "/" a folder dialog drops.
    QByteArray folder = settings.folder;
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    QString name
        = ImageName::imagePath(QString(), ImageName::timeStamp(QDateTime::currentDateTime()));
    if (settings.tapName)
        name.chop(1); // ".tape" becomes ".tap"
    m_path = folder + name.toUtf8();
}

QString ImageTarget::openName() const
{
    const QByteArray name = NativeFile::nameOf(m_fd);
    return name.isEmpty() ? QFile::decodeName(partialPath()) : QString::fromLatin1(name);
}

QString ImageTarget::writeFailure(const QString &cause) const
{
    const QString name = Archive::shown(m_path);
    const qint64 limit = NativeFile::fileSizeLimit();
    if (limit >= 0 && NativeFile::size(m_fd) >= limit) {
        return QStringLiteral("writing %1 failed: the file reached the size limit of %2 bytes "
                              "(ulimit -f)")
            .arg(name)
            .arg(limit);
    }
    return QStringLiteral("writing %1 failed%2").arg(name, cause);
}

void ImageTarget::cutTrailer() const
{
    const ImageFile::Trailer trailer = ImageFile::readTrailer(openName());
    if (trailer.valid)
        NativeFile::truncate(m_fd, trailer.bodyLength);
}

ImageTarget::~ImageTarget()
{
    NativeFile::close(m_fd);
}

Archive::Failure ImageTarget::claim()
{
    QString problem = refusal(m_path, m_force,
        "%1 exists already; give --force to replace it once the new image is complete");
    // A run still going on keeps its file whatever is asked; a finished one's goes with --force.
    if (problem.isEmpty() && NativeFile::kindAt(partialPath()) == Kind::Regular)
        problem = takeOverPartial(partialPath(), m_force);
    if (problem.isEmpty()) {
        problem = refusal(partialPath(), m_force,
            "%1 is left from a run that did not finish and may hold the only copy of what it "
            "read: move it away, or give --force to replace it");
    }
    if (!problem.isEmpty())
        return Archive::fail(Archive::Failure::CannotCreate, problem);
    m_fd = NativeFile::createLocked(partialPath());
    if (m_fd < 0) {
        return Archive::fail(Archive::Failure::CannotCreate,
            QStringLiteral("cannot create %1: %2")
                .arg(Archive::shown(m_path), NativeFile::errorText(NativeFile::lastError())));
    }
    return Archive::Failure::None;
}

Archive::Failure ImageTarget::claimPartial()
{
    const QString problem = refusal(partialPath(), true, "");
    if (!problem.isEmpty())
        return Archive::fail(Archive::Failure::CannotCreate, problem);
    m_fd = ::open(partialPath().constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (m_fd < 0 || NativeFile::kindAt(partialPath()) != Kind::Regular) {
        return Archive::fail(Archive::Failure::CannotCreate,
            QStringLiteral("cannot open %1: %2")
                .arg(
                    Archive::shown(partialPath()), NativeFile::errorText(NativeFile::lastError())));
    }
    const Archive::Failure held = holdForRun(m_fd, partialPath());
    if (held != Archive::Failure::None)
        releasePartial();
    return held;
}

void ImageTarget::releasePartial()
{
    NativeFile::close(m_fd);
    m_fd = -1;
}

void ImageTarget::adopt(int fd)
{
    NativeFile::close(m_fd);
    m_fd = fd;
}

Archive::Failure ImageTarget::checkSpace(qint64 totalBytes) const
{
    qint64 available = 0;
    bool readOnly = false;
    const QString folder = Archive::shown(NativeFile::folderOf(m_path));
    if (!NativeFile::volumeOf(m_fd, available, readOnly) || readOnly) {
        return Archive::fail(Archive::Failure::CannotCreate,
            QStringLiteral("cannot write to %1: the volume is not ready or read-only").arg(folder));
    }
    // The same test as the destination page's, against the recorded data of the tape.
    if (available < totalBytes) {
        return Archive::fail(Archive::Failure::WriteFailed,
            QStringLiteral("not enough free space in %1: the tape holds %2 bytes, %3 bytes free")
                .arg(folder)
                .arg(totalBytes)
                .arg(available));
    }
    return Archive::Failure::None;
}

Archive::Failure ImageTarget::place(bool complete)
{
    const QString name = Archive::shown(m_path);
    if (m_sync && !NativeFile::sync(m_fd)) {
        return Archive::fail(Archive::Failure::WriteFailed,
            QStringLiteral("writing %1 failed: %2")
                .arg(name, NativeFile::errorText(NativeFile::lastError())));
    }
    // A file that was unlinked (its folder removed) holds the image only until it is closed.
    if (!NativeFile::stillAt(m_fd, partialPath())) {
        return Archive::fail(Archive::Failure::WriteFailed,
            QStringLiteral("%1.partial was removed during the run (or its folder was), so the "
                           "image is lost")
                .arg(name));
    }
    if (beforeRename())
        beforeRename()();
    // The name may have changed hands since the run began: only this run's file is renamed.
    if (!NativeFile::stillAt(m_fd, partialPath())) {
        return Archive::fail(Archive::Failure::WriteFailed,
            QStringLiteral("%1.partial is no longer the file this run wrote (it was removed or "
                           "replaced); nothing was renamed and the image is not put in place")
                .arg(name));
    }
    if (!NativeFile::rename(partialPath(), m_path, m_force && complete)) {
        if (NativeFile::lastError() != EEXIST) {
            return Archive::fail(Archive::Failure::WriteFailed,
                QStringLiteral("cannot name the image %1: %2; it stays %1.partial")
                    .arg(name, NativeFile::errorText(NativeFile::lastError())));
        }
        if (!m_force) {
            return Archive::fail(Archive::Failure::CannotCreate,
                QStringLiteral("%1 appeared during the run; the new image stays %1.partial")
                    .arg(name));
        }
        Archive::say(QStringLiteral("%1 was not replaced, because the new image is not complete; "
                                    "it stays %1.partial")
                         .arg(name));
        return Archive::Failure::None;
    }
    if (!NativeFile::stillAt(m_fd, m_path)) {
        // Replaced in the moment between the look and the rename: the other file goes back.
        NativeFile::rename(m_path, partialPath(), false);
        return Archive::fail(Archive::Failure::WriteFailed,
            QStringLiteral("%1.partial was replaced by another file as it was renamed; that "
                           "file is back at %1.partial and the image is not put in place")
                .arg(name));
    }
    m_placed = true;
    NativeFile::removeFile(partialPath() + ".json"); // an earlier unfinished run's, if any
    if (m_sync)
        NativeFile::syncFolderOf(m_path); // the name on the disk too; the data already is
    return Archive::Failure::None;
}

bool ImageTarget::keepWhatWasRead()
{
    if (m_fd < 0 || !NativeFile::stillAt(m_fd, partialPath()))
        return false;
    if (NativeFile::size(m_fd) > 0)
        return true;
    NativeFile::removeFile(partialPath());
    return false;
}
