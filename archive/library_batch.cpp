#include "archive/library_batch.h"
#include "archive/library_takeback.h"

#include "archive/operator_fields.h"
#include "imaging/size_text.h"
#include "platform/posix/child_process.h"
#include "platform/posix/native_file.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <sys/wait.h>
#include <thread>

namespace Library {

namespace {

constexpr int kLongestBackoffSeconds = 8;
constexpr int kMessagesKept = 20; ///< a child's failure lines kept for the journal
constexpr auto kTick = std::chrono::milliseconds(200);

const QString kRunning = QStringLiteral("running");
const QString kInterrupted = QStringLiteral("interrupted");
const QString kFailed = QStringLiteral("failed");
const QString kComplete = QStringLiteral("complete");

QString cartridgeName(const PlannedCartridge &c)
{
    return c.barcode.isEmpty() ? QStringLiteral("slot-%1").arg(c.slot) : c.barcode;
}

} // namespace

struct Batch::Private
{
    Robot &robot;
    DriveHandler &drives;
    Ledger &ledger;
    BatchSettings settings;

    std::mutex robotLock; ///< the robot moves one cartridge at a time
    std::mutex lock; ///< everything below
    std::condition_variable woken;
    std::deque<std::function<void()>> tasks; ///< the ledger and the messages: the main thread's
    std::deque<PlannedCartridge> queue;
    std::vector<QString> status; ///< by drive: what it does now, shown as progress
    std::vector<ChildProcess *> children; ///< by drive: the imager running there
    /// By drive: the master growing there, watched while its imager shows no progress of
    /// its own (it has none when the drive does not tell the tape's size).
    struct Watch
    {
        QString cartridge, partial;
        bool imagerShows = false;
        qint64 bytes = -1, atMs = 0;
        QString rate;
    };
    std::vector<Watch> watches;
    QElapsedTimer clock;
    int done = 0, total = 0, notComplete = 0;
    std::atomic<int> stopping { 0 };
    std::atomic<bool> ledgerFailed { false };
    QString ledgerProblem;
    int workersLeft = 0;

    Private(Robot &r, DriveHandler &h, Ledger &l, const BatchSettings &s)
        : robot(r)
        , drives(h)
        , ledger(l)
        , settings(s)
    {
    }

    // Runs @p task on the main thread and waits for it (the journal and the terminal
    // are the main thread's).
    void onMain(std::function<void()> task)
    {
        std::packaged_task<void()> packaged(std::move(task));
        std::future<void> finished = packaged.get_future();
        {
            std::lock_guard<std::mutex> hold(lock);
            tasks.emplace_back([&packaged] { packaged(); });
        }
        woken.notify_all();
        finished.wait();
    }

    void say(const QString &text)
    {
        if (settings.say)
            settings.say(text);
    }

    // On the main thread. A journal that cannot be written stops the batch: what it
    // does would be lost.
    bool record(const std::function<bool(QString &)> &write)
    {
        if (ledgerFailed)
            return false;
        QString problem;
        if (write(problem))
            return true;
        ledgerFailed = true;
        ledgerProblem = problem;
        return false;
    }

    void event(const QString &cartridge, int slot, const QString &drive, const QString &text)
    {
        say(cartridge.isEmpty() ? text : cartridge + QStringLiteral(": ") + text);
        record(
            [&](QString &problem) { return ledger.event(cartridge, slot, drive, text, problem); });
    }

    void setStatus(int drive, const QString &text)
    {
        std::lock_guard<std::mutex> hold(lock);
        status[std::size_t(drive)] = text;
    }

    bool moveCartridge(std::uint16_t from, std::uint16_t to, QString &problem)
    {
        std::lock_guard<std::mutex> hold(robotLock);
        return robot.move(from, to, problem);
    }

    // Whether the place holds a cartridge now; false when the robot cannot tell.
    bool placeHolds(std::uint16_t address, bool &full, QString &barcode)
    {
        std::lock_guard<std::mutex> hold(robotLock);
        return robot.holds(address, full, barcode);
    }

