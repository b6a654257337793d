// What quorlin restores and shows of archives made by Debian's tar and cpio:
// metadata, links, names as bytes, the folder it may not leave, the size limit,
// and names that must not forge output in --list, --extract and the window.
#include "scanner/core/carver.h"
#include "scanner/core/extractor.h"
#include "scanner/core/report.h"
#include "scanner/core/restore_folder.h"
#include "scanner/ui/scanner_window.h"
#include "tst_scanner_images.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <climits>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Quorlin;
using namespace ScannerTest;

namespace {

/// What one restored name must be; unset fields are not checked.
struct Expect
{
    char type; ///< f file, d folder, l symbolic link
    int mode = -1;
    QByteArray content = {}; ///< a file's bytes, or a link's target
    int links = 0;
    qint64 mtime = LLONG_MIN;
    long nsec = 0;
};

/// A folder whose name tries to forge a line of --list output for the file in it.
const char forging[] = "t/ok\n  -            1 2001-09-09 01:46 archive-1\x1b[2K";

/// Runs @p script with bash in @p folder; its output, or "<failed>".
QString bash(const QString &folder, const QString &script)
{
    QByteArray out;
    return runTool(QStringLiteral("bash -euc"), { script }, &out, {}, folder)
        ? QString::fromUtf8(out)
        : QStringLiteral("<failed>");
}

/// Regular files below @p folder, relative, sorted, between spaces.
QString filesBelow(const QString &folder)
{
    return bash(folder, QStringLiteral("find . -type f -printf '%P\\n' | sort | paste -sd ' '"))
        .trimmed();
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

/// A temporary folder removed by bytes: QTemporaryDir cannot remove names that are not UTF-8.
class TemporaryDir : public QTemporaryDir
{
public:
    ~TemporaryDir() { bash(path(), QStringLiteral("rm -rf -- ./* ./.[!.]*")); }
};

/// An image of @p files, one tape file each, made by tarnwick-image.
QString imageOf(const QString &dir, const QStringList &files)
{
    QDir().mkpath(dir);
    Tape tape;
    for (const QString &file : files)
        tape.file(fileBytes(file), 10240);
    return imageFromTape(dir, tape, QStringLiteral("Auto"));
}

/// The tree archived three times, modes and times set last; in the order given the linked
/// file's data goes with its first name in tar and with its last in cpio newc.
const char treeScript[] = R"(F=$'t/ok\n  -            1 2001-09-09 01:46 archive-1\e[2K'
mkdir -p src/t/empty "src/$F" && cd src
printf 'linked data\n' >t/data.txt && chmod 640 t/data.txt && ln t/data.txt t/hard
printf '#!/bin/sh\n' >t/tool && chmod 750 t/tool
printf s >t/suid && chmod 6755 t/suid && ln -s data.txt t/link
printf latin >$'t/caf\xe9' && printf latin >$'t/caf\xe8' && printf x >"$F/forged"
touch -d '1960-05-01 00:00:00.25 UTC' t/old && touch -d @1000000000.123456789 t/new
chmod 700 t/empty && chmod 750 t && touch -d @1000000000.5 t/empty t
printf '%s\0' t t/data.txt t/tool t/suid t/link t/old t/new $'t/caf\xe9' $'t/caf\xe8' t/empty "$F" "$F/forged" \
    t/hard >../list
for f in gnu pax; do
    tar --format=$f --owner=4321 --group=4321 --no-recursion --null -cf ../$f.tar -T ../list
done
cpio -o0 -H newc -R 4321:4321 -F ../newc.cpio <../list 2>/dev/null
printf p >t/private && chmod 600 t/private && zip -q -y ../links.zip t t/tool t/link t/private
mkdir ../bomb && cd ../bomb && head -c 3M /dev/zero >big && printf small >small && ln big biglink
tar -czf ../bomb.tgz big small biglink)";

/// A ustar header for @p name claiming @p size bytes (in base 256 beyond what octal holds).
QByteArray tarHeader(const QByteArray &name, qint64 size)
{
    QByteArray header(512, '\0');
    header.replace(0, name.size(), name);
    const auto octal = [&header](int at, int width, qint64 value) {
        header.replace(at, width - 1, QByteArray::number(value, 8).rightJustified(width - 1, '0'));
    };
    octal(100, 8, 0644);
    octal(108, 8, 0);
    octal(116, 8, 0);
    octal(136, 12, 1700000000);
    if (size < (qint64(1) << 33)) {
        octal(124, 12, size);
    } else {
        header[124] = char(0x80);
        for (int i = 0; i < 8; ++i)
            header[135 - i] = char(size >> (8 * i));
    }
    header[156] = '0';
    header.replace(257, 5, "ustar"); // then a NUL, already there
    header.replace(263, 2, "00");
    header.replace(148, 8, QByteArray(8, ' '));
    int sum = 0;
    for (const char c : qAsConst(header))
        sum += uchar(c);
    header.replace(148, 7, QByteArray::number(sum, 8).rightJustified(6, '0') + '\0');
    return header;
}

/// An image no tool writes on purpose, and the files it holds whole (by output name).
struct Hostile
{
    QByteArray image;
    QMap<QByteArray, QByteArray> whole;
    QMap<QByteArray, QByteArray> links; ///< symbolic links and their targets
};

Hostile hostileImage(const QString &kind)
{
    Hostile made;
    if (kind == QLatin1String("claims")) {
        // 256 KiB of headers, each claiming 900 KiB: every one is cut short by the image's end.
        for (int i = 0; i < 512; ++i)
            made.image += tarHeader("f" + QByteArray::number(i), 900 << 10);
    } else if (kind == QLatin1String("liar")) {
        const QVector<File> files = sampleFiles(41, 3, 5000);
        made.image = makeArchive(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE, files);
        made.image.chop(1024); // its end blocks: the liar comes last, cut short
        made.image += tarHeader("liar", qint64(1) << 40) + randomBytes(42, 3000);
        for (const File &file : files)
            made.whole.insert("archive-1/" + file.name.toUtf8(), file.data);
    } else if (kind.startsWith(QLatin1String("cpio "))) {
        const QVector<File> files = sampleFiles(43, 4, 5000);
        made.image = makeArchive(ARCHIVE_FORMAT_CPIO_SVR4_NOCRC, ARCHIVE_FILTER_NONE, files);
        const int second = made.image.indexOf("070701", 6);
        if (kind.endsWith(QLatin1String("magic")))
            made.image.replace(second, 6, "XXXXXX");
        else // its size: hex digits no more
            made.image.replace(second + 54, 8, "zzzzzzzz");
        for (int i : { 0, 2, 3 })
            made.whole.insert(
                "archive-" + QByteArray(i ? "2/" : "1/") + files[i].name.toUtf8(), files[i].data);
    } else if (kind == QLatin1String("symlink group")) {
        // GNU cpio stores a symbolic link's other names as a hard-link group.
        QTemporaryDir dir;
        runTool(QStringLiteral("bash -euc"),
            { QStringLiteral("printf 'data\\n' >f && ln -s f sl && ln sl sl2 && "
                             "printf '%s\\n' f sl sl2 | cpio -o -H newc 2>/dev/null") },
            &made.image, {}, dir.path());
        made.whole.insert("archive-1/f", "data\n");
        made.links.insert("archive-1/sl", "f");
        made.links.insert("archive-1/sl2", "f");
    } else if (kind == QLatin1String("symlink, then a group of its name")) {
        // "a" made as a link, then a newc group that keeps its data with its last name.
        archive *writer = archive_write_new();
        archive_write_set_format(writer, ARCHIVE_FORMAT_CPIO_SVR4_NOCRC);
        archive_write_set_bytes_in_last_block(writer, 1);
        archive_write_open(writer, &made.image, nullptr, &appendToArray, nullptr);
        const QByteArray data = "shared data\n";
        struct Member
        {
            const char *name;
            unsigned type;
            int inode;
            int links;
            QByteArray data;
        };
        for (const Member &member : { Member { "a", AE_IFLNK, 1, 1, {} },
                 Member { "a", AE_IFREG, 2, 2, {} }, Member { "b", AE_IFREG, 2, 2, data } }) {
            archive_entry *entry = archive_entry_new();
            archive_entry_set_pathname(entry, member.name);
            archive_entry_set_filetype(entry, member.type);
            archive_entry_set_perm(entry, 0644);
            archive_entry_set_ino(entry, member.inode);
            archive_entry_set_nlink(entry, unsigned(member.links));
            if (member.type == AE_IFLNK)
                archive_entry_set_symlink(entry, "elsewhere");
            archive_entry_set_size(entry, member.data.size());
            archive_write_header(writer, entry);
            archive_write_data(writer, member.data.constData(), size_t(member.data.size()));
            archive_entry_free(entry);
        }
        archive_write_close(writer);
        archive_write_free(writer);
        made.whole.insert("archive-1/b", data);
        made.whole.insert("archive-1/a.2", data); // "a" is taken by the link
        made.links.insert("archive-1/a", "elsewhere");
    } else if (kind == QLatin1String("deep")) {
        archive *writer = archive_write_new();
        archive_write_set_format(writer, ARCHIVE_FORMAT_TAR_PAX_RESTRICTED);
        archive_write_set_bytes_in_last_block(writer, 1);
        archive_write_open(writer, &made.image, nullptr, &appendToArray, nullptr);
        QByteArray path;
        const QByteArray bottom = "at the bottom\n";
        for (int depth = 0; depth <= 5000; ++depth) {
            archive_entry *entry = archive_entry_new();
            path += depth < 5000 ? "d/" : "deep.txt";
            archive_entry_set_pathname(entry, path.constData());
            archive_entry_set_filetype(entry, depth < 5000 ? AE_IFDIR : AE_IFREG);
            archive_entry_set_perm(entry, depth < 5000 ? 0755 : 0644);
            archive_entry_set_size(entry, depth < 5000 ? 0 : bottom.size());
            archive_write_header(writer, entry);
            archive_write_data(writer, bottom.constData(), depth < 5000 ? 0 : bottom.size());
            archive_entry_free(entry);
        }
        archive_write_close(writer);
        archive_write_free(writer);
        made.whole.insert("archive-1/" + path, bottom);
    }
    return made;
}

/// Regular files below @p folder: relative name and size, found by descriptors (paths
/// may be longer than the system takes whole).
QMap<QByteArray, qint64> sizesBelow(const QString &folder)
{
    QMap<QByteArray, qint64> sizes;
    QByteArray out;
    runTool(QStringLiteral("find . -type f -printf %P\\t%s\\n"), {}, &out, {}, folder);
    for (const QByteArray &line : out.split('\n')) {
        const int tab = line.lastIndexOf('\t');
        if (tab > 0)
            sizes.insert(line.left(tab), line.mid(tab + 1).toLongLong());
    }
    return sizes;
}

} // namespace

