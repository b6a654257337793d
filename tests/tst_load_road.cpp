// The load road and the scanner hand-off, through the real window. The
// hand-off runs in a child process: this test binary copied into a temporary
// application folder next to a stub scanner that records its arguments.
#include "common/app_globals.h"
#include "imaging/imaging_state.h"
#include "scan/image_loading.h"

#include "modal_helper.h"
#include "tape_fixtures.h"
#include "window_test_access.h"

#include <QtTest>

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

    void selectedImage_data()
    {
        QTest::addColumn<QString>("name"); // in a fresh folder; with a '/': a path of its own
        QTest::addColumn<qint64>("size"); // -1: no such file (gone before Next)
        QTest::addColumn<QString>("text");
        QTest::newRow("one MiB") << "My Tape (1).tape" << qint64(1048576)
                                 << QStringLiteral("Image Size:  1.00 MB in disk");
        QTest::newRow("gone, long path")
            << QStringLiteral("/begin/") + QString(300, QLatin1Char('x'))
                + QStringLiteral("/end.tape")
            << qint64(-1) << QStringLiteral("Image Size:  0.00 KB in disk");
    }

    void selectedImage()
    {
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QTemporaryDir dir;
        const QString path = name.startsWith(QLatin1Char('/')) ? name : dir.filePath(name);
        if (size >= 0)
            QVERIFY(writeFile(path, QByteArray(int(size), 'i')));

        KorvelTapeDrive window;
        window.show();
        A::loadImageBtn(window)->click();
        A::optionNextBtn(window)->click();
        chooseFile(window, path);
        QCOMPARE(loadedImagePath, path);
        QCOMPARE(A::loadPathEdit(window)->toPlainText(), path);
        QCOMPARE(
            A::selectedImagePathLabel(window)->toolTip(), QStringLiteral("Image Path:  ") + path);
        QMetaObject::invokeMethod(&window, "scanImage");
        QCOMPARE(A::visiblePage(window), QStringLiteral("selected"));
        QTEST(A::selectedImageSizeLabel(window)->text(), "text");
        // A long path: whole in its box, cut in the middle on the selected-image page.
        const QString shown = A::selectedImagePathLabel(window)->text();
        QCOMPARE(shown.contains(QChar(0x2026)), size < 0);
        QVERIFY(shown.startsWith(path.left(7)));
        QVERIFY(shown.endsWith(QStringLiteral(".tape")));
        if (size < 0)
            QVERIFY(A::wrapsFromTheStart(A::loadPathEdit(window)));
    }

    void cancelledChoiceThenNextShowsMessageAndStays()
    {
        KorvelTapeDrive window;
        chooseFile(window, QStringLiteral("/tmp/a.tape"));
        chooseFile(window, QString()); // cancelling empties the choice
        QVERIFY(loadedImagePath.isEmpty());
        QVERIFY(A::loadPathEdit(window)->toPlainText().isEmpty());
        ModalAnswerer answerer;
        QMetaObject::invokeMethod(&window, "scanImage");
        QCOMPARE(answerer.messages.size(), 1);
        QCOMPARE(answerer.messages.first().title, QStringLiteral("Select Image"));
        QCOMPARE(answerer.messages.first().message,
            QStringLiteral("You need to select an image to scan for data."));
        QVERIFY(A::selectedImagePageFrame(window)->isHidden());
        QVERIFY(!selectedImageMark);
    }

    void handoff_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<QString>("image");
        QTest::addColumn<bool>("scanner"); // without one the program still quits cleanly
        QTest::newRow("loaded image, blanks")
            << QByteArray("Scanexe") << QStringLiteral("/data/my tapes/Tape (1).tape") << true;
        QTest::newRow("created image")
            << QByteArray("ScanexeCreate") << QStringLiteral("/srv/Tape_Image_(Sat Dec 05).tape")
            << true;
        QTest::newRow("no scanner")
            << QByteArray("Scanexe") << QStringLiteral("/nowhere.tape") << false;
    }

    void handoff()
    {
        QFETCH(QByteArray, slot);
        QFETCH(QString, image);
        QFETCH(bool, scanner);
        QTemporaryDir appDir;
        const QString probe = appDir.filePath(QStringLiteral("probe"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), probe));
        QFile::setPermissions(probe, QFile::permissions(probe) | QFile::ExeOwner);
        const QByteArray record = QFile::encodeName(appDir.filePath(QStringLiteral("args.txt")));
        const QString stub = appDir.filePath(QStringLiteral("quorlin"));
        if (scanner) {
            QVERIFY(writeFile(stub,
                "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" + record + ".tmp\"\nmv \"" + record
                    + ".tmp\" \"" + record + "\"\n"));
            QFile::setPermissions(stub, QFile::permissions(stub) | QFile::ExeOwner);
        }

        QProcess child;
        child.start(probe, { QStringLiteral("--handoff-probe"), QString::fromLatin1(slot), image });
        QVERIFY(child.waitForFinished(15000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0); // the loop was quit by the hand-off
        if (!scanner)
            return;
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QFile::decodeName(record)), 5000);
        QCOMPARE(QString::fromUtf8(fileBytes(QFile::decodeName(record))),
            QStringLiteral("1\n") + image + QLatin1Char('\n'));
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
