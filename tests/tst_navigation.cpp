#include "app/app_globals.h"
#include "app/korveltapedrive.h"
#include "imaging/imaging_state.h"
#include "window_test_access.h"

#include <QtTest>

using A = KorvelTapeDriveTestAccess;

namespace {

const QString kCreateHint = QStringLiteral(
    "Select this option to create a new image of the tape drive. This image can later be used to "
    "\nrecover data.");
const QString kCreateHintAgain = QStringLiteral(
    "Select this option to create a new image of the tape drive.This image can later be used to "
    "\nrecover data.");
const QString kLoadHint = QStringLiteral(
    "Load an already existing image of the tape drive to scan and recover data from it.");

/// The one page a user sees: the topmost shown page frame.
QString visiblePage(KorvelTapeDrive &w)
{
    const QList<QPair<QString, QFrame *>> pagesTopFirst = {
        { QStringLiteral("selected"), A::selectedImagePageFrame(w) },
        { QStringLiteral("load"), A::loadPageFrame(w) },
        { QStringLiteral("progress"), A::progressPageFrame(w) },
        { QStringLiteral("destination"), A::destinationPageFrame(w) },
        { QStringLiteral("option"), A::optionPageFrame(w) },
        { QStringLiteral("connect"), A::connectPageFrame(w) },
    };
    for (const auto &page : pagesTopFirst) {
        if (!page.second->isHidden())
            return page.first;
    }
    return QStringLiteral("none");
}

/// Runs the menu animation one tick at a time (no event loop, so the real
/// timer never fires) and writes down each item that changed, as
/// "tick:+item" or "tick:-item", and the tick on which the timer stopped.
QString recordAnimation(KorvelTapeDrive &w, int ticks)
{
    const QList<QPair<QString, QWidget *>> items = {
        { QStringLiteral("back"), A::backBtn(w) },
        { QStringLiteral("home"), A::homeBtn(w) },
        { QStringLiteral("separator"), A::menuSeparatorLabel(w) },
        { QStringLiteral("help"), A::helpBtn(w) },
        { QStringLiteral("about"), A::aboutBtn(w) },
    };
    QStringList log;
    for (int tick = 1; tick <= ticks && A::toolBarTimer(w)->isActive(); ++tick) {
        QVector<bool> before;
        for (const auto &item : items)
            before << item.second->isHidden();
        A::tick(w);
        for (int i = 0; i < items.size(); ++i) {
            if (items[i].second->isHidden() != before[i])
                log << QStringLiteral("%1:%2%3").arg(tick).arg(
                    before[i] ? QStringLiteral("+") : QStringLiteral("-"), items[i].first);
        }
        if (!A::toolBarTimer(w)->isActive())
            log << QStringLiteral("stop@%1").arg(tick);
    }
    return log.join(QLatin1Char(' '));
}

} // namespace