    bool waitReady(const QString &node, QString &problem);
    OperatorFields::Given operatorFiles(const PlannedCartridge &cartridge) const;
    ChildEnd image(int drive, const PlannedCartridge &cartridge, const QString &node,
        const OperatorFields::Given &given);
    /// False when the drive must not be used again.
    bool handle(int drive, std::uint16_t driveAddress, const PlannedCartridge &cartridge);
    void work(int drive, std::uint16_t driveAddress);
    void mainLoop(const std::vector<int> &workers);
    QString watched(int drive);
    void forwardStop(int signal);
};

bool Batch::Private::waitReady(const QString &node, QString &problem)
{
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::seconds(settings.loadTimeoutSeconds);
    int backoff = 1;
    for (;;) {
        const int ready = drives.ready(node);
        if (ready > 0)
            return true;
        if (stopping)
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            problem = QStringLiteral("the cartridge did not become ready in %1 within %2 s")
                          .arg(node)
                          .arg(settings.loadTimeoutSeconds);
            if (ready < 0)
                problem
                    += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(-ready)));
            return false;
        }
        const auto wake = std::min(deadline, now + std::chrono::seconds(backoff));
        while (std::chrono::steady_clock::now() < wake && !stopping)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        backoff = std::min(backoff * 2, kLongestBackoffSeconds);
    }
}

// An archivist's notes and label photo, where the folder has something at their names.
OperatorFields::Given Batch::Private::operatorFiles(const PlannedCartridge &cartridge) const
{
    OperatorFields::Given given;
    const QByteArray stem
        = QFile::encodeName(QDir(settings.folder)
                                .filePath(QStringLiteral("notes/")
                                    + QFileInfo(cartridge.imageName).completeBaseName()));
    if (NativeFile::kindAt(stem + ".txt") != NativeFile::Kind::Missing)
        given.notesPath = stem + ".txt";
    if (NativeFile::kindAt(stem + ".jpg") != NativeFile::Kind::Missing)
        given.photoPath = stem + ".jpg";
    return given;
}

ChildEnd Batch::Private::image(int drive, const PlannedCartridge &cartridge, const QString &node,
    const OperatorFields::Given &given)
{
    const QString name = cartridgeName(cartridge);
    const QString path = QDir(settings.folder).filePath(cartridge.imageName);
    std::vector<std::string> arguments;
    if (settings.tapFormat)
        arguments = { "--format", "tap" };
    arguments.push_back("--output");
    arguments.push_back(QFile::encodeName(path).toStdString());
    for (const QString &option : settings.imagerOptions)
        arguments.push_back(option.toLocal8Bit().toStdString());
    if (!settings.description.isEmpty()) {
        arguments.push_back("--describe");
        arguments.push_back(settings.description.toLocal8Bit().toStdString());
    }
    if (!given.notesPath.isEmpty()) {
        arguments.push_back("--notes");
        arguments.push_back(given.notesPath.toStdString());
    }
    if (!given.photoPath.isEmpty()) {
        arguments.push_back("--label-photo");
        arguments.push_back(given.photoPath.toStdString());
    }
    const std::vector<std::string> environment
        = { "TAPE=" + QFile::encodeName(drives.tapeOf(node)).toStdString() };

    ChildEnd end;
    ChildProcess child;
    const QDateTime started = QDateTime::currentDateTimeUtc().addSecs(-1);
    int error = 0;
    if (!child.start(
            QFile::encodeName(settings.imager).toStdString(), arguments, environment, error)) {
        end.started = false;
        end.messages << QStringLiteral("cannot run %1: %2")
                            .arg(settings.imager, QString::fromLocal8Bit(std::strerror(error)));
        return end;
    }
    {
        std::lock_guard<std::mutex> hold(lock);
        children[std::size_t(drive)] = &child;
        watches[std::size_t(drive)] = { name, path + QStringLiteral(".partial"), false, -1, 0, {} };
    }
    if (const int signal = stopping.load())
        child.signal(signal);
    std::string line;
    while (child.readLine(line)) {
        const QString text = QString::fromLocal8Bit(line.data(), int(line.size()));
        if (text == path)
            continue; // the image's path, which the batch knows
        const QString progress = progressOf(text);
        if (!progress.isEmpty()) {
            std::lock_guard<std::mutex> hold(lock);
            watches[std::size_t(drive)].imagerShows = true;
            status[std::size_t(drive)] = name + QStringLiteral(": ") + progress;
            continue;
        }
        onMain([this, &name, &text] { say(name + QStringLiteral(": ") + text); });
        if (text.startsWith(QLatin1String("tarnwick-image: "))
            && end.messages.size() < kMessagesKept)
            end.messages << text.mid(16);
    }
    const int waited = child.wait();
    {
        std::lock_guard<std::mutex> hold(lock);
        children[std::size_t(drive)] = nullptr;
        watches[std::size_t(drive)] = Watch();
    }
    end.exitCode = WIFEXITED(waited) ? WEXITSTATUS(waited) : 0;
    end.signal = WIFSIGNALED(waited) ? WTERMSIG(waited) : 0;
    // Only a record this run wrote: the one beside an earlier master tells of that run.
    const QByteArray native = QFile::encodeName(path);
    const QFileInfo recordFile(QFile::decodeName(RunRecord::recordPath(native)));
    end.haveRecord = recordFile.exists() && recordFile.lastModified().toUTC() >= started
        && RunRecord::readBeside(native, end.record);
    return end;
}

