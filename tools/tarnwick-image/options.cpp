#include "tools/tarnwick-image/options.h"

#include "imaging/block_size.h"

#include <QCommandLineParser>
#include <QFile>

namespace {

/// The list's entry for @p value, or a null string when the list does not offer it.
QString blockSizeEntry(const QString &value)
{
    if (value.compare(BlockSize::autoText(), Qt::CaseInsensitive) == 0)
        return BlockSize::autoText();
    // Only the list's own entries: 1024 is not offered, and neither is "065536".
    return BlockSize::entries().contains(value) ? value : QString();
}

/// The last value of option @p name as its bytes: "--name VALUE" or "--name=VALUE".
QByteArray rawValue(const QList<QByteArray> &arguments, const char *name)
{
    const QByteArray option = QByteArray("--") + name;
    QByteArray value;
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--")
            break;
        if (arguments[i] == option && i + 1 < arguments.size())
            value = arguments[++i];
        else if (arguments[i].startsWith(option + '='))
            value = arguments[i].mid(option.size() + 1);
    }
    return value;
}

/// @p text as bytes: a number with an optional K, M or G (KiB, MiB, GiB); 0 when it is none.
quint64 sizeValue(QString text)
{
    static const QString suffixes = QStringLiteral("KMG");
    int shift = 0;
    const int suffix = text.isEmpty() ? -1 : suffixes.indexOf(text.back().toUpper());
    if (suffix >= 0) {
        shift = 10 * (suffix + 1);
        text.chop(1);
    }
    bool number = false;
    const quint64 value = text.toULongLong(&number, 10);
    return number && value <= (quint64(1) << (63 - shift)) ? value << shift : 0;
}

/// The arguments that are not options or their values, as their bytes.
QList<QByteArray> rawPositionals(const QList<QByteArray> &arguments, const QStringList &valued)
{
    QList<QByteArray> out;
    for (int i = 1; i < arguments.size(); ++i) {
        const QByteArray &a = arguments[i];
        if (a == "--") {
            out += arguments.mid(i + 1);
            break;
        }
        if (a.startsWith("--")) {
            if (!a.contains('=') && valued.contains(QString::fromLatin1(a.mid(2))))
                ++i;
        } else if (!a.startsWith('-') || a.size() == 1) {
            out << a;
        }
    }
    return out;
}

/// --describe, --notes, --label-photo: each once, none empty.
QString operatorProblem(
    const QList<QByteArray> &arguments, const QCommandLineParser &parser, Options &options)
{
    for (const char *name : { "describe", "notes", "label-photo" }) {
        const QStringList values = parser.values(QLatin1String(name));
        if (values.size() > 1)
            return QStringLiteral("give --%1 once").arg(QLatin1String(name));
        if (values.size() == 1 && values.first().trimmed().isEmpty())
            return QStringLiteral("--%1 takes %2")
                .arg(QLatin1String(name),
                    qstrcmp(name, "describe") == 0 ? QStringLiteral("a text")
                                                   : QStringLiteral("a file"));
    }
    options.given.description = parser.value(QStringLiteral("describe")).trimmed();
    options.given.notesPath = rawValue(arguments, "notes");
    options.given.photoPath = rawValue(arguments, "label-photo");
    return QString();
}

