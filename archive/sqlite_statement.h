#pragma once
/**
 * @file
 * A prepared SQLite statement that finalizes itself, binds Qt's types and
 * gives back the first failure, so that a sequence of binds and one step is
 * checked once, at the step.
 */
#include <QString>

#include <sqlite3.h>

namespace Sqlite {

/// A prepared statement; a failure to prepare or bind is kept and given by step().
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql)
    {
        m_result = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    /// An empty text is stored as NULL: not known.
    void bind(int index, const QString &text)
    {
        if (text.isEmpty())
            keep(sqlite3_bind_null(m_statement, index));
        else
            keep(sqlite3_bind_text16(
                m_statement, index, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT));
    }
    void bind(int index, qint64 value) { keep(sqlite3_bind_int64(m_statement, index, value)); }
    void bindNull(int index) { keep(sqlite3_bind_null(m_statement, index)); }

    /// SQLITE_ROW, SQLITE_DONE or the error.
    int step() { return m_result == SQLITE_OK ? sqlite3_step(m_statement) : m_result; }

    QString text(int column) const
    {
        const void *text = sqlite3_column_text16(m_statement, column);
        return text ? QString::fromUtf16(static_cast<const char16_t *>(text),
                   sqlite3_column_bytes16(m_statement, column) / 2)
                    : QString();
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_statement, column); }

private:
    void keep(int result)
    {
        if (m_result == SQLITE_OK)
            m_result = result;
    }

    sqlite3_stmt *m_statement = nullptr;
    int m_result = SQLITE_OK;
};

} // namespace Sqlite
