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

QString S(const char *text)
{
    return QString::fromUtf8(text);
}

// Records attempts of @p cartridge in slot @p slot with these verdicts, one after
// the other; "running" leaves one unfinished. False when the journal refused one.
bool record(Journal &journal, const QString &cartridge, int slot, const QStringList &verdicts,
    const QStringList &errors = {})
{
    QString problem;
    for (const QString &verdict : verdicts) {
        Attempt a;
        a.cartridge = a.barcode = cartridge;
        a.slot = slot;
        a.errors = errors;
        if (!journal.begin(a, problem))
            return false;
        a.verdict = verdict;
        a.bytes = 5'000'000'000'123; // more than 32 bits
        if (verdict != S("running") && !journal.finish(a, problem))
            return false;
    }
    return true;
}

// Forks a child that runs @p work (which ends it with _exit); returns once it has started.
template <typename Work> pid_t child(Work work)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        work(ready[1]);
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte;
    const bool started = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    return started ? pid : -1;
}

// RFC 4180 read back as a spreadsheet does: a bare line break ends a row.
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
    QString file(const char *name = "library.sqlite") const
    {
        return m_dir.filePath(QLatin1String(name));
    }
    QByteArray read(const char *name) const
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool open(Journal &journal) const
    {
        QString problem;
        const bool ok = journal.open(m_dir.path(), problem);
        if (!ok)
            qWarning("%s", qPrintable(problem));
        return ok;
    }

