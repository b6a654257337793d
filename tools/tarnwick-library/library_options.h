#pragma once
/**
 * @file
 * The command line of tarnwick-library, and its exit codes (scripts test them:
 * they never change meaning, and new ones go at the end).
 */
#include <QByteArray>
#include <QList>
#include <QString>

namespace LibraryExit {
enum : int {
    Complete = 0, ///< done
    Usage = 2, ///< the command line is wrong
    NoChanger = 3, ///< the changer node cannot be opened (missing, in use, no access)
    ChangerFailed = 4, ///< the changer refused a command or sent an unreadable answer
};
}

struct LibraryOptions
{
    enum class Mode { Inventory, Help, Version };
    Mode mode = Mode::Inventory;
    QString changer; ///< the changer's node, /dev/sgN or /dev/schN
    bool initialize = false; ///< INITIALIZE ELEMENT STATUS before reading the inventory
};

/// Fills @p options from @p arguments (the program name first); an empty string
/// when they make sense, else what is wrong, in one line.
QString parseLibraryOptions(const QList<QByteArray> &arguments, LibraryOptions &options);

QString libraryUsage();