Q_DECLARE_METATYPE(Expect)

class TestScannerRestore : public QObject
{
    Q_OBJECT

private:
    TemporaryDir m_dir;
    QString m_image; ///< archive 1 GNU tar, 2 pax tar, 3 cpio newc, of one tree; 4 a zip
    QString m_bomb; ///< a gzip tar that expands 3 MiB of zeros
    QString m_slow; ///< a zstd tar of 512 MiB of zeros, made when first needed

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        ::umask(022); // the default restore takes it off the modes
        QVERIFY(bash(m_dir.path(), QLatin1String(treeScript)).isEmpty());
        m_image = imageOf(path(QStringLiteral("image")),
            { path(QStringLiteral("gnu.tar")), path(QStringLiteral("pax.tar")),
                path(QStringLiteral("newc.cpio")), path(QStringLiteral("links.zip")) });
        m_bomb = imageOf(path(QStringLiteral("bomb")), { path(QStringLiteral("bomb.tgz")) });
        QVERIFY(!m_image.isEmpty() && !m_bomb.isEmpty());
    }

    /// Archive 1 is GNU tar, 2 pax tar, 3 cpio newc, 4 zip: one row per fault seen.
    void restoresWhatTheArchiveHolds_data()
    {
        QTest::addColumn<QString>("pattern"); ///< what is chosen, or an option; empty: all
        QTest::addColumn<QByteArray>("names"); ///< between "|", each checked
        QTest::addColumn<Expect>("expect");
        const QByteArray linked = "linked data\n";
        const QString all;
        // clang-format off
        QTest::newRow("file mode") << all << QByteArray("archive-1/t/tool|archive-2/t/tool|archive-3/t/tool") << Expect{'f', 0750, "#!/bin/sh\n"};
        QTest::newRow("setuid and setgid left out") << all << QByteArray("archive-2/t/suid|archive-3/t/suid") << Expect{'f', 0755};
        QTest::newRow("setuid and setgid kept when asked") << "--keep-setuid" << QByteArray("archive-2/t/suid") << Expect{'f', 06755};
        QTest::newRow("folder mode and time, set after its contents") << all << QByteArray("archive-1/t") << Expect{'d', 0750, {}, 0, 1000000000};
        QTest::newRow("folder time with a fraction") << all << QByteArray("archive-2/t") << Expect{'d', 0750, {}, 0, 1000000000, 500000000};
        QTest::newRow("empty folder") << all << QByteArray("archive-1/t/empty|archive-3/t/empty") << Expect{'d', 0700};
        QTest::newRow("symbolic link made as a link") << all << QByteArray("archive-2/t/link|archive-3/t/link") << Expect{'l', -1, "data.txt"};
        // tar keeps the data with the first name, cpio newc with the last
        QTest::newRow("hard link") << all << QByteArray("archive-1/t/hard|archive-3/t/data.txt") << Expect{'f', 0640, linked, 2};
        QTest::newRow("tar: the link chosen alone") << "archive-1/t/hard" << QByteArray("archive-1/t/hard") << Expect{'f', 0640, linked, 1};
        QTest::newRow("newc: the first name chosen alone") << "archive-3/t/data.txt" << QByteArray("archive-3/t/data.txt") << Expect{'f', 0640, linked, 1};
        QTest::newRow("newc: the last name chosen alone") << "archive-3/t/hard" << QByteArray("archive-3/t/hard") << Expect{'f', 0640, linked, 1};
        QTest::newRow("time before 1970 with a fraction") << all << QByteArray("archive-2/t/old") << Expect{'f', 0644, {}, 0, -305164800, 250000000};
        QTest::newRow("time before 1970, GNU tar") << all << QByteArray("archive-1/t/old") << Expect{'f', 0644, {}, 0, -305164800};
        QTest::newRow("sub-second time") << all << QByteArray("archive-2/t/new") << Expect{'f', 0644, {}, 0, 1000000000, 123456789};
        // Two Latin-1 names that once became "caf\uFFFD" and "caf\uFFFD.2".
        QTest::newRow("Latin-1 names") << all << QByteArray("archive-1/t/caf\xe9|archive-1/t/caf\xe8|archive-3/t/caf\xe8") << Expect{'f', 0644, "latin"};
        QTest::newRow("a wildcard reaches into folders") << "archive-2/*" << QByteArray("archive-2/t/new") << Expect{'f', 0644};
        QTest::newRow("a name chosen as it is shown") << "archive-1/t/caf\\xE9" << QByteArray("archive-1/t/caf\xe9") << Expect{'f', 0644, "latin"};
        // A zip's modes and links are in its central directory alone: files came back
        // 0664, readable by others, and links as files holding their target.
        QTest::newRow("zip: a private file stays private") << all << QByteArray("archive-4/t/private") << Expect{'f', 0600, "p"};
        QTest::newRow("zip: file mode") << all << QByteArray("archive-4/t/tool") << Expect{'f', 0750, "#!/bin/sh\n"};
        QTest::newRow("zip: symbolic link made as a link") << all << QByteArray("archive-4/t/link") << Expect{'l', -1, "data.txt"};
        QTest::newRow("name with a line break") << all << QByteArray("archive-2/") + forging + "/forged" << Expect{'f', 0644, "x"};
        // clang-format on
    }

    void restoresWhatTheArchiveHolds()
    {
        QFETCH(QString, pattern);
        QFETCH(QByteArray, names);
        QFETCH(Expect, expect);
        TemporaryDir out;
        QStringList arguments { QStringLiteral("--extract"), m_image, out.path() };
        if (!pattern.isEmpty())
            arguments.insert(pattern.startsWith(QLatin1String("--")) ? 1 : 3, pattern);
        // A symbolic link is restored like anything else: no failure.
        const ToolRun run = quorlin(arguments);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        for (const QByteArray &name : names.split('|')) {
            const QByteArray file = QFile::encodeName(out.path()) + '/' + name;
            struct stat info;
            QVERIFY2(::lstat(file.constData(), &info) == 0, file.constData());
            const char type = S_ISDIR(info.st_mode) ? 'd' : S_ISLNK(info.st_mode) ? 'l' : 'f';
            QCOMPARE(type, expect.type);
            // The archive says 4321; without --owners it belongs to whoever extracts.
            QCOMPARE(info.st_uid, ::geteuid());
            QVERIFY(expect.mode < 0 || int(info.st_mode & 07777) == expect.mode);
            char target[256] = {};
            QVERIFY(expect.content.isEmpty()
                || (type == 'l' ? ::readlink(file.constData(), target, sizeof target - 1) > 0
                            && QByteArray(target) == expect.content
                                : bytesAt(file) == expect.content));
            QVERIFY(expect.links == 0 || int(info.st_nlink) == expect.links);
            QVERIFY(expect.mtime == LLONG_MIN
                || (info.st_mtim.tv_sec == expect.mtime && info.st_mtim.tv_nsec == expect.nsec));
        }
    }

    /// What --extract refuses: names that lead out of DIR (tar -P keeps them as given), and
    /// archives that would write more than the limit: the bomb, a gzip tar of 3 MiB of zeros
    /// (big), a hard link to it (biglink) and a small file. Nothing half-written is left, not
    /// even under a temporary name, and nothing outside DIR changes.
    void extractionStaysInBounds_data()
    {
        QTest::addColumn<QString>(
            "script"); ///< makes a.tar in <base>/in/sub ($B: <base>); empty: the bomb
        QTest::addColumn<QString>("options"); ///< and patterns, between blanks
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("inside"); ///< the files made below DIR ("%1": <base>)
        const QString bomb;
        // clang-format off
        QTest::newRow("parent folder in a name") << "tar -P -cf a.tar ../note.txt" << "" << 0
            << "archive-1/note.txt";
        QTest::newRow("absolute name") << "tar -P -cf a.tar $B/in/note.txt" << "" << 0
            << "archive-1%1/in/note.txt";
        QTest::newRow("folder link planted, then a file through it")
            << "tar --no-recursion -cf a.tar x x/keep.txt" << "" << 1 << "";
        // The first name is taken out again: the link points at a file outside.
        QTest::newRow("hard link to a file not on the tape")
            << "tar -P -cf a.tar $B/in/note.txt $B/in/twin.txt && tar -P --delete -f a.tar $B/in/note.txt"
            << "" << 1 << "";
        QTest::newRow("over the limit: nothing written") << bomb << "--max-size 1M" << 1 << "";
        QTest::newRow("the limit raised") << bomb << "--max-size 10M" << 0
            << "archive-1/big archive-1/biglink archive-1/small";
        QTest::newRow("a link chosen alone brings its target's data over the limit") << bomb
            << "--max-size 1M */biglink" << 1 << "";
        QTest::newRow("under the limit") << bomb << "--max-size 1M */small" << 0 << "archive-1/small";
        QTest::newRow("a limit that is not a size") << bomb << "--max-size lots" << 2 << "";
        // clang-format on
    }

    void extractionStaysInBounds()
    {
        QFETCH(QString, script);
        QFETCH(QString, options);
        QFETCH(int, exitCode);
        QFETCH(QString, inside);
        QTemporaryDir base;
        QString image = m_bomb;
        if (!script.isEmpty()) {
            QVERIFY(bash(base.path(),
                QStringLiteral("B=$PWD; mkdir -p in/sub victim; printf note >in/note.txt; "
                               "ln in/note.txt in/twin.txt; printf keep >victim/keep.txt; "
                               "ln -s $B/victim in/sub/x; cd in/sub; ")
                    + script)
                        .isEmpty());
            image = imageOf(base.filePath(QStringLiteral("image")),
                { base.filePath(QStringLiteral("in/sub/a.tar")) });
        }
        const QString everything = QStringLiteral(
            "find . -mindepth 1 -path ./out -prune -o -printf '%p %y %s %n\\n' | sort");
        const QString before = bash(base.path(), everything);
        const QString out = base.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        const QStringList words = options.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const ToolRun run = quorlin(QStringList { QStringLiteral("--extract") } + words.mid(0, 2)
            + QStringList { image, out } + words.mid(2)); // --max-size SIZE, then patterns
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(filesBelow(out), inside.arg(base.path()));
        QCOMPARE(bash(base.path(), everything), before);
        if (script.isEmpty())
            QCOMPARE(
                run.err.contains(QLatin1String("raise the limit with --max-size")), exitCode == 1);
    }

    /// Damage the image itself does not show, tape files that end early, streams with no
    /// end of their own: every file comes back byte-exact under its own name, or as
    /// NAME.damaged with only bytes known good, and the exit code says which. Tape files
    /// hold ustar archives of three files of @p size bytes (file-1 spans records 4 to 7 at
    /// 10240), gzip or compress (.Z) ones made by the real tools.
    void damageIsNamed_data()
    {
        QTest::addColumn<QString>("tape"); ///< what the tape holds, see damageIsNamed()
        QTest::addColumn<QString>("image"); ///< "tape" (by tarnwick-image, Auto), "tap"
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("exitCode"); ///< of --extract, and of --list unless 3
        QTest::addColumn<QString>("whole"); ///< files given back byte-exact, between blanks
        QTest::addColumn<QString>("damaged"); ///< NAME.damaged: a prefix of the file
        QTest::addColumn<QString>("said"); ///< what stderr says
        const QString three = QStringLiteral("archive-1/docs/file-0.bin archive-1/docs/file-1.bin "
                                             "archive-1/docs/file-2.bin");
        const QString second = QStringLiteral(
            "archive-2/docs/file-0.bin archive-2/docs/file-1.bin archive-2/docs/file-2.bin");
        const QString firstAndLast
            = QStringLiteral("archive-1/docs/file-0.bin archive-1/docs/file-2.bin");
        // clang-format off
        // The drive's bytes reached the image, the run record names the block: it was
        // listed and written as if whole, exit 0.
        QTest::newRow("run record names an unreadable block") << "flagged" << "tape" << 40000 << 1
            << firstAndLast << "archive-1/docs/file-1.bin" << "holds unreadable bytes";
        // An Auto run records how many blocks of each length, not where: the short last
        // block of the tape file before leaves the tape mark's length to the body's size.
        QTest::newRow("unreadable block after a tape file with a short last block")
            << "flagged after short" << "tape" << 40000 << 1 << firstAndLast
            << "archive-1/docs/file-1.bin" << "the first at byte 9728 of it (image offset 86440)";
        // Decoded from the block on, any file may hold its bytes; the one before does not.
        QTest::newRow("run record names an unreadable block in a tar.gz")
            << "flagged gzip" << "tape" << 40000 << 1 << "archive-1/docs/file-0.bin"
            << "archive-1/docs/file-1.bin archive-1/docs/file-2.bin" << "holds unreadable bytes";
        QTest::newRow("flagged record in a master") << "flagged" << "tap" << 40000 << 1
            << firstAndLast << "archive-1/docs/file-1.bin" << "holds unreadable bytes";
        // compress has no end of its own: the tar.gz after it was swallowed (100 KB), or
        // the .Z taken for raw data (20 KB); from a master, "Invalid compressed data".
        QTest::newRow(".Z of 100 KB, then a tar.gz") << "Z" << "tape" << 25000 << 0
            << three + QLatin1Char(' ') + second << "" << "";
        QTest::newRow(".Z of 20 KB, then a tar.gz") << "Z" << "tape" << 5000 << 0
            << three + QLatin1Char(' ') + second << "" << "";
        QTest::newRow(".Z, then a tar.gz, from a master") << "Z" << "tap" << 25000 << 0
            << three + QLatin1Char(' ') + second << "" << "";
        // The next tape mark comes inside file-1: it was written whole-length with the
        // mark's zeros and the next tape file's bytes.
        QTest::newRow("tape file ends inside a member") << "cut" << "tape" << 40000 << 1
            << QStringLiteral("archive-1/docs/file-0.bin ") + second
            << "archive-1/docs/file-1.bin" << "damaged";
        // Its last block short, the records differ in length: the run record says where
        // the tape file ends.
        QTest::newRow("tape file ends inside a member, in a short block") << "cut short" << "tape"
            << 40000 << 1 << QStringLiteral("archive-1/docs/file-0.bin ") + second
            << "archive-1/docs/file-1.bin" << "damaged";
        QTest::newRow("tape file ends inside a member, master") << "cut" << "tap" << 40000 << 1
            << QStringLiteral("archive-1/docs/file-0.bin ") + second << "archive-1/docs/file-1.bin" << "damaged";
        // Only the stream's check fails: all three were written under their own names.
        QTest::newRow("gzip whose check fails") << "crc" << "tape" << 40000 << 1 << ""
            << three << "fails its check";
        // A garbled record decodes as garbage before the decoder notices: the .damaged
        // file kept it.
        QTest::newRow("garbled record in a tar.gz") << "garbled" << "tape" << 40000 << 1
            << "archive-1/docs/file-0.bin" << "archive-1/docs/file-1.bin" << "damaged";
        // Once "Reading the image failed at offset 516", and nothing after it was looked at.
        QTest::newRow(".tap record of 5 MiB before an archive") << "huge" << "tap" << 40000 << 0
            << three << "" << "";
        // Half the tape: the run stopped after a shorter block, before the end of data.
        QTest::newRow("image that stops short") << "short" << "tape" << 40000 << 3 << three << ""
            << "does not hold the whole tape";
        // The virtual tape's file ends inside its last record: once exit 0, as if the
        // image held all the tape did.
        QTest::newRow("image of a damaged tape") << "damaged" << "tape" << 40000 << 1 << three << ""
            << "was read from a damaged tape";
        // clang-format on
    }

    void damageIsNamed()
    {
        QFETCH(QString, tape);
        QFETCH(QString, image);
        QFETCH(int, size);
        QFETCH(int, exitCode);
        QFETCH(QString, whole);
        QFETCH(QString, damaged);
        QFETCH(QString, said);
        const QVector<File> files = sampleFiles(41, 3, size);
        const QVector<File> others = sampleFiles(42, 3, size);
        const QByteArray tar = asRecords(tapeFileBytes(QStringLiteral("ustar"), files), 10240);
        const QByteArray tarGz = tapeFileBytes(QStringLiteral("ustar|gzip"), others);
        QVERIFY(!tar.isEmpty() && !tarGz.isEmpty());
        Tape source;
        QVector<QVector<File>> archives { files, others };
        if (tape == QLatin1String("flagged after short"))
            source.file(randomBytes(7, 25000), 10240, false);
        if (tape.startsWith(QLatin1String("flagged"))) {
            const QByteArray data = tape.endsWith(QLatin1String("gzip"))
                ? asRecords(tapeFileBytes(QStringLiteral("ustar|gzip"), files), 10240)
                : tar;
            for (int at = 0; at < data.size(); at += 10240)
                source.record(data.mid(at, 10240), at == 5 * 10240);
            source.mark();
        } else if (tape == QLatin1String("Z")) {
            QByteArray compressed;
            QVERIFY(runTool(QStringLiteral("compress -c -f"), {}, &compressed, tar));
            source.file(compressed, 10240).file(tarGz, 10240);
        } else if (tape.startsWith(QLatin1String("cut"))) {
            const QByteArray next = tapeFileBytes(QStringLiteral("ustar"), others);
            if (tape.endsWith(QLatin1String("short")))
                source.file(tar.left(65000), 10240, false).file(next, 10240);
            else
                source.file(tar.left(6 * 10240), 10240).file(next, 10240);
        } else if (tape == QLatin1String("crc") || tape == QLatin1String("garbled")) {
            QByteArray gz = tapeFileBytes(QStringLiteral("ustar|gzip"), files);
            if (tape == QLatin1String("crc"))
                gz[gz.size() - 6] = char(gz[gz.size() - 6] ^ 0x5a);
            else
                gz.replace(5 * 10240, 10240, randomBytes(3, 10240));
            source.file(gz, 10240);
        } else if (tape == QLatin1String("huge")) {
            source.record(randomBytes(5, 5 << 20)).mark().file(tar, 10240);
        } else if (tape == QLatin1String("damaged")) {
            source.file(tar, 10240).file(randomBytes(8, 30000), 10240);
        } else if (tape == QLatin1String("short")) {
            // An Auto run ends once the records so far outweigh the blocks times the last
            // length: after the 512-byte blocks, the tar's and the rest are not read.
            source.file(tar, 10240).file(randomBytes(6, 4096), 512).file(tar, 10240);
        }
        TemporaryDir dir;
        const QString made = imageFromTape(
            dir.path(), source, QStringLiteral("Auto"), tape == QLatin1String("damaged") ? 100 : 0);
        QVERIFY(!made.isEmpty());
        const QString path
            = image == QLatin1String("tap") ? dir.filePath(QStringLiteral("source.tap")) : made;
        const ToolRun listed = quorlin({ QStringLiteral("--list"), path });
        QVERIFY2(listed.exitCode == exitCode, qPrintable(listed.out + listed.err));
        const QString out = dir.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        const ToolRun run = quorlin({ QStringLiteral("--extract"), path, out });
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.out + run.err));
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        // Every file is here, whole or named damaged; none under its own name with other bytes.
        const auto original = [&](const QString &name) {
            const int archive = name.section(QLatin1Char('/'), 0, 0).mid(8).toInt() - 1;
            const QString inside = name.section(QLatin1Char('/'), 1);
            for (const File &file : archives.value(archive))
                if (file.name == inside)
                    return file.data;
            return QByteArray("<none>");
        };
        QStringList expected;
        for (const QString &name : whole.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            QCOMPARE(fileBytes(out + QLatin1Char('/') + name), original(name));
            expected << name;
        }
        for (const QString &name : damaged.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QByteArray kept
                = fileBytes(out + QLatin1Char('/') + name + QStringLiteral(".damaged"));
            QVERIFY2(!kept.isEmpty() && original(name).startsWith(kept), qPrintable(name));
            QVERIFY2(run.err.contains(name), qPrintable(run.err));
            expected << name + QStringLiteral(".damaged");
        }
        const QStringList found = filesBelow(out).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &name : found)
            QVERIFY2(expected.contains(name) || name.startsWith(QLatin1String("raw-")),
                qPrintable(name + QStringLiteral(" among ") + found.join(QLatin1Char(' '))));
    }

    /// What each door shows: --list, --extract and the window.
    void namesAreShownEscaped_data()
    {
        QTest::addColumn<QString>("door");
        QTest::addColumn<bool>("bomb"); ///< the gzip image, else the tree's
        QTest::addColumn<QString>("shown"); ///< texts it must show, between "|"
        const char *names = "t/caf\\xE9|t/ok\\n  -|archive-1\\x1B[2K/forged";
        // clang-format off
        QTest::newRow("--list") << "--list" << false << names;
        QTest::newRow("--extract") << "--extract" << false << names;
        QTest::newRow("window") << "window" << false << names;
        // Listed as a file holding its target.
        QTest::newRow("--list: a zip's symbolic link") << "--list" << false << "archive-4/t/link -> data.txt";
        QTest::newRow("--list: how much an archive expands to") << "--list" << true
            << "expands to 3.00 MB,|times its size, more than the 1.00 MB one archive may write";
        QTest::newRow("window: how much an archive expands to") << "window" << true
            << "expands to 3.00 MB,|times its size";
        // clang-format on
    }

    void namesAreShownEscaped()
    {
        QFETCH(QString, door);
        QFETCH(bool, bomb);
        QFETCH(QString, shown);
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
            const ToolRun run = quorlin(arguments);
            QCOMPARE(run.exitCode, 0);
            text = run.out;
        }
        for (const QString &name : shown.split(QLatin1Char('|')))
            QVERIFY2(text.contains(name), qPrintable(name + QStringLiteral(" in:\n") + text));
        QVERIFY(!text.contains(QChar(0x1b)) && !text.contains(QChar::ReplacementCharacter));
        for (const QString &line : text.split(QLatin1Char('\n')))
            QVERIFY2(!line.contains(QLatin1String("forged")) || line.contains(QLatin1String("\\n")),
                qPrintable(line));
    }

    /// The content a hard link's names share comes with one of them: in tar the first,
    /// in cpio newc the last. Every name shows the content's size.
    void hardLinksNameTheirData()
    {
        const ScanResult result = scanImage(m_image);
        QCOMPARE(result.archives.size(), 4);
        for (const int a : { 0, 2 }) {
            const FoundArchive &archive = result.archives[a];
            QMap<QString, int> index;
            for (int e = 0; e < archive.entries.size(); ++e)
                index.insert(archive.entries[e].path, e);
            const int data = index.value(QStringLiteral("t/data.txt"), -1);
            const int hard = index.value(QStringLiteral("t/hard"), -1);
            const int holder = a == 0 ? data : hard;
            for (const int e : { data, hard }) {
                QVERIFY(e >= 0 && holder >= 0);
                QCOMPARE(contentSize(archive, archive.entries[e]), qint64(12));
                QCOMPARE(archive.entries[e].dataEntry, e == holder ? -1 : holder);
            }
        }
    }

    /// Images made to cost or to mislead. Whatever they do, a file under its own name holds
    /// exactly its bytes; what is cut short ends in ".damaged".
    void hostileImagesKeepWhatIsWhole_data()
    {
        QTest::addColumn<QString>("kind"); ///< see hostileImage()
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said"); ///< on stderr
        QTest::addColumn<qint64>("mostWritten"); ///< bytes in all; -1: unchecked
        // clang-format off
        // Each archive found after the one before broke off wrote up to the image's end, each
        // under the limit of one archive: 256 KiB wrote 67 MB.
        QTest::newRow("headers that each claim 900 KiB: bounded in all") << "claims"
            << "--max-size 1M" << 1 << "more than the 1.00 MB it may write in all" << qint64(1 << 20);
        // Counted whole against the limit, it had the archive refused: nothing written.
        QTest::newRow("a last member claiming 1 TB, cut short") << "liar" << "" << 1
            << "archive-1/liar: damaged, only the first 3000 bytes were written, as archive-1/liar.damaged"
            << qint64(-1);
        // Each walk from the top took 173 s for 5,000 folders.
        QTest::newRow("5,000 nested folders") << "deep" << "" << 0 << "" << qint64(-1);
        // The entries after a damaged cpio header were lost: found again as archive 2.
        QTest::newRow("cpio: a header's magic garbled") << "cpio magic" << "" << 1 << "" << qint64(-1);
        QTest::newRow("cpio: a header's size garbled") << "cpio size" << "" << 1 << "" << qint64(-1);
        // Its last name, which holds the target, was written through the link: refused.
        QTest::newRow("cpio: other names of a symbolic link") << "symlink group" << "" << 0 << ""
            << qint64(-1);
        QTest::newRow("cpio: a group whose first name was made a link before")
            << "symlink, then a group of its name" << "" << 0 << "" << qint64(-1);
        // clang-format on
    }

    void hostileImagesKeepWhatIsWhole()
    {
        QFETCH(QString, kind);
        QFETCH(QString, options);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(qint64, mostWritten);
        TemporaryDir base;
        const Hostile made = hostileImage(kind);
        const QString image = base.filePath(QStringLiteral("hostile.tape"));
        QVERIFY(writeFile(image, made.image));
        const QString out = base.filePath(QStringLiteral("out"));
        const auto cpuTime = [] { // of the children waited for, in ms: others share the machine
            rusage usage {};
            getrusage(RUSAGE_CHILDREN, &usage);
            return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
                + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
        };
        const auto before = cpuTime();
        const ToolRun run = quorlin(QStringList { QStringLiteral("--extract") }
            + options.split(QLatin1Char(' '), Qt::SkipEmptyParts) + QStringList { image, out });
        QVERIFY2(cpuTime() - before < 15000, qPrintable(QString::number(cpuTime() - before)));
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        const QMap<QByteArray, qint64> sizes = sizesBelow(out);
        qint64 written = 0;
        for (auto it = sizes.cbegin(); it != sizes.cend(); ++it) {
            written += it.value();
            // Raw regions are named by their offset, never as a file of the archive.
            QVERIFY2(made.whole.contains(it.key()) || it.key().endsWith(".damaged")
                    || it.key().startsWith("raw-"),
                it.key().left(200).constData());
        }
        for (auto it = made.whole.cbegin(); it != made.whole.cend(); ++it) {
            QVERIFY2(
                sizes.value(it.key(), -1) == it.value().size(), it.key().left(200).constData());
            const QByteArray path = QFile::encodeName(out) + '/' + it.key();
            QVERIFY(path.size() > 4000 || bytesAt(path) == it.value());
        }
        QVERIFY2(mostWritten < 0 || written <= mostWritten, qPrintable(QString::number(written)));
        for (auto it = made.links.cbegin(); it != made.links.cend(); ++it) {
            char target[256] = {};
            const QByteArray path = QFile::encodeName(out) + '/' + it.key();
            QVERIFY2(::readlink(path.constData(), target, sizeof target - 1) > 0, path.constData());
            QCOMPARE(QByteArray(target), it.value());
        }
    }

    /// A quorlin stopped by a signal leaves no temporary file behind (each left one).
    void signalsLeaveNoTemporaryFile_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void signalsLeaveNoTemporaryFile()
    {
        QFETCH(int, signal);
        if (m_slow.isEmpty()) { // 512 MiB of zeros: long enough to write to be stopped
            QVERIFY(bash(m_dir.path(),
                QStringLiteral("mkdir slow && head -c 512M /dev/zero >slow/zeros && "
                               "tar -cf - -C slow zeros | zstd -q -1 >slow.tar.zst && "
                               "rm slow/zeros"))
                        .isEmpty());
            m_slow
                = imageOf(path(QStringLiteral("slow")), { path(QStringLiteral("slow.tar.zst")) });
            QVERIFY(!m_slow.isEmpty());
        }
        TemporaryDir out;
        QProcess process;
        process.start(QStringLiteral(TARNWICK_BIN_DIR "/quorlin"),
            { QStringLiteral("--extract"), m_slow, out.path() });
        QVERIFY(process.waitForStarted());
        const QDir folder(out.filePath(QStringLiteral("archive-1")));
        const QStringList temporary { QStringLiteral(".quorlin-*") };
        QElapsedTimer timer;
        timer.start();
        bool writing = false;
        while (!writing && timer.elapsed() < 30000 && process.state() == QProcess::Running) {
            writing = !folder.entryList(temporary, QDir::Files | QDir::Hidden).isEmpty();
            if (!writing)
                QThread::msleep(1);
        }
        QVERIFY2(writing, "the extraction was not seen writing");
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit); // ended by the signal, as before
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList());
    }

    /// --owners as a user who is not root: nothing was written ("Operation not permitted"
    /// for each file) and a fifo was left behind with mode 0600.
    /// afio -Z stores each member gzip made smaller as NAME.z: restored as NAME,
    /// decompressed. A .z member that is no gzip data stays as it is; one that fails to
    /// decompress is kept as stored, named damaged. "afio" rows use afio itself, "cpio"
    /// rows an odc cpio made here.
    void packedMembersComeBackDecompressed_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QByteArray>("name"); ///< below the extraction folder
        QTest::addColumn<QByteArray>("content"); ///< empty: must not exist
        QTest::addColumn<bool>("whole"); ///< exit 0
        const QByteArray text = QByteArray("line of text, again and again\n").repeated(400);
        QByteArray packed;
        QVERIFY(runTool(QStringLiteral("gzip -n -c"), {}, &packed, text));
        QByteArray bad = packed;
        bad[bad.size() - 6] = char(bad[bad.size() - 6] ^ 0x5a); // the check at its end
        // clang-format off
        QTest::newRow("afio: member under its name") << "afio" << QByteArray("archive-1/t/b.txt") << text << true;
        QTest::newRow("afio: no .z name left") << "afio" << QByteArray("archive-1/t/b.txt.z") << QByteArray() << true;
        QTest::newRow("afio: a member left uncompressed") << "afio" << QByteArray("archive-1/t/a.bin") << randomBytes(3, 5000) << true;
        QTest::newRow("cpio: gzip member") << "cpio" << QByteArray("archive-1/t/good") << text << false;
        QTest::newRow("cpio: a .z that is no gzip, as it is") << "cpio" << QByteArray("archive-1/t/own.z") << QByteArray("plain text named .z\n") << false;
        // Once came back under the plain name, cut, with exit 0.
        QTest::newRow("cpio: failed check, kept as stored") << "cpio" << QByteArray("archive-1/t/bad.z.damaged") << bad << false;
        QTest::newRow("cpio: failed check, no plain name") << "cpio" << QByteArray("archive-1/t/bad") << QByteArray() << false;
        QTest::newRow("cpio: cut gzip, kept as stored") << "cpio" << QByteArray("archive-1/t/cut.z.damaged") << packed.left(packed.size() / 2) << false;
        // clang-format on
    }

    void packedMembersComeBackDecompressed()
    {
        QFETCH(QString, source);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, whole);
        const QByteArray text = QByteArray("line of text, again and again\n").repeated(400);
        QByteArray packed;
        QVERIFY(runTool(QStringLiteral("gzip -n -c"), {}, &packed, text));
        QByteArray bad = packed;
        bad[bad.size() - 6] = char(bad[bad.size() - 6] ^ 0x5a);
        TemporaryDir work;
        const QString archive = work.path() + QStringLiteral("/archive");
        if (source == QLatin1String("afio")) {
            QVERIFY(writeFiles(work.path() + QStringLiteral("/src"),
                { { QStringLiteral("t/b.txt"), text },
                    { QStringLiteral("t/a.bin"), randomBytes(3, 5000) } }));
            QVERIFY(runTool(QStringLiteral("afio -o -Z"), { archive }, nullptr,
                "t/a.bin\nt/b.txt\n", work.path() + QStringLiteral("/src")));
        } else {
            QVERIFY(writeFile(archive,
                makeArchive(ARCHIVE_FORMAT_CPIO_POSIX, ARCHIVE_FILTER_NONE,
                    { { QStringLiteral("t/good.z"), packed },
                        { QStringLiteral("t/own.z"), "plain text named .z\n" },
                        { QStringLiteral("t/bad.z"), bad },
                        { QStringLiteral("t/cut.z"), packed.left(packed.size() / 2) } })));
        }
        const QString image = imageOf(work.path() + QStringLiteral("/image"), { archive });
        QVERIFY(!image.isEmpty());
        const QString out = work.path() + QStringLiteral("/out");
        const ToolRun run = quorlin({ QStringLiteral("--extract"), image, out });
        QVERIFY2((run.exitCode == 0) == whole, qPrintable(run.err));
        const QByteArray file = QFile::encodeName(out) + '/' + name;
        struct stat info;
        QVERIFY2((::lstat(file.constData(), &info) == 0) == !content.isEmpty(),
            qPrintable(filesBelow(out) + QLatin1Char('\n') + run.err));
        if (!content.isEmpty())
            QCOMPARE(fileBytes(QFile::decodeName(file)), content);
    }

    void ownersAsAnotherUser_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("said"); ///< that owners were not kept
        QTest::newRow("--owners") << "--owners" << 1 << true;
        QTest::newRow("without --owners") << "--keep-setuid" << 0 << false; // any other option
    }

    void ownersAsAnotherUser()
    {
        QFETCH(QString, option);
        QFETCH(int, exitCode);
        QFETCH(bool, said);
        if (::geteuid() != 0)
            QSKIP("running as another user needs root");
        const QStringList asNobody { QStringLiteral("--reuid=65534"),
            QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
            QStringLiteral("--") };
        const QString program = QStringLiteral(TARNWICK_BIN_DIR "/quorlin");
        if (QProcess::execute(QStringLiteral("setpriv"),
                asNobody + QStringList { QStringLiteral("test"), QStringLiteral("-x"), program })
            != 0)
            QSKIP("another user cannot run the built program from this folder");
        QTemporaryDir base(QStringLiteral("/tmp/quorlin-owners-XXXXXX"));
        QVERIFY(::chmod(QFile::encodeName(base.path()).constData(), 0755) == 0);
        QVERIFY(bash(base.path(),
            QStringLiteral("mkdir src out && chmod 777 out && printf mine >src/file && "
                           "mkfifo -m 644 src/pipe && "
                           "tar --owner=4321 --group=4321 -C src -cf a.tar file pipe"))
                    .isEmpty());
        const QString image = imageOf(
            base.filePath(QStringLiteral("image")), { base.filePath(QStringLiteral("a.tar")) });
        QVERIFY(!image.isEmpty());
        const QString out = base.filePath(QStringLiteral("out"));
        QProcess process;
        process.start(QStringLiteral("setpriv"),
            asNobody + QStringList { program, QStringLiteral("--extract"), option, image, out });
        QVERIFY(process.waitForFinished(60000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(process.exitCode() == exitCode, qPrintable(err));
        QCOMPARE(err.contains(QLatin1String("Owners and groups were not kept")), said);
        QVERIFY2(!err.contains(QLatin1String("not permitted")), qPrintable(err));
        for (const char *name : { "file", "pipe" }) {
            const QByteArray file = QFile::encodeName(out) + "/archive-1/" + name;
            struct stat info;
            QVERIFY2(::lstat(file.constData(), &info) == 0, file.constData());
            QCOMPARE(info.st_uid, uid_t(65534));
            QCOMPARE(int(info.st_mode & 07777), 0644);
        }
        QCOMPARE(bytesAt(QFile::encodeName(out) + "/archive-1/file"), QByteArray("mine"));
    }

    /// A GNU multi-volume tar, one volume a tape file: a member the end of a volume cuts
    /// is joined from the continuation header of the next; with a volume missing it is
    /// named damaged and what is missing said. Members split over volumes were named
    /// damaged though every volume was there, and a hard link to a file of an earlier
    /// volume was not made.
    void splitMembersAreJoined_data()
    {
        QTest::addColumn<QString>("volumes"); ///< which of v1..v5 the tape holds
        QTest::addColumn<bool>("master");
        QTest::addColumn<int>("exitCode");
        // clang-format off
        QTest::newRow("every volume") << "v1 v2 v3 v4 v5" << false << 0;
        QTest::newRow("every volume, master") << "v1 v2 v3 v4 v5" << true << 0;
        QTest::newRow("a middle volume missing") << "v1 v3 v4 v5" << true << 1;
        QTest::newRow("the first volume missing") << "v2 v3 v4 v5" << false << 1;
        // clang-format on
    }

    void splitMembersAreJoined()
    {
        QFETCH(QString, volumes);
        QFETCH(bool, master);
        QFETCH(int, exitCode);
        TemporaryDir base;
        QVERIFY(bash(base.path(),
            QStringLiteral("mkdir -p d && for f in a:25000 b:40000 c:15000 e:30000; do "
                           "head -c ${f#*:} /dev/urandom >d/${f%:*}; done && ln d/a d/link && "
                           "tar -c -M -L 30 -b 20 -f v1 -f v2 -f v3 -f v4 -f v5 -f v6 d"))
                    .isEmpty());
        QStringList files;
        for (const QString &volume : volumes.split(QLatin1Char(' ')))
            files << base.filePath(volume);
        const QString made = imageOf(base.filePath(QStringLiteral("image")), files);
        QVERIFY(!made.isEmpty());
        const QString image = master ? base.filePath(QStringLiteral("image/source.tap")) : made;
        const QString out = base.filePath(QStringLiteral("out"));
        const ToolRun run = quorlin({ QStringLiteral("--extract"), image, out });
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
        // Each name once, whole, or named damaged with what is missing said.
        QSet<QString> names;
        int damaged = 0;
        for (const QString &name : filesBelow(out).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (name.startsWith(QLatin1String("raw-")))
                continue;
            QString inside = name.section(QLatin1Char('/'), 1);
            if (inside.endsWith(QLatin1String(".damaged"))) {
                inside.chop(8);
                QVERIFY2(run.err.contains(QStringLiteral("/") + inside), qPrintable(run.err));
                ++damaged;
            } else {
                QCOMPARE(
                    fileBytes(out + QLatin1Char('/') + name), fileBytes(base.filePath(inside)));
            }
            QVERIFY2(!names.contains(inside), qPrintable(inside));
            names.insert(inside);
        }
        if (exitCode == 0) {
            QCOMPARE(names.size(), 5);
            QCOMPARE(damaged, 0);
        } else {
            QVERIFY(damaged > 0);
            QVERIFY2(run.err.contains(QLatin1String("is not in this image")), qPrintable(run.err));
        }
    }

    /// Names vfat and NTFS refuse (or, trailing dots, drop, so that two names become one)
    /// are written escaped, with a map of escaped to stored names and a note.
    void refusedNamesAreEscaped_data()
    {
        QTest::addColumn<QString>("target"); ///< "option": --escape-names; "vfat": a vfat folder
        QTest::newRow("asked with --escape-names") << "option";
        QTest::newRow("a vfat folder on a loop device") << "vfat";
    }

    void refusedNamesAreEscaped()
    {
        QFETCH(QString, target);
        const bool vfat = target == QLatin1String("vfat");
        if (vfat
            && (::geteuid() != 0
                || !fileBytes(QStringLiteral("/proc/filesystems")).contains("\tvfat\n")))
            QSKIP("a vfat image is mounted on a loop device: root and a kernel with vfat only");
        TemporaryDir base;
        QVERIFY(bash(base.path(),
            QStringLiteral("mkdir -p src/'we?ird' out && cd src && printf a >'we?ird/a:b' && "
                           "printf t >trail. && printf s >'sp ' && printf o >ok && "
                           "tar -cf ../names.tar * && cd .. && if [ %1 = vfat ]; then "
                           "truncate -s 8M fat.img && mkfs.vfat fat.img >/dev/null && "
                           "mount -o loop fat.img out; fi")
                .arg(target))
                    .isEmpty());
        const QString out = base.filePath(QStringLiteral("out"));
        const QString image = imageOf(
            base.filePath(QStringLiteral("image")), { base.filePath(QStringLiteral("names.tar")) });
        QStringList arguments { QStringLiteral("--extract"), image, out };
        if (!vfat)
            arguments.insert(1, QStringLiteral("--escape-names"));
        const ToolRun run = quorlin(arguments);
        const QString found = filesBelow(out);
        const QString map
            = QString::fromUtf8(fileBytes(out + QStringLiteral("/quorlin-escaped-names.txt")));
        if (vfat)
            bash(base.path(), QStringLiteral("umount out"));
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY2(
            run.err.contains(QLatin1String("4 name(s) written with %XX")), qPrintable(run.err));
        QCOMPARE(found,
            QStringLiteral(
                "archive-1/ok archive-1/sp%20 archive-1/trail%2E archive-1/we%3Fird/a%3Ab "
                "quorlin-escaped-names.txt"));
        for (const char *line : { "archive-1/trail%2E\tarchive-1/trail.\n",
                 "archive-1/we%3Fird\tarchive-1/we?ird\n", "archive-1/sp%20\tarchive-1/sp \n" })
            QVERIFY2(map.contains(QLatin1String(line)), qPrintable(map));
    }

    /// Names the folder's file system refuses when they are made, where its type did not
    /// tell (exit 0, written escaped, the map and the note). A name too long is refused by
    /// every file system; the others by a stand-in for one that refuses them, asked before
    /// the real call, which then makes the escaped name.
    void namesRefusedWhenMadeAreEscaped_data()
    {
        QTest::addColumn<QString>("name"); ///< stored in the archive
        QTest::addColumn<int>("refused"); ///< errno for names with ':' or bytes above 0x7f
        QTest::addColumn<QString>("written"); ///< a pattern of what is written instead
        QTest::newRow("longer than any file system takes (ENAMETOOLONG)")
            << QStringLiteral("dir/") + QString(300, QLatin1Char('n')) + QStringLiteral(".txt") << 0
            << QStringLiteral("archive-1/dir/n{160}~[0-9a-f]{8}\\.txt");
        QTest::newRow("folder and file with ':' (EINVAL, as vfat)")
            << QStringLiteral("we:ird/a:b") << EINVAL << QStringLiteral("archive-1/we%3Aird/a%3Ab");
        QTest::newRow("bytes above 0x7f (EILSEQ, a file system that takes ASCII only)")
            << QStringLiteral("caf\u00e9.txt") << EILSEQ
            << QStringLiteral("archive-1/caf%C3%A9\\.txt");
    }

    void namesRefusedWhenMadeAreEscaped()
    {
        QFETCH(QString, name);
        QFETCH(int, refused);
        QFETCH(QString, written);
        TemporaryDir base;
        const QString archive = base.filePath(QStringLiteral("names.tar"));
        QVERIFY(writeFile(archive,
            makeArchive(ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, ARCHIVE_FILTER_NONE,
                { { name, "refused" }, { QStringLiteral("ok.txt"), "ok" } })));
        const ScanResult result
            = scanImage(imageOf(base.filePath(QStringLiteral("image")), { archive }));
        RestoreFolder::setNameRefusal([refused](const QByteArray &leaf) {
            const bool above
                = std::any_of(leaf.cbegin(), leaf.cend(), [](char c) { return uchar(c) > 0x7f; });
            return leaf.contains(':') || above ? refused : 0;
        });
        const QString out = base.filePath(QStringLiteral("out"));
        Extractor extractor(result, out);
        const bool whole = extractor.run(selectMatching(result, {}));
        RestoreFolder::setNameRefusal({});
        const QString problems = extractor.problems().join(QLatin1Char('\n'));
        QVERIFY2(whole, qPrintable(problems));
        QVERIFY2(problems.contains(QLatin1String("refused some of the names when they were made")),
            qPrintable(problems));
        QStringList found = filesBelow(out).split(QLatin1Char(' '));
        QVERIFY(found.removeOne(QStringLiteral("archive-1/ok.txt")));
        QVERIFY(found.removeOne(QStringLiteral("quorlin-escaped-names.txt")));
        QCOMPARE(found.size(), 1);
        QVERIFY2(QRegularExpression(QLatin1Char('^') + written + QLatin1Char('$'))
                     .match(found.first())
                     .hasMatch(),
            qPrintable(found.first()));
        QCOMPARE(fileBytes(out + QLatin1Char('/') + found.first()), QByteArray("refused"));
        const QString map
            = QString::fromUtf8(fileBytes(out + QStringLiteral("/quorlin-escaped-names.txt")));
        QVERIFY2(map.contains(QLatin1Char('\n') + found.first() + QStringLiteral("\tarchive-1/")
                     + name + QLatin1Char('\n')),
            qPrintable(map));
    }
};

QTEST_MAIN(TestScannerRestore)
#include "tst_scanner_restore.moc"
