// quorlin's restore of dump volumes, compared with Debian's restore -r of the same
// volume: ext2 file systems built here with mke2fs -d, dumped with dump through a loop
// device (root only: skipped otherwise).
#include "tst_scanner_images.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstring>
#include <unistd.h>

using namespace ScannerTest;

namespace {

/// Folders, modes, owners, times, holes, symbolic and hard links, a fifo, and a file that
/// needs more than one header's address list.
const char treeScript[] = R"sh(mkdir -p src/d/sub src/empty && cd src
printf 'linked\n' >d/data && chmod 640 d/data && ln d/data hard
head -c 700000 /dev/urandom >d/big
truncate -s 3M sparse && printf middle | dd of=sparse bs=1 seek=1500000 conv=notrunc status=none
ln -s d/data short && ln -s "$(printf 'x%.0s' {1..200})" long && mkfifo fifo
printf owned >d/sub/own && chown 1234:5678 d/sub/own d/sub && chmod 4750 d/sub/own
chmod 750 d && chmod 700 empty
touch -d @1000000000 d/data d/big sparse d/sub/own fifo && touch -d @999999999 d/sub d empty .
cd .. && mke2fs -q -F -t ext2 -d src fs.img 8M
loop=$(losetup --find --show fs.img)
dump -0 -q -b 10 -f one.dump "$loop" 2>/dev/null
dump -0 -q -b 10 -B 300 -f v1,v2,v3 "$loop" 2>/dev/null
sleep 1 && dump -0 -q -b 10 -B 300 -f w1,w2,w3 "$loop" 2>/dev/null
losetup -d "$loop"
mkdir ref && cd ref && restore -r -f ../one.dump && rm -f restoresymtable)sh";

/// A tree as text: each name's type, mode, size, time (not a link's), target, link count,
/// whether it has holes, and the bytes of files; owners when @p owners.
const char describeScript[] = R"(cd "$1"
find . -mindepth 1 ! -type l -printf "%P %y %m %s %T@ %n $2\n" | sort
find . -mindepth 1 -type l -printf '%P -> %l\n' | sort
find . -type f -printf '%P %S\n' | awk '{ print $1, ($2 < 0.5 ? "holes" : "") }' | sort
find . -type f -exec md5sum {} + | sort -k 2)";

QString describe(const QString &folder, bool owners)
{
    QByteArray out;
    runTool(QStringLiteral("bash -c"),
        { QString::fromLatin1(describeScript), QStringLiteral("describe"), folder,
            owners ? QStringLiteral("%U:%G") : QString() },
        &out);
    return QString::fromUtf8(out);
}