bool Batch::Private::handle(
    int drive, std::uint16_t driveAddress, const PlannedCartridge &cartridge)
{
    const QString node = settings.driveNodes[std::size_t(drive)];
    const QString name = cartridgeName(cartridge);
    Attempt attempt;
    attempt.cartridge = name;
    attempt.barcode = cartridge.barcode;
    attempt.slot = cartridge.slot;
    attempt.drive = node;
    attempt.image = cartridge.imageName;
    attempt.started = QDateTime::currentDateTimeUtc();
    attempt.verdict = kRunning;
    attempt.description = settings.description;
    // Begun before the move, so that a batch killed from here on finds its cartridge.
    bool begun = false;
    onMain([&] { begun = record([&](QString &p) { return ledger.begin(attempt, p); }); });
    if (!begun)
        return false;

    bool usable = true;
    QString problem;
    QStringList ours; // what the batch itself has to say; the child spoke for itself
    ChildJudgement judged;
    judged.verdict = kFailed;
    setStatus(drive, name + QStringLiteral(": loading from slot %1").arg(cartridge.slot));
    // Notes or a photo the imager would refuse are found before the robot moves: a
    // cartridge is never loaded only for its imager to stop at once.
    const OperatorFields::Given given = operatorFiles(cartridge);
    RunRecord::Operator fields;
    QByteArray photo;
    const QString unfit = OperatorFields::load(given, fields, photo);
    photo.clear();
    // Another hand may have taken or swapped it since the inventory: what is not the
    // planned cartridge is not ours to load.
    bool full = true;
    QString barcode = cartridge.barcode;
    const bool swapped = unfit.isEmpty() && placeHolds(cartridge.address, full, barcode)
        && (!full || barcode != cartridge.barcode);
    const bool loaded
        = unfit.isEmpty() && !swapped && moveCartridge(cartridge.address, driveAddress, problem);
    if (!unfit.isEmpty()) {
        ours << QStringLiteral("not loaded: %1").arg(unfit);
    } else if (swapped) {
        ours << (!full ? QStringLiteral("slot %1 is empty now: not loaded").arg(cartridge.slot)
                       : QStringLiteral("slot %1 now holds %2, not the cartridge the inventory "
                                        "showed: not loaded")
                             .arg(cartridge.slot)
                             .arg(barcode.isEmpty() ? QStringLiteral("a cartridge without "
                                                                     "barcode")
                                                    : barcode));
    } else if (!loaded) {
        ours << QStringLiteral("moving it from slot %1 to drive %2 failed: %3")
                    .arg(cartridge.slot)
                    .arg(drive)
                    .arg(problem);
    } else if (!waitReady(node, problem)) {
        if (stopping)
            judged.verdict = kInterrupted;
        else
            ours << problem;
    } else {
        setStatus(drive, name + QStringLiteral(": reading"));
        const ChildEnd end = image(drive, cartridge, node, given);
        judged = judgeChild(end, stopping != 0);
        if (!end.started)
            ours = judged.errors;
        if (end.haveRecord) {
            attempt.bytes = end.record.bytesWritten;
            attempt.tapeFiles = end.record.files.size();
            for (const RunRecord::TapeFile &file : end.record.files)
                attempt.records += file.records;
            attempt.sha256 = end.record.sha256;
        }
    }
    if (loaded) {
        setStatus(drive, name + QStringLiteral(": back to slot %1").arg(cartridge.slot));
        const QString unloading = drives.unload(node);
        if (!unloading.isEmpty())
            ours << QStringLiteral("unloading it from %1 failed: %2").arg(node, unloading);
        // A home slot filled meanwhile is never moved onto: the cartridge waits in the drive.
        QString occupant;
        if (placeHolds(cartridge.address, full, occupant) && full) {
            ours << QStringLiteral("slot %1 holds %2 now, put there by another hand: it stays "
                                   "in drive %3 (%4), which is not used again")
                        .arg(cartridge.slot)
                        .arg(occupant.isEmpty() ? QStringLiteral("a cartridge") : occupant)
                        .arg(drive)
                        .arg(node);
            usable = false;
            attempt.leftIn = node;
        } else if (!moveCartridge(driveAddress, cartridge.address, problem)) {
            ours << QStringLiteral("moving it back from drive %1 to slot %2 failed: %3; it "
                                   "stays in drive %1 (%4), which is not used again")
                        .arg(drive)
                        .arg(cartridge.slot)
                        .arg(problem, node);
            usable = false;
            attempt.leftIn = node;
        }
    }
    if (judged.driveNeedsCleaning) {
        ours << QStringLiteral("drive %1 asks to be cleaned: not used again in this batch")
                    .arg(drive);
        usable = false;
    }
    for (const QString &line : ours) {
        if (!judged.errors.contains(line))
            judged.errors << line;
    }
    attempt.verdict = judged.verdict;
    attempt.errors = judged.errors;
    attempt.ended = QDateTime::currentDateTimeUtc();
    setStatus(drive, QString());
    onMain([&] {
        for (const QString &line : ours)
            say(name + QStringLiteral(": ") + line);
        say(QStringLiteral("%1: %2 (drive %3, %4)")
                .arg(name, attempt.verdict)
                .arg(drive)
                .arg(attempt.image));
        record([&](QString &p) { return ledger.finish(attempt, p); });
        // The drive's own line, so that a query of the events finds it without the cartridge.
        if (!usable)
            record([&](QString &p) { return ledger.event(QString(), 0, node, ours.last(), p); });
        record([&](QString &p) { return ledger.writeSummaries(p); });
        std::lock_guard<std::mutex> hold(lock);
        ++done;
        if (attempt.verdict != kComplete)
            ++notComplete;
    });
    return usable;
}

