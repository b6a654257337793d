// The batch journal over SQLite's C library. Every attempt is on the disk
// before the batch goes on: a batch killed (or a power cut) right after begin()
// or finish() finds the row again when it resumes.
#include "archive/library_journal.h"

#include "archive/library_summary.h"
#include "archive/sqlite_statement.h"
#include "platform/posix/native_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>

namespace Library {
namespace {

using Sqlite::Statement;

constexpr int journalVersion = 2; // 2: attempts.left_in
const char journalName[] = "library.sqlite";
// Another batch or a person's query holds the file for milliseconds at a time;
// a write that still waits after this long is reported rather than hanging the batch.
constexpr int busyMilliseconds = 60000;

// The verdict words are part of the schema, so that a typo never reads as "not complete".
const char schema[] = R"(
CREATE TABLE attempts (
    id INTEGER PRIMARY KEY,
    cartridge TEXT NOT NULL,
    barcode TEXT,
    slot INTEGER,
    drive TEXT,
    image TEXT,
    started TEXT NOT NULL,
    ended TEXT,
    bytes INTEGER,
    records INTEGER,
    tape_files INTEGER,
    verdict TEXT NOT NULL CHECK (verdict IN
        ('running', 'complete', 'damaged', 'stops-short', 'interrupted', 'failed')),
    sha256 TEXT,
    errors TEXT,
    description TEXT,
    left_in TEXT
);
CREATE INDEX attempts_by_cartridge ON attempts (cartridge, id);
CREATE TABLE events (
    id INTEGER PRIMARY KEY,
    at TEXT NOT NULL,
    cartridge TEXT,
    slot INTEGER,
    drive TEXT,
    text TEXT NOT NULL
);
CREATE VIEW latest AS
    SELECT a.* FROM attempts AS a
    WHERE a.id = (SELECT max(b.id) FROM attempts AS b WHERE b.cartridge = a.cartridge);
PRAGMA user_version = 2;
)";

// A journal of version 1 gains the drive a cartridge was left in; its rows were all put back
// or are running (a killed batch), which the next batch finds by their drive.
const char fromVersion1[] = R"(
ALTER TABLE attempts ADD COLUMN left_in TEXT;
PRAGMA user_version = 2;
)";

const char attemptColumnsOfVersion1[]
    = "id cartridge barcode slot drive image started ended bytes records tape_files verdict "
      "sha256 errors description";
const char eventColumns[] = "id at cartridge slot drive text";

const char *const endVerdicts[] = { "complete", "damaged", "stops-short", "interrupted", "failed" };

QDateTime now()
{
    return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
}

QString isoText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate);
}

