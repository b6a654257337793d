#include "platform/win32_registry.h"

#include <QFile>
#include <sys/utsname.h>

const char *const kApplicationKeyPath
    = "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Brisolde\\Tarnwick";
const char *const kWindowsNtVersionKeyPath
    = "HKEY_LOCAL_MACHINE\\SOFTWARE\\MicroSoft\\Windows NT\\CurrentVersion";
const char *const kWindowsVersionKeyPath
    = "HKEY_LOCAL_MACHINE\\SOFTWARE\\MicroSoft\\Windows\\CurrentVersion";

namespace {

bool samePath(const QString &path, const char *keyPath)
{
    return path.compare(QLatin1String(keyPath), Qt::CaseInsensitive) == 0;
}

QMap<QString, QVariant> readApplicationKey()
{
    QFile file(applicationSettingsFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QMap<QString, QVariant> values;
    const QMap<QString, QString> fields = parseSettingsIni(file.readAll());
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        values.insert(it.key(), it.value());
    return values;
}

QMap<QString, QVariant> readOsRelease()
{
    QFile file(osReleaseFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QMap<QString, QString> fields = parseOsRelease(file.readAll());
    QMap<QString, QVariant> values;
    if (fields.contains(QStringLiteral("PRETTY_NAME")))
        values.insert(QStringLiteral("ProductName"), fields.value(QStringLiteral("PRETTY_NAME")));
    if (fields.contains(QStringLiteral("VERSION_ID")))
        values.insert(QStringLiteral("CurrentVersion"), fields.value(QStringLiteral("VERSION_ID")));
    return values;
}

QMap<QString, QVariant> readKernel()
{
    struct utsname names = {};
    if (::uname(&names) != 0)
        return {};
    return { { QStringLiteral("ProductName"), QString::fromLocal8Bit(names.sysname) },
        { QStringLiteral("CurrentVersion"), QString::fromLocal8Bit(names.release) } };
}

QString unquote(const QString &raw)
{
    if (raw.size() < 2)
        return raw;
    const QChar quote = raw.front();
    if ((quote != QLatin1Char('"') && quote != QLatin1Char('\'')) || raw.back() != quote)
        return raw;
    const QString inner = raw.mid(1, raw.size() - 2);
    if (quote == QLatin1Char('\''))
        return inner;
    // Double quotes allow the shell escapes \" \\ \$ \`.
    QString text;
    for (int i = 0; i < inner.size(); ++i) {
        if (inner.at(i) == QLatin1Char('\\') && i + 1 < inner.size())
            ++i;
        text += inner.at(i);
    }
    return text;
}

} // namespace

QString applicationSettingsFile()
{
    QString folder = QStringLiteral("/etc/xdg");
    const QStringList dirs
        = qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (!dirs.isEmpty())
        folder = dirs.first();
    return folder + QStringLiteral("/Brisolde/Tarnwick.ini");
}

QString osReleaseFile()
{
    const QString overridden = qEnvironmentVariable("TARNWICK_OS_RELEASE");
    if (!overridden.isEmpty())
        return overridden;
    // /etc/os-release is the usual place; /usr/lib/os-release the fallback the format defines.
    if (QFile::exists(QStringLiteral("/etc/os-release")))
        return QStringLiteral("/etc/os-release");
    return QStringLiteral("/usr/lib/os-release");
}

QMap<QString, QString> parseOsRelease(const QByteArray &text)
{
    QMap<QString, QString> fields;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        const int equals = line.indexOf(QLatin1Char('='));
        if (line.startsWith(QLatin1Char('#')) || equals <= 0)
            continue;
        fields.insert(line.left(equals), unquote(line.mid(equals + 1)));
    }
    return fields;
}

QMap<QString, QString> parseSettingsIni(const QByteArray &text)
{
    QMap<QString, QString> values;
    QString section;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')) || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        // Values of the [General] section are the key's own, as the registry has them.
        const bool general = section.isEmpty() || section == QLatin1String("General");
        values.insert(general ? key : section + QLatin1Char('/') + key,
            unquote(line.mid(equals + 1).trimmed()));
    }
    return values;
}

RegistryKey::RegistryKey(const QString &path)
{
    if (samePath(path, kApplicationKeyPath))
        m_values = readApplicationKey();
    else if (samePath(path, kWindowsNtVersionKeyPath))
        m_values = readOsRelease();
    else if (samePath(path, kWindowsVersionKeyPath))
        m_values = readKernel();
}

QVariant RegistryKey::value(const QString &name, const QVariant &defaultValue) const
{
    return m_values.value(name, defaultValue);
}

QString RegistryKey::stringValue(const QString &name) const
{
    return m_values.value(name).toString();
}
