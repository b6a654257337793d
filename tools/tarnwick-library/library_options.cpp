#include "tools/tarnwick-library/library_options.h"

#include "archive/library_plan.h"

#include <QFile>

namespace {

// "--name VALUE" or "--name=VALUE"; false when @p argument is not that option.
bool valued(
    const QList<QByteArray> &arguments, int &i, const char *name, QByteArray &value, bool &missing)
{
    const QByteArray &argument = arguments.at(i);
    const QByteArray option(name);
    if (argument.startsWith(option + '=')) {
        value = argument.mid(option.size() + 1);
    } else if (argument == option) {
        missing = i + 1 >= arguments.size();
        value = missing ? QByteArray() : arguments.at(++i);
    } else {
        return false;
    }
    missing = missing || value.isEmpty();
    return true;
}

bool number(const QByteArray &value, int low, int high, int &result)
{
    bool ok = false;
    result = value.toInt(&ok);
    return ok && result >= low && result <= high;
}

// The value of option @p name, checked; an empty string when it is good.
QString take(const QByteArray &name, const QByteArray &value, LibraryOptions &options)
{
    const QString text = QFile::decodeName(value);
    QString problem;
    if (name == "--changer") {
        options.changer = text;
    } else if (name == "--drive") {
        options.drives << text;
    } else if (name == "--folder") {
        options.folder = text;
    } else if (name == "--slots") {
        if (!Library::parseSlotList(text, options.slotNumbers, problem))
            return QStringLiteral("--slots: ") + problem;
    } else if (name == "--barcodes") {
        for (const QString &barcode : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
            options.barcodes << barcode.trimmed();
    } else if (name == "--format") {
        if (value != "tap" && value != "tape")
            return QStringLiteral("--format takes tap or tape");
        options.tapFormat = value == "tap";
    } else if (name == "--passes") {
        if (!number(value, 1, 100, options.passes))
            return QStringLiteral("--passes takes a number from 1 to 100");
    } else if (name == "--retries") {
        if (!number(value, 0, 100, options.retries))
            return QStringLiteral("--retries takes a number from 0 to 100");
    } else if (name == "--describe") {
        options.describe = QString::fromLocal8Bit(value);
    } else if (name == "--load-timeout") {
        if (!number(value, 1, 24 * 3600, options.loadTimeoutSeconds))
            return QStringLiteral("--load-timeout takes seconds, from 1 to 86400");
    }
    return QString();
}

} // namespace

QString parseLibraryOptions(const QList<QByteArray> &arguments, LibraryOptions &options)
{
    static const char *const kValued[] = { "--changer", "--drive", "--folder", "--slots",
        "--barcodes", "--format", "--passes", "--retries", "--describe", "--load-timeout" };
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
            continue;
        }
        if (argument == "--initialize" || argument == "--retry-failed"
            || argument == "--unload-foreign") {
            options.initialize = options.initialize || argument == "--initialize";
            options.retryFailed = options.retryFailed || argument == "--retry-failed";
            options.unloadForeign = options.unloadForeign || argument == "--unload-foreign";
            continue;
        }
        bool known = false;
        for (const char *name : kValued) {
            QByteArray value;
            bool missing = false;
            if (!valued(arguments, i, name, value, missing))
                continue;
            if (missing)
                return QStringLiteral("%1 needs a value").arg(QLatin1String(name));
            const QString problem = take(name, value, options);
            if (!problem.isEmpty())
                return problem;
            known = true;
            break;
        }
        if (!known)
            return QStringLiteral("unknown option %1").arg(QString::fromLocal8Bit(argument));
    }
    if (options.changer.isEmpty())
        return QStringLiteral("--changer DEV is missing");
    if (inventory) {
        options.mode = LibraryOptions::Mode::Inventory;
        return QString();
    }
    if (options.folder.isEmpty())
        return QStringLiteral("say what to do: --inventory, or --folder DIR to image cartridges");
    if (!options.tapFormat && (options.passes > 0 || options.retries >= 0))
        return QStringLiteral("--passes and --retries apply to --format tap");
    options.mode = LibraryOptions::Mode::Batch;
    return QString();
}

QString libraryUsage()
{
    return QStringLiteral(
        "Usage: tarnwick-library --changer DEV --inventory [--initialize]\n"
        "       tarnwick-library --changer DEV [--drive DEV ...] --folder DIR [--slots LIST]\n"
        "                        [--barcodes LIST] [--format tap|tape] [--passes N]\n"
        "                        [--retries N] [--retry-failed] [--unload-foreign]\n"
        "                        [--describe TEXT] [--load-timeout SECONDS] [--initialize]\n"
        "\n"
        "  --changer DEV   the library's changer: its generic node /dev/sgN or /dev/schN\n"
        "  --inventory     print the drives, slots and import/export slots, their\n"
        "                  barcodes, which are full, where a loaded cartridge came from\n"
        "                  and which cartridges clean\n"
        "  --initialize    let the robot scan every slot first (slow on a large library)\n"
        "  --folder DIR    image the chosen cartridges into DIR, one tarnwick-image per\n"
        "                  drive, all drives at once: DIR/<barcode>.tap (slot-<n>.tap\n"
        "                  without a barcode), its run record, checksum and map, and the\n"
        "                  journal DIR/library.sqlite with DIR/library.csv and .json\n"
        "  --drive DEV     a tape drive (/dev/nstN), once per drive in the changer's\n"
        "                  drive order; without it drives are paired by serial number\n"
        "  --slots LIST    the slots to image, e.g. 1-4,7 (default: every full slot)\n"
        "  --barcodes LIST the cartridges to image by barcode, e.g. TW0001,TW0003\n"
        "  --format tap    a lossless master (the default); tape: the window's format\n"
        "  --passes N, --retries N   passed on to tarnwick-image (--format tap)\n"
        "  --retry-failed  image again cartridges whose last attempt was not complete\n"
        "  --unload-foreign  put a cartridge found in a drive back in its slot first\n"
        "                  (else that drive is left alone)\n"
        "  --describe TEXT kept in every run record and the journal\n"
        "  --load-timeout SECONDS  how long a loaded cartridge may take to become\n"
        "                  ready (300)\n"
        "  --help, --version\n"
        "\n"
        "Running the same command again passes over cartridges imaged completely and\n"
        "resumes interrupted ones. DIR/notes/<barcode>.txt and .jpg go into the run\n"
        "record as the cartridge's notes and label photo.\n"
        "\n"
        "Exit codes: 0 done, 2 wrong command line, 3 the changer cannot be opened,\n"
        "4 the changer refused a command or answered unreadably, 5 some chosen\n"
        "cartridges are not imaged completely (the journal and the messages say\n"
        "which), 6 the folder or the journal cannot be written, 7 the changer or\n"
        "folder is in use by another batch. A batch stopped by SIGINT or SIGTERM puts\n"
        "the cartridges back and ends by that signal.\n");
}
