// A tape set over several cartridges, each imaged on its own, the later ones given with
// --volume: the file split between images comes back whole when the volumes follow each
// other; in the wrong order, with one missing or of another set, it is named damaged with
// the reason, never joined wrong. (Dump sets: tst_scanner_dump, which needs root.)
#include "mtf_writer.h"
#include "tst_scanner_images.h"

#include <QDirIterator>
#include <QtTest>

using namespace ScannerTest;

namespace {

/// tar -M -L 50 [$1] over a (30000 bytes) and b (90000, split over all three volumes).
const char tarScript[] = "head -c 30000 /dev/urandom >a && head -c 90000 /dev/urandom >b && "
                         "tar -c -M -L 50 -f 1.tar -f 2.tar -f 3.tar $1 a b";

/// Media @p sequence of a Windows backup set whose first media ends inside Docs/big.bin;
/// the next ones carry it on (media 1 sets @p kept, the bytes of it that it holds).
QVector<QByteArray> mtfMedia(int sequence, quint32 family, const QByteArray &big, int *kept)
{
    MtfTest::Writer w(1024);
    w.tape(QStringLiteral("Media 1"), sequence, family);
    if (sequence == 1) {
        w.beginSet(QStringLiteral("Weekly"), {}, QStringLiteral("anna"), 1650000000);
        w.folder(QStringLiteral("Docs"), 1600000000).file(QStringLiteral("a.txt"), "a", 1600000050);
        *kept = w.cutFile(QStringLiteral("big.bin"), big, 1600000100, 10240);
        return w.tapeFiles();
    }
    w.continueSet(1, QStringLiteral("Docs"));
    w.continuedFile(QStringLiteral("big.bin"), big.mid(*kept), 1600000100);
    w.endSet().endMedia();
    return w.tapeFiles();
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
        QTest::addColumn<QString>("given"); ///< the volumes, in order (x2: another set's)
        QTest::addColumn<bool>("master");
        QTest::addColumn<QString>("reason"); ///< said on stderr; empty: restored whole
        // clang-format off
        // Unlabelled volumes of another run are not told apart: no join across images is
        // trusted (it once gave another run's bytes under the member's own name).
        QTest::newRow("tar, three images in order") << "tar" << "1 2 3" << false << "without a label";
        QTest::newRow("tar, masters in order") << "tar" << "1 2 3" << true << "without a label";
        QTest::newRow("tar, a volume of another unlabelled run") << "tar" << "1 x2 3" << false << "without a label";
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
        QString split = QStringLiteral("/b");
        QByteArray data;
        QMap<QString, QVector<QByteArray>> volumes; ///< by the names "given" uses
        if (set.startsWith(QLatin1String("tar"))) {
            const bool labels = set.endsWith(QLatin1String("-V"));
            for (const QString &which : { QString(), QStringLiteral("x") }) {
                const QString folder = dir + QStringLiteral("/set") + which;
                const QString label
                    = which.isEmpty() ? QStringLiteral("-V Weekly") : QStringLiteral("-V Monthly");
                QVERIFY(QDir().mkpath(folder)
                    && runTool(QStringLiteral("bash -c"),
                        { QLatin1String(tarScript), QStringLiteral("tar"),
                            labels ? label : QString() },
                        nullptr, {}, folder));
                for (int v = 1; v <= 3; ++v)
                    volumes.insert(which + QString::number(v),
                        { fileBytes(folder + QStringLiteral("/%1.tar").arg(v)) });
            }
            data = fileBytes(dir + QStringLiteral("/set/b"));
            // Unlabelled, the two runs' continuation headers are the same bytes.
            QCOMPARE(volumes.value(QStringLiteral("2")).first().left(512)
                    == volumes.value(QStringLiteral("x2")).first().left(512),
                !labels);
        } else {
            data = randomBytes(30, 60000);
            for (char &c : data)
                c = char(c | 1); // no byte a record of zeros could be taken for
            int kept = 0;
            for (int sequence : { 1, 2, 3 })
                volumes.insert(
                    QString::number(sequence), mtfMedia(sequence, 0x1234abcd, data, &kept));
            volumes.insert(QStringLiteral("x2"), mtfMedia(2, 0x5555, data, &kept));
            split = QStringLiteral("/Docs/big.bin");
        }
        QStringList arguments { QStringLiteral("--extract") };
        for (const QString &name : given.split(QLatin1Char(' '))) {
            Tape tape;
            for (const QByteArray &file : volumes.value(name))
                tape.file(file, 10240);
            const QString folder = dir + QStringLiteral("/image-") + name;
            QDir().mkpath(folder);
            const QString image = imageFromTape(folder, tape, QStringLiteral("Auto"));
            QVERIFY(!image.isEmpty());
            if (arguments.size() > 1)
                arguments << QStringLiteral("--volume");
            arguments << (master ? folder + QStringLiteral("/source.tap") : image);
            if (arguments.size() == 2)
                arguments << dir + QStringLiteral("/out");
        }
        const ToolRun run = quorlin(arguments);
        // Under its own name only with its own bytes.
        bool whole = false;
        QDirIterator it(dir + QStringLiteral("/out"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QVERIFY2(!path.endsWith(split) || fileBytes(path) == data, qPrintable(path));
            whole = whole || path.endsWith(split);
        }
        QVERIFY2(run.exitCode == (reason.isEmpty() ? 0 : 1) && whole == reason.isEmpty()
                && run.err.contains(reason)
                && (reason.isEmpty()
                    || run.err.contains(split.mid(1) + QStringLiteral(".damaged"))),
            qPrintable(run.out + run.err));
        // The listing says it too.
        arguments[0] = QStringLiteral("--list");
        arguments.removeAt(2);
        const ToolRun list = quorlin(arguments);
        QVERIFY2(reason.isEmpty()
                || (list.out.contains(reason) && list.out.contains(QLatin1String("damaged"))),
            qPrintable(list.out + list.err));
    }
};

QTEST_GUILESS_MAIN(TestScannerVolumes)
#include "tst_scanner_volumes.moc"