quint32 readWord(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

void writeWord(QByteArray &bytes, int at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

/// Rewrites each header record of a little-endian volume by @p header and each folder's
/// data record by @p folder, then sets the header's checksum (in @p bigEndian order).
QByteArray rewritten(QByteArray volume, const std::function<void(QByteArray &)> &header,
    const std::function<void(char *)> &folder, bool bigEndian)
{
    for (int at = 0; at + 1024 <= volume.size();) {
        QByteArray record = volume.mid(at, 1024);
        if (readWord(record, 24) != 60012)
            break;
        const quint32 type = readWord(record, 0);
        const int count = std::min<int>(int(readWord(record, 160)), 512);
        int following = 0;
        for (int i = 0; i < count; ++i)
            following += type == 3 || type == 6 || record.at(164 + i) != 0 ? 1 : 0;
        const bool isFolder = type == 2 && (readWord(record, 32) & 0xf000) == 0x4000;
        for (int r = 1; isFolder && r <= following; ++r)
            folder(volume.data() + at + r * 1024);
        header(record);
        writeWord(record, 28, 0);
        quint32 sum = 0;
        for (int i = 0; i < 1024; i += 4)
            sum += bigEndian ? qbswap(readWord(record, i)) : readWord(record, i);
        writeWord(record, 28, bigEndian ? qbswap(84446 - sum) : 84446 - sum);
        volume.replace(at, 1024, record);
        at += 1024 * (1 + following);
    }
    return volume;
}

/// The volume as a big-endian machine writes it. No tool here writes one, so the words of
/// every header and folder entry are swapped: 16-bit and 64-bit fields as such, the
/// address map and the texts not at all.
QByteArray bigEndian(const QByteArray &volume)
{
    const auto header = [](QByteArray &record) {
        for (int at = 0; at < 676; at += 4) {
            if (at >= 164 && at < 676)
                continue; // one byte per block
            char *p = record.data() + at;
            if (at == 32 || at == 36) {
                std::swap(p[0], p[1]);
                std::swap(p[2], p[3]);
            } else if (at == 40) {
                std::reverse(p, p + 8);
                at += 4;
            } else {
                std::reverse(p, p + 4);
            }
        }
        for (int at = 888; at < 1024; at += 4)
            std::reverse(record.data() + at, record.data() + at + 4);
    };
    const auto folder = [](char *data) {
        for (int at = 0; at + 8 <= 1024;) {
            quint16 length;
            std::memcpy(&length, data + at + 4, 2);
            std::reverse(data + at, data + at + 4);
            std::reverse(data + at + 4, data + at + 6);
            if (length < 8)
                break;
            at += length;
        }
    };
    return rewritten(volume, header, folder, true);
}

/// The older layout: its magic number, 16-bit owners in the inode, and names whose length
/// is a 16-bit word without a type.
QByteArray oldFormat(const QByteArray &volume)
{
    const auto header = [](QByteArray &record) {
        writeWord(record, 24, 60011);
        const auto uid = quint16(readWord(record, 144));
        const auto gid = quint16(readWord(record, 148));
        writeWord(record, 36, uid | quint32(gid) << 16);
        writeWord(record, 144, 0);
        writeWord(record, 148, 0);
    };
    const auto folder = [](char *data) {
        for (int at = 0; at + 8 <= 1024;) {
            quint16 length;
            std::memcpy(&length, data + at + 4, 2);
            data[at + 6] = data[at + 7];
            data[at + 7] = 0;
            if (length < 8)
                break;
            at += length;
        }
    };
    return rewritten(volume, header, folder, false);
}

} // namespace

class TestScannerDump : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_skip; ///< why dumps cannot be made here

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QByteArray file(const QString &name) const { return fileBytes(path(name)); }

    /// An image of @p volumes, one tape file each; the record @p damaged of the first
    /// (in blocks of 10240) read with an error.
    QString image(const QVector<QByteArray> &volumes, bool master, int damaged = -1)
    {
        static int made = 0;
        const QString dir = path(QStringLiteral("image-%1").arg(++made));
        QDir().mkpath(dir);
        Tape tape;
        for (const QByteArray &volume : volumes)
            tape.file(volume, 10240);
        if (damaged >= 0)
            tape.damage(damaged, 9);
        const QString tapeImage = imageFromTape(dir, tape, QStringLiteral("Auto"));
        return master ? dir + QStringLiteral("/source.tap") : tapeImage;
    }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            m_skip = QStringLiteral("dump reads a file system through a loop device: root only");
        else if (!QFile::exists(QStringLiteral("/dev/loop-control")))
            m_skip = QStringLiteral("no loop device on this machine");
        else
            QVERIFY(runTool(QStringLiteral("bash -c"), { QString::fromLatin1(treeScript) }, nullptr,
                {}, m_dir.path()));
    }

    /// Restored whole, as restore -r restores the same volume.
    void restoresAsRestoreDoes_data()
    {
        QTest::addColumn<QString>("volume"); ///< how the volume is given
        QTest::addColumn<bool>("master"); ///< the .tap, not the .tape image
        QTest::addColumn<bool>("owners");
        // clang-format off
        QTest::newRow("little-endian volume") << "one" << false << false;
        QTest::newRow("from the master") << "one" << true << false;
        QTest::newRow("owners with --owners") << "one" << false << true;
        QTest::newRow("big-endian volume") << "big-endian" << false << true;
        QTest::newRow("older layout") << "old" << false << true;
        // The middle of d/big lies in the second volume: it was kept as raw data.
        QTest::newRow("three volumes in three tape files joined") << "volumes" << false << true;
        QTest::newRow("three volumes joined, master") << "volumes" << true << false;
        QTest::newRow("three volumes in three images") << "v1 v2 v3" << false << false;
        // clang-format on
    }

    void restoresAsRestoreDoes()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        QFETCH(QString, volume);
        QFETCH(bool, master);
        QFETCH(bool, owners);
        const QByteArray one = file(QStringLiteral("one.dump"));
        QVector<QByteArray> volumes { one };
        if (volume == QLatin1String("big-endian"))
            volumes = { bigEndian(one) };
        else if (volume == QLatin1String("old"))
            volumes = { oldFormat(one) };
        else if (volume == QLatin1String("volumes"))
            volumes = { file(QStringLiteral("v1")), file(QStringLiteral("v2")),
                file(QStringLiteral("v3")) };
        QVERIFY(!volumes.first().isEmpty());
        QString source = image(volumes, master);
        QStringList further; ///< each volume an image of its own: the others with --volume
        for (const QString &name : volume.split(QLatin1Char(' ')).mid(1)) {
            source = image({ file(volume.left(2)) }, false);
            further << QStringLiteral("--volume") << image({ file(name) }, false);
        }
        const ToolRun listed = quorlin(QStringList { QStringLiteral("--list"), source } + further);
        QVERIFY2(listed.exitCode == 0, qPrintable(listed.out + listed.err));
        // Listed by name, not kept as one region.
        QVERIFY2(listed.out.contains(QLatin1String(" archive-1/d/sub/own\n"))
                && !listed.out.contains(QLatin1String("Raw region")),
            qPrintable(listed.out));
        QTemporaryDir out;
        // restore -r keeps setuid bits, as root.
        QStringList arguments { QStringLiteral("--extract"), QStringLiteral("--keep-setuid"),
            source, out.path() };
        if (owners)
            arguments.insert(1, QStringLiteral("--owners"));
        const ToolRun run = quorlin(arguments + further);
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QCOMPARE(describe(out.filePath(QStringLiteral("archive-1")), owners),
            describe(path(QStringLiteral("ref")), owners));
    }

    /// A record that cannot be read loses the files whose data it holds, named damaged or
    /// said to be lost, and no other; nothing is written under its own name with other bytes.
    void damageLosesOnlyItsFiles_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("lost"); ///< named on stderr, never written whole
        QTest::addColumn<QString>("whole"); ///< must come back as restore -r gives them
        QTest::addColumn<QString>("reason"); ///< said on stderr
        // clang-format off
        QTest::newRow("unreadable record in a file's data") << "data" << "d/big" << "sparse d/sub/own hard" << "";
        QTest::newRow("unreadable record holding a file's header") << "header" << "d/data hard" << "" << "";
        // The second and third volume missing: the file that runs on is named damaged,
        // those after it said to be lost.
        QTest::newRow("volume continued on no tape file") << "first volume" << "d/big d/data" << "" << "not in this image";
        // Each volume an image of its own, the later ones not those that follow.
        QTest::newRow("volume 2 not given") << "v1 v3" << "d/big d/data" << "" << "volume 2 is missing";
        QTest::newRow("volumes 2 and 3 swapped") << "v1 v3 v2" << "d/big d/data" << "" << "out of order";
        QTest::newRow("volume 2 of another dump") << "v1 w2 v3" << "d/big d/data" << "" << "another dump";
        // clang-format on
    }

    void damageLosesOnlyItsFiles()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        QFETCH(QString, damage);
        QFETCH(QString, lost);
        QFETCH(QString, whole);
        QFETCH(QString, reason);
        const QByteArray one = file(QStringLiteral("one.dump"));
        const QByteArray big = file(QStringLiteral("ref/d/big"));
        QString source;
        if (damage == QLatin1String("data")) {
            source = image({ one }, true, one.indexOf(big.mid(300000, 1024)) / 10240);
        } else if (damage == QLatin1String("header")) {
            // The block with the header record just before the file's one data record.
            const int data = one.indexOf(QByteArray("linked\n").append(1017, '\0'));
            source = image({ one }, true, (data - 1024) / 10240);
        } else {
            source = image({ file(QStringLiteral("v1")) }, false);
        }
        QTemporaryDir out;
        QStringList arguments { QStringLiteral("--extract"), source, out.path() };
        for (const QString &name : damage.split(QLatin1Char(' ')).mid(1))
            arguments << QStringLiteral("--volume") << image({ file(name) }, false);
        const ToolRun run = quorlin(arguments);
        QVERIFY2(run.exitCode == 1 && run.err.contains(reason), qPrintable(run.out + run.err));
        const QString root = out.filePath(QStringLiteral("archive-1/"));
        const QString ref = path(QStringLiteral("ref/"));
        for (const QString &name : lost.split(QLatin1Char(' '))) {
            QVERIFY2(run.err.contains(QStringLiteral("archive-1/") + name), qPrintable(run.err));
            QVERIFY(!QFile::exists(root + name));
        }
        for (const QString &name : whole.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            QCOMPARE(fileBytes(root + name), fileBytes(ref + name));
        // Any other file written under its own name holds restore's bytes.
        QByteArray names;
        QVERIFY(runTool(QStringLiteral("bash -c"),
            { QStringLiteral("cd \"$1\" && find . -type f ! -name '*.damaged' -printf '%P\\n'"),
                QStringLiteral("list"), root },
            &names));
        for (const QByteArray &name : names.split('\n')) {
            if (!name.isEmpty())
                QVERIFY2(fileBytes(root + QString::fromUtf8(name))
                        == fileBytes(ref + QString::fromUtf8(name)),
                    name.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestScannerDump)
#include "tst_scanner_dump.moc"
