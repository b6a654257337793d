// tarnwick-library: a tape library's changer from the command line.
#include "archive/library_batch.h"
#include "archive/library_changer.h"
#include "archive/library_drives.h"
#include "archive/library_journal.h"
#include "archive/library_lock.h"
#include "platform/posix/stop_signals.h"
#include "platform/st/st_library_drive.h"
#include "tools/tarnwick-library/batch_console.h"
#include "tools/tarnwick-library/library_options.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstring>

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

bool readContents(const LibraryOptions &options, Library::Changer &changer,
    Library::Inventory &contents, int &code)
{
    QString problem;
    code = LibraryExit::ChangerFailed;
    if (options.initialize && !changer.initialize(problem))
        return fail(code, problem), false;
    if (!changer.readInventory(contents, problem))
        return fail(code, problem), false;
    return true;
}

bool openChanger(const LibraryOptions &options, Library::Changer &changer,
    Library::Inventory &contents, int &code)
{
    QString problem;
    code = LibraryExit::NoChanger;
    if (!changer.open(options.changer, problem))
        return fail(code, problem), false;
    return readContents(options, changer, contents, code);
}

int inventory(const LibraryOptions &options)
{
    Library::Changer changer;
    Library::Inventory contents;
    int code = 0;
    if (!openChanger(options, changer, contents, code))
        return code;
    const QStringList lines = Library::inventoryLines(contents, options.changer);
    for (const QString &line : lines)
        std::printf("%s\n", line.toLocal8Bit().constData());
    return std::fflush(stdout) == 0 ? LibraryExit::Complete : LibraryExit::ChangerFailed;
}

class ChangerRobot : public Library::Robot
{
public:
    ChangerRobot(Library::Changer &changer, std::uint16_t transport)
        : m_changer(changer)
        , m_transport(transport)
    {
    }
    bool move(std::uint16_t from, std::uint16_t to, QString &problem) override
    {
        return m_changer.move(from, to, m_transport, problem);
    }
    bool holds(std::uint16_t address, bool &full, QString &barcode) override
    {
        Library::Inventory now;
        QString problem;
        if (!m_changer.readInventory(now, problem))
            return false;
        for (const auto *kind : { &now.storage, &now.importExports, &now.drives }) {
            for (const ScsiChanger::Element &e : *kind) {
                if (e.address == address) {
                    full = e.full;
                    barcode = QString::fromStdString(e.barcode);
                    return true;
                }
            }
        }
        return false;
    }

private:
    Library::Changer &m_changer;
    std::uint16_t m_transport;
};

class StDrives : public Library::DriveHandler
{
public:
    int ready(const QString &node) override
    {
        return StLibraryDrive::ready(QFile::encodeName(node).toStdString());
    }
    QString unload(const QString &node) override
    {
        const int error = StLibraryDrive::unload(QFile::encodeName(node).toStdString());
        return error ? QString::fromLocal8Bit(std::strerror(error)) : QString();
    }
};

QString imagerPath()
{
    const QByteArray given = qgetenv("TARNWICK_IMAGE");
    if (!given.isEmpty())
        return QFile::decodeName(given);
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tarnwick-image"));
}

Library::BatchSettings settingsOf(const LibraryOptions &options, BatchConsole &console)
{
    Library::BatchSettings settings;
    settings.folder = options.folder;
    settings.imager = imagerPath();
    settings.tapFormat = options.tapFormat;
    if (options.passes > 0)
        settings.imagerOptions << QStringLiteral("--passes") << QString::number(options.passes);
    if (options.retries >= 0)
        settings.imagerOptions << QStringLiteral("--retries") << QString::number(options.retries);
    settings.description = options.describe;
    settings.retryFailed = options.retryFailed;
    settings.unloadForeign = options.unloadForeign;
    settings.loadTimeoutSeconds = options.loadTimeoutSeconds;
    settings.stopRequested = [] { return StopSignals::received(); };
    settings.say = [&console](const QString &text) { console.say(text); };
    settings.progress = [&console](const QStringList &lines) { console.progress(lines); };
    return settings;
}

