// quorlin reading a tape set written over several cartridges, each imaged on its own and
// the later ones given with --volume: a member or file split between two images comes back
// whole when the volumes follow each other; given in the wrong order, with one missing or
// with a volume of another set, it is named damaged with the reason, never joined wrong.
// (Dump sets are in tst_scanner_dump, which builds them with dump as root.)
#include "mtf_writer.h"
#include "tst_scanner_images.h"

#include <QDirIterator>
#include <QtTest>

using namespace ScannerTest;

namespace {

/// The file the volumes split, by the name it is listed under (without "archive-N/").
struct Split
{
    QString name;
    QByteArray data;
};

/// Three volumes of GNU tar -M -L 50 over files a (30000 bytes) and b (90000, the one
/// split over all three), optionally labelled with -V @p label. @p seed makes the set.
QVector<QByteArray> tarVolumes(const QString &dir, quint32 seed, const QString &label, Split *split)
{
    QDir().mkpath(dir);
    const QVector<File> files { { QStringLiteral("a"), randomBytes(seed, 30000) },
        { QStringLiteral("b"), randomBytes(seed + 1, 90000) } };
    if (!writeFiles(dir, files))
        return {};
    QStringList arguments { QStringLiteral("-c"), QStringLiteral("-M"), QStringLiteral("-L"),
        QStringLiteral("50"), QStringLiteral("-f"), QStringLiteral("1.tar"), QStringLiteral("-f"),
        QStringLiteral("2.tar"), QStringLiteral("-f"), QStringLiteral("3.tar") };
    if (!label.isEmpty())
        arguments << QStringLiteral("-V") << label;
    if (!runTool(QStringLiteral("tar"), arguments << QStringLiteral("a") << QStringLiteral("b"),
            nullptr, {}, dir))
        return {};
    *split = { QStringLiteral("b"), files.at(1).data };
    return { fileBytes(dir + QStringLiteral("/1.tar")), fileBytes(dir + QStringLiteral("/2.tar")),
        fileBytes(dir + QStringLiteral("/3.tar")) };
}

/// Bytes without a zero: what a tape record of zeros (a tape mark) could be taken for.
QByteArray noZeros(quint32 seed, int size)
{
    QByteArray data = randomBytes(seed, size);
    for (char &c : data)
        c = char(c | 1);
    return data;
}

/// A Windows backup set over media of the test writer, each one image: media 1 ends
/// (EOTM) inside Docs/big.bin; media @p sequence of @p family carries it on, then
/// Docs/after.txt and the set's end. @p kept: the bytes of @p big media 1 holds.
QVector<QByteArray> mtfMedia(int sequence, quint32 family, const QByteArray &big, int *kept)
{
    MtfTest::Writer w(1024);
    if (sequence == 1) {
        w.tape(QStringLiteral("Media 1"));
        w.beginSet(
            QStringLiteral("Weekly"), QStringLiteral("Full"), QStringLiteral("anna"), 1650000000);
        w.folder(QString(), 1500000000).folder(QStringLiteral("Docs"), 1600000000);
        w.file(QStringLiteral("before.txt"), "before", 1600000050);
        *kept = w.cutFile(QStringLiteral("big.bin"), big, 1600000100, 10240);
        return w.tapeFiles();
    }
    w.tape(QStringLiteral("Media 1"), sequence, family);
    w.continueSet(1, 1650000000);
    w.continuedFolder(QStringLiteral("Docs"), 1600000000);
    w.continuedFile(QStringLiteral("big.bin"), big.mid(*kept), 1600000100);
    w.file(QStringLiteral("after.txt"), "after", 1600000200);
    w.endSet().endMedia();
    return w.tapeFiles();
}

/// An image (@p master: the .tap, else the .tape) of tape files @p files in records of 10240.
QString imageOf(const QString &dir, const QVector<QByteArray> &files, bool master)
{
    QDir().mkpath(dir);
    Tape tape;
    for (const QByteArray &file : files)
        tape.file(file, 10240);
    const QString made = imageFromTape(dir, tape, QStringLiteral("Auto"));
    return master ? dir + QStringLiteral("/source.tap") : made;
}

} // namespace

