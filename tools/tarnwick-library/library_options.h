#pragma once
/**
 * @file
 * The command line of tarnwick-library, and its exit codes (scripts test them:
 * they never change meaning, and new ones go at the end).
 */
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace LibraryExit {
enum : int {
    Complete = 0, ///< done
    Usage = 2, ///< the command line is wrong
    NoChanger = 3, ///< the changer node cannot be opened (missing, in use, no access)
    ChangerFailed = 4, ///< the changer refused a command or sent an unreadable answer
    NotAllImaged = 5, ///< some chosen cartridges are not imaged completely
    FolderFailed = 6, ///< the folder or the journal cannot be written
    InUse = 7, ///< the changer or folder is in use by another batch
};
}

struct LibraryOptions
{
    enum class Mode { Inventory, Batch, Help, Version };
    Mode mode = Mode::Inventory;
    QString changer; ///< the changer's node, /dev/sgN or /dev/schN
    bool initialize = false; ///< INITIALIZE ELEMENT STATUS before reading the inventory
    QStringList drives; ///< --drive, in the changer's drive order
    QString folder;
    QList<int> slotNumbers;
    QStringList barcodes;
    bool tapFormat = true;
    int passes = 0, retries = -1; ///< 0 and -1: not given, the imager's own default
    bool retryFailed = false;
    bool unloadForeign = false;
    QString describe;
    int loadTimeoutSeconds = 300;
};

/// Fills @p options from @p arguments (the program name first); an empty string
/// when they make sense, else what is wrong, in one line.
QString parseLibraryOptions(const QList<QByteArray> &arguments, LibraryOptions &options);

QString libraryUsage();
