#pragma once
// A writer of Microsoft Tape Format media for the scanner's tests, made from the
// format's published structures. It writes the descriptor blocks TAPE, SSET, VOLB,
// DIRB, FILE, CFIL, ESPB, ESET, EOTM and SFMB, each with the common block header
// (its checksum the XOR of its first 25 words), and the streams STAN (file data),
// SPAD (padding to the format logical block), CSUM (a stream's checksum), SPAR
// (sparse pieces), ADAT (alternate data), FNAM, and the catalogue streams TSMP and
// TFDD. Strings are UTF-16 or ANSI, as the block header says; times are the packed
// five-byte date. Tape files end at filemarks: real tape marks on tape, or SFMB
// blocks (soft filemarks) in a .bkf file.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>
#include <QtEndian>

namespace MtfTest {

enum StringType { Ansi = 1, Unicode = 2 };

// Stream media format attributes.
constexpr quint16 streamEncrypted = 0x08;
constexpr quint16 streamCompressed = 0x10;
constexpr quint16 streamChecksummed = 0x20;
// FILE and DIRB attributes.
constexpr quint32 readOnly = 0x100;

struct Stream
{
    QByteArray id; ///< four letters: "STAN", "ADAT", ...
    QByteArray data;
    quint16 mediaAttributes = 0;
    bool damageHeader = false; ///< its header checksum made wrong
};

class Writer
{
public:
    explicit Writer(int logicalBlock = 1024, StringType strings = Unicode)
        : m_block(logicalBlock)
        , m_strings(strings)
    {
    }

    /// TAPE, then a filemark.
    Writer &tape(const QString &name, int sequence = 1, quint32 family = 0x1234abcd)
    {
        QByteArray fixed = common("TAPE", 94);
        put32(&fixed, 52, family); // media family
        put16(&fixed, 60, quint16(sequence));
        put16(&fixed, 64, 1); // soft filemark block: one logical block
        string(&fixed, 68, name);
        string(&fixed, 72, QStringLiteral("test media"));
        string(&fixed, 80, QStringLiteral("test writer"));
        put16(&fixed, 84, quint16(m_block));
        date(&fixed, 88, 1700000000);
        fixed[93] = 1;
        block(fixed, {});
        return filemark();
    }

    /// SSET and VOLB; @p compression is the set's software compression algorithm.
    Writer &beginSet(const QString &name, const QString &description, const QString &user,
        qint64 when, quint16 compression = 0)
    {
        QByteArray fixed = common("SSET", 98);
        put16(&fixed, 58, compression);
        put16(&fixed, 62, quint16(++m_sets));
        string(&fixed, 64, name);
        string(&fixed, 68, description);
        string(&fixed, 76, user);
        date(&fixed, 88, when);
        block(fixed, {});
        QByteArray volume = common("VOLB", 73);
        string(&volume, 56, QStringLiteral("C:"));
        string(&volume, 60, QStringLiteral("C:"));
        string(&volume, 64, QStringLiteral("MACHINE"));
        date(&volume, 68, when);
        block(volume, {});
        return *this;
    }

    /// DIRB: @p path is "a/b" ("" for the root), stored with NUL between the parts.
    Writer &folder(const QString &path, qint64 mtime, quint32 attributes = 0)
    {
        QByteArray fixed = common("DIRB", 84);
        put32(&fixed, 52, attributes);
        date(&fixed, 56, mtime);
        put32(&fixed, 76, quint32(++m_folders));
        QString stored = path;
        stored.replace(QLatin1Char('/'), QChar(0));
        string(&fixed, 80, stored + QChar(0));
        block(fixed, {});
        return *this;
    }

    /// FILE with its data in STAN (checksummed when asked) and any further streams.
    Writer &file(const QString &name, const QByteArray &data, qint64 mtime, quint32 attributes = 0,
        QVector<Stream> more = {}, quint16 stanAttributes = 0, bool checksum = true)
    {
        QByteArray fixed = common("FILE", 88);
        put32(&fixed, 4, m_continued ? 1 : 0); // a continuation block
        m_continued = false;
        put32(&fixed, 52, attributes);
        date(&fixed, 56, mtime);
        put32(&fixed, 76, quint32(m_folders));
        put32(&fixed, 80, quint32(++m_files));
        string(&fixed, 84, name);
        QVector<Stream> streams;
        if (!data.isEmpty() || stanAttributes != 0)
            streams.append(
                { "STAN", data, quint16(stanAttributes | (checksum ? streamChecksummed : 0)) });
        if (checksum && !streams.isEmpty())
            streams.append({ "CSUM", checksumOf(data) });
        streams += more;
        qint64 size = data.size();
        for (const Stream &s : more)
            if (s.id == "SPAR")
                size = std::max<qint64>(
                    size, qFromLittleEndian<qint64>(s.data.constData()) + s.data.size() - 8);
        put64(&fixed, 12, quint64(size));
        block(fixed, streams);
        return *this;
    }

