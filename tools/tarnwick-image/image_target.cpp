#include "tools/tarnwick-image/image_target.h"

#include "imaging/image_name.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/exit_codes.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

ImageTarget::ImageTarget(const Options &options)
    : m_force(options.force)
{
    if (!options.output.isEmpty()) {
        m_path = options.output;
    } else {
        // The name the destination page builds; cleanPath drops a trailing "/" as the
        // folder dialog would.
        m_path = ImageName::imagePath(
            QDir::cleanPath(options.folder), ImageName::timeStamp(QDateTime::currentDateTime()));
    }
}

QString ImageTarget::folder() const
{
    return QFileInfo(m_path).absolutePath();
}

int ImageTarget::claim()
{
    const QFileInfo info(m_path);
    if (info.isDir()) {
        return Console::fail(
            ExitCode::CannotCreate, QStringLiteral("cannot create %1: it is a folder").arg(m_path));
    }
    if (info.exists() && !m_force) {
        return Console::fail(ExitCode::CannotCreate,
            QStringLiteral("%1 exists already; give --force to overwrite it").arg(m_path));
    }
    QFile file(m_path);
    // With --force the old file stays whole until the run itself truncates it, so a run
    // that fails before reading keeps it.
    const QIODevice::OpenMode mode = m_force ? QIODevice::WriteOnly | QIODevice::Append
                                             : QIODevice::WriteOnly | QIODevice::NewOnly;
    if (!file.open(mode)) {
        return Console::fail(ExitCode::CannotCreate,
            QStringLiteral("cannot create %1: %2").arg(m_path, file.errorString()));
    }
    return ExitCode::Complete;
}

int ImageTarget::checkSpace(qint64 totalBytes) const
{
    const QStorageInfo volume(folder());
    if (!volume.isValid() || !volume.isReady() || volume.isReadOnly()) {
        return Console::fail(ExitCode::CannotCreate,
            QStringLiteral("cannot write to %1: the volume is not ready or read-only")
                .arg(folder()));
    }
    // The same test as the destination page's, against the recorded data of the tape.
    if (volume.bytesAvailable() < totalBytes) {
        return Console::fail(ExitCode::WriteFailed,
            QStringLiteral("not enough free space in %1: the tape holds %2 bytes, %3 bytes free")
                .arg(folder())
                .arg(totalBytes)
                .arg(volume.bytesAvailable()));
    }
    return ExitCode::Complete;
}

bool ImageTarget::tidyAfterFailure() const
{
    const QFileInfo info(m_path);
    if (!info.exists())
        return false;
    if (info.isFile() && info.size() == 0) {
        QFile::remove(m_path);
        return false;
    }
    return true;
}
