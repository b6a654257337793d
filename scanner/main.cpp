#include "scanner/core/command_line.h"
#include "scanner/core/restore_folder.h"
#include "scanner/ui/scanner_window.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    Quorlin::removeTemporariesOnSignals();
    if (Quorlin::isCommandLineMode(arguments)) {
        // No window in these modes, so no display either.
        QCoreApplication app(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        return Quorlin::runCommandLine(arguments, out, err);
    }
    Quorlin::ExtractOptions options;
    QStringList rest;
    if (!Quorlin::parseOptions(arguments.mid(1), &options, &rest) || rest.size() > 1) {
        std::fputs("quorlin: wrong usage; quorlin --help tells how\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    ScannerWindow window(rest.value(0), options);
    window.show();
    return app.exec();
}