/// --merge A B ... and --map-picture FILE MASTER: what else they take, and their files.
QString rescueProblem(
    const QList<QByteArray> &arguments, const QCommandLineParser &parser, Options &options)
{
    const QList<QByteArray> positionals = rawPositionals(arguments,
        { QStringLiteral("block-size"), QStringLiteral("output"), QStringLiteral("folder"),
            QStringLiteral("inspect"), QStringLiteral("format"), QStringLiteral("retries"),
            QStringLiteral("passes"), QStringLiteral("buffer"), QStringLiteral("drive-block-size"),
            QStringLiteral("merge"), QStringLiteral("map-picture"), QStringLiteral("describe"),
            QStringLiteral("notes"), QStringLiteral("label-photo") });
    QStringList allowed;
    if (parser.isSet(QStringLiteral("merge"))) {
        if (parser.isSet(QStringLiteral("map-picture")))
            return QStringLiteral("give one of --merge and --map-picture");
        options.mode = Options::Mode::Merge;
        options.mergeSources = QList<QByteArray> { rawValue(arguments, "merge") } + positionals;
        options.output = rawValue(arguments, "output");
        options.force = parser.isSet(QStringLiteral("force"));
        options.sync = !parser.isSet(QStringLiteral("no-sync"));
        options.checksum = !parser.isSet(QStringLiteral("no-checksum"));
        options.format = Options::Format::Tap;
        if (parser.isSet(QStringLiteral("format"))
            && parser.value(QStringLiteral("format")) != QLatin1String("tap"))
            return QStringLiteral("--merge makes a .tap master: --format tap, or no --format");
        if (options.mergeSources.size() < 2)
            return QStringLiteral("--merge takes two masters or more");
        if (options.output.isEmpty() || parser.values(QStringLiteral("output")).size() > 1)
            return QStringLiteral("--merge writes to one --output FILE");
        allowed << QStringLiteral("merge") << QStringLiteral("output") << QStringLiteral("force")
                << QStringLiteral("no-sync") << QStringLiteral("no-checksum")
                << QStringLiteral("format") << QStringLiteral("describe") << QStringLiteral("notes")
                << QStringLiteral("label-photo");
        if (const QString problem = operatorProblem(arguments, parser, options); !problem.isEmpty())
            return problem;
    } else {
        options.mode = Options::Mode::Picture;
        options.picturePath = rawValue(arguments, "map-picture");
        if (positionals.size() != 1)
            return QStringLiteral("--map-picture FILE.svg takes one master (or its map) to draw");
        options.pictureMaster = positionals.first();
        allowed << QStringLiteral("map-picture");
    }
    for (const QString &name : parser.optionNames())
        if (!allowed.contains(name))
            return QStringLiteral("--%1 does not go with --%2")
                .arg(name,
                    options.mode == Options::Mode::Merge ? QStringLiteral("merge")
                                                         : QStringLiteral("map-picture"));
    return QString();
}

QString imagingProblem(const Options &options, const QCommandLineParser &parser)
{
    if (options.output.isEmpty() == options.folder.isEmpty())
        return QStringLiteral("give exactly one of --output FILE and --folder DIR");
    if (options.format == Options::Format::Tap) {
        if (parser.isSet(QStringLiteral("block-size")) || options.yes)
            return QStringLiteral("--format tap keeps every block at its own length: "
                                  "--block-size and --yes do not apply");
    } else if (parser.isSet(QStringLiteral("passes"))) {
        return QStringLiteral("--passes applies to --format tap");
    } else if (parser.isSet(QStringLiteral("retries"))
        || parser.isSet(QStringLiteral("keep-retrying"))) {
        return QStringLiteral("--retries and --keep-retrying apply to --format tap; the .tape "
                              "format reads as the window does, once");
    } else if (parser.isSet(QStringLiteral("buffer"))) {
        return QStringLiteral("--buffer applies to --format tap; the .tape format is "
                              "written as the window writes it");
    }
    // From two chunks of 1 MiB up to 64 GiB; memory is taken only while the disk lags.
    if (options.bufferBytes < (quint64(2) << 20) || options.bufferBytes > (quint64(64) << 30))
        return QStringLiteral("--buffer takes a size from 2M to 64G (K, M, G: KiB, MiB, GiB)");
    if (options.blockSizeText.isNull()) {
        return QStringLiteral("--block-size takes auto or one of ")
            + BlockSize::entries().mid(1).join(QLatin1Char(' '));
    }
    if (options.retries < 0)
        return QStringLiteral("--retries takes a number from 0 to 100");
    if (options.passes < 1)
        return QStringLiteral("--passes takes a number from 1 to 100");
    return QString();
}

} // namespace

