// A library batch without a library: a fake robot that "loads" a drive by
// pointing it at a virtual tape, the real tarnwick-image as the child, and a
// ledger in memory. Also which node serves which drive, and how a child's end
// becomes the attempt's verdict.
#include "archive/library_batch.h"
#include "archive/library_drives.h"
#include "archive/library_journal.h"
#include "archive/library_lock.h"
#include "platform/posix/child_process.h"
#include "tape_fixtures.h"

#include <QtTest>

#include <csignal>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace Library;

namespace {

QString text(const char *latin1)
{
    return QString::fromLatin1(latin1);
}

QStringList words(const QString &line)
{
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Slots at 1024.., drives at 1..; "-" an empty place, "name<1025" a drive holding
// name that came from 1025.
Inventory libraryOf(
    const QString &slotWords, const QString &driveWords, const QString &serialWords = QString())
{
    Inventory inventory;
    const auto add = [](std::vector<ScsiChanger::Element> &list, const QString &word,
                         std::uint16_t base, ScsiChanger::ElementType type) {
        ScsiChanger::Element e;
        e.type = type;
        e.address = std::uint16_t(base + list.size());
        e.full = word != QLatin1String("-");
        e.barcode = e.full ? word.section(QLatin1Char('<'), 0, 0).toStdString() : std::string();
        e.sourceValid = word.contains(QLatin1Char('<'));
        e.source = std::uint16_t(word.section(QLatin1Char('<'), 1).toUInt());
        list.push_back(e);
    };
    for (const QString &s : words(slotWords))
        add(inventory.storage, s, 1024, ScsiChanger::ElementType::Storage);
    for (const QString &d : words(driveWords))
        add(inventory.drives, d, 1, ScsiChanger::ElementType::DataTransfer);
    const QStringList serials = words(serialWords);
    for (int i = 0; i < serials.size(); ++i) {
        if (serials[i] != QLatin1String("-"))
            inventory.drives[std::size_t(i)].serial = serials[i].toStdString();
    }
    return inventory;
}

// The robot and the drives: a drive "loads" by reading the cartridge's virtual tape.
struct FakeLibrary : Robot, DriveHandler
{
    std::mutex lock;
    QMap<std::uint16_t, QString> held; ///< address -> cartridge
    QMap<QString, QString> tapes; ///< cartridge -> its virtual tape
    QSet<QString> neverReady;
    QSet<std::uint16_t> refused; ///< moves from here fail
    QStringList moves; ///< "1024>1"
    QMap<std::uint16_t, QString>
        filledBehind; ///< slot -> what another hand puts there once emptied

    bool move(std::uint16_t from, std::uint16_t to, QString &problem) override
    {
        std::lock_guard<std::mutex> hold(lock);
        moves << QStringLiteral("%1>%2").arg(from).arg(to);
        problem = QStringLiteral("sense key 5, ASC 3bh, ASCQ 0dh");
        if (refused.contains(from) || !held.contains(from) || held.contains(to))
            return false;
        held[to] = held.take(from);
        if (filledBehind.contains(from))
            held[from] = filledBehind.take(from);
        return true;
    }
    bool holds(std::uint16_t address, bool &full, QString &barcode) override
    {
        std::lock_guard<std::mutex> hold(lock);
        full = held.contains(address);
        barcode = held.value(address);
        return true;
    }
    static std::uint16_t driveOf(const QString &node)
    {
        return std::uint16_t(node.right(1).toUInt() + 1);
    }
    int ready(const QString &node) override
    {
        std::lock_guard<std::mutex> hold(lock);
        const QString in = held.value(driveOf(node));
        return in.isEmpty() ? -ENOMEDIUM : neverReady.contains(in) ? 0 : 1;
    }
    QString unload(const QString &) override { return QString(); }
    QString tapeOf(const QString &node) override
    {
        std::lock_guard<std::mutex> hold(lock);
        return tapes.value(held.value(driveOf(node)));
    }
};

struct MemoryLedger : Ledger
{
    std::vector<Attempt> attempts;
    QStringList events;
    NextStep nextStep(const QString &cartridge, bool retryFailed) override
    {
        const std::vector<Attempt> last = latest();
        for (const Attempt &a : last) {
            if (a.cartridge != cartridge)
                continue;
            if (a.verdict == QLatin1String("complete"))
                return NextStep::Skip;
            if (a.verdict == QLatin1String("running") || a.verdict == QLatin1String("interrupted"))
                return NextStep::Resume;
            return retryFailed ? NextStep::Retry : NextStep::LeaveFailed;
        }
        return NextStep::Image;
    }
    bool begin(Attempt &attempt, QString &) override
    {
        attempt.id = qint64(attempts.size()) + 1;
        attempts.push_back(attempt);
        return true;
    }
    bool full = false; ///< the folder is full: finishing an attempt fails
    bool finish(const Attempt &attempt, QString &problem) override
    {
        problem = QStringLiteral("No space left on device");
        if (full)
            return false;
        attempts[std::size_t(attempt.id - 1)] = attempt;
        return true;
    }
    bool event(
        const QString &cartridge, int, const QString &, const QString &text, QString &) override
    {
        events << cartridge + QLatin1Char(':') + text;
        return true;
    }
    std::vector<Attempt> latest() override
    {
        std::vector<Attempt> last;
        for (auto a = attempts.rbegin(); a != attempts.rend(); ++a) {
            if (std::none_of(last.begin(), last.end(),
                    [&](const Attempt &b) { return b.cartridge == a->cartridge; }))
                last.push_back(*a);
        }
        return last;
    }
    bool writeSummaries(QString &) override { return true; }
    QString verdictOf(const QString &cartridge)
    {
        for (const Attempt &a : latest()) {
            if (a.cartridge == cartridge)
                return a.verdict;
        }
        return QString();
    }
};

} // namespace

class TestLibraryBatch : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    BatchSettings settings(int drives, const QString &imager = QString()) const
    {
        BatchSettings s;
        s.folder = m_dir.filePath(QStringLiteral("out"));
        QDir().mkpath(s.folder);
        s.imager = imager.isEmpty() ? QStringLiteral(TARNWICK_BIN_DIR "/tarnwick-image") : imager;
        s.loadTimeoutSeconds = 1;
        for (int d = 0; d < drives; ++d)
            s.driveNodes.push_back(QStringLiteral("/dev/nst%1").arg(d));
        return s;
    }

