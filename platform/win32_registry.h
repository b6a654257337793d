#pragma once
/**
 * @file
 * The registry keys the system reads, as Linux files:
 *  - the application key "HKEY_LOCAL_MACHINE\Software\Wow6432Node\Brisolde\Tarnwick"
 *    is the system-wide INI file Brisolde/Tarnwick.ini in the first folder of
 *    $XDG_CONFIG_DIRS (else /etc/xdg), which the installation writes; its values
 *    are strings, read as written (not as QSettings lists);
 *  - "...\Windows NT\CurrentVersion" is /etc/os-release (PRETTY_NAME as
 *    "ProductName", VERSION_ID as "CurrentVersion"); $TARNWICK_OS_RELEASE
 *    names another file;
 *  - "...\Windows\CurrentVersion" is the kernel (uname: name as "ProductName",
 *    release as "CurrentVersion").
 * Key paths compare case-insensitively, as the registry does. Every RegistryKey
 * reads its source when it is constructed, so a new one sees the latest values.
 */
#include <QMap>
#include <QString>
#include <QVariant>

/// The application's settings key, as the entry point sets it.
extern const char *const kApplicationKeyPath;
/// The operating system's product key.
extern const char *const kWindowsNtVersionKeyPath;
/// The operating system's older version key, read when the first gives no usable name.
extern const char *const kWindowsVersionKeyPath;

class RegistryKey
{
public:
    /// Opens @p path; an unknown key opens as an empty key.
    explicit RegistryKey(const QString &path);

    /// The value @p name, or @p defaultValue when the key has no such value.
    QVariant value(const QString &name, const QVariant &defaultValue = QVariant()) const;

    /// The value @p name as a string; an absent value reads as an empty string.
    QString stringValue(const QString &name) const;

private:
    QMap<QString, QVariant> m_values;
};

/// The INI file behind the application key.
QString applicationSettingsFile();

/// The os-release file behind the product key.
QString osReleaseFile();

/**
 * Parses the application's INI text: "name=value" lines, values taken as the
 * plain text the installation wrote (commas and all; quotes around a whole
 * value are dropped). Names outside [General] read as "section/name".
 */
QMap<QString, QString> parseSettingsIni(const QByteArray &text);

/// Parses os-release text: KEY=value lines, values optionally quoted.
QMap<QString, QString> parseOsRelease(const QByteArray &text);
