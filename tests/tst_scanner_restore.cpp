// What quorlin restores and shows of archives made by Debian's tar and cpio:
// metadata, links, names as bytes, the folder it may not leave, the size limit,
// and names that must not forge output in --list, --extract and the window.
#include "scanner/core/carver.h"
#include "scanner/core/report.h"
#include "scanner/ui/scanner_window.h"
#include "tst_scanner_images.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <climits>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Quorlin;
using namespace ScannerTest;
using Commands = QVector<QStringList>;

namespace {

/// What one restored name must be; unset fields are not checked.
struct Expect
{
    Expect(char type = 'f', int mode = -1, const QByteArray &content = {}, int links = 0,
        qint64 mtime = LLONG_MIN, long nsec = 0)
        : type(type)
        , mode(mode)
        , content(content)
        , links(links)
        , mtime(mtime)
        , nsec(nsec)
    {
    }
    char type; ///< f file, d folder, l symbolic link
    int mode;
    QByteArray content; ///< a file's bytes, or a link's target
    int links;
    qint64 mtime;
    long nsec;
};

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

/// A folder whose name tries to forge a line of --list output for the file in it.
const QByteArray forging = "t/ok\n  -            1 2001-09-09 01:46 archive-1\x1b[2K";

QStringList words(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list.append(QString::fromUtf8(item));
    return list;
}

bool tool(const QString &program, const QStringList &arguments, const QString &folder,
    const QByteArray &input = {})
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

QByteArray bytesAt(const QByteArray &path)
{
    QByteArray data(1 << 16, '\0');
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW);
    const ssize_t got = fd >= 0 ? ::read(fd, data.data(), size_t(data.size())) : -1;
    if (fd >= 0)
        ::close(fd);
    return got >= 0 ? data.left(int(got)) : QByteArray("<missing>");
}

/// A temporary folder that is removed by bytes: QTemporaryDir cannot remove
/// names that are not UTF-8.
class TemporaryDir : public QTemporaryDir
{
public:
    ~TemporaryDir()
    {
        ::nftw(
            QFile::encodeName(path()).constData(),
            [](const char *name, const struct stat *, int, FTW *) { return ::remove(name); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
};

/// Regular files below @p folder (hidden ones too), relative, sorted.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(
        folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

/// Everything below @p folder with its kind, size and link count, except @p skip.
QStringList snapshot(const QString &folder, const QString &skip)
{
    QStringList items;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString item = it.next();
        struct stat info;
        if (item.startsWith(skip) || ::lstat(QFile::encodeName(item).constData(), &info) != 0)
            continue;
        items.append(QStringLiteral("%1 %2 %3 %4")
                         .arg(item)
                         .arg(info.st_mode, 0, 8)
                         .arg(info.st_size)
                         .arg(info.st_nlink));
    }
    items.sort();
    return items;
}

/// An image of @p files, one tape file each, made by tarnwick-image.
QString imageOf(const QString &dir, const QStringList &files)
{
    QDir().mkpath(dir);
    Tape tape;
    for (const QString &file : files)
        tape.file(fileBytes(file), 10240);
    return imageFromTape(dir, tape, QStringLiteral("Auto"));
}

} // namespace

Q_DECLARE_METATYPE(Expect)
Q_DECLARE_METATYPE(Commands)

class TestScannerRestore : public QObject
{
    Q_OBJECT

private:
    TemporaryDir m_dir;
    QString m_image; ///< archive 1 GNU tar, 2 pax tar, 3 cpio newc, of one tree
    QString m_bomb; ///< a gzip tar that expands 3 MiB of zeros

    QString path(const QString &name) const { return m_dir.filePath(name); }

    static Run quorlin(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-display"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TARNWICK_BIN_DIR "/quorlin"), arguments);
        process.waitForFinished(60000);
        return { process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()) };
    }