    // Cartridges TW0001..n in slots 1..n, each a small tape of its own.
    void fill(FakeLibrary &library, int count)
    {
        for (int i = 1; i <= count; ++i) {
            const QString name = QStringLiteral("TW%1").arg(i, 4, 10, QLatin1Char('0'));
            const QString tape = m_dir.filePath(name + QStringLiteral(".src.tap"));
            QVERIFY(
                Tape().file(randomBytes(quint32(i), 3000 + i), 1024).file("x", 512).write(tape));
            library.held[std::uint16_t(1023 + i)] = name;
            library.tapes[name] = tape;
        }
    }

    Inventory inventoryOf(FakeLibrary &library, int slotCount, int driveCount)
    {
        QStringList s, d;
        for (int i = 0; i < slotCount; ++i)
            s << library.held.value(std::uint16_t(1024 + i), QStringLiteral("-"));
        for (int i = 0; i < driveCount; ++i)
            d << library.held.value(std::uint16_t(1 + i), QStringLiteral("-"));
        return libraryOf(s.join(QLatin1Char(' ')), d.join(QLatin1Char(' ')));
    }

private slots:
    void pairing_data()
    {
        QTest::addColumn<QString>("serials"); // the changer's, by drive; "-" none
        QTest::addColumn<QString>("nodes"); // "path=serial"
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("paired"); // node per drive, "|"-joined; "!" refused
        const QString both = text("/dev/nst0=S1 /dev/nst1=S2");
        QTest::newRow("by serial, in the changer's order")
            << text("S2 S1") << both << QString() << text("/dev/nst1|/dev/nst0");
        QTest::newRow("a drive of another machine is not used")
            << text("S1 S9") << both << QString() << text("/dev/nst0|");
        QTest::newRow("--drive wins over serials")
            << text("S1 S2") << both << text("/dev/nst1 /dev/nst0") << text("/dev/nst1|/dev/nst0");
        QTest::newRow("fewer --drive than drives")
            << text("- -") << QString() << text("/dev/nst4") << text("/dev/nst4|");
        QTest::newRow("more --drive than drives")
            << text("-") << QString() << text("/dev/nst0 /dev/nst1") << text("!");
        QTest::newRow("no serials: one drive, one node")
            << text("-") << text("/dev/nst3=") << QString() << text("/dev/nst3");
        QTest::newRow("no serials: two drives cannot be told apart")
            << text("- -") << text("/dev/nst0= /dev/nst1=") << QString() << text("!");
        QTest::newRow("serials that match nothing")
            << text("S7") << text("/dev/nst0=S1") << QString() << text("!");
    }
    void pairing()
    {
        QFETCH(QString, serials);
        QFETCH(QString, nodes);
        QFETCH(QString, given);
        QFETCH(QString, paired);
        QString drives;
        for (int i = 0; i < words(serials).size(); ++i)
            drives += text("- ");
        std::vector<DriveNode> found;
        for (const QString &n : words(nodes))
            found.push_back({ n.section(QLatin1Char('='), 0, 0), n.section(QLatin1Char('='), 1) });
        DrivePairing pairing;
        QString problem;
        const bool ok = pairDrives(
            libraryOf(QString(), drives, serials), found, words(given), pairing, problem);
        QCOMPARE(ok, paired != QLatin1String("!"));
        if (!ok) {
            QVERIFY(!problem.isEmpty());
            return;
        }
        QStringList got(pairing.nodes.begin(), pairing.nodes.end());
        QCOMPARE(got.join(QLatin1Char('|')), paired);
        QCOMPARE(pairing.notes.size(), got.count(QString())); // every unused drive is said
    }

