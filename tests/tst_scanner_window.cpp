#include "scanner/ui/scanner_window.h"
#include "tst_scanner_images.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

using namespace ScannerTest;

/// Whether the Name column shows @p item's name whole, past its indentation and check box.
bool nameFits(QTreeWidget *tree, QTreeWidgetItem *item)
{
    const QRect cell = tree->visualItemRect(item);
    const int textWidth = tree->fontMetrics().horizontalAdvance(item->text(0));
    return tree->columnWidth(0) - (cell.left() - tree->header()->sectionPosition(0)) > textWidth;
}

class TestScannerWindow : public QObject
{
    Q_OBJECT

private slots:
    void listsTheFilesAndExtractsTheCheckedOnes()
    {
        QTemporaryDir dir;
        const QVector<File> files = sampleFiles(21);
        const QString path = dir.filePath(QStringLiteral("Tape_Image_(window).tape"));
        QByteArray body
            = asRecords(makeArchive(ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_NONE, files), 10240);
        body += QByteArray(10240, '\0') + QByteArray(20000, 'r');
        QVERIFY(writeFile(path, body + ImageFile::trailerText(10240, 10240)));

        ScannerWindow window(path);
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isBusy(), 20000);
        auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("foundTree"));
        QCOMPARE(tree->topLevelItemCount(), 2); // the archive and the raw region
        QTreeWidgetItem *archive = tree->topLevelItem(0);
        QCOMPARE(archive->childCount(), files.size());
        for (int i = 0; i < files.size(); ++i)
            QCOMPARE(archive->child(i)->text(0), files[i].name);
        QVERIFY(nameFits(tree, archive->child(files.size() - 1)));
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("heading"))
                    ->text()
                    .contains(QLatin1String("window")));

        archive->child(1)->setCheckState(0, Qt::Unchecked);
        QCOMPARE(archive->checkState(0), Qt::PartiallyChecked);
        auto *extract = window.findChild<QPushButton *>(QStringLiteral("extractButton"));
        auto *folder = window.findChild<QLineEdit *>(QStringLiteral("folderEdit"));
        QCOMPARE(folder->text(), dir.filePath(QStringLiteral("Tape_Image_(window) - recovered")));
        folder->clear();
        QVERIFY(!extract->isEnabled()); // no folder
        QTemporaryDir out;
        QTest::keyClicks(folder, out.path());
        QVERIFY(extract->isEnabled());
        QTest::mouseClick(extract, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.isBusy(), 20000);

        const auto read = [&](const QString &name) { return fileBytes(out.filePath(name)); };
        QCOMPARE(read(QStringLiteral("archive-1/docs/file-0.bin")), files[0].data);
        QCOMPARE(read(QStringLiteral("archive-1/docs/file-2.bin")), files[2].data);
        QVERIFY(!QFile::exists(out.filePath(QStringLiteral("archive-1/docs/file-1.bin"))));
        QCOMPARE(window.result().rawRegions.size(), 1);
        const QString raw = QStringLiteral("raw-%1.bin").arg(window.result().rawRegions[0].offset);
        QCOMPARE(read(raw).left(20000), QByteArray(20000, 'r'));
        QCOMPARE(
            window.findChild<QProgressBar *>(QStringLiteral("extractProgress"))->value(), 1000);
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("status"))->text(),
            QStringLiteral("Extracted 3 file(s) to %1.").arg(out.path()));
    }

    void windowWithoutTrailerSaysSo()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cut.tape"));
        QVERIFY(writeFile(path, QByteArray(5000, 'z')));
        ScannerWindow window(path);
        QTRY_VERIFY_WITH_TIMEOUT(!window.isBusy(), 20000);
        // The result came before the window was ever shown: its names must still be readable.
        window.show();
        auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("foundTree"));
        QVERIFY(nameFits(tree, tree->topLevelItem(0)));
        bool said = false;
        for (const QLabel *label : window.findChildren<QLabel *>())
            said = said || label->text().contains(QLatin1String("image without trailer"));
        QVERIFY(said);
        QCOMPARE(window.result().rawRegions.size(), 1);
    }

    void drawsInTheMainWindowsStandIn_data()
    {
        QTest::addColumn<QString>("widget"); // its object name; empty: the window itself
        QTest::newRow("window") << QString();
        QTest::newRow("heading") << QStringLiteral("heading");
        QTest::newRow("file list") << QStringLiteral("foundTree");
        QTest::newRow("status line") << QStringLiteral("status");
    }

    // Fault caught: the widgets inside the window drew in the application's
    // default font, not the window's (a style sheet on the window keeps its
    // font from its children): Liberation Mono where only Liberation is
    // installed. And the first stand-in named was one that need not be installed.
    void drawsInTheMainWindowsStandIn()
    {
        QFETCH(QString, widget);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("fonts.tape"));
        QVERIFY(writeFile(path, QByteArray(5000, 'z')));
        ScannerWindow window(path);
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isBusy(), 20000);

        const QStringList installed = QFontDatabase().families();
        if (installed.contains(QStringLiteral("Segoe UI"), Qt::CaseInsensitive))
            QSKIP("the wanted face itself is installed");
        const QStringList standIns = QFont::substitutes(QStringLiteral("Segoe UI"));
        QVERIFY(!standIns.isEmpty());
        QVERIFY2(installed.contains(standIns.first(), Qt::CaseInsensitive),
            qPrintable(standIns.first()));
        QWidget *shown = widget.isEmpty() ? &window : window.findChild<QWidget *>(widget);
        QVERIFY(shown);
        const QFontInfo info(shown->font());
        QCOMPARE(info.family().toLower(), standIns.first().toLower());
        QVERIFY(!info.fixedPitch());
    }
};

QTEST_MAIN(TestScannerWindow)
#include "tst_scanner_window.moc"
