#include "tools/tarnwick-library/library_options.h"

#include <QFile>

QString parseLibraryOptions(const QList<QByteArray> &arguments, LibraryOptions &options)
{
    bool inventory = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QByteArray &argument = arguments.at(i);
        if (argument == "--help" || argument == "-h") {
            options.mode = LibraryOptions::Mode::Help;
            return QString();
        }
        if (argument == "--version") {
            options.mode = LibraryOptions::Mode::Version;
            return QString();
        }
        if (argument == "--inventory") {
            inventory = true;
        } else if (argument == "--initialize") {
            options.initialize = true;
        } else if (argument == "--changer" || argument.startsWith("--changer=")) {
            const bool joined = argument.startsWith("--changer=");
            if (!joined && i + 1 >= arguments.size())
                return QStringLiteral("--changer needs the changer's node, e.g. /dev/sg4");
            options.changer = QFile::decodeName(joined ? argument.mid(10) : arguments.at(++i));
            if (options.changer.isEmpty())
                return QStringLiteral("--changer needs the changer's node, e.g. /dev/sg4");
        } else {
            return QStringLiteral("unknown option %1").arg(QString::fromLocal8Bit(argument));
        }
    }
    if (options.changer.isEmpty())
        return QStringLiteral("--changer DEV is missing");
    if (!inventory)
        return QStringLiteral("say what to do: --inventory");
    return QString();
}

QString libraryUsage()
{
    return QStringLiteral(
        "Usage: tarnwick-library --changer DEV --inventory [--initialize]\n"
        "\n"
        "  --changer DEV   the library's changer: its generic node /dev/sgN or /dev/schN\n"
        "  --inventory     print the drives, slots and import/export slots, their\n"
        "                  barcodes, which are full, where a loaded cartridge came from\n"
        "                  and which cartridges clean\n"
        "  --initialize    let the robot scan every slot first (slow on a large library)\n"
        "  --help, --version\n"
        "\n"
        "Exit codes: 0 done, 2 wrong command line, 3 the changer cannot be opened,\n"
        "4 the changer refused a command or answered unreadably.\n");
}