void Batch::Private::work(int drive, std::uint16_t driveAddress)
{
    for (;;) {
        PlannedCartridge cartridge;
        {
            std::lock_guard<std::mutex> hold(lock);
            if (queue.empty() || stopping || ledgerFailed)
                break;
            cartridge = queue.front();
            queue.pop_front();
        }
        if (!handle(drive, driveAddress, cartridge))
            break;
    }
    {
        std::lock_guard<std::mutex> hold(lock);
        --workersLeft;
    }
    woken.notify_all();
}

void Batch::Private::forwardStop(int signal)
{
    std::lock_guard<std::mutex> hold(lock);
    stopping = signal;
    for (ChildProcess *child : children) {
        if (child)
            child->signal(signal);
    }
}

// Under the lock: what the drive does, with the master's growth where the imager is silent.
QString Batch::Private::watched(int drive)
{
    Watch &w = watches[std::size_t(drive)];
    if (w.partial.isEmpty() || w.imagerShows)
        return status[std::size_t(drive)];
    const qint64 bytes = QFileInfo(w.partial).size();
    const qint64 now = clock.elapsed();
    if (w.bytes < 0 || now - w.atMs >= 2000) {
        if (w.bytes >= 0 && bytes >= w.bytes)
            w.rate = QStringLiteral(", %1/s").arg(
                SizeText::human(double(bytes - w.bytes) * 1000.0 / double(now - w.atMs)));
        w.bytes = bytes;
        w.atMs = now;
    }
    return w.cartridge + QStringLiteral(": ") + SizeText::human(double(bytes)) + w.rate;
}

