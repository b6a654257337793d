// The batch journal: what a second run does with each cartridge, what survives
// a killed batch, what it refuses to open, and the summaries people read.
#include "archive/library_journal.h"
#include "archive/library_summary.h"

#include <QtTest>

#include <sqlite3.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace Library;
Q_DECLARE_METATYPE(Library::NextStep)

namespace {

Attempt attemptOf(const QString &cartridge, int slot)
{
    Attempt a;
    a.cartridge = a.barcode = cartridge;
    a.slot = slot;
    a.drive = QStringLiteral("/dev/nst0");
    a.image = cartridge + QStringLiteral(".tap");
    return a;
}

// Verdicts of successive attempts of one cartridge; "running" leaves the last one unfinished.
void record(Journal &journal, const QString &cartridge, const QStringList &verdicts)
{
    QString problem;
    for (const QString &verdict : verdicts) {
        Attempt a = attemptOf(cartridge, 1);
        QVERIFY2(journal.begin(a, problem), qPrintable(problem));
        a.verdict = verdict;
        if (verdict != QLatin1String("running"))
            QVERIFY2(journal.finish(a, problem), qPrintable(problem));
    }
}

// A child process that runs @p work; returns its pid once it wrote one byte to the pipe.
template <typename Work> pid_t child(Work work)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        work(ready[1]);
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte;
    const bool started = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    return started ? pid : -1;
}

// RFC 4180 read back: quoted fields may hold commas, quotes and line breaks.
QList<QStringList> parseCsv(const QByteArray &csv)
{
    QList<QStringList> rows { {} };
    QByteArray field;
    bool quoted = false;
    for (int i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (quoted && c == '"' && csv.mid(i + 1, 1) == "\"")
            field += csv[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && (c == ',' || c == '\r' || c == '\n')) {
            rows.last() << QString::fromUtf8(field);
            field.clear();
            i += c == '\r' && csv.mid(i + 1, 1) == "\n";
            if (c != ',' && i + 1 < csv.size())
                rows << QStringList();
        } else
            field += c;
    }
    return rows;
}

} // namespace

class TestLibraryJournal : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString folder() const { return m_dir.path(); }
    QString file() const { return m_dir.filePath(QStringLiteral("library.sqlite")); }