    /// The tree every archive of m_image holds, with the times and modes set last.
    void makeTree(const QByteArray &root)
    {
        QVERIFY(QDir().mkpath(QString::fromUtf8(root + "/t/empty")));
        QCOMPARE(::mkdir((root + '/' + forging).constData(), 0755), 0);
        const auto put = [&](const QByteArray &name, const QByteArray &data, int mode) {
            // By bytes: Qt would turn a Latin-1 name into another one.
            const int fd = ::open((root + '/' + name).constData(), O_WRONLY | O_CREAT, 0600);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, data.constData(), size_t(data.size())), ssize_t(data.size()));
            QCOMPARE(::fchmod(fd, mode_t(mode)), 0);
            ::close(fd);
        };
        const auto stamp = [&](const char *name, qint64 seconds, long nanoseconds) {
            const timespec times[2]
                = { { time_t(seconds), nanoseconds }, { time_t(seconds), nanoseconds } };
            QCOMPARE(::utimensat(AT_FDCWD, (root + '/' + name).constData(), times, 0), 0);
        };
        put("t/data.txt", "linked data\n", 0640);
        QCOMPARE(::link((root + "/t/data.txt").constData(), (root + "/t/hard").constData()), 0);
        put("t/tool", "#!/bin/sh\n", 0750);
        put("t/suid", "s", 06755);
        QCOMPARE(::symlink("data.txt", (root + "/t/link").constData()), 0);
        put("t/old", "", 0644);
        put("t/new", "", 0644);
        put("t/caf\xe9", "e9", 0644);
        put(forging + "/forged", "x", 0644);
        stamp("t/old", -305164800, 250000000); // 1960-05-01 00:00:00.25
        stamp("t/new", 1000000000, 123456789);
        QCOMPARE(::chmod((root + "/t/empty").constData(), 0700), 0);
        stamp("t/empty", 1000000000, 500000000);
        QCOMPARE(::chmod((root + "/t").constData(), 0750), 0);
        stamp("t", 1000000000, 500000000);
    }