    /// FILE whose block and data go on from the previous volume.
    Writer &continuedFile(const QString &name, const QByteArray &data, qint64 mtime)
    {
        m_continued = true;
        return file(name, data, mtime, 0, {}, 0x01, false);
    }

    /// FILE whose STAN stream the end of the media cuts at the end of the tape record of
    /// @p record bytes after the next, then a filemark and EOTM. Returns the bytes kept.
    int cutFile(const QString &name, const QByteArray &data, qint64 mtime, int record)
    {
        const int start = m_current.size();
        file(name, data, mtime, 0, {}, 0, false);
        const int stan = m_current.indexOf("STAN", start) + 22;
        const int kept = (stan / record + 2) * record - stan;
        m_current.truncate(stan + kept);
        filemark().endMedia();
        return kept;
    }

    /// SSET (set @p number), VOLB and DIRB @p folder, each a block going on from the
    /// previous media.
    Writer &continueSet(int number, const QString &folder)
    {
        m_sets = number - 1;
        m_continuedBlocks = true;
        beginSet(QStringLiteral("continued"), {}, {}, 1650000000).folder(folder, 1600000000);
        m_continuedBlocks = false;
        return *this;
    }

    /// CFIL: the file just written could not be read whole by the backup program.
    Writer &corruptFile()
    {
        QByteArray fixed = common("CFIL", 80);
        put32(&fixed, 52, 0x20000); // an unreadable block
        block(fixed, {});
        return *this;
    }

    /// A filemark, ESET with the catalogue streams, ESPB, a filemark.
    Writer &endSet()
    {
        filemark();
        QByteArray fixed = common("ESET", 85);
        put16(&fixed, 78, quint16(m_sets));
        date(&fixed, 80, 1700000000);
        block(fixed, { { "TSMP", QByteArray(40, 's') }, { "TFDD", QByteArray(100, 'f') } });
        return pad().filemark();
    }

    /// ESPB, an end of set pad block.
    Writer &pad()
    {
        block(common("ESPB", 52), {});
        return *this;
    }

    /// EOTM, the end of the media.
    Writer &endMedia()
    {
        block(common("EOTM", 60), {});
        return *this;
    }

    /// The tape files, each ending at a filemark.
    QVector<QByteArray> tapeFiles() const
    {
        QVector<QByteArray> files = m_files_done;
        if (!m_current.isEmpty())
            files.append(m_current);
        return files;
    }

    /// One .bkf file: the tape files with an SFMB block (a soft filemark) at each mark.
    QByteArray bkf() const
    {
        QByteArray out;
        for (const QByteArray &f : m_files_done) {
            out += f;
            QByteArray mark = common("SFMB", 64);
            put32(&mark, 52, 2);
            put16(&mark, 8, 64);
            mark.append(QByteArray(m_block - mark.size(), '\0'));
            fixChecksum(&mark);
            out += mark;
        }
        return out + m_current;
    }

    /// The offset in bkf() where the descriptor block of file number @p n (from 1) starts.
    qint64 bkfOffsetOfFile(int n) const { return m_fileOffsets.value(n - 1, -1); }

    static QByteArray checksumOf(const QByteArray &data)
    {
        quint32 sum = 0;
        QByteArray padded = data;
        padded.append(QByteArray((4 - data.size() % 4) % 4, '\0'));
        for (int i = 0; i < padded.size(); i += 4)
            sum ^= qFromLittleEndian<quint32>(padded.constData() + i);
        QByteArray out(4, '\0');
        qToLittleEndian(sum, out.data());
        return out;
    }

    static QByteArray sparsePiece(qint64 offset, const QByteArray &data)
    {
        QByteArray out(8, '\0');
        qToLittleEndian(offset, out.data());
        return out + data;
    }