private slots:
    void init()
    {
        QFile::remove(file());
        QFile::remove(m_dir.filePath(QStringLiteral("library.csv")));
    }

    void nextStep_data()
    {
        QTest::addColumn<QStringList>("verdicts");
        QTest::addColumn<bool>("retryFailed");
        QTest::addColumn<NextStep>("expected");
        const auto row = [](const char *name, const char *verdicts, bool retry, NextStep step) {
            QTest::newRow(name) << QString::fromLatin1(verdicts).split(
                QLatin1Char(' '), Qt::SkipEmptyParts)
                                << retry << step;
        };
        row("never tried", "", false, NextStep::Image);
        row("complete", "complete", false, NextStep::Skip);
        row("complete, retry asked", "complete", true, NextStep::Skip);
        row("killed while running", "running", false, NextStep::Resume);
        row("interrupted", "interrupted", false, NextStep::Resume);
        row("failed", "failed", false, NextStep::LeaveFailed);
        row("failed, retried", "failed", true, NextStep::Retry);
        row("damaged", "damaged", false, NextStep::LeaveFailed);
        row("damaged, retried", "damaged", true, NextStep::Retry);
        row("stops short, retried", "stops-short", true, NextStep::Retry);
        row("the latest attempt counts", "complete failed", false, NextStep::LeaveFailed);
        row("a retry that completed", "failed complete", false, NextStep::Skip);
    }
    void nextStep()
    {
        QFETCH(QStringList, verdicts);
        QFETCH(bool, retryFailed);
        QFETCH(NextStep, expected);
        QString problem;
        {
            Journal journal;
            QVERIFY2(journal.open(folder(), problem), qPrintable(problem));
            record(journal, QStringLiteral("TW0001"), verdicts);
            record(journal, QStringLiteral("TW0002"), { QStringLiteral("complete") });
        }
        Journal reopened;
        QVERIFY2(reopened.open(folder(), problem), qPrintable(problem));
        QCOMPARE(reopened.nextStep(QStringLiteral("TW0001"), retryFailed), expected);
        QVERIFY(reopened.lastProblem().isEmpty());
    }

    void attemptSurvivesReopening()
    {
        QString problem;
        Attempt a = attemptOf(QStringLiteral("TW0007"), 7);
        a.description = QStringLiteral("Box 3, shelf 2");
        {
            Journal journal;
            QVERIFY2(journal.open(folder(), problem), qPrintable(problem));
            QVERIFY(journal.begin(a, problem) && a.id > 0);
            a.verdict = QStringLiteral("damaged");
            a.bytes = 5'000'000'000'123;
            a.records = 123456;
            a.tapeFiles = 3;
            a.sha256 = QString(64, QLatin1Char('a'));
            a.errors = QStringList { QStringLiteral("block 12 unreadable"),
                QStringLiteral("block 13\nunreadable") };
            QVERIFY2(journal.finish(a, problem), qPrintable(problem));
        }
        Journal journal;
        QVERIFY2(journal.open(folder(), problem), qPrintable(problem));
        const std::vector<Attempt> latest = journal.latest();
        QCOMPARE(latest.size(), std::size_t(1));
        const Attempt &b = latest.front();
        QCOMPARE(b.id, a.id);
        QCOMPARE(b.slot, 7);
        QCOMPARE(b.bytes, a.bytes);
        QCOMPARE(b.records, a.records);
        QCOMPARE(b.tapeFiles, a.tapeFiles);
        QCOMPARE(b.verdict, a.verdict);
        QCOMPARE(b.started, a.started.addMSecs(-a.started.time().msec()));
        QVERIFY(b.ended.isValid());
        QCOMPARE(b.errors,
            QStringList(
                { QStringLiteral("block 12 unreadable"), QStringLiteral("block 13 unreadable") }));
        QCOMPARE(b.description, a.description);
    }

    // The batch killed (SIGKILL, as a power cut leaves it) while it images one cartridge
    // and writes the journal for others: the file opens whole and says "running".
    void killedBatchResumes()
    {
        const pid_t pid = child([this](int ready) {
            Journal journal;
            QString problem;
            Attempt a = attemptOf(QStringLiteral("TW0001"), 1);
            if (!journal.open(folder(), problem) || !journal.begin(a, problem))
                ::_exit(1);
            (void)::write(ready, "x", 1);
            for (int n = 2;; ++n) {
                Attempt other = attemptOf(QStringLiteral("TW%1").arg(n), n);
                journal.begin(other, problem);
                other.verdict = QStringLiteral("complete");
                journal.finish(other, problem);
            }
        });
        QVERIFY(pid > 0);
        QTest::qWait(50);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        Journal journal;
        QString problem;
        QVERIFY2(journal.open(folder(), problem), qPrintable(problem));
        QCOMPARE(journal.nextStep(QStringLiteral("TW0001"), false), NextStep::Resume);
        QCOMPARE(journal.latest().front().verdict, QStringLiteral("running"));
    }

    // Two batches on one folder at once: every write of both is there, none lost to a lock.
    void twoBatchesAtOnce()
    {
        const auto batch = [this](const QString &prefix) {
            return child([this, prefix](int ready) {
                (void)::write(ready, "x", 1);
                Journal journal;
                QString problem;
                bool ok = journal.open(folder(), problem);
                for (int n = 1; ok && n <= 25; ++n) {
                    Attempt a = attemptOf(prefix + QString::number(n), n);
                    ok = journal.begin(a, problem);
                    a.verdict = QStringLiteral("complete");
                    ok = ok && journal.finish(a, problem);
                }
                if (!ok)
                    qWarning("%s", qPrintable(problem));
                ::_exit(ok ? 0 : 1);
            });
        };
        const pid_t first = batch(QStringLiteral("A")), second = batch(QStringLiteral("B"));
        int status1 = -1, status2 = -1;
        ::waitpid(first, &status1, 0);
        ::waitpid(second, &status2, 0);
        QCOMPARE(status1, 0);
        QCOMPARE(status2, 0);
        Journal journal;
        QString problem;
        QVERIFY2(journal.open(folder(), problem), qPrintable(problem));
        QCOMPARE(journal.latest().size(), std::size_t(50));
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("sql"); // run on a new database; empty: a text file
        QTest::addColumn<QString>("says");
        QTest::newRow("not a database")
            << QByteArray() << QStringLiteral("is not a SQLite database");
        QTest::newRow("another program's tables")
            << QByteArray("CREATE TABLE photos (id INTEGER)") << QStringLiteral("holds photos");
        QTest::newRow("a newer journal")
            << QByteArray("PRAGMA user_version = 2") << QStringLiteral("newer tarnwick-library");
        QTest::newRow("a journal without its events")
            << QByteArray("PRAGMA user_version = 1; CREATE TABLE attempts (id INTEGER)")
            << QStringLiteral("has no attempts.cartridge");
    }
    void refusals()
    {
        QFETCH(QByteArray, sql);
        QFETCH(QString, says);
        if (sql.isEmpty()) {
            QFile text(file());
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write(QByteArray(4096, 'x'));
        } else {
            sqlite3 *db = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(file()).constData(), &db), SQLITE_OK);
            QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        QFile before(file());
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray content = before.readAll();
        Journal journal;
        QString problem;
        QVERIFY(!journal.open(folder(), problem));
        QVERIFY2(problem.contains(says) && problem.contains(file()), qPrintable(problem));
        QFile after(file());
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), content);
    }

    void readOnlyFolder()
    {
        QTemporaryDir dir;
        QFile::setPermissions(
            dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        const pid_t pid = child([&dir](int ready) {
            (void)::write(ready, "x", 1);
            if (::geteuid() == 0 && ::setuid(65534) != 0) // root writes anywhere: be nobody
                ::_exit(2);
            Journal journal;
            QString problem;
            const bool refused = !journal.open(dir.path(), problem)
                && problem.contains(QStringLiteral("cannot write in the folder"));
            ::_exit(refused ? 0 : 1);
        });
        int status = -1;
        ::waitpid(pid, &status, 0);
        QCOMPARE(status, 0);
    }

    // Barcodes and errors with what a spreadsheet must not split: read back field for field.
    void csvQuoting_data()
    {
        QTest::addColumn<QString>("barcode");
        QTest::addColumn<QStringList>("errors");
        QTest::newRow("comma") << QStringLiteral("TW,01") << QStringList { QStringLiteral("a, b") };
        QTest::newRow("quotes") << QStringLiteral("TW\"01\"")
                                << QStringList { QStringLiteral("said \"no\"") };
        QTest::newRow("two sentences") << QStringLiteral(
            "TW01") << QStringList { QStringLiteral("One."), QStringLiteral("Two.") };
        QTest::newRow("line break, non-ASCII")
            << QStringLiteral("TW\r\n01 é") << QStringList { QStringLiteral("Bänd ✓") };
    }
    void csvQuoting()
    {
        QFETCH(QString, barcode);
        QFETCH(QStringList, errors);
        Journal journal;
        QString problem;
        QVERIFY2(journal.open(folder(), problem), qPrintable(problem));
        Attempt a = attemptOf(barcode, 2);
        a.errors = errors;
        QVERIFY(journal.begin(a, problem));
        a.verdict = QStringLiteral("failed");
        QVERIFY2(journal.finish(a, problem), qPrintable(problem));
        record(journal, QStringLiteral("TW0003"), { QStringLiteral("running") });
        QVERIFY2(journal.writeSummaries(problem), qPrintable(problem));
        QFile csv(m_dir.filePath(QStringLiteral("library.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QStringList> rows = parseCsv(csv.readAll());
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0], summaryFields());
        QCOMPARE(rows[1][0], QStringLiteral("TW0003")); // slot 1 before slot 2
        QCOMPARE(rows[2].size(), summaryFields().size());
        QCOMPARE(rows[2][0], barcode);
        QCOMPARE(rows[2][12], errors.join(QLatin1Char('\n')));
    }

    void jsonTypes()
    {
        Attempt done = attemptOf(QStringLiteral("slot-4"), 4);
        done.barcode.clear();
        done.ended = done.started = QDateTime::currentDateTimeUtc();
        done.verdict = QStringLiteral("complete");
        done.bytes = 1LL << 40;
        Attempt running = attemptOf(QStringLiteral("TW0005"), 5);
        running.started = done.started;
        running.verdict = QStringLiteral("running");
        const QJsonArray array = QJsonDocument::fromJson(summaryJson({ done, running })).array();
        QCOMPARE(array.size(), 2);
        const QJsonObject first = array[0].toObject(), second = array[1].toObject();
        QCOMPARE(first.keys().size(), summaryFields().size());
        QVERIFY(first[QStringLiteral("barcode")].isNull());
        QVERIFY(first[QStringLiteral("sha256")].isNull());
        QCOMPARE(first[QStringLiteral("slot")].toDouble(), 4.0);
        QCOMPARE(first[QStringLiteral("bytes")].toDouble(), double(1LL << 40));
        QCOMPARE(first[QStringLiteral("records")].toDouble(), 0.0);
        QVERIFY(first[QStringLiteral("errors")].isArray());
        QCOMPARE(second[QStringLiteral("barcode")].toString(), QStringLiteral("TW0005"));
        QVERIFY(second[QStringLiteral("ended")].isNull());
        QVERIFY(second[QStringLiteral("bytes")].isNull());
    }

    // People query the journal with the sqlite3 tool, as the manual page shows.
    void queriedWithTheTool()
    {
        {
            Journal journal;
            QString problem;
            QVERIFY2(journal.open(folder(), problem), qPrintable(problem));
            record(journal, QStringLiteral("TW0001"), { QStringLiteral("failed") });
            record(journal, QStringLiteral("TW0002"), { QStringLiteral("complete") });
            record(journal, QStringLiteral("TW0003"),
                { QStringLiteral("complete"), QStringLiteral("damaged") });
        }
        QProcess tool;
        tool.start(QStringLiteral("sqlite3"),
            { file(),
                QStringLiteral("SELECT cartridge, verdict FROM latest WHERE verdict != 'complete' "
                               "ORDER BY cartridge") });
        QVERIFY2(tool.waitForFinished(), "sqlite3 missing: scripts/install-deps installs it");
        QCOMPARE(tool.readAllStandardOutput(), QByteArray("TW0001|failed\nTW0003|damaged\n"));
    }
};

QTEST_GUILESS_MAIN(TestLibraryJournal)
#include "tst_library_journal.moc"