class TestNavigation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        A::forceScale(1.0f);
        // Should a test reach the connection sequence, let it fail at once.
        qputenv("TAPE", "/nonexistent/tarnwick-test-tape");
    }

    void init()
    {
        createOptionSelected = false;
        loadOptionSelected = false;
        selectedImageMark = false;
        loadedImagePath.clear();
        ImagingState::driveOpen = true; // the drive is there unless a test says otherwise
        ImagingState::abortFlag = false;
        ImagingState::imagePath.clear();
        ImagingState::ejectFlag = false;
        ImagingState::turnOffFlag = false;
    }

    // --- option page and Next ------------------------------------------------

    void nextChoosesTheRoad_data()
    {
        QTest::addColumn<QString>("tiles"); // clicked in this order
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("hint");
        QTest::newRow("no tile clicked") << ""
                                         << "destination" << kCreateHint;
        QTest::newRow("create") << "create"
                                << "destination" << kCreateHint;
        QTest::newRow("load") << "load"
                              << "load" << kLoadHint;
        QTest::newRow("load, then create") << "load,create"
                                           << "destination" << kCreateHint;
        QTest::newRow("create, then load") << "create,load"
                                           << "load" << kLoadHint;
    }
    void nextChoosesTheRoad()
    {
        QFETCH(QString, tiles);
        QFETCH(QString, page);
        KorvelTapeDrive w;
        ImagingState::imagePath = QStringLiteral("/old/image.tape");
        loadedImagePath = QStringLiteral("/old/loaded.tape");
        for (const QString &tile : tiles.split(QLatin1Char(','), Qt::SkipEmptyParts))
            (tile == QLatin1String("create") ? A::createImageBtn(w) : A::loadImageBtn(w))->click();
        QTEST(A::createHintLabel(w)->text(), "hint");
        const bool loadChosen = tiles.endsWith(QLatin1String("load"));
        QCOMPARE(A::loadImageBtn(w)->styleSheet(),
            QStringLiteral("QPushButton{border-image: url(:/images/100/%1)}")
                .arg(loadChosen ? QLatin1String("img_EraseImageH.png")
                                : QLatin1String("img_EraseImageN.png")));
        QCOMPARE(visiblePage(w), QStringLiteral("option")); // a tile alone changes no page

        A::optionNextBtn(w)->click();
        QCOMPARE(visiblePage(w), page);
        QVERIFY(!createOptionSelected);
        QVERIFY(!loadOptionSelected);
        // Each road forgets the image of its own earlier visit only.
        if (page == QLatin1String("load")) {
            QVERIFY(loadedImagePath.isEmpty());
            QCOMPARE(ImagingState::imagePath, QStringLiteral("/old/image.tape"));
        } else {
            QVERIFY(ImagingState::imagePath.isEmpty());
            QCOMPARE(loadedImagePath, QStringLiteral("/old/loaded.tape"));
        }
        QVERIFY(!A::backBtn(w)->isHidden());
        QVERIFY(A::homeBtn(w)->isHidden());
        QCOMPARE(A::backBtn(w)->x(), 56);
        QCOMPARE(A::helpBtn(w)->x(), 86);
    }

    void nextWithClosedMenuShowsNoBackUntilOpened()
    {
        KorvelTapeDrive w;
        A::menuBtn(w)->setChecked(false);
        A::optionNextBtn(w)->click();
        QVERIFY(A::backBtn(w)->isHidden());
        QVERIFY(A::homeBtn(w)->isHidden());
        A::menuBtn(w)->click(); // opens
        QCOMPARE(recordAnimation(w, 1), QString());
        QCOMPARE(recordAnimation(w, 1), QStringLiteral("1:+back")); // tick 2: Back first
    }

    void checkBoxesSetTheirFlags()
    {
        KorvelTapeDrive w;
        A::ejectCheckBox(w)->setChecked(true);
        QVERIFY(ImagingState::ejectFlag);
        QVERIFY(!ImagingState::turnOffFlag);
        A::turnOffCheckBox(w)->setChecked(true);
        QVERIFY(ImagingState::turnOffFlag);
        A::ejectCheckBox(w)->setChecked(false);
        QVERIFY(!ImagingState::ejectFlag);

        // Next copies both boxes again, whatever the flags say.
        ImagingState::ejectFlag = true;
        ImagingState::turnOffFlag = false;
        A::optionNextBtn(w)->click();
        QVERIFY(!ImagingState::ejectFlag);
        QVERIFY(ImagingState::turnOffFlag);
    }

    // --- Back and Home -------------------------------------------------------

    void backTwiceFromDestinationUsesTheSecondSpelling()
    {
        KorvelTapeDrive w;
        A::loadImageBtn(w)->click();
        A::createImageBtn(w)->click();
        A::optionNextBtn(w)->click();
        A::destinationPathEdit(w)->setText(QStringLiteral("/media/backup"));
        A::backBtn(w)->click();
        A::optionNextBtn(w)->click();
        QCOMPARE(visiblePage(w), QStringLiteral("destination"));
        A::backBtn(w)->click();

        QCOMPARE(visiblePage(w), QStringLiteral("option"));
        QCOMPARE(A::createHintLabel(w)->text(), kCreateHintAgain);
        QVERIFY(A::createImageBtn(w)->styleSheet().contains(QLatin1String("img_CreateImageH")));
        QVERIFY(A::loadImageBtn(w)->styleSheet().contains(QLatin1String("img_EraseImageN")));
        QVERIFY(A::backBtn(w)->isHidden());
        QVERIFY(!A::backShown(w));
        QVERIFY(A::destinationPathEdit(w)->toPlainText().isEmpty());
        QCOMPARE(A::helpBtn(w)->x(), 56);
    }

    void backFromSelectedImageKeepsTheLoadedImage()
    {
        KorvelTapeDrive w;
        A::loadImageBtn(w)->click();
        A::optionNextBtn(w)->click();
        enterSelectedImagePage(w);

        A::backBtn(w)->click();
        QCOMPARE(visiblePage(w), QStringLiteral("load"));
        QVERIFY(A::loadPathEdit(w)->toPlainText().isEmpty());
        QCOMPARE(loadedImagePath, QStringLiteral("/data/old.tape"));
        QVERIFY(!selectedImageMark);
        QVERIFY(A::homeBtn(w)->isHidden());
        QCOMPARE(A::helpBtn(w)->x(), 86); // Back, Help, About again

        A::backBtn(w)->click();
        QCOMPARE(visiblePage(w), QStringLiteral("option"));
    }

    void homeForgetsTheSelectedImage()
    {
        KorvelTapeDrive w;
        A::loadImageBtn(w)->click();
        A::optionNextBtn(w)->click();
        enterSelectedImagePage(w);

        A::homeBtn(w)->click();
        QCOMPARE(visiblePage(w), QStringLiteral("option"));
        QCOMPARE(A::createHintLabel(w)->text(), kCreateHintAgain);
        QVERIFY(A::loadPathEdit(w)->toPlainText().isEmpty());
        QVERIFY(A::backBtn(w)->isHidden());
        QVERIFY(A::homeBtn(w)->isHidden());
        QCOMPARE(A::helpBtn(w)->x(), 56);
        QVERIFY(!A::menuOnlyHelpAbout(w));

        // The first Back on the load page goes home, as its button promises.
        A::loadImageBtn(w)->click();
        A::optionNextBtn(w)->click();
        A::backBtn(w)->click();
        QCOMPARE(visiblePage(w), QStringLiteral("option"));
    }

    void homeFromImageCreatedKeepsTheDrive()
    {
        KorvelTapeDrive w;
        A::optionNextBtn(w)->click();
        // The Image Created page as the completion step leaves it.
        A::destinationPageFrame(w)->hide();
        A::progressPageFrame(w)->show();
        A::imageCreatedShown(w) = true;
        A::backShown(w) = false;
        A::homeShown(w) = true;
        A::layout(w);
        A::homeShown(w) = false;
        A::homeBtn(w)->show();

        A::homeBtn(w)->click();
        QCOMPARE(visiblePage(w), QStringLiteral("option"));
        QVERIFY(A::connectPageFrame(w)->isHidden());
        QVERIFY(!A::imageCreatedShown(w));
        QVERIFY(ImagingState::driveOpen);

        A::optionNextBtn(w)->click();
        QCOMPARE(visiblePage(w), QStringLiteral("destination"));
    }

    void backOnTheDisconnectedPageReturnsToTheOptions()
    {
        ImagingState::driveOpen = false;
        KorvelTapeDrive w;
        A::optionNextBtn(w)->click();
        // Without a drive the connection page stays, with no page above it.
        QCOMPARE(visiblePage(w), QStringLiteral("connect"));
        QVERIFY(!A::backBtn(w)->isHidden());

        A::backBtn(w)->click();
        QCOMPARE(visiblePage(w), QStringLiteral("option"));
        QVERIFY(A::backBtn(w)->isHidden());
    }

    // --- menu animation ------------------------------------------------------

    void menuAnimation_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("opening");
        QTest::addColumn<QString>("log");
        QTest::newRow("option, open")
            << "option" << true << "2:+separator 4:+help 6:+about stop@12";
        QTest::newRow("option, close")
            << "option" << false << "6:-about 8:-help 10:-separator stop@12";
        QTest::newRow("back, open")
            << "back" << true << "2:+back 4:+separator 6:+help 8:+about stop@14";
        QTest::newRow("back, close")
            << "back" << false << "6:-about 8:-help 10:-separator 12:-back stop@14";
        QTest::newRow("image created, open")
            << "created" << true << "2:+home 4:+separator 6:+help 8:+about stop@14";
        QTest::newRow("image created, close")
            << "created" << false << "6:-about 8:-help 10:-separator 12:-home stop@14";
        QTest::newRow("back and home, open")
            << "backHome" << true << "2:+back 4:+home 6:+separator 8:+help 10:+about stop@16";
        QTest::newRow("back and home, close") << "backHome" << false
                                              << "6:-about 8:-help 10:-separator 12:-home "
                                                 "14:-back stop@16";
        // After an abandoned run the option page still has no Back.
        QTest::newRow("option after abandoned run")
            << "abandoned" << true << "2:+separator 4:+help 6:+about stop@12";
    }
    void menuAnimation()
    {
        QFETCH(QString, page);
        QFETCH(bool, opening);
        KorvelTapeDrive w;
        A::backShown(w) = page == QLatin1String("back") || page == QLatin1String("backHome");
        A::homeAndBackShown(w) = page == QLatin1String("backHome");
        A::imageCreatedShown(w) = page == QLatin1String("created");
        ImagingState::abortFlag = page == QLatin1String("abandoned");

        // Start from the opposite end state so every change is visible.
        QWidget *const items[] = { A::backBtn(w), A::homeBtn(w), A::menuSeparatorLabel(w),
            A::helpBtn(w), A::aboutBtn(w) };
        for (QWidget *item : items)
            item->setVisible(!opening);
        A::menuBtn(w)->setChecked(!opening);
        A::menuBtn(w)->click();
        QCOMPARE(A::menuBtn(w)->isChecked(), opening);
        QCOMPARE(A::toolBarTimer(w)->interval(), 15);

        QTEST(recordAnimation(w, 40), "log");
    }

    void menuClickRestartsTheAnimation()
    {
        KorvelTapeDrive w;
        A::menuBtn(w)->click(); // closing
        QCOMPARE(recordAnimation(w, 7), QStringLiteral("6:-about"));
        A::menuBtn(w)->click(); // opening again from the start
        QCOMPARE(recordAnimation(w, 40), QStringLiteral("6:+about stop@12"));
    }

private:
    /// The selected-image page as accepting a chosen image leaves it.
    static void enterSelectedImagePage(KorvelTapeDrive &w)
    {
        loadedImagePath = QStringLiteral("/data/old.tape");
        A::loadPathEdit(w)->setText(loadedImagePath);
        A::loadPageFrame(w)->hide();
        A::selectedImagePageFrame(w)->show();
        selectedImageMark = true;
        A::homeAndBackShown(w) = true;
        A::layout(w);
        A::homeBtn(w)->show();
    }
};

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
