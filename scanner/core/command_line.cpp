#include "scanner/core/command_line.h"

#include "scanner/core/carver.h"
#include "scanner/core/extractor.h"
#include "scanner/core/report.h"

#include <QFileInfo>
#include <QTextStream>

namespace Quorlin {
namespace {

const char usage[] = "Usage: quorlin IMAGE                      open the image in a window\n"
                     "       quorlin --list IMAGE               list what the image holds\n"
                     "       quorlin --extract IMAGE DIR [PATTERN...]\n"
                     "                                          write the files (all, or those\n"
                     "                                          matching a wildcard) below DIR\n";

} // namespace

bool isCommandLineMode(const QStringList &arguments)
{
    const QString first = arguments.value(1);
    return first == QLatin1String("--list") || first == QLatin1String("--extract")
        || first == QLatin1String("--help") || first == QLatin1String("-h");
}

int runCommandLine(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const QString mode = arguments.value(1);
    const bool list = mode == QLatin1String("--list") && arguments.size() == 3;
    const bool extract = mode == QLatin1String("--extract") && arguments.size() >= 4;
    if (!list && !extract) {
        (mode == QLatin1String("--help") || mode == QLatin1String("-h") ? out : err) << usage;
        return mode == QLatin1String("--help") || mode == QLatin1String("-h") ? 0 : 2;
    }
    const QString image = arguments.at(2);
    if (!QFileInfo(image).isFile()) {
        err << "quorlin: " << image << ": no such image file\n";
        return 2;
    }
    const ScanResult result = scanImage(image);
    if (list) {
        out << listing(result);
        return result.error.isEmpty() && !hasDamage(result) ? 0 : 1;
    }
    const Selection selection = selectMatching(result, arguments.mid(4));
    Extractor extractor(result, arguments.at(3));
    const bool whole = extractor.run(selection);
    for (const QString &path : extractor.written())
        out << path << '\n';
    for (const QString &problem : extractor.problems())
        err << "quorlin: " << problem << '\n';
    out << extractor.written().size() << " file(s) written to " << arguments.at(3) << ".\n";
    return whole && result.error.isEmpty() ? 0 : 1;
}

} // namespace Quorlin
