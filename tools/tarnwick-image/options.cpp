#include "tools/tarnwick-image/options.h"

#include "imaging/block_size.h"

#include <QCommandLineParser>

namespace {

/// The list's entry for @p value, or a null string when the list does not offer it.
QString blockSizeEntry(const QString &value)
{
    if (value.compare(BlockSize::autoText(), Qt::CaseInsensitive) == 0)
        return BlockSize::autoText();
    // Only the list's own entries: 1024 is not offered, and neither is "065536".
    return BlockSize::entries().contains(value) ? value : QString();
}

QString imagingProblem(const Options &options)
{
    if (options.output.isEmpty() == options.folder.isEmpty())
        return QStringLiteral("give exactly one of --output FILE and --folder DIR");
    if (options.blockSizeText.isNull()) {
        return QStringLiteral("--block-size takes auto or one of ")
            + BlockSize::entries().mid(1).join(QLatin1Char(' '));
    }
    return QString();
}

} // namespace

QString usageText()
{
    return QStringLiteral(
        "Usage: tarnwick-image [--block-size SIZE] [--yes] [--eject] [--force]\n"
        "                      [--drive-block-size BYTES] (--output FILE | --folder DIR)\n"
        "       tarnwick-image --inspect FILE\n"
        "\n"
        "Images the tape in the first tape drive ($TAPE, else /dev/nst0; a regular\n"
        "file is read as a virtual tape) into one image file.\n"
        "\n"
        "  --block-size SIZE  auto (default: every block at its own length) or one of\n"
        "                     %1\n"
        "  --yes              when the tape's blocks are shorter than SIZE, pad them\n"
        "                     with zeros to SIZE (without it the run is abandoned)\n"
        "  --eject            eject the tape when the image is complete\n"
        "  --output FILE      write the image to FILE\n"
        "  --folder DIR       write it to DIR/Tape_Image_(<date and time>).tape\n"
        "  --force            overwrite an existing image file\n"
        "  --drive-block-size BYTES\n"
        "                     set the drive to fixed blocks of BYTES before reading\n"
        "                     (each read then asks for one block); default 0, variable\n"
        "                     blocks, as the window leaves the drive\n"
        "  --inspect FILE     show an image file's trailer and whether it is complete\n"
        "\n"
        "Exit codes: 0 complete image, 1 not a complete image (--inspect), 2 usage,\n"
        "3 no drive, 4 drive not ready or no medium, 5 load failed, 6 block size\n"
        "refused, 7 block size declined, 8 cannot create the file, 9 disk full or\n"
        "write failed, 10 tape position unknown.\n")
        .arg(BlockSize::entries().mid(1).join(QLatin1Char(' ')));
}

QString parseOptions(const QStringList &arguments, Options &options)
{
    QCommandLineParser parser;
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") }, QString());
    const QCommandLineOption block(
        QStringLiteral("block-size"), QString(), QStringLiteral("SIZE"), BlockSize::autoText());
    const QCommandLineOption yes(QStringLiteral("yes"), QString());
    const QCommandLineOption eject(QStringLiteral("eject"), QString());
    const QCommandLineOption force(QStringLiteral("force"), QString());
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption folder(QStringLiteral("folder"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption inspect(QStringLiteral("inspect"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption driveBlock(QStringLiteral("drive-block-size"), QString(),
        QStringLiteral("BYTES"), QStringLiteral("0"));
    parser.addOptions({ help, block, yes, eject, force, output, folder, inspect, driveBlock });
    if (!parser.parse(arguments))
        return parser.errorText();
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument: ") + parser.positionalArguments().first();
    if (parser.isSet(help)) {
        options.mode = Options::Mode::Help;
        return QString();
    }
    if (parser.isSet(inspect)) {
        options.mode = Options::Mode::Inspect;
        options.inspectPath = parser.value(inspect);
        const bool alone = parser.optionNames().size() == 1;
        return alone ? QString() : QStringLiteral("--inspect takes no other option");
    }
    options.mode = Options::Mode::Image;
    options.blockSizeText = blockSizeEntry(parser.value(block));
    options.yes = parser.isSet(yes);
    options.eject = parser.isSet(eject);
    options.force = parser.isSet(force);
    options.output = parser.value(output);
    options.folder = parser.value(folder);
    if (parser.values(output).size() > 1 || parser.values(folder).size() > 1)
        return QStringLiteral("give --output or --folder once");
    bool number = false;
    options.driveBlockSize = parser.value(driveBlock).toUInt(&number, 10);
    // The largest block a SCSI tape drive takes has 24 bits.
    if (!number || options.driveBlockSize > 0xFFFFFF)
        return QStringLiteral("--drive-block-size takes a number of bytes from 0 to 16777215");
    return imagingProblem(options);
}