// One sentence per line: a line break inside a sentence would split it in two.
QString errorLines(const QStringList &errors)
{
    QStringList lines;
    for (const QString &error : errors)
        lines << QString(error)
                     .replace(QLatin1Char('\n'), QLatin1Char(' '))
                     .remove(QLatin1Char('\r'));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

struct Journal::Private
{
    sqlite3 *db = nullptr;
    QString path;
    mutable std::mutex mutex;
    mutable QString lastProblem;

    ~Private() { sqlite3_close(db); }

    /// "cannot WHAT in the journal PATH: the database's words (the system's words)";
    /// without WHAT, that the journal cannot be opened.
    QString failure(const QString &what) const
    {
        if (db && sqlite3_errcode(db) == SQLITE_NOTADB)
            return QStringLiteral("%1 is not a SQLite database, so not a journal of "
                                  "tarnwick-library: move it away or choose another folder")
                .arg(path);
        QString words
            = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
        // The system's errno is kept from the last failed call, so only where one failed now;
        // SQLite does not always pass it on, but the file remembers it.
        const int code = db ? sqlite3_errcode(db) & 0xff : SQLITE_NOMEM;
        int error = 0;
        if (code == SQLITE_IOERR || code == SQLITE_CANTOPEN || code == SQLITE_FULL) {
            error = sqlite3_system_errno(db);
            if (error == 0)
                sqlite3_file_control(db, "main", SQLITE_FCNTL_LAST_ERRNO, &error);
        }
        if (error != 0)
            words += QStringLiteral(" (%1)").arg(NativeFile::errorText(error));
#ifdef SQLITE_CANTOPEN_SYMLINK
        if (db && sqlite3_extended_errcode(db) == SQLITE_CANTOPEN_SYMLINK)
            words = QStringLiteral("it is a symbolic link, which the journal does not follow");
#endif
        return what.isEmpty()
            ? QStringLiteral("cannot open the journal %1: %2").arg(path, words)
            : QStringLiteral("cannot %1 in the journal %2: %3").arg(what, path, words);
    }

    bool exec(const char *sql, const QString &what, QString &problem)
    {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
            return true;
        problem = failure(what);
        return false;
    }

    int userVersion(QString &problem);
    bool hasColumns(const char *table, const char *columns, QString &problem);
    bool checkOrCreate(QString &problem);
    std::vector<Attempt> latest(QString &problem) const;
};

int Journal::Private::userVersion(QString &problem)
{
    Statement query(db, "PRAGMA user_version");
    const int result = query.step();
    if (result == SQLITE_ROW)
        return int(query.integer(0));
    problem = failure(QStringLiteral("read the version"));
    return -1;
}

bool Journal::Private::hasColumns(const char *table, const char *columns, QString &problem)
{
    Statement query(db, "SELECT name FROM pragma_table_info(?)");
    query.bind(1, QString::fromLatin1(table));
    QStringList found;
    int result;
    while ((result = query.step()) == SQLITE_ROW)
        found << query.text(0);
    if (result != SQLITE_DONE) {
        problem = failure(QStringLiteral("read the table %1").arg(QLatin1String(table)));
        return false;
    }
    for (const QString &column : QString::fromLatin1(columns).split(QLatin1Char(' '))) {
        if (!found.contains(column)) {
            problem = QStringLiteral("the journal %1 has no %2.%3: it was changed by hand or is "
                                     "not a journal of tarnwick-library; it is left as it is")
                          .arg(path, QLatin1String(table), column);
            return false;
        }
    }
    return true;
}

// Inside one write transaction, so that two batches opening a new folder at the
// same moment create the tables once.
bool Journal::Private::checkOrCreate(QString &problem)
{
    const int version = userVersion(problem);
    if (version < 0)
        return false;
    if (version > journalVersion) {
        problem = QStringLiteral("the journal %1 was written by a newer tarnwick-library "
                                 "(journal version %2; this one knows version %3): use that "
                                 "program, or another folder")
                      .arg(path)
                      .arg(version)
                      .arg(journalVersion);
        return false;
    }
    if (version == 0) {
        Statement objects(db, "SELECT group_concat(name, ', ') FROM sqlite_master");
        if (objects.step() != SQLITE_ROW) {
            problem = failure(QStringLiteral("read the tables"));
            return false;
        }
        const QString names = objects.text(0);
        if (!names.isEmpty()) {
            problem = QStringLiteral("%1 is a SQLite database of something else (it holds %2), "
                                     "not a journal of tarnwick-library: move it away or choose "
                                     "another folder")
                          .arg(path, names);
            return false;
        }
        return exec(schema, QStringLiteral("create the tables"), problem);
    }
    if (!hasColumns("attempts", attemptColumnsOfVersion1, problem)
        || !hasColumns("events", eventColumns, problem)
        || !hasColumns("latest", "cartridge verdict", problem))
        return false;
    if (version == 1 && !exec(fromVersion1, QStringLiteral("add the column left_in"), problem))
        return false;
    if (!hasColumns("latest", "left_in", problem))
        return false;
    Statement check(db, "PRAGMA quick_check");
    if (check.step() != SQLITE_ROW || check.text(0) != QLatin1String("ok")) {
        problem = QStringLiteral("the journal %1 is damaged (%2): it is left as it is; copy it "
                                 "away and start the batch in a new folder")
                      .arg(path,
                          check.text(0).isEmpty() ? QString::fromUtf8(sqlite3_errmsg(db))
                                                  : check.text(0));
        return false;
    }
    return true;
}

Journal::Journal()
    : d(std::make_unique<Private>())
{
}

Journal::~Journal() = default;

bool Journal::open(const QString &folder, QString &problem)
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    sqlite3_close(d->db);
    d->db = nullptr;
    const QFileInfo where(folder);
    d->path = QDir(folder).filePath(QLatin1String(journalName));
    if (!where.isDir()) {
        problem = QStringLiteral("the folder %1 for the journal does not exist").arg(folder);
        return false;
    }
    // The rollback journal is created beside the database at every write.
    if (!where.isWritable()) {
        problem = QStringLiteral("cannot write in the folder %1: the journal %2 needs to")
                      .arg(folder, d->path);
        return false;
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
#ifdef SQLITE_OPEN_NOFOLLOW
    flags |= SQLITE_OPEN_NOFOLLOW;
#endif
    if (sqlite3_open_v2(QFile::encodeName(d->path).constData(), &d->db, flags, nullptr)
        != SQLITE_OK) {
        problem = d->failure(QString());
        sqlite3_close(d->db);
        d->db = nullptr;
        return false;
    }
    sqlite3_extended_result_codes(d->db, 1);
    sqlite3_busy_timeout(d->db, busyMilliseconds);
    if (sqlite3_db_readonly(d->db, "main") == 1) {
        problem = QStringLiteral("the journal %1 cannot be written (its permissions)").arg(d->path);
        sqlite3_close(d->db);
        d->db = nullptr;
        return false;
    }
    // A rollback journal, not WAL: WAL needs shared memory that a folder on a network
    // share does not give. EXTRA also syncs the folder once the rollback journal is
    // deleted, which is the moment a write counts: without it a power cut right
    // after could bring the journal back and undo the write.
    bool ok
        = d->exec("PRAGMA synchronous = EXTRA", QStringLiteral("ask for synced writes"), problem)
        && d->exec("BEGIN IMMEDIATE", QStringLiteral("begin a write"), problem);
    if (ok && d->checkOrCreate(problem)) {
        ok = d->exec("COMMIT", QStringLiteral("end a write"), problem);
    } else if (ok) {
        sqlite3_exec(d->db, "ROLLBACK", nullptr, nullptr, nullptr); // nothing was written
        ok = false;
    }
    // SQLite syncs the folder for its rollback journals but not for a new database.
    if (ok && !NativeFile::syncFolderOf(QFile::encodeName(d->path))) {
        problem = QStringLiteral("cannot write to the disk the folder of %1: %2")
                      .arg(d->path, NativeFile::errorText(NativeFile::lastError()));
        ok = false;
    }
    if (!ok) {
        sqlite3_close(d->db);
        d->db = nullptr;
    }
    return ok;
}

QString Journal::path() const
{
    return d->path;
}

NextStep Journal::nextStep(const QString &cartridge, bool retryFailed) const
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    d->lastProblem.clear();
    if (!d->db) {
        d->lastProblem = QStringLiteral("the journal is not open");
        return NextStep::LeaveFailed;
    }
    Statement query(d->db, "SELECT verdict FROM latest WHERE cartridge = ?");
    query.bind(1, cartridge);
    const int result = query.step();
    if (result == SQLITE_DONE)
        return NextStep::Image;
    if (result != SQLITE_ROW) {
        d->lastProblem = d->failure(QStringLiteral("read the attempts of %1").arg(cartridge));
        return NextStep::LeaveFailed;
    }
    const QString verdict = query.text(0);
    if (verdict == QLatin1String("complete"))
        return NextStep::Skip;
    if (verdict == QLatin1String("running") || verdict == QLatin1String("interrupted"))
        return NextStep::Resume;
    return retryFailed ? NextStep::Retry : NextStep::LeaveFailed;
}