private slots:
    void initTestCase()
    {
        ::umask(022); // the default restore takes it off the modes
        const QByteArray source = QFile::encodeName(path(QStringLiteral("src")));
        makeTree(source);
        // In this order the data of the linked file goes with its first name in tar and with
        // its last in cpio newc.
        QByteArray list;
        for (const QByteArray &name : { QByteArray("t"), QByteArray("t/data.txt"),
                 QByteArray("t/tool"), QByteArray("t/suid"), QByteArray("t/link"),
                 QByteArray("t/old"), QByteArray("t/new"), QByteArray("t/caf\xe9"),
                 QByteArray("t/empty"), forging, forging + "/forged", QByteArray("t/hard") })
            list += name + '\0'; // a name may hold a line break
        const QString src = QFile::decodeName(source);
        for (const char *format : { "gnu", "pax" })
            QVERIFY(tool(QStringLiteral("tar"),
                { QStringLiteral("--format=") + QLatin1String(format),
                    QStringLiteral("--owner=4321"), QStringLiteral("--group=4321"),
                    QStringLiteral("--no-recursion"), QStringLiteral("--null"),
                    QStringLiteral("-cf"), path(QLatin1String(format) + QStringLiteral(".tar")),
                    QStringLiteral("-T"), QStringLiteral("-") },
                src, list));
        QVERIFY(tool(QStringLiteral("cpio"),
            { QStringLiteral("-o0"), QStringLiteral("-H"), QStringLiteral("newc"),
                QStringLiteral("-R"), QStringLiteral("4321:4321"), QStringLiteral("-F"),
                path(QStringLiteral("newc.cpio")) },
            src, list));
        m_image = imageOf(path(QStringLiteral("image")),
            { path(QStringLiteral("gnu.tar")), path(QStringLiteral("pax.tar")),
                path(QStringLiteral("newc.cpio")) });
        QVERIFY(!m_image.isEmpty());

        QDir().mkpath(path(QStringLiteral("bomb/in")));
        QVERIFY(writeFile(path(QStringLiteral("bomb/in/big")), QByteArray(3 << 20, '\0')));
        QVERIFY(writeFile(path(QStringLiteral("bomb/in/small")), "small"));
        QVERIFY(::link(QFile::encodeName(path(QStringLiteral("bomb/in/big"))).constData(),
                    QFile::encodeName(path(QStringLiteral("bomb/in/biglink"))).constData())
            == 0);
        QVERIFY(tool(QStringLiteral("tar"),
            { QStringLiteral("-czf"), path(QStringLiteral("bomb.tgz")), QStringLiteral("big"),
                QStringLiteral("small"), QStringLiteral("biglink") },
            path(QStringLiteral("bomb/in"))));
        m_bomb = imageOf(path(QStringLiteral("bomb")), { path(QStringLiteral("bomb.tgz")) });
        QVERIFY(!m_bomb.isEmpty());
    }

    /// Archive 1 is GNU tar, 2 pax tar, 3 cpio newc: one row per fault seen.
    void restoresWhatTheArchiveHolds_data()
    {
        QTest::addColumn<QString>("pattern"); ///< what is chosen, or an option; empty: all
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<Expect>("expect");
        const QByteArray linked = "linked data\n";
        const QString all;
        // clang-format off
        QTest::newRow("file mode") << all << QByteArray("archive-1/t/tool") << Expect{'f', 0750, "#!/bin/sh\n"};
        QTest::newRow("file mode, cpio") << all << QByteArray("archive-3/t/tool") << Expect{'f', 0750};
        QTest::newRow("setuid and setgid left out") << all << QByteArray("archive-2/t/suid") << Expect{'f', 0755};
        QTest::newRow("setuid and setgid kept when asked") << "--keep-setuid" << QByteArray("archive-2/t/suid") << Expect{'f', 06755};
        QTest::newRow("folder mode and time, set after its contents") << all << QByteArray("archive-1/t") << Expect{'d', 0750, {}, 0, 1000000000};
        QTest::newRow("folder time with a fraction") << all << QByteArray("archive-2/t") << Expect{'d', 0750, {}, 0, 1000000000, 500000000};
        QTest::newRow("empty folder, cpio") << all << QByteArray("archive-3/t/empty") << Expect{'d', 0700};
        QTest::newRow("symbolic link made as a link") << all << QByteArray("archive-2/t/link") << Expect{'l', -1, "data.txt"};
        QTest::newRow("symbolic link, cpio") << all << QByteArray("archive-3/t/link") << Expect{'l', -1, "data.txt"};
        QTest::newRow("tar hard link") << all << QByteArray("archive-1/t/hard") << Expect{'f', 0640, linked, 2};
        QTest::newRow("cpio newc: data with the last name") << all << QByteArray("archive-3/t/data.txt") << Expect{'f', 0640, linked, 2};
        QTest::newRow("tar: the link chosen alone") << QStringLiteral("archive-1/t/hard") << QByteArray("archive-1/t/hard") << Expect{'f', 0640, linked, 1};
        QTest::newRow("newc: the first name chosen alone") << QStringLiteral("archive-3/t/data.txt") << QByteArray("archive-3/t/data.txt") << Expect{'f', 0640, linked, 1};
        QTest::newRow("newc: the last name chosen alone") << QStringLiteral("archive-3/t/hard") << QByteArray("archive-3/t/hard") << Expect{'f', 0640, linked, 1};
        QTest::newRow("time before 1970 with a fraction") << all << QByteArray("archive-2/t/old") << Expect{'f', 0644, {}, 0, -305164800, 250000000};
        QTest::newRow("time before 1970, GNU tar") << all << QByteArray("archive-1/t/old") << Expect{'f', 0644, {}, 0, -305164800};
        QTest::newRow("sub-second time") << all << QByteArray("archive-2/t/new") << Expect{'f', 0644, {}, 0, 1000000000, 123456789};
        QTest::newRow("Latin-1 name, tar") << all << QByteArray("archive-1/t/caf\xe9") << Expect{'f', 0644, "e9"};
        QTest::newRow("Latin-1 name, cpio") << all << QByteArray("archive-3/t/caf\xe9") << Expect{'f', 0644, "e9"};
        QTest::newRow("a wildcard reaches into folders") << "archive-2/*" << QByteArray("archive-2/t/new") << Expect{'f', 0644};
        QTest::newRow("a name chosen as it is shown") << "archive-1/t/caf\\xE9" << QByteArray("archive-1/t/caf\xe9") << Expect{'f', 0644, "e9"};
        QTest::newRow("name with a line break") << all << QByteArray("archive-2/" + forging + "/forged") << Expect{'f', 0644, "x"};
        // clang-format on
    }

    void restoresWhatTheArchiveHolds()
    {
        QFETCH(QString, pattern);
        QFETCH(QByteArray, name);
        QFETCH(Expect, expect);
        TemporaryDir out;
        QStringList arguments { QStringLiteral("--extract"), m_image, out.path() };
        if (pattern.startsWith(QLatin1String("--")))
            arguments.insert(1, pattern);
        else if (!pattern.isEmpty())
            arguments.append(pattern);
        // A symbolic link is restored like anything else: no failure.
        const Run run = quorlin(arguments);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const QByteArray file = QFile::encodeName(out.path()) + '/' + name;
        struct stat info;
        QVERIFY2(::lstat(file.constData(), &info) == 0, file.constData());
        const char type = S_ISDIR(info.st_mode) ? 'd' : S_ISLNK(info.st_mode) ? 'l' : 'f';
        QCOMPARE(type, expect.type);
        // The archive says 4321; without --owners it belongs to whoever extracts.
        QCOMPARE(info.st_uid, ::geteuid());
        if (expect.mode >= 0)
            QCOMPARE(int(info.st_mode & 07777), expect.mode);
        if (type == 'l') {
            char target[256] = {};
            QVERIFY(::readlink(file.constData(), target, sizeof target - 1) > 0);
            QCOMPARE(QByteArray(target), expect.content);
        } else if (!expect.content.isEmpty()) {
            QCOMPARE(bytesAt(file), expect.content);
        }
        if (expect.links > 0)
            QCOMPARE(int(info.st_nlink), expect.links);
        if (expect.mtime != LLONG_MIN) {
            QCOMPARE(qint64(info.st_mtim.tv_sec), expect.mtime);
            QCOMPARE(long(info.st_mtim.tv_nsec), expect.nsec);
        }
    }

    /// Names from a tape that try to write outside DIR; tar -P keeps them as given.
    void nothingLeavesTheFolder_data()
    {
        QTest::addColumn<Commands>("commands"); ///< tar runs in <base>/in/sub making "a.tar"
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("inside"); ///< files made below DIR ("%1": <base>)
        // clang-format off
        QTest::newRow("parent folder in a name") << Commands{words({"-P", "-cf", "a.tar", "../note.txt"})}
            << 0 << words({"archive-1/note.txt"});
        QTest::newRow("absolute name") << Commands{words({"-P", "-cf", "a.tar", "%1/in/note.txt"})}
            << 0 << words({"archive-1%1/in/note.txt"});
        QTest::newRow("folder link planted, then a file through it")
            << Commands{words({"--no-recursion", "-cf", "a.tar", "x", "x/keep.txt"})} << 1 << QStringList{};
        // The first name is taken out again: the link points at a file outside.
        QTest::newRow("hard link to a file not on the tape")
            << Commands{words({"-P", "-cf", "a.tar", "%1/in/note.txt", "%1/in/twin.txt"}),
                words({"-P", "--delete", "-f", "a.tar", "%1/in/note.txt"})} << 1 << QStringList{};
        // clang-format on
    }

    void nothingLeavesTheFolder()
    {
        QFETCH(Commands, commands);
        QFETCH(int, exitCode);
        QFETCH(QStringList, inside);
        QTemporaryDir base;
        const QString sub = base.filePath(QStringLiteral("in/sub"));
        QVERIFY(QDir().mkpath(sub) && QDir().mkpath(base.filePath(QStringLiteral("victim"))));
        QVERIFY(writeFile(base.filePath(QStringLiteral("in/note.txt")), "note"));
        QVERIFY(writeFile(base.filePath(QStringLiteral("victim/keep.txt")), "keep"));
        QCOMPARE(::link(QFile::encodeName(base.filePath(QStringLiteral("in/note.txt"))).constData(),
                     QFile::encodeName(base.filePath(QStringLiteral("in/twin.txt"))).constData()),
            0);
        QCOMPARE(
            QFile::link(base.filePath(QStringLiteral("victim")), sub + QStringLiteral("/x")), true);
        for (QStringList arguments : commands)
            QVERIFY(tool(QStringLiteral("tar"),
                arguments.replaceInStrings(QStringLiteral("%1"), base.path()), sub));
        const QString image
            = imageOf(base.filePath(QStringLiteral("image")), { sub + QStringLiteral("/a.tar") });
        const QString out = base.filePath(QStringLiteral("out"));
        const QStringList before = snapshot(base.path(), out);

        const Run run = quorlin({ QStringLiteral("--extract"), image, out });
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(filesBelow(out), inside.replaceInStrings(QStringLiteral("%1"), base.path()));
        QCOMPARE(snapshot(base.path(), out), before);
    }

    /// A gzip tar of 3 MiB of zeros (big), a hard link to it (biglink) and a small file.
    void archiveStopsAtItsLimit_data()
    {
        QTest::addColumn<QString>("maxSize");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("files"); ///< every file below DIR afterwards
        const QStringList none;
        // clang-format off
        QTest::newRow("over the limit: nothing written") << "1M" << "" << 1 << none;
        QTest::newRow("the limit raised") << "10M" << "" << 0
            << words({"archive-1/big", "archive-1/biglink", "archive-1/small"});
        QTest::newRow("a link chosen alone brings its target's data over the limit")
            << "1M" << "*/biglink" << 1 << none;
        QTest::newRow("under the limit") << "1M" << "*/small" << 0 << words({"archive-1/small"});
        QTest::newRow("a limit that is not a size") << "lots" << "" << 2 << none;
        // clang-format on
    }

    void archiveStopsAtItsLimit()
    {
        QFETCH(QString, maxSize);
        QFETCH(QString, pattern);
        QFETCH(int, exitCode);
        QFETCH(QStringList, files);
        QTemporaryDir out;
        QStringList arguments { QStringLiteral("--extract"), QStringLiteral("--max-size"), maxSize,
            m_bomb, out.path() };
        if (!pattern.isEmpty())
            arguments.append(pattern);
        const Run run = quorlin(arguments);
        QCOMPARE(run.exitCode, exitCode);
        // Nothing half-written is left, not even under a temporary name.
        QCOMPARE(filesBelow(out.path()), files);
        QCOMPARE(run.err.contains(QLatin1String("raise the limit with --max-size")), exitCode == 1);
    }

    /// What each door shows: --list, --extract and the window.
    void namesAreShownEscaped_data()
    {
        QTest::addColumn<QString>("door");
        QTest::addColumn<bool>("bomb"); ///< the gzip image, else the tree's
        QTest::addColumn<QStringList>("shown");
        const QStringList names = words({ "t/caf\\xE9", "t/ok\\n  -", "archive-1\\x1B[2K/forged" });
        // clang-format off
        QTest::newRow("--list") << "--list" << false << names;
        QTest::newRow("--extract") << "--extract" << false << names;
        QTest::newRow("window") << "window" << false << names;
        QTest::newRow("--list: how much an archive expands to") << "--list" << true
            << words({"expands to 3.00 MB,", "times its size, more than the 1.00 MB one archive may write"});
        QTest::newRow("window: how much an archive expands to") << "window" << true
            << words({"expands to 3.00 MB,", "times its size"});
        // clang-format on
    }

    void namesAreShownEscaped()
    {
        QFETCH(QString, door);
        QFETCH(bool, bomb);
        QFETCH(QStringList, shown);
        const QString image = bomb ? m_bomb : m_image;
        TemporaryDir out;
        QString text;
        if (door == QLatin1String("window")) {
            ScannerWindow window(image);
            QTRY_VERIFY_WITH_TIMEOUT(!window.isBusy(), 20000);
            auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("foundTree"));
            for (QTreeWidgetItemIterator it(tree); *it; ++it)
                text += (*it)->text(0) + QLatin1Char('\n') + (*it)->text(3) + QLatin1Char('\n');
        } else {
            QStringList arguments { door, QStringLiteral("--max-size"), QStringLiteral("1M"),
                image };
            if (door == QLatin1String("--extract"))
                arguments.append(out.path());
            const Run run = quorlin(arguments);
            QCOMPARE(run.exitCode, 0);
            text = run.out;
        }
        for (const QString &name : shown)
            QVERIFY2(text.contains(name), qPrintable(name + QStringLiteral(" in:\n") + text));
        QVERIFY(!text.contains(QChar(0x1b)) && !text.contains(QChar::ReplacementCharacter));
        for (const QString &line : text.split(QLatin1Char('\n')))
            QVERIFY2(!line.contains(QLatin1String("forged")) || line.contains(QLatin1String("\\n")),
                qPrintable(line));
    }

    /// Raw data on its own tape file after a damaged archive is not that archive's.
    void rawDataAfterDamageIsNamedForWhatItIs()
    {
        Tape tape;
        tape.file(
            makeArchive(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE, sampleFiles(7)), 10240);
        tape.damage(4, 3); // the header of the second file
        tape.file(randomBytes(8, 30000), 10240);
        QTemporaryDir dir;
        const QString image = imageFromTape(dir.path(), tape, QStringLiteral("Auto"));
        const ScanResult result = scanImage(image);
        const qint64 randomFile = 14 * 10240; // 13 records and a tape mark before it
        bool damageNamed = false;
        for (int r = 0; r < result.rawRegions.size(); ++r) {
            const QString note = rawRegionNote(result, r);
            damageNamed = damageNamed || note.contains(QLatin1String("archive 1"));
            if (result.rawRegions[r].offset >= randomFile)
                QCOMPARE(note, QStringLiteral("data that is not an archive"));
        }
        QVERIFY2(damageNamed, qPrintable(listing(result)));
    }
};

QTEST_MAIN(TestScannerRestore)
#include "tst_scanner_restore.moc"