void Batch::Private::mainLoop(const std::vector<int> &workers)
{
    std::unique_lock<std::mutex> hold(lock);
    while (workersLeft > 0 || !tasks.empty()) {
        woken.wait_for(hold, kTick);
        while (!tasks.empty()) {
            std::function<void()> task = std::move(tasks.front());
            tasks.pop_front();
            hold.unlock();
            task();
            hold.lock();
        }
        if (!stopping && settings.stopRequested) {
            hold.unlock();
            if (const int signal = settings.stopRequested())
                forwardStop(signal);
            hold.lock();
        }
        if (settings.progress) {
            QStringList lines;
            for (const int drive : workers) {
                if (!status[std::size_t(drive)].isEmpty())
                    lines
                        << QStringLiteral("drive %1 %2").arg(drive).arg(status[std::size_t(drive)]);
            }
            lines << QStringLiteral("cartridges: %1 of %2 done").arg(done).arg(total);
            hold.unlock();
            settings.progress(lines);
            hold.lock();
        }
    }
}

Batch::Batch(Robot &robot, DriveHandler &drives, Ledger &ledger, const BatchSettings &settings)
    : d(std::make_unique<Private>(robot, drives, ledger, settings))
{
}

Batch::~Batch() = default;

bool Batch::takeBackDrives(const Inventory &inventory)
{
    Private &p = *d;
    TakeBack back { p.robot, p.drives, p.ledger, p.settings,
        [&p](const QString &cartridge, int slot, const QString &drive, const QString &text) {
            p.event(cartridge, slot, drive, text);
        },
        [&p](const std::function<bool(QString &)> &write) { return p.record(write); } };
    return Library::takeBackDrives(inventory, back);
}

BatchResult Batch::run(const Inventory &inventory, const BatchPlan &plan)
{
    Private &p = *d;
    p.status.assign(inventory.drives.size(), QString());
    p.children.assign(inventory.drives.size(), nullptr);
    p.watches.assign(inventory.drives.size(), Private::Watch());
    p.clock.start();
    p.notComplete = plan.missed;
    for (const PassedOver &line : plan.passedOver)
        p.event(QString(), line.slot, QString(), line.text);
    for (const PlannedCartridge &cartridge : plan.cartridges) {
        const QString name = cartridgeName(cartridge);
        ++p.total;
        switch (p.ledger.nextStep(name, p.settings.retryFailed)) {
        case NextStep::Skip:
            p.event(name, cartridge.slot, QString(),
                QStringLiteral("imaged completely before: passed over"));
            ++p.done;
            break;
        case NextStep::LeaveFailed: {
            const QString unread = p.ledger.lastProblem();
            p.event(name, cartridge.slot, QString(),
                unread.isEmpty()
                    ? QStringLiteral("its last attempt did not image it completely: left alone "
                                     "(--retry-failed tries again)")
                    : QStringLiteral("its attempts cannot be read from the journal (%1): left "
                                     "alone")
                          .arg(unread));
            ++p.done;
            ++p.notComplete;
            break;
        }
        case NextStep::Image:
        case NextStep::Resume:
        case NextStep::Retry:
            p.queue.push_back(cartridge);
            if (!p.settings.tapFormat)
                p.queue.back().imageName.replace(
                    QRegularExpression(QStringLiteral("\\.tap$")), QStringLiteral(".tape"));
            break;
        }
    }
    std::vector<int> workers;
    for (const int drive : plan.freeDrives) {
        if (std::size_t(drive) < p.settings.driveNodes.size()
            && !p.settings.driveNodes[std::size_t(drive)].isEmpty())
            workers.push_back(drive);
    }
    p.workersLeft = int(workers.size());
    if (p.settings.stopRequested)
        p.stopping = p.settings.stopRequested(); // asked before the first cartridge
    std::vector<std::thread> threads;
    for (const int drive : workers) {
        const std::uint16_t address = inventory.drives[std::size_t(drive)].address;
        threads.emplace_back([&p, drive, address] { p.work(drive, address); });
    }
    p.mainLoop(workers);
    for (std::thread &thread : threads)
        thread.join();
    if (!p.stopping && !p.ledgerFailed) {
        for (const PlannedCartridge &cartridge : p.queue) {
            p.event(cartridgeName(cartridge), cartridge.slot, QString(),
                QStringLiteral("not imaged: no drive was left to load it"));
            ++p.notComplete;
        }
    }
    p.record([&](QString &problem) { return p.ledger.writeSummaries(problem); });
    BatchResult result;
    result.notComplete = p.notComplete;
    result.stoppedBy = p.stopping;
    result.ledgerProblem = p.ledgerProblem;
    return result;
}

} // namespace Library