QString Journal::lastProblem() const
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    return d->lastProblem;
}

bool Journal::begin(Attempt &attempt, QString &problem)
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->db) {
        problem = QStringLiteral("the journal is not open");
        return false;
    }
    attempt.started = attempt.started.isValid() // as stored: whole seconds
        ? QDateTime::fromSecsSinceEpoch(attempt.started.toSecsSinceEpoch(), Qt::UTC)
        : now();
    attempt.verdict = QStringLiteral("running");
    attempt.ended = QDateTime();
    Statement insert(d->db,
        "INSERT INTO attempts (cartridge, barcode, slot, drive, image, started, verdict, errors, "
        "description) VALUES (?, ?, ?, ?, ?, ?, 'running', ?, ?)");
    insert.bind(1, attempt.cartridge);
    insert.bind(2, attempt.barcode);
    if (attempt.slot > 0)
        insert.bind(3, qint64(attempt.slot));
    else
        insert.bindNull(3);
    insert.bind(4, attempt.drive);
    insert.bind(5, attempt.image);
    insert.bind(6, isoText(attempt.started));
    insert.bind(7, errorLines(attempt.errors));
    insert.bind(8, attempt.description);
    if (insert.step() != SQLITE_DONE) {
        problem = d->failure(QStringLiteral("record that %1 began").arg(attempt.cartridge));
        return false;
    }
    attempt.id = sqlite3_last_insert_rowid(d->db);
    return true;
}