    static QByteArray alternate(const QString &name, const QByteArray &data)
    {
        QByteArray out(4, '\0');
        qToLittleEndian(quint32(name.size() * 2), out.data());
        out.append(reinterpret_cast<const char *>(name.utf16()), name.size() * 2);
        return out + data;
    }

private:
    static void put16(QByteArray *b, int at, quint16 v) { qToLittleEndian(v, b->data() + at); }
    static void put32(QByteArray *b, int at, quint32 v) { qToLittleEndian(v, b->data() + at); }
    static void put64(QByteArray *b, int at, quint64 v) { qToLittleEndian(v, b->data() + at); }

    QByteArray common(const char *id, int fixedLength) const
    {
        QByteArray b(fixedLength, '\0');
        b.replace(0, 4, id, 4);
        b[4] = m_continuedBlocks ? 1 : 0; // a continuation block
        b[10] = 14; // OS: Windows NT
        b[48] = char(m_strings);
        return b;
    }

    static void fixChecksum(QByteArray *b)
    {
        quint16 sum = 0;
        for (int i = 0; i < 50; i += 2)
            sum ^= qFromLittleEndian<quint16>(b->constData() + i);
        put16(b, 50, sum);
    }

    /// The packed date: 14 bits year, 4 month, 5 day, 5 hour, 6 minute, 6 second.
    static void date(QByteArray *b, int at, qint64 when)
    {
        const QDateTime t = QDateTime::fromSecsSinceEpoch(when, Qt::UTC);
        const quint64 v = quint64(t.date().year()) << 26 | quint64(t.date().month()) << 22
            | quint64(t.date().day()) << 17 | quint64(t.time().hour()) << 12
            | quint64(t.time().minute()) << 6 | quint64(t.time().second());
        for (int i = 0; i < 5; ++i)
            (*b)[at + i] = char(v >> (8 * (4 - i)));
    }

    /// A string stored after the fixed part, its place given at @p at.
    void string(QByteArray *, int at, const QString &text)
    {
        m_pendingStrings.append({ at,
            m_strings == Unicode
                ? QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2)
                : text.toLatin1() });
    }

    static QByteArray streamHeader(const Stream &s)
    {
        QByteArray h(22, '\0');
        h.replace(0, 4, s.id.constData(), 4);
        put16(&h, 6, s.mediaAttributes);
        put64(&h, 8, quint64(s.data.size()));
        quint16 sum = 0;
        for (int i = 0; i < 20; i += 2)
            sum ^= qFromLittleEndian<quint16>(h.constData() + i);
        put16(&h, 20, s.damageHeader ? quint16(sum ^ 0x5555) : sum);
        return h;
    }

    /// The block: fixed part, strings, streams on 4-byte steps, SPAD to the boundary.
    void block(QByteArray fixed, const QVector<Stream> &streams)
    {
        QByteArray b = fixed;
        for (const auto &s : qAsConst(m_pendingStrings)) {
            put16(&b, s.first, quint16(s.second.size()));
            put16(&b, s.first + 2, quint16(b.size()));
            b += s.second;
        }
        m_pendingStrings.clear();
        b.append(QByteArray((4 - b.size() % 4) % 4, '\0'));
        put16(&b, 8, quint16(b.size()));
        fixChecksum(&b);
        for (const Stream &s : streams) {
            b += streamHeader(s) + s.data;
            b.append(QByteArray((4 - b.size() % 4) % 4, '\0'));
        }
        qint64 at = m_current.size() + b.size();
        qint64 boundary = (at + 22 + m_block - 1) / m_block * m_block;
        b += streamHeader({ "SPAD", QByteArray(int(boundary - at - 22), '\0') });
        b.append(QByteArray(int(boundary - at - 22), '\0'));
        qint64 before = 0;
        for (const QByteArray &f : m_files_done)
            before += f.size() + m_block;
        if (fixed.startsWith("FILE"))
            m_fileOffsets.append(before + m_current.size());
        m_current += b;
    }

    Writer &filemark()
    {
        m_files_done.append(m_current);
        m_current.clear();
        return *this;
    }

    int m_block;
    StringType m_strings;
    int m_sets = 0;
    int m_folders = 0;
    int m_files = 0;
    bool m_continued = false;
    bool m_continuedBlocks = false;
    QVector<QPair<int, QByteArray>> m_pendingStrings;
    QByteArray m_current;
    QVector<QByteArray> m_files_done;
    QVector<qint64> m_fileOffsets;
};

} // namespace MtfTest
