// tarnwick-library: a tape library's changer from the command line.
#include "archive/library_changer.h"
#include "tools/tarnwick-library/library_options.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void say(const QString &message)
{
    std::fprintf(stderr, "tarnwick-library: %s\n", message.toLocal8Bit().constData());
}

int fail(int code, const QString &message)
{
    say(message);
    return code;
}

int inventory(const LibraryOptions &options)
{
    Library::Changer changer;
    QString problem;
    if (!changer.open(options.changer, problem))
        return fail(LibraryExit::NoChanger, problem);
    if (options.initialize && !changer.initialize(problem))
        return fail(LibraryExit::ChangerFailed, problem);
    Library::Inventory contents;
    if (!changer.readInventory(contents, problem))
        return fail(LibraryExit::ChangerFailed, problem);
    const QStringList lines = Library::inventoryLines(contents, options.changer);
    for (const QString &line : lines)
        std::printf("%s\n", line.toLocal8Bit().constData());
    return std::fflush(stdout) == 0 ? LibraryExit::Complete : LibraryExit::ChangerFailed;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    LibraryOptions options;
    const QString problem = parseLibraryOptions(arguments, options);
    if (!problem.isEmpty()) {
        return fail(LibraryExit::Usage,
            problem + QStringLiteral(" (tarnwick-library --help shows the usage)"));
    }
    switch (options.mode) {
    case LibraryOptions::Mode::Help:
        std::printf("%s", libraryUsage().toLocal8Bit().constData());
        return LibraryExit::Complete;
    case LibraryOptions::Mode::Version:
        std::printf("tarnwick-library %s\n", TARNWICK_VERSION);
        return LibraryExit::Complete;
    case LibraryOptions::Mode::Inventory:
        break;
    }
    return inventory(options);
}