private slots:
    void init() { QFile::remove(file()); }

    void nextStep_data()
    {
        QTest::addColumn<QString>("verdicts");
        QTest::addColumn<bool>("retryFailed");
        QTest::addColumn<NextStep>("expected");
        QTest::newRow("never tried") << S("") << false << NextStep::Image;
        QTest::newRow("complete") << S("complete") << false << NextStep::Skip;
        QTest::newRow("complete, retry asked") << S("complete") << true << NextStep::Skip;
        QTest::newRow("killed while running") << S("running") << false << NextStep::Resume;
        QTest::newRow("interrupted") << S("interrupted") << false << NextStep::Resume;
        QTest::newRow("failed") << S("failed") << false << NextStep::LeaveFailed;
        QTest::newRow("failed, retried") << S("failed") << true << NextStep::Retry;
        QTest::newRow("damaged") << S("damaged") << false << NextStep::LeaveFailed;
        QTest::newRow("damaged, retried") << S("damaged") << true << NextStep::Retry;
        QTest::newRow("stops short, retried") << S("stops-short") << true << NextStep::Retry;
        QTest::newRow("the latest counts")
            << S("complete failed") << false << NextStep::LeaveFailed;
        QTest::newRow("a retry completed") << S("failed complete") << false << NextStep::Skip;
    }
    // Each decided by a journal opened again, as the next run of the batch opens it.
    void nextStep()
    {
        QFETCH(QString, verdicts);
        QFETCH(bool, retryFailed);
        QFETCH(NextStep, expected);
        {
            Journal journal;
            QVERIFY(open(journal));
            QVERIFY(record(
                journal, S("TW0001"), 1, verdicts.split(QLatin1Char(' '), Qt::SkipEmptyParts)));
            QVERIFY(record(journal, S("TW0002"), 2, { S("complete") }));
        }
        Journal reopened;
        QVERIFY(open(reopened));
        QCOMPARE(reopened.nextStep(S("TW0001"), retryFailed), expected);
    }

    // SIGKILL, as a power cut leaves the batch, while it writes the journal for other
    // cartridges and a second batch writes to it too: the file opens whole, neither lost a
    // write to the other's locks, and the cartridge it was imaging reads "running".
    void killedBatchResumes()
    {
        const pid_t pid = child([this](int ready) {
            Journal journal;
            if (!open(journal) || !record(journal, S("TW0001"), 1, { S("running") }))
                ::_exit(1);
            (void)::write(ready, "x", 1);
            for (int n = 2;; ++n) { // pausing as a batch does, or the other never gets the lock
                record(journal, S("TW%1").arg(n), n, { S("complete") });
                ::usleep(10000);
            }
        });
        QVERIFY(pid > 0);
        Journal second;
        QVERIFY(open(second));
        for (int n = 1; n <= 20; ++n)
            QVERIFY(record(second, S("P%1").arg(n), 1000 + n, { S("complete") }));
        QString problem;
        QVERIFY(
            second.event(S("CLN001"), 4, QString(), S("slot 4: cleaning, not imaged"), problem));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        Journal journal;
        QVERIFY(open(journal));
        QCOMPARE(journal.nextStep(S("TW0001"), false), NextStep::Resume);
        QCOMPARE(journal.nextStep(S("P20"), false), NextStep::Skip);
        QVERIFY(!journal.latest().front().ended.isValid());
        QProcess tool; // as people query it
        tool.start(S("sqlite3"),
            { file(),
                S("SELECT verdict FROM latest WHERE cartridge = 'TW0001'; "
                  "SELECT cartridge, slot, drive IS NULL, text FROM events") });
        QVERIFY2(tool.waitForFinished(), "sqlite3 missing: scripts/install-deps installs it");
        QCOMPARE(tool.readAllStandardOutput(),
            QByteArray("running\nCLN001|4|1|slot 4: cleaning, not imaged\n"));
    }

    // A journal of the first version (no left_in) opens, keeps its rows, and then records
    // the drive a cartridge was left in.
    void firstVersionGainsLeftIn()
    {
        {
            Journal first;
            QVERIFY(open(first) && record(first, S("TW0001"), 1, { S("complete") }));
        }
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(file()).constData(), &db), SQLITE_OK);
        QCOMPARE(
            sqlite3_exec(db, "ALTER TABLE attempts DROP COLUMN left_in; PRAGMA user_version = 1",
                nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(db);
        Journal journal;
        QVERIFY(open(journal));
        QCOMPARE(journal.nextStep(S("TW0001"), false), NextStep::Skip);
        Attempt left = journal.latest().front();
        left.leftIn = S("/dev/nst1");
        QString problem;
        QVERIFY2(journal.finish(left, problem), qPrintable(problem));
        QCOMPARE(journal.latest().front().leftIn, S("/dev/nst1"));
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("sql"); // run on a new database; empty: a text file
        QTest::addColumn<QString>("says");
        QTest::newRow("not a database") << QByteArray() << S("is not a SQLite database");
        QTest::newRow("another program's")
            << QByteArray("CREATE TABLE photos (id)") << S("holds photos");
        QTest::newRow("newer") << QByteArray("PRAGMA user_version = 3") << S("newer");
        QTest::newRow("tables changed by hand")
            << QByteArray("PRAGMA user_version = 1; CREATE TABLE attempts (id)")
            << S("has no attempts.cartridge");
    }
    // Refused with a message, and left byte for byte as it was.
    void refusals()
    {
        QFETCH(QByteArray, sql);
        QFETCH(QString, says);
        sqlite3 *db = nullptr;
        if (sql.isEmpty()) {
            QFile text(file());
            QVERIFY(text.open(QIODevice::WriteOnly) && text.write(QByteArray(4096, 'x')) > 0);
        } else {
            QCOMPARE(sqlite3_open(QFile::encodeName(file()).constData(), &db), SQLITE_OK);
            QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        const QByteArray before = read("library.sqlite");
        Journal journal;
        QString problem;
        QVERIFY(!journal.open(m_dir.path(), problem));
        QVERIFY2(problem.contains(says) && problem.contains(file()), qPrintable(problem));
        QCOMPARE(read("library.sqlite"), before);
    }

    void readOnlyFolder()
    {
        QTemporaryDir dir;
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ExeOther);
        const pid_t pid = child([&dir](int ready) {
            (void)::write(ready, "x", 1);
            if (::geteuid() == 0 && ::setuid(65534) != 0) // root writes anywhere: be nobody
                ::_exit(2);
            Journal journal;
            QString problem;
            ::_exit(!journal.open(dir.path(), problem) && problem.contains(S("cannot write in"))
                    ? 0
                    : 1);
        });
        int status = -1;
        ::waitpid(pid, &status, 0);
        QCOMPARE(status, 0);
    }

    // What a spreadsheet must not split, in barcodes and errors: read back field for field
    // from the CSV, and typed from the JSON.
    void summaries_data()
    {
        QTest::addColumn<QString>("barcode");
        QTest::addColumn<QStringList>("errors");
        QTest::newRow("comma") << S("TW,01") << QStringList { S("a, b") };
        QTest::newRow("quotes") << S("TW\"01\"") << QStringList { S("said \"no\"") };
        QTest::newRow("two sentences") << S("TW01") << QStringList { S("One."), S("Two.") };
        QTest::newRow("CRLF, non-ASCII") << S("TW\r\n01 é") << QStringList { S("Bänd ✓") };
    }
    void summaries()
    {
        QFETCH(QString, barcode);
        QFETCH(QStringList, errors);
        Journal journal;
        QVERIFY(open(journal));
        QVERIFY(record(journal, S("TW0003"), 1, { S("complete"), S("damaged") }));
        QVERIFY(record(journal, barcode, 2, { S("running") }, errors));
        QString problem;
        QVERIFY2(journal.writeSummaries(problem), qPrintable(problem));
        const QList<QStringList> rows = parseCsv(read("library.csv"));
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0], summaryFields());
        QCOMPARE(rows[2].size(), summaryFields().size());
        QCOMPARE(rows[2][0], barcode);
        QCOMPARE(rows[2][12], errors.join(QLatin1Char('\n')));
        const QJsonArray array = QJsonDocument::fromJson(read("library.json")).array();
        const QJsonObject done = array[0].toObject(), running = array[1].toObject();
        QCOMPARE(done.keys().size(), summaryFields().size());
        QCOMPARE(done[S("verdict")].toString(), S("damaged"));
        QCOMPARE(done[S("slot")].toDouble(), 1.0);
        QCOMPARE(done[S("bytes")].toDouble(), 5'000'000'000'123.0);
        QCOMPARE(done[S("records")].toDouble(), 0.0);
        QVERIFY(done[S("sha256")].isNull() && done[S("description")].isNull());
        QVERIFY(running[S("ended")].isNull() && running[S("bytes")].isNull());
        QCOMPARE(running[S("barcode")].toString(), barcode);
        QCOMPARE(running[S("errors")].toArray(), QJsonArray::fromStringList(errors));
    }
};

QTEST_GUILESS_MAIN(TestLibraryJournal)
#include "tst_library_journal.moc"
