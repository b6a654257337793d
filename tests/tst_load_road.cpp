// The load road through the real window. The hand-off to the scanner, which ends the
// program, is the end-to-end run's (tests/e2e), on both roads.
#include "common/app_globals.h"
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
};

QTEST_MAIN(TestLoadRoad)
#include "tst_load_road.moc"
