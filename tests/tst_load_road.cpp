// The load road and the scanner hand-off, through the real window. The
// hand-off runs in a child process: this test binary copied into a temporary
// application folder next to a stub scanner that records its arguments.
#include "app/app_globals.h"
#include "app/korveltapedrive.h"
#include "dialogs/repairfinishdialog.h"
#include "imaging/imaging_state.h"
#include "scan/image_loading.h"

#include <QLabel>
#include <QTextEdit>
#include <QtTest>

#include "modal_helper.h"

class KorvelTapeDriveTestAccess
{
public:
    static QTextEdit *loadPathEdit(KorvelTapeDrive &w) { return w.loadPathEdit; }
    static QLabel *pathLabel(KorvelTapeDrive &w) { return w.selectedImagePathLabel; }
    static QLabel *sizeLabel(KorvelTapeDrive &w) { return w.selectedImageSizeLabel; }
    static QWidget *selectedPage(KorvelTapeDrive &w) { return w.selectedImagePageFrame; }
};
using Access = KorvelTapeDriveTestAccess;

namespace {

void chooseFile(KorvelTapeDrive &window, const QString &path)
{
    ImageLoading::openFileDialog = [path](QWidget *, const QString &, const QString &filter) {
        return filter == QLatin1String("Image Files (*.tape)") ? path : QStringLiteral("?");
    };
    QMetaObject::invokeMethod(&window, "browseImagePathLoad");
}

// Child mode: start the hand-off of the given slot and report how the loop ended.
int runHandoffProbe(int argc, char **argv)
{
    QApplication app(argc, argv);
    KorvelTapeDrive window;
    const QByteArray slot = argv[2];
    const QString path = QString::fromLocal8Bit(argv[3]);
    if (slot == "Scanexe")
        loadedImagePath = path;
    else
        ImagingState::imagePath = path;
    QTimer::singleShot(0, &window, [&] { QMetaObject::invokeMethod(&window, slot.constData()); });
    QTimer::singleShot(10000, &app, [] { QCoreApplication::exit(3); });
    return QApplication::exec();
}

} // namespace

class TestLoadRoad : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // process-wide values, as one run of the program would start with them
        selectedImageMark = false;
        loadedImagePath.clear();
    }

    void sizeLine_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << qint64(0) << QStringLiteral("Image Size:  0.00 KB in disk");
        QTest::newRow("just under a MiB")
            << qint64(1048575) << QStringLiteral("Image Size:  1024.00 KB in disk");
        QTest::newRow("one MiB") << qint64(1048576) << QStringLiteral("Image Size:  1.00 MB in disk");
    }

    void sizeLine()
    {
        QFETCH(qint64, size);
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("My Tape (1).tape"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
        file.close();

        KorvelTapeDrive window;
        chooseFile(window, path);
        QCOMPARE(loadedImagePath, path);
        QCOMPARE(Access::loadPathEdit(window)->toPlainText(), path);
        QCOMPARE(Access::pathLabel(window)->toolTip(), QStringLiteral("Image Path:  ") + path);
        QMetaObject::invokeMethod(&window, "scanImage");
        QVERIFY(!Access::selectedPage(window)->isHidden());
        QCOMPARE(Access::sizeLabel(window)->text(), text);
    }

    void fileGoneBeforeNextShowsZeroKilobytes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("gone.tape"));
        KorvelTapeDrive window;
        chooseFile(window, path);
        QMetaObject::invokeMethod(&window, "scanImage");
        QCOMPARE(Access::sizeLabel(window)->text(), QStringLiteral("Image Size:  0.00 KB in disk"));
        QCOMPARE(loadedImagePath, path);
    }

    void longPathIsElidedInTheMiddle()
    {
        const QString path = QStringLiteral("/begin/") + QString(300, QLatin1Char('x'))
            + QStringLiteral("/end.tape");
        KorvelTapeDrive window;
        chooseFile(window, path);
        const QString shown = Access::pathLabel(window)->text();
        QVERIFY(shown.startsWith(QStringLiteral("/begin/")));
        QVERIFY(shown.endsWith(QStringLiteral("end.tape")));
        QVERIFY(shown.contains(QChar(0x2026)));
    }

    void nextWithoutImageShowsMessageAndStays()
    {
        KorvelTapeDrive window;
        chooseFile(window, QString());
        QString title;
        QString message;
        whenModalShown([&](QWidget *modal) {
            auto *dialog = qobject_cast<repairFinishDialog *>(modal);
            if (dialog) {
                title = dialog->label_8->text();
                message = dialog->repairedLabl->text();
            }
            modal->close();
        });
        QMetaObject::invokeMethod(&window, "scanImage");
        QCOMPARE(title, QStringLiteral("Select Image"));
        QCOMPARE(message, QStringLiteral("You need to select an image to scan for data."));
        QVERIFY(Access::selectedPage(window)->isHidden());
        QVERIFY(!selectedImageMark);
    }

    void cancellingEmptiesTheChoice()
    {
        KorvelTapeDrive window;
        chooseFile(window, QStringLiteral("/tmp/a.tape"));
        chooseFile(window, QString());
        QVERIFY(loadedImagePath.isEmpty());
        QVERIFY(Access::loadPathEdit(window)->toPlainText().isEmpty());
    }

    void handoff_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<QString>("image");
        QTest::newRow("loaded image, blanks") << QByteArray("Scanexe")
                                              << QStringLiteral("/data/my tapes/Tape (1).tape");
        QTest::newRow("created image") << QByteArray("ScanexeCreate")
                                       << QStringLiteral("/srv/Tape_Image_(Sat Dec 05).tape");
    }

    void handoff()
    {
        QFETCH(QByteArray, slot);
        QFETCH(QString, image);
        QTemporaryDir appDir;
        const QString probe = appDir.filePath(QStringLiteral("probe"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), probe));
        QFile::setPermissions(probe, QFile::permissions(probe) | QFile::ExeOwner);
        const QString record = appDir.filePath(QStringLiteral("args.txt"));
        QFile stub(appDir.filePath(QStringLiteral("quorlin")));
        QVERIFY(stub.open(QIODevice::WriteOnly));
        stub.write("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" + record.toUtf8() + ".tmp\"\n"
                   "mv \"" + record.toUtf8() + ".tmp\" \"" + record.toUtf8() + "\"\n");
        stub.close();
        stub.setPermissions(stub.permissions() | QFile::ExeOwner);

        QProcess child;
        child.start(probe, {QStringLiteral("--handoff-probe"), QString::fromLatin1(slot), image});
        QVERIFY(child.waitForFinished(15000));
        QCOMPARE(child.exitCode(), 0); // the loop was quit by the hand-off
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 5000);
        QFile recorded(record);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(recorded.readAll()),
                 QStringLiteral("1\n") + image + QLatin1Char('\n'));
    }

    void handoffQuitsWithoutScanner()
    {
        QTemporaryDir appDir;
        const QString probe = appDir.filePath(QStringLiteral("probe"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), probe));
        QProcess child;
        child.start(probe, {QStringLiteral("--handoff-probe"), QStringLiteral("Scanexe"),
                            QStringLiteral("/nowhere.tape")});
        QVERIFY(child.waitForFinished(15000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }
};

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--handoff-probe") == 0)
        return runHandoffProbe(argc, argv);
    QApplication app(argc, argv);
    TestLoadRoad test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_load_road.moc"
