#include "platform/posix/device_access.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool sessionHasGroup(gid_t gid)
{
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(std::max(count, 0));
    const int got = getgroups(int(groups.size()), groups.data());
    return getegid() == gid || std::count(groups.begin(), groups.begin() + std::max(got, 0), gid);
}

// The group database, not the session: a member who joined after logging in is
// listed here but not yet in getgroups().
bool listedInGroup(const passwd *user, gid_t gid)
{
    if (!user)
        return false;
    if (user->pw_gid == gid)
        return true;
    const group *entry = getgrgid(gid);
    for (char **member = entry ? entry->gr_mem : nullptr; member && *member; ++member) {
        if (std::strcmp(*member, user->pw_name) == 0)
            return true;
    }
    return false;
}

} // namespace

QString deviceAccessHint(const QString &path, const QString &noun)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(native.constData(), &info) != 0 || !S_ISCHR(info.st_mode)
        || ::access(native.constData(), R_OK) == 0)
        return QString();
    const QString mode
        = QString::number(info.st_mode & 07777, 8).rightJustified(4, QLatin1Char('0'));
    if (!(info.st_mode & S_IRGRP)) {
        const passwd *owner = getpwuid(info.st_uid);
        return QStringLiteral("; only its owner %1 may open it (mode %2)")
            .arg(owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(info.st_uid),
                mode);
    }
    if (sessionHasGroup(info.st_gid))
        return QString();
    const group *entry = getgrgid(info.st_gid);
    const QString name
        = entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(info.st_gid);
    const passwd *user = getpwuid(getuid());
    if (listedInGroup(user, info.st_gid)) {
        return QStringLiteral("; you joined its group \"%1\" after this session started: log in "
                              "again (or run \"newgrp %1\")")
            .arg(name);
    }
    const QString login = user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("$USER");
    return QStringLiteral("; the %4 belongs to group \"%1\" (mode %2): join it with \"sudo "
                          "usermod -aG %1 %3\" and log in again")
        .arg(name, mode, login, noun);
}