    void childVerdict_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("record"); // its verdict; empty: no record
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<bool>("cleaning");
        QTest::newRow("complete") << 0 << 0 << text("complete") << QString() << text("complete")
                                  << false;
        QTest::newRow("damaged") << 11 << 0 << text("damaged") << QString() << text("damaged")
                                 << false;
        QTest::newRow("stopped by the batch's signal")
            << 0 << int(SIGTERM) << text("unfinished") << QString() << text("interrupted") << false;
        QTest::newRow("drive asks for cleaning")
            << 12 << 0 << text("stops-short")
            << text("tarnwick-image: the drive asks to be cleaned after block 3: clean it")
            << text("stops-short") << true;
        QTest::newRow("did not load, no record")
            << 5 << 0 << QString() << text("tarnwick-image: the tape could not be loaded")
            << text("failed") << false;
        QTest::newRow("crashed") << 0 << int(SIGSEGV) << QString() << QString() << text("failed")
                                 << false;
        QTest::newRow("silent failure")
            << 8 << 0 << QString() << QString() << text("failed") << false;
        QTest::newRow("exit 0 but its run record missing or unreadable")
            << 0 << 0 << QString() << QString() << text("failed") << false;
        QTest::newRow("run record left unfinished")
            << 0 << 0 << text("unfinished") << QString() << text("failed") << false;
    }
    void childVerdict()
    {
        QFETCH(int, exitCode);
        QFETCH(int, signal);
        QFETCH(QString, record);
        QFETCH(QString, message);
        ChildEnd end;
        end.exitCode = exitCode;
        end.signal = signal;
        end.haveRecord = !record.isEmpty();
        end.record.verdict = RunRecord::verdictFromName(record);
        if (!message.isEmpty())
            end.messages << message;
        const ChildJudgement judged = judgeChild(end, false);
        QTEST(judged.verdict, "verdict");
        QTEST(judged.driveNeedsCleaning, "cleaning");
        // Whatever is not complete says why in the journal.
        QCOMPARE(judged.errors.isEmpty(),
            judged.verdict == QLatin1String("complete")
                || judged.verdict == QLatin1String("interrupted"));
    }

    void progress_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("shown");
        const QString full = text("45% 1.2 MB, 3 MB/s, 0:00:10 left, tape file 2");
        QTest::newRow("percent") << full << full;
        QTest::newRow("unknown total")
            << text("?% 1.2 MB, tape file 1") << text("1.2 MB, tape file 1");
        QTest::newRow("a message") << text("tarnwick-image: 45% of what") << QString();
    }
    void progress()
    {
        QFETCH(QString, line);
        QTEST(progressOf(line), "shown");
    }

    // Two drives at once over five cartridges: two image, one never becomes ready,
    // one the robot cannot take; every cartridge ends in its slot, the masters equal
    // the tapes, and a second run of the same batch passes over what is done.
    void batchImagesAndGoesOn()
    {
        FakeLibrary library;
        fill(library, 4);
        library.neverReady << QStringLiteral("TW0003");
        library.refused << 1027; // slot 4
        const QMap<std::uint16_t, QString> home = library.held;
        const QString folder = settings(2).folder;
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        Journal journal;
        QString problem;
        QVERIFY2(journal.open(folder, problem), qPrintable(problem));
        const std::unique_ptr<Ledger> journalled = journalLedger(journal);
        Ledger &ledger = *journalled;
        const auto attemptOf = [&journal](const char *name) {
            for (const Attempt &a : journal.latest()) {
                if (a.cartridge == QLatin1String(name))
                    return a;
            }
            return Attempt();
        };
        // The operator's words reach each run record; notes only the cartridge's own.
        QVERIFY(QDir(folder).mkpath(QStringLiteral("notes")));
        QVERIFY(writeFile(QDir(folder).filePath(QStringLiteral("notes/TW0002.txt")), "in box 7"));
        BatchSettings described = settings(2);
        described.description = QStringLiteral("the Smith donation");
        {
            Batch batch(library, library, ledger, described);
            const Inventory inventory = inventoryOf(library, 5, 2);
            const BatchResult result = batch.run(inventory, planBatch(inventory, Selection()));
            QCOMPARE(result.notComplete, 2);
            QCOMPARE(result.stoppedBy, 0);
        }
        QCOMPARE(library.held, home);
        for (const char *name : { "TW0001", "TW0002" }) {
            QCOMPARE(attemptOf(name).verdict, QStringLiteral("complete"));
            QCOMPARE(fileBytes(QDir(folder).filePath(text(name) + QStringLiteral(".tap"))),
                fileBytes(library.tapes[text(name)]));
        }
        RunRecord::Record second, first;
        QVERIFY(RunRecord::readBeside(
            QFile::encodeName(QDir(folder).filePath(text("TW0002.tap"))), second));
        QVERIFY(RunRecord::readBeside(
            QFile::encodeName(QDir(folder).filePath(text("TW0001.tap"))), first));
        QCOMPARE(second.operatorFields.description, described.description);
        QCOMPARE(second.operatorFields.notes, text("in box 7"));
        QVERIFY(first.operatorFields.notes.isEmpty());
        QCOMPARE(attemptOf("TW0003").verdict, QStringLiteral("failed"));
        QCOMPARE(attemptOf("TW0004").verdict, QStringLiteral("failed"));
        QVERIFY(QFile::exists(QDir(folder).filePath(QStringLiteral("library.csv"))));
        const Attempt imaged = attemptOf("TW0001");
        QCOMPARE(imaged.tapeFiles, qint64(2));
        QCOMPARE(imaged.records, qint64(4));
        QCOMPARE(imaged.sha256.size(), 64);
        QCOMPARE(imaged.sha256, first.sha256);
        QCOMPARE(imaged.description, described.description);
        // Each load is undone by the same drive before it loads the next.
        for (const QString &drive : words(text("1 2"))) {
            QStringList own;
            for (const QString &m : library.moves) {
                if (m.section(QLatin1Char('>'), 0, 0) == drive
                    || m.section(QLatin1Char('>'), 1) == drive)
                    own << m;
            }
            for (int i = 0; i < own.size(); ++i) {
                if (own[i].startsWith(drive + QLatin1Char('>'))
                    || own[i] == QLatin1String("1027>") + drive) // refused: never got in
                    continue;
                QVERIFY(i + 1 < own.size());
                QCOMPARE(
                    own[i + 1], drive + QLatin1Char('>') + own[i].section(QLatin1Char('>'), 0, 0));
            }
        }

        library.moves.clear();
        library.neverReady.clear();
        library.refused.clear();
        {
            Batch again(library, library, ledger, settings(2));
            const Inventory inventory = inventoryOf(library, 5, 2);
            QCOMPARE(again.run(inventory, planBatch(inventory, Selection())).notComplete, 2);
        }
        QVERIFY(library.moves.isEmpty()); // complete ones passed over, failed ones left alone
        {
            BatchSettings retry = settings(2);
            retry.retryFailed = true;
            Batch again(library, library, ledger, retry);
            const Inventory inventory = inventoryOf(library, 5, 2);
            QCOMPARE(again.run(inventory, planBatch(inventory, Selection())).notComplete, 0);
        }
        QCOMPARE(library.moves.size(), 4);
        QCOMPARE(library.held, home);
    }

    // A drive that asks to be cleaned is not loaded again: the cartridges left over
    // are reported, not imaged.
    void driveNeedingCleaningIsRetired()
    {
        const QString imager = m_dir.filePath(QStringLiteral("dirty-drive"));
        QVERIFY(writeFile(imager,
            "#!/bin/sh\necho 'tarnwick-image: the drive asks to be cleaned (TapeAlert: clean "
            "now)' >&2\nexit 12\n"));
        QVERIFY(QFile::setPermissions(imager, QFile::ReadOwner | QFile::ExeOwner));
        FakeLibrary library;
        fill(library, 2);
        MemoryLedger ledger;
        Batch batch(library, library, ledger, settings(1, imager));
        const Inventory inventory = inventoryOf(library, 2, 1);
        QCOMPARE(batch.run(inventory, planBatch(inventory, Selection())).notComplete, 2);
        QCOMPARE(library.moves, words(text("1024>1 1>1024")));
        QVERIFY(ledger.latest()
                    .front()
                    .errors.join(QLatin1Char(' '))
                    .contains(QLatin1String("asks to be cleaned")));
        QVERIFY(ledger.events.last().startsWith(QLatin1String("TW0002:not imaged")));
        QVERIFY(ledger.events.contains(
            text(":drive 0 asks to be cleaned: not used again in this batch")));
    }

    // A stop forwards the signal to the imager, puts the cartridge back and loads
    // nothing more; what was not begun is not reported as missed.
    void stopPutsCartridgeBack()
    {
        const QString started = m_dir.filePath(QStringLiteral("started"));
        const QString imager = m_dir.filePath(QStringLiteral("slow-imager"));
        QVERIFY(writeFile(
            imager, "#!/bin/sh\n: > '" + QFile::encodeName(started) + "'\nexec sleep 30\n"));
        QVERIFY(QFile::setPermissions(imager, QFile::ReadOwner | QFile::ExeOwner));
        FakeLibrary library;
        fill(library, 2);
        MemoryLedger ledger;
        BatchSettings s = settings(1, imager);
        s.stopRequested = [started] { return QFile::exists(started) ? int(SIGTERM) : 0; };
        Batch batch(library, library, ledger, s);
        const Inventory inventory = inventoryOf(library, 2, 1);
        QElapsedTimer clock;
        clock.start();
        const BatchResult result = batch.run(inventory, planBatch(inventory, Selection()));
        QVERIFY(clock.elapsed() < 20000);
        QCOMPARE(result.stoppedBy, int(SIGTERM));
        QCOMPARE(ledger.verdictOf(QStringLiteral("TW0001")), QStringLiteral("interrupted"));
        QCOMPARE(ledger.attempts.size(), std::size_t(1));
        QCOMPARE(library.moves, words(text("1024>1 1>1024")));
        QVERIFY(ledger.events.filter(QStringLiteral("TW0002")).isEmpty());
    }

    // A batch killed outright must not leave an imager reading a drive: the child ends
    // with the thread that started it.
    void imagerEndsWithItsBatch()
    {
        std::unique_ptr<ChildProcess> child = std::make_unique<ChildProcess>();
        int error = 0;
        std::thread([&] { QVERIFY(child->start("/bin/sleep", { "30" }, {}, error)); }).join();
        QElapsedTimer clock;
        clock.start();
        const int status = child->wait();
        QVERIFY(clock.elapsed() < 20000);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), int(SIGTERM));
    }

    // What goes wrong around TW0001 (slot 1; TW0002 in slot 2, one drive): nothing is
    // moved onto a full slot, and where a cartridge stays is said.
    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("moves");
        QTest::addColumn<QString>("heldAfter"); // "address=cartridge", by address
        QTest::addColumn<QString>("said"); // in TW0001's errors, or the batch's problem
        QTest::addColumn<QString>("verdict"); // TW0001's
        QTest::newRow("moving it back to its slot fails")
            << text("refused") << text("1024>1 1>1024") << text("1=TW0001 1025=TW0002")
            << text("it stays in drive 0 (/dev/nst0), which is not used again") << text("complete");
        QTest::newRow("its home slot filled while it was read")
            << text("filled") << text("1024>1") << text("1=TW0001 1024=XX0009 1025=TW0002")
            << text("slot 1 holds XX0009 now, put there by another hand: it stays in drive 0")
            << text("complete");
        QTest::newRow("barcode changed between inventory and load")
            << text("swapped") << text("1025>1 1>1025") << text("1024=XX0009 1025=TW0002")
            << text("slot 1 now holds XX0009") << text("failed");
        QTest::newRow("folder full: the journal cannot be written")
            << text("full") << text("1024>1 1>1024") << text("1024=TW0001 1025=TW0002")
            << text("No space left on device") << text("running");
        // Notes or a photo the imager refuses once cost a load and a child that exited 2.
        const char *const unfit[][3] = { { "notes not UTF-8", "notes:binary", "not UTF-8 text" },
            { "notes over 64 KiB", "notes:large", "too large" },
            { "notes a FIFO", "notes:fifo", "not a regular file" },
            { "photo a dangling link", "photo:link", "symbolic link to nothing" } };
        for (const auto &row : unfit)
            QTest::newRow(row[0]) << text(row[1]) << text("1025>1 1>1025")
                                  << text("1024=TW0001 1025=TW0002") << text(row[2])
                                  << text("failed");
    }
    void faults()
    {
        QFETCH(QString, fault);
        FakeLibrary library;
        fill(library, 2);
        MemoryLedger ledger;
        BatchSettings s = settings(1);
        s.folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(s.folder));
        const Inventory inventory = inventoryOf(library, 2, 1);
        if (fault == QLatin1String("refused"))
            library.refused << 1;
        if (fault == QLatin1String("filled"))
            library.filledBehind[1024] = text("XX0009");
        if (fault == QLatin1String("swapped"))
            library.held[1024] = text("XX0009");
        const QByteArray notes = QFile::encodeName(s.folder + QStringLiteral("/notes/TW0001"));
        QVERIFY(QDir(s.folder).mkpath(QStringLiteral("notes")));
        if (fault == QLatin1String("notes:binary"))
            QVERIFY(writeFile(QFile::decodeName(notes + ".txt"), "box \xff 7"));
        if (fault == QLatin1String("notes:large"))
            QVERIFY(writeFile(QFile::decodeName(notes + ".txt"), QByteArray(65537, 'a')));
        if (fault == QLatin1String("notes:fifo"))
            QCOMPARE(::mkfifo(notes + ".txt", 0600), 0);
        if (fault == QLatin1String("photo:link"))
            QCOMPARE(::symlink("gone.jpg", notes + ".jpg"), 0);
        ledger.full = fault == QLatin1String("full");
        Batch batch(library, library, ledger, s);
        const BatchResult result = batch.run(inventory, planBatch(inventory, Selection()));
        QTEST(library.moves.join(QLatin1Char(' ')), "moves");
        QStringList held;
        for (auto i = library.held.cbegin(); i != library.held.cend(); ++i)
            held << QStringLiteral("%1=%2").arg(i.key()).arg(i.value());
        QTEST(held.join(QLatin1Char(' ')), "heldAfter");
        // Where it stays is journalled, so that the next batch knows it as its own.
        QCOMPARE(ledger.attempts.front().leftIn,
            held.contains(text("1=TW0001")) ? text("/dev/nst0") : QString());
        const QString got = ledger.full ? result.ledgerProblem
                                        : ledger.attempts.front().errors.join(QLatin1Char('|'));
        QFETCH(QString, said);
        QVERIFY2(got.contains(said), qPrintable(got));
        QTEST(ledger.attempts.front().verdict, "verdict");
    }

    // A cartridge a killed run left in a drive goes home to be resumed; one nobody
    // knows stays unless --unload-foreign.
    void takeBack_data()
    {
        QTest::addColumn<QString>("drives");
        QTest::addColumn<bool>("unloadForeign");
        QTest::addColumn<QStringList>("moves");
        QTest::addColumn<QString>("earlier"); // TW0001's verdict; "+" left in the drive
        QTest::addColumn<QString>("after"); // its verdict then; "+" still left in the drive
        const QString both = text("TW0001<1024 XX0009<1025");
        const QString killed = text("running"), resumed = text("interrupted");
        QTest::newRow("ours only") << both << false << words(text("1>1024")) << killed << resumed;
        QTest::newRow("and the foreign one")
            << both << true << words(text("1>1024 2>1025")) << killed << resumed;
        QTest::newRow("ours, its barcode not shown in the drive")
            << text("<1024 XX0009<1025") << false << words(text("1>1024")) << killed << resumed;
        // A put-back that failed once left a complete attempt: taken for foreign, never moved.
        QTest::newRow("ours, left by a failed put-back")
            << both << false << words(text("1>1024")) << text("complete+") << text("complete");
        QTest::newRow("ours, its put-back fails again")
            << both << false << words(text("1>1024")) << text("running!") << text("interrupted+");
    }
    void takeBack()
    {
        QFETCH(QString, drives);
        QFETCH(bool, unloadForeign);
        QFETCH(QString, earlier);
        FakeLibrary library;
        library.held = { { 1, text("TW0001") }, { 2, text("XX0009") } };
        if (earlier.endsWith(QLatin1Char('!')))
            library.refused << 1;
        BatchSettings s = settings(2);
        s.unloadForeign = unloadForeign;
        const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder));
        Journal journal;
        QString problem;
        QVERIFY2(journal.open(folder, problem), qPrintable(problem));
        Attempt killed;
        killed.cartridge = killed.barcode = QStringLiteral("TW0001");
        killed.slot = 1;
        killed.drive = QStringLiteral("/dev/nst0");
        QVERIFY(journal.begin(killed, problem));
        killed.verdict = earlier.section(QLatin1Char('+'), 0, 0);
        killed.leftIn = killed.drive;
        if (earlier.endsWith(QLatin1Char('+')))
            QVERIFY(journal.finish(killed, problem));
        const std::unique_ptr<Ledger> ledger = journalLedger(journal);
        Batch batch(library, library, *ledger, s);
        QCOMPARE(batch.takeBackDrives(libraryOf(text("- -"), drives)), library.refused.isEmpty());
        QTEST(library.moves, "moves");
        const Attempt now = journal.latest().front();
        QTEST(now.verdict + (now.leftIn.isEmpty() ? QString() : text("+")), "after");
    }

    // A second batch is refused while another process holds its folder or its changer,
    // naming that process; a link or a FIFO at library.lock is refused, not followed.
    void batchLocks_data()
    {
        QTest::addColumn<QString>("held"); // by another process, or planted at library.lock
        QTest::addColumn<QString>("outcomes"); // the folder's, the changer's: Taken Held Refused
        QTest::newRow("a second batch on the same folder") << text("folder") << text("HT");
        QTest::newRow("a second batch on the same changer, another folder")
            << text("changer") << text("TH");
        QTest::newRow("a symbolic link at library.lock") << text("link") << text("RT");
        QTest::newRow("a FIFO at library.lock") << text("fifo") << text("RT");
    }
    void batchLocks()
    {
        QFETCH(QString, held);
        const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/run")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder + QStringLiteral("/run")));
        QString problem; // the folder stands in for the changer's node
        const QString locks[]
            = { folderLockPath(folder), changerLockPath(folder, {}, problem, folder) };
        const QByteArray victim = QFile::encodeName(folder + QStringLiteral("/victim"));
        if (held == QLatin1String("link"))
            QCOMPARE(::symlink(victim.constData(), QFile::encodeName(locks[0]).constData()), 0);
        if (held == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(locks[0]).constData(), 0600), 0);
        const bool other = held == QLatin1String("folder") || held == QLatin1String("changer");
        const QString theirs = locks[held == QLatin1String("changer")];
        const pid_t holder = other ? ::fork() : -1;
        if (holder == 0) {
            ::alarm(60); // never outlives a failed test for long
            BatchLock lock;
            if (lock.take(theirs, QString(), problem) == BatchLock::Outcome::Taken)
                ::pause();
            ::_exit(0);
        }
        if (other) // it holds the lock once its pid is in the file
            QTRY_COMPARE(fileBytes(theirs).trimmed(), QByteArray::number(holder));
        BatchLock ours[2];
        QString said[2], got;
        for (int i = 0; i < 2; ++i)
            got += QLatin1Char("THR"[int(ours[i].take(locks[i], text("it"), said[i]))]);
        if (holder > 0) {
            ::kill(holder, SIGKILL);
            ::waitpid(holder, nullptr, 0);
        }
        QTEST(got, "outcomes");
        const int refused = got.indexOf(QLatin1Char('H'));
        QVERIFY(refused < 0 || said[refused].contains(QStringLiteral("process %1").arg(holder)));
        QVERIFY(!QFile::exists(QFile::decodeName(victim))); // nothing made through the link
    }

    // Two users share one changer lock where a shared folder exists; a file planted there
    // that not all may write is refused, naming its owner.
    void changerLockPlace_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<bool>("planted"); // by another user, 0644
        QTest::addColumn<QString>("outcome"); // the lock's folder: shared or own; or refused
        QTest::newRow("shared folder: one name, 0666") << 01777 << false << text("shared");
        QTest::newRow("not sticky: the user's own folder") << 0777 << false << text("own");
        QTest::newRow("another user's private file there") << 01777 << true << text("refused");
    }
    void changerLockPlace()
    {
        QFETCH(int, folderMode);
        QFETCH(bool, planted);
        const QString shared = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(shared + text("/run")));
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), mode_t(folderMode)), 0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(shared + text("/run")));
        QString problem;
        const QString path = changerLockPath(shared, {}, problem, shared);
        const QByteArray native = QFile::encodeName(path);
        if (planted
            && (!writeFile(path, "1\n") || ::chmod(native, 0644) != 0
                || ::chown(native, 65534, 65534) != 0))
            QSKIP("planting another user's file needs root");
        const mode_t mask = ::umask(022);
        BatchLock lock;
        const BatchLock::Outcome outcome = lock.take(path, text("the changer"), problem);
        ::umask(mask);
        struct stat info = {};
        QCOMPARE(::stat(native, &info), 0);
        const bool refused = outcome == BatchLock::Outcome::Refused;
        QVERIFY2(!refused || (problem.contains(path) && problem.contains(text("uid 65534"))),
            qPrintable(problem));
        const bool open = (info.st_mode & 0777) == 0666; // whatever the umask
        QTEST(refused                              ? text("refused")
                : QFileInfo(path).path() != shared ? text("own")
                                                   : text(open ? "shared" : "not 0666"),
            "outcome");
    }

    // The changer's own node and its generic node share a lock when it tells its serial.
    void changerLockKey()
    {
        QString problem;
        const QString a = m_dir.filePath(QStringLiteral("sch0")), b = m_dir.path();
        QVERIFY(writeFile(a, ""));
        const QString identity = QStringLiteral("ACME LIB-2 0042");
        QCOMPARE(changerLockPath(a, identity, problem), changerLockPath(b, identity, problem));
        QVERIFY(changerLockPath(a, {}, problem) != changerLockPath(b, {}, problem));
    }
};

QTEST_GUILESS_MAIN(TestLibraryBatch)
#include "tst_library_batch.moc"