bool Journal::finish(const Attempt &attempt, QString &problem)
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->db) {
        problem = QStringLiteral("the journal is not open");
        return false;
    }
    bool known = false;
    for (const char *word : endVerdicts)
        known = known || attempt.verdict == QLatin1String(word);
    if (!known || attempt.id <= 0) {
        problem = QStringLiteral("cannot record how %1 ended in the journal %2: %3")
                      .arg(attempt.cartridge, d->path,
                          known ? QStringLiteral("the attempt was not begun")
                                : QStringLiteral("\"%1\" is not a verdict").arg(attempt.verdict));
        return false;
    }
    Statement update(d->db,
        "UPDATE attempts SET ended = ?, bytes = ?, records = ?, tape_files = ?, verdict = ?, "
        "sha256 = ?, errors = ?, drive = coalesce(?, drive), image = coalesce(?, image), "
        "left_in = ? WHERE id = ?");
    update.bind(1, isoText(attempt.ended.isValid() ? attempt.ended : now()));
    update.bind(2, attempt.bytes);
    update.bind(3, attempt.records);
    update.bind(4, attempt.tapeFiles);
    update.bind(5, attempt.verdict);
    update.bind(6, attempt.sha256);
    update.bind(7, errorLines(attempt.errors));
    update.bind(8, attempt.drive);
    update.bind(9, attempt.image);
    if (attempt.leftIn.isEmpty())
        update.bindNull(10);
    else
        update.bind(10, attempt.leftIn);
    update.bind(11, attempt.id);
    const QString what = QStringLiteral("record how %1 ended").arg(attempt.cartridge);
    if (update.step() != SQLITE_DONE) {
        problem = d->failure(what);
        return false;
    }
    if (sqlite3_changes(d->db) != 1) {
        problem = QStringLiteral("cannot %1 in the journal %2: it holds no attempt %3")
                      .arg(what, d->path)
                      .arg(attempt.id);
        return false;
    }
    return true;
}

bool Journal::event(
    const QString &cartridge, int slot, const QString &drive, const QString &text, QString &problem)
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->db) {
        problem = QStringLiteral("the journal is not open");
        return false;
    }
    Statement insert(
        d->db, "INSERT INTO events (at, cartridge, slot, drive, text) VALUES (?, ?, ?, ?, ?)");
    insert.bind(1, isoText(now()));
    insert.bind(2, cartridge);
    if (slot > 0)
        insert.bind(3, qint64(slot));
    else
        insert.bindNull(3);
    insert.bind(4, drive);
    insert.bind(5, text);
    if (insert.step() != SQLITE_DONE) {
        problem = d->failure(QStringLiteral("record \"%1\"").arg(text));
        return false;
    }
    return true;
}

std::vector<Attempt> Journal::Private::latest(QString &problem) const
{
    std::vector<Attempt> attempts;
    if (!db) {
        problem = QStringLiteral("the journal is not open");
        return attempts;
    }
    Statement query(db,
        "SELECT id, cartridge, barcode, slot, drive, image, started, ended, bytes, records, "
        "tape_files, verdict, sha256, errors, description, left_in FROM latest ORDER BY slot, "
        "cartridge");
    int result;
    while ((result = query.step()) == SQLITE_ROW) {
        Attempt a;
        a.id = query.integer(0);
        a.cartridge = query.text(1);
        a.barcode = query.text(2);
        a.slot = int(query.integer(3));
        a.drive = query.text(4);
        a.image = query.text(5);
        a.started = QDateTime::fromString(query.text(6), Qt::ISODate);
        a.ended = QDateTime::fromString(query.text(7), Qt::ISODate);
        a.bytes = query.integer(8);
        a.records = query.integer(9);
        a.tapeFiles = query.integer(10);
        a.verdict = query.text(11);
        a.sha256 = query.text(12);
        a.errors = query.text(13).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        a.description = query.text(14);
        a.leftIn = query.text(15);
        attempts.push_back(a);
    }
    if (result != SQLITE_DONE) {
        problem = failure(QStringLiteral("read the latest attempts"));
        attempts.clear();
    }
    return attempts;
}

std::vector<Attempt> Journal::latest() const
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    d->lastProblem.clear();
    return d->latest(d->lastProblem);
}

bool Journal::writeSummaries(QString &problem) const
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    QString reading;
    const std::vector<Attempt> attempts = d->latest(reading);
    if (!reading.isEmpty()) {
        problem = reading;
        return false;
    }
    const QDir folder = QFileInfo(d->path).dir();
    return NativeFile::writeDurably(
               QFile::encodeName(folder.filePath(QStringLiteral("library.csv"))),
               summaryCsv(attempts), problem)
        && NativeFile::writeDurably(
            QFile::encodeName(folder.filePath(QStringLiteral("library.json"))),
            summaryJson(attempts), problem);
}

} // namespace Library