QString usageText()
{
    return QStringLiteral(
        "Usage: tarnwick-image [--block-size SIZE] [--yes] [--eject] [--force]\n"
        "                      [--drive-block-size BYTES] [--no-sync] [--no-checksum]\n"
        "                      [--describe TEXT] [--notes FILE] [--label-photo FILE]\n"
        "                      (--output FILE | --folder DIR)\n"
        "       tarnwick-image --format tap [--retries N] [--keep-retrying] [--passes N]\n"
        "                      [--buffer SIZE] [--eject] [--force]\n"
        "                      [--drive-block-size BYTES] [--no-sync] [--no-checksum]\n"
        "                      [--describe TEXT] [--notes FILE] [--label-photo FILE]\n"
        "                      (--output FILE | --folder DIR)\n"
        "       tarnwick-image --inspect FILE [--verify]\n"
        "       tarnwick-image --merge MASTER MASTER... --output FILE [--force]\n"
        "                      [--no-sync] [--no-checksum]\n"
        "                      [--describe TEXT] [--notes FILE] [--label-photo FILE]\n"
        "       tarnwick-image --map-picture FILE.svg MASTER\n"
        "       tarnwick-image --drive-info\n"
        "\n"
        "Images the tape in the first tape drive ($TAPE, else /dev/nst0; a regular\n"
        "file is read as a virtual tape) into one image file, and leaves a run\n"
        "record beside it: FILE.json (what was read, the verdict) and FILE.sha256.\n"
        "The image is written as FILE.partial and gets its name once it is whole.\n"
        "\n"
        "  --format tape      the window's .tape image (default), byte for byte\n"
        "  --format tap       a lossless master (.tap): every block at its own length,\n"
        "                     every tape mark, unreadable blocks flagged, to the end of data\n"
        "  --block-size SIZE  auto (default: every block at its own length) or one of\n"
        "                     %1\n"
        "  --yes              when the tape's blocks are shorter than SIZE, pad them\n"
        "                     with zeros to SIZE (without it the run is abandoned)\n"
        "  --retries N        --format tap: read an unreadable block N more times (3)\n"
        "  --keep-retrying    --format tap: read it again even when the drive says the\n"
        "                     tape is at risk (TapeAlert media or snapped tape)\n"
        "  --passes N         --format tap: passes over the tape in this run (2): the first\n"
        "                     reads what reads, skipping damaged stretches; later ones\n"
        "                     return to the blocks not read whole. The run keeps FILE.map\n"
        "                     (FILE.partial.map while it runs); the same command again goes\n"
        "                     on where an interrupted run stopped, or makes more passes\n"
        "  --buffer SIZE      --format tap: up to SIZE bytes (K, M, G suffixes) read\n"
        "                     and waiting for the disk, so that the drive keeps streaming\n"
        "                     while the disk is slow for a moment (256M)\n"
        "  --eject            eject the tape when the image is complete\n"
        "  --output FILE      write the image to FILE\n"
        "  --folder DIR       write it to DIR/Tape_Image_(<date and time>).tape (or .tap)\n"
        "  --force            replace an existing image, once the new one is complete\n"
        "  --drive-block-size BYTES\n"
        "                     set the drive to fixed blocks of BYTES before reading\n"
        "                     (each read then asks for one block); default 0, variable\n"
        "                     blocks, as the window leaves the drive\n"
        "  --no-sync          name the image without waiting for it to reach the disk\n"
        "  --no-checksum      leave the SHA-256 out of the run record\n"
        "  --describe TEXT    what you say of the cartridge, kept in the run record\n"
        "  --notes FILE       a UTF-8 text file (up to 64 KiB) whose text the run record\n"
        "                     keeps\n"
        "  --label-photo FILE a photo of the cartridge's label: its name, size and SHA-256\n"
        "                     go in the run record, the photo beside the image as\n"
        "                     FILE.label.<ext>; given again when a master goes on, these\n"
        "                     three replace the earlier run's, else those are kept\n"
        "  --inspect FILE     whether an image holds the whole tape, and its run record\n"
        "  --verify           with --inspect: check the image against its checksum\n"
        "  --merge MASTER...  combine masters of one tape (from other drives or runs)\n"
        "                     into the best master: a record read good by any of them\n"
        "                     wins; FILE.map says which master gave each record\n"
        "  --map-picture FILE.svg\n"
        "                     draw MASTER's rescue map (MASTER.map, or MASTER itself):\n"
        "                     the tape as a strip coloured by state, tape marks as ticks\n"
        "  --drive-info       what the drive and its cartridge tell of themselves (limits,\n"
        "                     density, compression, TapeAlert, error counters, cartridge\n"
        "                     memory), without reading the tape; needs access to the\n"
        "                     drive's /dev/sgN\n"
        "\n"
        "Exit codes: 0 complete image, 1 not a complete image (--inspect), 2 usage,\n"
        "3 no drive, 4 drive not ready or no medium, 5 load failed, 6 block size\n"
        "refused, 7 block size declined, 8 cannot create the file, 9 disk full or\n"
        "write failed, 10 tape position unknown, 11 read to the end but some blocks\n"
        "are not whole in the image (unreadable or cut), 12 the image stops short of\n"
        "the end of data, 13 --inspect: no run record says whether the image is whole,\n"
        "14 --merge or --map-picture: a master cannot be read, or the masters disagree.\n"
        "Stopped by SIGINT, SIGTERM or SIGHUP: FILE.partial keeps what was read, and the\n"
        "program ends by that signal.\n")
        .arg(BlockSize::entries().mid(1).join(QLatin1Char(' ')));
}