// Held by another batch: InUse; a lock file that cannot be used: @p refusedCode.
bool takeLock(
    Library::BatchLock &lock, const QString &path, const QString &what, int refusedCode, int &code)
{
    QString problem;
    switch (lock.take(path, what, problem)) {
    case Library::BatchLock::Outcome::Taken:
        return true;
    case Library::BatchLock::Outcome::Held:
        code = fail(LibraryExit::InUse, problem);
        return false;
    case Library::BatchLock::Outcome::Refused:
        break;
    }
    code = fail(refusedCode, problem);
    return false;
}

int batch(const LibraryOptions &options)
{
    // Before any thread: the batch asks for the signal and forwards it to its imagers.
    StopSignals::install();
    Library::Changer changer;
    QString problem;
    if (!changer.open(options.changer, problem))
        return fail(LibraryExit::NoChanger, problem);
    if (!QDir().mkpath(options.folder))
        return fail(LibraryExit::FolderFailed,
            QStringLiteral("cannot create the folder %1").arg(options.folder));
    // Before the robot is asked anything: another batch on the same folder or the same
    // changer is left to finish alone, and its moves cannot change the inventory read.
    int code = 0;
    Library::BatchLock folderLock, changerLock;
    if (!takeLock(folderLock, Library::folderLockPath(options.folder),
            QStringLiteral("the folder %1").arg(options.folder), LibraryExit::FolderFailed, code))
        return code;
    const QString changerLockPath
        = Library::changerLockPath(options.changer, changer.identity(), problem);
    if (changerLockPath.isEmpty())
        return fail(LibraryExit::NoChanger, problem);
    if (!takeLock(changerLock, changerLockPath,
            QStringLiteral("the changer %1").arg(options.changer), LibraryExit::NoChanger, code))
        return code;
    Library::Inventory contents;
    if (!readContents(options, changer, contents, code))
        return code;
    Library::DrivePairing pairing;
    if (!Library::pairDrives(contents, Library::tapeNodes(), options.drives, pairing, problem))
        return fail(LibraryExit::Usage, problem);
    Library::Journal journal;
    if (!journal.open(options.folder, problem))
        return fail(LibraryExit::FolderFailed, problem);
    std::unique_ptr<Library::Ledger> ledger = Library::journalLedger(journal);

    BatchConsole console;
    Library::BatchSettings settings = settingsOf(options, console);
    settings.driveNodes = pairing.nodes;
    settings.transport = contents.transports.empty() ? 0 : contents.transports.front().address;
    for (const QString &note : pairing.notes) {
        console.say(note);
        journal.event(QString(), 0, QString(), note, problem);
    }
    ChangerRobot robot(changer, settings.transport);
    StDrives drives;
    Library::Batch run(robot, drives, *ledger, settings);
    if (run.takeBackDrives(contents) && !changer.readInventory(contents, problem))
        return fail(LibraryExit::ChangerFailed, problem);
    Library::Selection selection;
    selection.slotNumbers = options.slotNumbers;
    selection.barcodes = options.barcodes;
    const Library::BatchResult result = run.run(contents, Library::planBatch(contents, selection));
    console.clear();
    if (!result.ledgerProblem.isEmpty())
        return fail(LibraryExit::FolderFailed, result.ledgerProblem);
    if (const int signal = result.stoppedBy ? result.stoppedBy : StopSignals::received())
        StopSignals::endBy(signal);
    if (result.notComplete > 0) {
        return fail(LibraryExit::NotAllImaged,
            QStringLiteral("%1 of the chosen cartridges %2 not imaged completely: see %3")
                .arg(result.notComplete)
                .arg(QLatin1String(result.notComplete == 1 ? "is" : "are"))
                .arg(QDir(options.folder).filePath(QStringLiteral("library.csv"))));
    }
    return LibraryExit::Complete;
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
    case LibraryOptions::Mode::Batch:
        return batch(options);
    case LibraryOptions::Mode::Inventory:
        break;
    }
    return inventory(options);
}
