#include "archive/rescue_claim.h"

#include "archive/rescue_reader.h"
#include "platform/posix/native_file.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Rescue {

namespace {

using NativeFile::Kind;

/// Loads the map at @p mapPath and checks it against @p file; the reason when it cannot be used.
QString loadFor(const QByteArray &mapPath, const QByteArray &file, Map &map)
{
    QString error;
    if (!map.load(mapPath, error))
        return QStringLiteral("%1 cannot be read: %2").arg(Archive::shown(mapPath), error);
    const int fd = ::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return QStringLiteral("%1 cannot be read: %2")
            .arg(Archive::shown(file), NativeFile::errorText(errno));
    }
    const QString why = mismatch(map, fd);
    ::close(fd);
    return why.isEmpty() ? QString()
                         : QStringLiteral("%1 does not belong to %2: %3")
                               .arg(Archive::shown(mapPath), Archive::shown(file), why);
}

} // namespace

QString mismatch(const Map &map, int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return NativeFile::errorText(errno);
    if (map.partialBytes > std::uint64_t(info.st_size)) {
        return QStringLiteral("the map accounts for %1 bytes, the file holds only %2")
            .arg(map.partialBytes)
            .arg(info.st_size);
    }
    if (tailChecksum(fd, map.partialBytes) != map.partialTail)
        return QStringLiteral("the last bytes the map accounts for are not the file's");
    return QString();
}

Archive::Failure claim(ImageTarget &target, bool force, Map &map, bool &resumed)
{
    resumed = false;
    map = Map();
    const QByteArray partial = target.partialPath();
    const QByteArray partialMap = mapPath(partial);
    const QByteArray image = target.path();
    const QByteArray imageMap = mapPath(image);
    const auto present
        = [](const QByteArray &path) { return NativeFile::kindAt(path) == Kind::Regular; };

    // A finished master that is not whole: back to its partial name for more passes.
    if (!present(partial) && present(image) && present(imageMap)) {
        Map earlier;
        if (loadFor(imageMap, image, earlier).isEmpty()
            && (!earlier.unfinished().isEmpty() || !earlier.endKnown())) {
            if (!NativeFile::rename(image, partial, false)
                || !NativeFile::rename(imageMap, partialMap, true)) {
                return Archive::fail(Archive::Failure::CannotCreate,
                    QStringLiteral("cannot take up %1 again: %2")
                        .arg(
                            Archive::shown(image), NativeFile::errorText(NativeFile::lastError())));
            }
            NativeFile::removeFile(image + ".sha256"); // of a file that is to change
            NativeFile::rename(image + ".json", partial + ".json", true);
            Archive::say(QStringLiteral("%1 is not whole (%2): more passes over it")
                             .arg(Archive::shown(image), earlier.summary()));
        }
    }

    // Nothing of a partial file is looked at or changed before its lock is ours: another
    // run that is still writing it keeps it.
    if (present(partial)) {
        const Archive::Failure failure = target.claimPartial();
        if (failure != Archive::Failure::None)
            return failure;
    }
    if (present(partial) && present(partialMap)) {
        const QString why = loadFor(partialMap, partial, map);
        if (!why.isEmpty()) {
            map = Map();
            target.releasePartial();
            return Archive::fail(Archive::Failure::CannotCreate,
                why
                    + QStringLiteral("; the rescue cannot go on and nothing was changed: move "
                                     "both away to start again"));
        }
        if (force) {
            Archive::say(QStringLiteral("--force does not throw away the rescue in %1 (%2): it "
                                        "goes on; move %1 and its map away to start again")
                             .arg(Archive::shown(partial), map.summary()));
        }
        // What was written after the map was last saved is read again.
        if (!NativeFile::truncate(target.fd(), qint64(map.partialBytes))
            || ::lseek(target.fd(), 0, SEEK_END) < 0) {
            return Archive::fail(Archive::Failure::WriteFailed,
                QStringLiteral("cannot cut %1 back to what its map accounts for: %2")
                    .arg(Archive::shown(partial), NativeFile::errorText(NativeFile::lastError())));
        }
        resumed = true;
        Archive::say(
            QStringLiteral("going on with the rescue in %1: %2; pass %3 had reached block %4")
                .arg(Archive::shown(partial), map.summary())
                .arg(map.pass)
                .arg(map.next));
        return Archive::Failure::None;
    }
    // Killed before its map was first saved, a run has written nothing yet.
    if (present(partial) && !present(partialMap)
        && QFileInfo(QFile::decodeName(partial)).size() == 0) {
        NativeFile::removeFile(partial);
        NativeFile::removeFile(partial + ".json");
    }
    // claim() decides on any other partial file, taking its lock afresh.
    target.releasePartial();
    if (!present(partial) && present(partialMap))
        NativeFile::removeFile(partialMap); // the map of a file that is gone describes nothing
    return target.claim();
}

} // namespace Rescue