QString parseOptions(const QList<QByteArray> &arguments, Options &options)
{
    QStringList decoded;
    for (const QByteArray &argument : arguments)
        decoded << QFile::decodeName(argument);
    QCommandLineParser parser;
    const auto flag = [](const char *name) { return QCommandLineOption(QLatin1String(name)); };
    const auto valued = [](const char *name, const char *value, const QString &byDefault = {}) {
        return QCommandLineOption(QLatin1String(name), QString(), QLatin1String(value), byDefault);
    };
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") }, QString());
    parser.addOptions({ help, valued("block-size", "SIZE", BlockSize::autoText()), flag("yes"),
        flag("eject"), flag("force"), valued("output", "FILE"), valued("folder", "DIR"),
        valued("inspect", "FILE"), flag("verify"),
        valued("format", "FORMAT", QStringLiteral("tape")),
        valued("retries", "N", QStringLiteral("3")), valued("passes", "N", QStringLiteral("2")),
        flag("no-sync"), flag("no-checksum"),
        valued("drive-block-size", "BYTES", QStringLiteral("0")),
        valued("buffer", "SIZE", QStringLiteral("256M")), valued("merge", "FILE"),
        valued("map-picture", "FILE"), flag("keep-retrying"), flag("drive-info"),
        valued("describe", "TEXT"), valued("notes", "FILE"), valued("label-photo", "FILE") });
    if (!parser.parse(decoded))
        return parser.errorText();
    if (parser.isSet(QStringLiteral("merge")) || parser.isSet(QStringLiteral("map-picture")))
        return rescueProblem(arguments, parser, options);
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument: ") + parser.positionalArguments().first();
    if (parser.isSet(help)) {
        options.mode = Options::Mode::Help;
        return QString();
    }
    if (parser.isSet(QStringLiteral("inspect"))) {
        options.mode = Options::Mode::Inspect;
        options.inspectPath = rawValue(arguments, "inspect");
        options.verify = parser.isSet(QStringLiteral("verify"));
        const bool alone = parser.optionNames().size() == (options.verify ? 2 : 1);
        return alone ? QString() : QStringLiteral("--inspect takes no other option but --verify");
    }
    if (parser.isSet(QStringLiteral("verify")))
        return QStringLiteral("--verify goes with --inspect");
    if (parser.isSet(QStringLiteral("drive-info"))) {
        options.mode = Options::Mode::DriveInfo;
        return parser.optionNames().size() == 1
            ? QString()
            : QStringLiteral("--drive-info takes no other option");
    }
    options.mode = Options::Mode::Image;
    const QString format = parser.value(QStringLiteral("format"));
    if (format != QLatin1String("tape") && format != QLatin1String("tap"))
        return QStringLiteral("--format takes tape or tap");
    options.format = format == QLatin1String("tap") ? Options::Format::Tap : Options::Format::Tape;
    options.blockSizeText = blockSizeEntry(parser.value(QStringLiteral("block-size")));
    options.yes = parser.isSet(QStringLiteral("yes"));
    options.eject = parser.isSet(QStringLiteral("eject"));
    options.force = parser.isSet(QStringLiteral("force"));
    options.sync = !parser.isSet(QStringLiteral("no-sync"));
    options.checksum = !parser.isSet(QStringLiteral("no-checksum"));
    options.keepRetrying = parser.isSet(QStringLiteral("keep-retrying"));
    options.output = rawValue(arguments, "output");
    options.folder = rawValue(arguments, "folder");
    options.bufferBytes = sizeValue(parser.value(QStringLiteral("buffer")));
    bool number = false;
    options.retries = parser.value(QStringLiteral("retries")).toInt(&number);
    if (!number || options.retries > 100)
        options.retries = -1;
    options.passes = parser.value(QStringLiteral("passes")).toInt(&number);
    if (!number || options.passes > 100)
        options.passes = 0;
    options.driveBlockSize = parser.value(QStringLiteral("drive-block-size")).toUInt(&number, 10);
    // The largest block a SCSI tape drive takes has 24 bits.
    if (!number || options.driveBlockSize > 0xFFFFFF)
        return QStringLiteral("--drive-block-size takes a number of bytes from 0 to 16777215");
    if (parser.values(QStringLiteral("output")).size() > 1
        || parser.values(QStringLiteral("folder")).size() > 1)
        return QStringLiteral("give --output or --folder once");
    if (const QString problem = operatorProblem(arguments, parser, options); !problem.isEmpty())
        return problem;
    return imagingProblem(options, parser);
}