class TestScannerVolumes : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void splitFileOverImages_data()
    {
        QTest::addColumn<QString>("set"); ///< "tar", "tar -V", "mtf"
        QTest::addColumn<QString>("given"); ///< the volumes given, in order: "1 2 3"
        QTest::addColumn<bool>("master");
        QTest::addColumn<QString>("reason"); ///< said on stderr; empty: restored whole
        // clang-format off
        QTest::newRow("tar, three images in order") << "tar" << "1 2 3" << false << "";
        QTest::newRow("tar, masters in order") << "tar" << "1 2 3" << true << "";
        QTest::newRow("tar -V, labelled volumes in order") << "tar -V" << "1 2 3" << false << "";
        QTest::newRow("tar, first two swapped") << "tar" << "2 1 3" << false << "out of order";
        QTest::newRow("tar, middle volume missing") << "tar" << "1 3" << false << "a volume is missing";
        // Same names and sizes: only the labels tell the sets apart.
        QTest::newRow("tar -V, a volume of another labelled set") << "tar -V" << "1 x2 3" << false << "of another set";
        QTest::newRow("mtf, two media in order") << "mtf" << "1 2" << false << "";
        QTest::newRow("mtf, masters in order") << "mtf" << "1 2" << true << "";
        QTest::newRow("mtf, swapped") << "mtf" << "2 1" << false << "its next media is not given";
        QTest::newRow("mtf, media 2 missing") << "mtf" << "1 3" << false << "a media is missing";
        QTest::newRow("mtf, a media of another family") << "mtf" << "1 x2" << false << "another family";
        QTest::newRow("mtf, next media not given") << "mtf" << "1" << false << "its next media is not given";
        // clang-format on
    }

    void splitFileOverImages()
    {
        QFETCH(QString, set);
        QFETCH(QString, given);
        QFETCH(bool, master);
        QFETCH(QString, reason);
        static int made = 0;
        const QString dir = m_dir.filePath(QString::number(++made));
        Split split;
        QMap<QString, QVector<QByteArray>> volumes; ///< by the names "given" uses
        if (set.startsWith(QLatin1String("tar"))) {
            const QString label
                = set.endsWith(QLatin1String("-V")) ? QStringLiteral("Weekly") : QString();
            const auto ours = tarVolumes(dir + QStringLiteral("/set"), 10, label, &split);
            Split theirs;
            const auto other = tarVolumes(dir + QStringLiteral("/other"), 20,
                label.isEmpty() ? label : QStringLiteral("Monthly"), &theirs);
            QCOMPARE(ours.size(), 3);
            QCOMPARE(other.size(), 3);
            for (int v = 0; v < 3; ++v) {
                volumes.insert(QString::number(v + 1), { ours.at(v) });
                volumes.insert(QStringLiteral("x%1").arg(v + 1), { other.at(v) });
            }
        } else {
            const QByteArray big = noZeros(30, 60000);
            int kept = 0;
            volumes.insert(QStringLiteral("1"), mtfMedia(1, 0x1234abcd, big, &kept));
            volumes.insert(QStringLiteral("2"), mtfMedia(2, 0x1234abcd, big, &kept));
            volumes.insert(QStringLiteral("3"), mtfMedia(3, 0x1234abcd, big, &kept));
            volumes.insert(QStringLiteral("x2"), mtfMedia(2, 0x5555, big, &kept));
            split = { QStringLiteral("Docs/big.bin"), big };
        }
        QStringList images;
        for (const QString &name : given.split(QLatin1Char(' '))) {
            images << imageOf(dir + QStringLiteral("/image-") + name, volumes.value(name), master);
            QVERIFY(!images.last().isEmpty());
        }
        QStringList arguments { QStringLiteral("--extract"), images.first(),
            dir + QStringLiteral("/out") };
        for (const QString &image : images.mid(1))
            arguments << QStringLiteral("--volume") << image;
        const ToolRun run = quorlin(arguments);
        // Under its own name only with its own bytes; damaged, said why.
        bool whole = false;
        QDirIterator it(dir + QStringLiteral("/out"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.endsWith(QLatin1Char('/') + split.name)) {
                QVERIFY2(fileBytes(path) == split.data, qPrintable(path));
                whole = true;
            }
        }
        if (reason.isEmpty()) {
            QVERIFY2(run.exitCode == 0 && whole, qPrintable(run.out + run.err));
        } else {
            QVERIFY2(run.exitCode == 1 && !whole, qPrintable(run.out + run.err));
            QVERIFY2(run.err.contains(reason)
                    && run.err.contains(split.name + QStringLiteral(".damaged")),
                qPrintable(run.err));
        }
    }
};

QTEST_GUILESS_MAIN(TestScannerVolumes)
#include "tst_scanner_volumes.moc"
