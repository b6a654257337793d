#include "tools/tarnwick-image/image_target.h"

#include "imaging/image_name.h"
#include "platform/posix/native_file.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"

#include <QDateTime>

#include <cerrno>

using NativeFile::Kind;

namespace {

/// The reason a path must not be written to, or empty when it may be.
QString refusal(const QByteArray &path, bool force, const char *what)
{
    const QString name = Console::shown(path);
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

} // namespace

ImageTarget::ImageTarget(const Options &options)
    : m_force(options.force)
    , m_sync(options.sync)
{
    if (!options.output.isEmpty()) {
        m_path = options.output;
        return;
    }
    // The name the destination page builds, without the trailing "/" a folder dialog drops.
    QByteArray folder = options.folder;
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    QString name
        = ImageName::imagePath(QString(), ImageName::timeStamp(QDateTime::currentDateTime()));
    if (options.format == Options::Format::Tap)
        name.chop(1); // ".tape" becomes ".tap"
    m_path = folder + name.toUtf8();
}

ImageTarget::~ImageTarget()
{
    NativeFile::close(m_fd);
}

int ImageTarget::claim()
{
    QString problem = refusal(m_path, m_force,
        "%1 exists already; give --force to replace it once the new image is complete");
    if (problem.isEmpty()) {
        problem = refusal(partialPath(), m_force,
            "%1 is left from a run that did not finish and may hold the only copy of what it "
            "read: move it away, or give --force to replace it");
    }
    if (!problem.isEmpty())
        return Console::fail(ExitCode::CannotCreate, problem);
    if (NativeFile::kindAt(partialPath()) == Kind::Regular) {
        NativeFile::removeFile(partialPath()); // --force: an unfinished run's file
        NativeFile::removeFile(partialPath() + ".json");
    }
    m_fd = NativeFile::createExclusive(partialPath());
    if (m_fd < 0) {
        return Console::fail(ExitCode::CannotCreate,
            QStringLiteral("cannot create %1: %2")
                .arg(Console::shown(m_path), NativeFile::errorText(NativeFile::lastError())));
    }
    return ExitCode::Complete;
}

int ImageTarget::checkSpace(qint64 totalBytes) const
{
    qint64 available = 0;
    bool readOnly = false;
    const QString folder = Console::shown(NativeFile::folderOf(m_path));
    if (!NativeFile::volumeOf(m_fd, available, readOnly) || readOnly) {
        return Console::fail(ExitCode::CannotCreate,
            QStringLiteral("cannot write to %1: the volume is not ready or read-only").arg(folder));
    }
    // The same test as the destination page's, against the recorded data of the tape.
    if (available < totalBytes) {
        return Console::fail(ExitCode::WriteFailed,
            QStringLiteral("not enough free space in %1: the tape holds %2 bytes, %3 bytes free")
                .arg(folder)
                .arg(totalBytes)
                .arg(available));
    }
    return ExitCode::Complete;
}

int ImageTarget::place(bool complete)
{
    const QString name = Console::shown(m_path);
    if (m_sync && !NativeFile::sync(m_fd)) {
        return Console::fail(ExitCode::WriteFailed,
            QStringLiteral("writing %1 failed: %2")
                .arg(name, NativeFile::errorText(NativeFile::lastError())));
    }
    // A file that was unlinked (its folder removed) holds the image only until it is closed.
    if (!NativeFile::stillAt(m_fd, partialPath())) {
        return Console::fail(ExitCode::WriteFailed,
            QStringLiteral("%1.partial was removed during the run (or its folder was), so the "
                           "image is lost")
                .arg(name));
    }
    if (!NativeFile::rename(partialPath(), m_path, m_force && complete)) {
        if (NativeFile::lastError() != EEXIST) {
            return Console::fail(ExitCode::WriteFailed,
                QStringLiteral("cannot name the image %1: %2; it stays %1.partial")
                    .arg(name, NativeFile::errorText(NativeFile::lastError())));
        }
        if (!m_force) {
            return Console::fail(ExitCode::CannotCreate,
                QStringLiteral("%1 appeared during the run; the new image stays %1.partial")
                    .arg(name));
        }
        Console::say(QStringLiteral("%1 was not replaced, because the new image is not complete; "
                                    "it stays %1.partial")
                         .arg(name));
        return ExitCode::Complete;
    }
    m_placed = true;
    NativeFile::removeFile(partialPath() + ".json"); // an earlier unfinished run's, if any
    if (m_sync)
        NativeFile::syncFolderOf(m_path); // the name on the disk too; the data already is
    return ExitCode::Complete;
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
