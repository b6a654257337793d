#include "scanner/core/command_line.h"

#include "archive/image_verdict.h"
#include "scanner/core/carver.h"
#include "scanner/core/extractor.h"
#include "scanner/core/report.h"
#include "scanner/core/shown_name.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

namespace Quorlin {
namespace {

const char usage[]
    = "Usage: quorlin [OPTIONS] [IMAGE]          open the image in a window\n"
      "       quorlin --list [--max-size SIZE] IMAGE [--volume IMAGE...]\n"
      "                                          list what the image holds\n"
      "       quorlin --extract [OPTIONS] IMAGE DIR [PATTERN...] [--volume IMAGE...]\n"
      "                                          write the files (all, or those whose name\n"
      "                                          as listed matches a wildcard) below DIR\n"
      "Options:\n"
      "  --volume IMAGE    the next volume of the same tape set (repeat for each, in\n"
      "                    order): read after the images before it, so a dump, a\n"
      "                    multi-volume tar or a Windows backup set that goes on there\n"
      "                    is joined\n"
      "  --max-size SIZE   the most one archive may write, when more than its own length\n"
      "                    (default 4G; K, M, G, T are powers of 1024); an archive that\n"
      "                    would write more is stopped; all archives together may write\n"
      "                    SIZE or four times the image's size, whichever is more\n"
      "  --keep-setuid     restore modes exactly as stored, setuid and setgid included\n"
      "                    (by default they are left out and the umask applies)\n"
      "  --owners          restore owners and groups, and make device files (needs root;\n"
      "                    by default files belong to whoever extracts; asked for without\n"
      "                    root, the files are the user's own and the exit code is 1)\n"
      "  --escape-names    write names as vfat and NTFS take them (: \\ ? * \" < > |,\n"
      "                    control characters, trailing dots and spaces as %XX), with a\n"
      "                    map in DIR; done anyway when DIR's file system refuses them\n"
      "Exit codes: 0 everything restored, 1 something damaged, not written or over the\n"
      "limit, 2 wrong usage, 3 all the image holds is whole, but the image does not\n"
      "hold the whole tape (its run record says so).\n";

/// "4G", "500M", "123456": bytes, or -1 when it is not a size.
qint64 parseSize(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d+)([KMGT]?)(i?B)?$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return -1;
    bool ok = false;
    const qint64 number = match.captured(1).toLongLong(&ok);
    const int shift
        = 10 * QStringLiteral(" KMGT").indexOf(match.captured(2).toUpper().leftJustified(1));
    if (!ok || number > (std::numeric_limits<qint64>::max() >> shift))
        return -1;
    return number << shift;
}

} // namespace

bool isCommandLineMode(const QStringList &arguments)
{
    const QString first = arguments.value(1);
    return first == QLatin1String("--list") || first == QLatin1String("--extract")
        || first == QLatin1String("--help") || first == QLatin1String("-h");
}

bool parseOptions(const QStringList &arguments, ExtractOptions *options, QStringList *rest)
{
    bool optionsEnd = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (optionsEnd || !argument.startsWith(QLatin1String("--"))) {
            rest->append(argument);
            optionsEnd = true; // options come before the image
        } else if (argument == QLatin1String("--")) {
            optionsEnd = true;
        } else if (argument == QLatin1String("--keep-setuid")) {
            options->keepSetuid = true;
        } else if (argument == QLatin1String("--owners")) {
            options->owners = true;
        } else if (argument == QLatin1String("--escape-names")) {
            options->escapeNames = true;
        } else if (argument == QLatin1String("--max-size") && i + 1 < arguments.size()) {
            options->maxSize = parseSize(arguments[++i]);
            if (options->maxSize < 0)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

/// Takes each "--volume IMAGE" out of @p arguments (anywhere before a "--") into
/// @p volumes. False when one lacks its image.
static bool takeVolumes(QStringList *arguments, QStringList *volumes)
{
    for (int i = 0; i < arguments->size() && arguments->at(i) != QLatin1String("--");) {
        if (arguments->at(i) != QLatin1String("--volume")) {
            ++i;
            continue;
        }
        if (i + 1 >= arguments->size())
            return false;
        volumes->append(arguments->takeAt(i + 1));
        arguments->removeAt(i);
    }
    return true;
}

int runCommandLine(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const QString mode = arguments.value(1);
    ExtractOptions options;
    QStringList rest;
    QStringList volumes;
    QStringList given = arguments.mid(2);
    const bool parsed = takeVolumes(&given, &volumes) && parseOptions(given, &options, &rest);
    const bool list = mode == QLatin1String("--list") && rest.size() == 1 && !options.keepSetuid
        && !options.owners && !options.escapeNames;
    const bool extract = mode == QLatin1String("--extract") && rest.size() >= 2;
    if (!parsed || (!list && !extract)) {
        const bool help = mode == QLatin1String("--help") || mode == QLatin1String("-h");
        (help ? out : err) << usage;
        return help ? 0 : 2;
    }
    const QString image = rest.at(0);
    for (const QString &path : QStringList(image) + volumes) {
        if (!QFileInfo(path).isFile()) {
            err << "quorlin: " << shownName(path) << ": no such image file\n";
            return 2;
        }
    }
    const ScanResult result = scanImage(image, {}, nullptr, volumes);
    // Damage comes first; an image that stops short is said even when all it holds is whole.
    // Each volume's run is judged alike: any of them short makes the set short.
    bool partOfTape = false;
    bool damagedTape = false;
    QStringList partNotes;
    for (const QString &path : QStringList(image) + volumes) {
        const ImageVerdict::Judgement verdict = ImageVerdict::judge(QFile::encodeName(path));
        // Only the run knows: a file without trailer may be any file, not a run given up.
        const bool part = verdict.fromRecord
            && (verdict.verdict == RunRecord::Verdict::StopsShort
                || verdict.verdict == RunRecord::Verdict::Unfinished);
        // The run met damage the image may not show (a read that stopped just before it):
        // what lay there is not in the image, so the image is not called whole.
        const bool damaged = verdict.fromRecord && verdict.verdict == RunRecord::Verdict::Damaged;
        if (part)
            partNotes.append(QStringLiteral("quorlin: %1 does not hold the whole tape (%2): what "
                                            "came after its end on the tape is not in it\n")
                                 .arg(shownName(path), verdict.summary));
        else if (damaged)
            partNotes.append(QStringLiteral("quorlin: %1 was read from a damaged tape (%2): what "
                                            "could not be read there is not in it\n")
                                 .arg(shownName(path), verdict.summary));
        partOfTape = partOfTape || part;
        damagedTape = damagedTape || damaged;
    }
    const auto partNote = [&] {
        for (const QString &note : qAsConst(partNotes))
            err << note;
    };
    if (list) {
        out << listing(result, options.maxSize);
        partNote();
        if (!result.error.isEmpty() || hasDamage(result) || damagedTape)
            return 1;
        return partOfTape ? 3 : 0;
    }
    const QString folder = rest.at(1);
    Extractor extractor(result, folder, options);
    const bool whole = extractor.run(selectMatching(result, rest.mid(2)));
    for (const QString &path : extractor.written())
        out << path << '\n';
    for (const QString &problem : extractor.problems())
        err << "quorlin: " << problem << '\n';
    out << extractor.written().size() << " file(s) written to " << shownName(folder) << ".\n";
    partNote();
    if (!whole || !result.error.isEmpty() || damagedTape)
        return 1;
    return partOfTape ? 3 : 0;
}

} // namespace Quorlin
