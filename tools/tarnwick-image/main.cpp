// tarnwick-image: images the tape of the first tape drive into one image file,
// through the same platform layer and imaging engine as the window.
#include "archive/notices.h"
#include "platform/posix/stop_signals.h"
#include "tools/tarnwick-image/console.h"
#include "tools/tarnwick-image/drive_info.h"
#include "tools/tarnwick-image/exit_codes.h"
#include "tools/tarnwick-image/image_check.h"
#include "tools/tarnwick-image/imaging_command.h"
#include "tools/tarnwick-image/options.h"
#include "tools/tarnwick-image/rescue_command.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    StopSignals::install();
    Archive::setNoticeSink(&Console::say);
    // The tape workers are waited for with processEvents, which needs the application object.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    Options options;
    const QString problem = parseOptions(arguments, options);
    if (!problem.isEmpty()) {
        return Console::fail(
            ExitCode::Usage, problem + QStringLiteral(" (tarnwick-image --help shows the usage)"));
    }
    // What the operator gave is read before anything is imaged: a wrong file costs no tape time.
    if (options.mode == Options::Mode::Image || options.mode == Options::Mode::Merge) {
        const QString wrong
            = OperatorFields::load(options.given, options.operatorFields, options.labelPhoto);
        if (!wrong.isEmpty())
            return Console::fail(ExitCode::Usage, wrong + QStringLiteral("; nothing was written"));
    }
    switch (options.mode) {
    case Options::Mode::Help:
        Console::out(usageText());
        return ExitCode::Complete;
    case Options::Mode::Inspect:
        return inspectImage(options.inspectPath, options.verify);
    case Options::Mode::DriveInfo:
        return showDriveInfo();
    case Options::Mode::Merge:
        return runMerge(options);
    case Options::Mode::Picture:
        return runMapPicture(options);
    case Options::Mode::Image:
        break;
    }
    return runImaging(options);
}
