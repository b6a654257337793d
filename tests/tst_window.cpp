#include "app/app_globals.h"
#include "app/fonts.h"
#include "app/korveltapedrive.h"
#include "app/ui/scale_set.h"
#include "window_test_access.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using A = KorvelTapeDriveTestAccess;

namespace {

/// Every widget's style sheet with the widget it belongs to.
QStringList missingStyleImages(KorvelTapeDrive &window)
{
    static const QRegularExpression url(QStringLiteral("url\\(([^)]*)\\)"));
    QStringList missing;
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        auto it = url.globalMatch(widget->styleSheet());
        while (it.hasNext()) {
            const QString path = it.next().captured(1);
            if (!QFile::exists(path))
                missing << path;
        }
    }
    return missing;
}

/// Sends a mouse event where a real click at @p pos would land: the deepest
/// child there, from which Qt lets an unhandled event propagate to the window.
void sendMouse(KorvelTapeDrive &window, QEvent::Type type, QPoint pos, Qt::MouseButton button,
    Qt::MouseButtons buttons)
{
    QWidget *target = window.childAt(pos);
    if (!target)
        target = &window;
    const QPoint local = target->mapFrom(&window, pos);
    QMouseEvent event(type, local, window.mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { A::forceScale(0.0f); }

    // --- scale factor --------------------------------------------------------

    void scaleFactorFromDpi_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<float>("scale");
        QTest::newRow("72 below the sets") << 72 << 0.75f;
        QTest::newRow("96 exact") << 96 << 1.0f;
        QTest::newRow("97 raised") << 97 << 1.25f;
        QTest::newRow("110 raised") << 110 << 1.25f;
        QTest::newRow("120 exact") << 120 << 1.25f;
        QTest::newRow("121 raised") << 121 << 1.5f;
        QTest::newRow("144 exact") << 144 << 1.5f;
        QTest::newRow("192 above the sets") << 192 << 2.0f;
    }
    void scaleFactorFromDpi()
    {
        QFETCH(int, dpi);
        QFETCH(float, scale);
        QCOMPARE(scaleFactorForDpi(dpi), scale);
    }

    // Run as a child process with QT_FONT_DPI set: prints what the real screen
    // query gave the window. Skipped when not asked for.
    void reportDetectedScale()
    {
        if (qEnvironmentVariableIsEmpty("TARNWICK_REPORT_SCALE"))
            QSKIP("only run as a child of windowFollowsScreenDensity");
        KorvelTapeDrive window;
        printf("detected %g %dx%d\n", static_cast<double>(scaleFactor), window.width(),
            window.height());
        fflush(stdout);
    }

    void windowFollowsScreenDensity_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<QString>("expected");
        QTest::newRow("96") << 96 << QStringLiteral("1 850x600");
        QTest::newRow("120") << 120 << QStringLiteral("1.25 1062x750");
        QTest::newRow("144") << 144 << QStringLiteral("1.5 1275x900");
        QTest::newRow("192") << 192 << QStringLiteral("2 1700x1200");
    }
    void windowFollowsScreenDensity()
    {
        QFETCH(int, dpi);
        QFETCH(QString, expected);
        // QT_FONT_DPI is read once per process, so each density needs its own.
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_FONT_DPI"), QString::number(dpi));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TARNWICK_REPORT_SCALE"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.start(
            QCoreApplication::applicationFilePath(), { QStringLiteral("reportDetectedScale") });
        QVERIFY(child.waitForFinished(30000));
        const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
        QCOMPARE(child.exitCode(), 0);
        const QRegularExpression line(QStringLiteral("detected (\\S+ \\S+)"));
        const auto match = line.match(output);
        QVERIFY2(match.hasMatch(), qPrintable(output));
        QCOMPARE(match.captured(1), expected);
    }

    // --- geometry ------------------------------------------------------------

    void regionsAtScale_data()
    {
        QTest::addColumn<float>("scale");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QRect>("titleBar");
        QTest::addColumn<QRect>("menuBar");
        QTest::addColumn<QRect>("page");
        QTest::addColumn<QRect>("nextButton");
        QTest::addColumn<QRect>("loadTile");
        QTest::addColumn<int>("bottomBorderY");
        QTest::addColumn<int>("rightBorderX");
        QTest::newRow("1.0") << 1.0f << QSize(850, 600) << QRect(0, 0, 850, 30)
                             << QRect(0, 30, 850, 40) << QRect(0, 70, 850, 530)
                             << QRect(710, 480, 117, 32) << QRect(426, 130, 240, 240) << 599 << 849;
        QTest::newRow("1.25") << 1.25f << QSize(1062, 750) << QRect(0, 0, 1062, 37)
                              << QRect(0, 37, 1062, 50) << QRect(0, 87, 1062, 662)
                              << QRect(887, 600, 146, 40) << QRect(532, 162, 300, 300) << 749
                              << 1061;
        QTest::newRow("1.5") << 1.5f << QSize(1275, 900) << QRect(0, 0, 1275, 45)
                             << QRect(0, 45, 1275, 60) << QRect(0, 105, 1275, 795)
                             << QRect(1065, 720, 175, 48) << QRect(639, 195, 360, 360) << 899
                             << 1274;
        QTest::newRow("2.0") << 2.0f << QSize(1700, 1200) << QRect(0, 0, 1700, 60)
                             << QRect(0, 60, 1700, 80) << QRect(0, 140, 1700, 1060)
                             << QRect(1420, 960, 234, 64) << QRect(852, 260, 480, 480) << 1199
                             << 1699;
    }
    void regionsAtScale()
    {
        QFETCH(float, scale);
        A::forceScale(scale);
        KorvelTapeDrive w;
        QFETCH(QSize, window);
        QCOMPARE(w.minimumSize(), window);
        QCOMPARE(w.maximumSize(), window);
        QTEST(A::titleBarFrame(w)->geometry(), "titleBar");
        QTEST(A::menuBarFrame(w)->geometry(), "menuBar");
        QFETCH(QRect, page);
        for (QFrame *frame :
            { A::connectPageFrame(w), A::optionPageFrame(w), A::destinationPageFrame(w),
                A::progressPageFrame(w), A::loadPageFrame(w), A::selectedImagePageFrame(w) })
            QCOMPARE(frame->geometry(), page);
        QFETCH(QRect, nextButton);
        for (QPushButton *button : { A::optionNextBtn(w), A::retryBtn(w), A::createBtn(w) }) {
            QCOMPARE(button->geometry(), nextButton);
            QCOMPARE(button->maximumSize(), nextButton.size());
        }
        // The browse buttons have the action buttons' size.
        QCOMPARE(A::browseDestinationBtn(w)->size(), nextButton.size());
        QTEST(A::loadImageBtn(w)->geometry(), "loadTile");
        QTEST(A::bottomBorderLabel(w)->y(), "bottomBorderY");
        QTEST(A::rightBorderLabel(w)->x(), "rightBorderX");
    }

    void menuBarPacking_data()
    {
        QTest::addColumn<float>("scale");
        QTest::addColumn<bool>("homeAndBack");
        QTest::addColumn<bool>("back");
        QTest::addColumn<bool>("onlyHelpAbout");
        QTest::addColumn<bool>("home");
        // Expected x of Back, Home, Help, About; -1: not placed by this call.
        QTest::addColumn<QVector<int>>("xs");
        using V = QVector<int>;
        QTest::newRow("no flag") << 1.0f << false << false << false << false
                                 << V { -1, -1, 56, 86 };
        QTest::newRow("back") << 1.0f << false << true << false << false << V { 56, -1, 86, 116 };
        QTest::newRow("home and back")
            << 1.0f << true << false << false << false << V { 56, 86, 116, 146 };
        QTest::newRow("home and back wins over back")
            << 1.0f << true << true << false << false << V { 56, 86, 116, 146 };
        QTest::newRow("only help and about after back")
            << 1.0f << false << true << true << false << V { 56, -1, 56, 86 };
        QTest::newRow("home") << 1.0f << false << false << false << true << V { -1, 56, 86, 116 };
        QTest::newRow("home after home and back: later step wins")
            << 1.0f << true << false << false << true << V { 56, 56, 86, 116 };
        QTest::newRow("home and back at 1.5")
            << 1.5f << true << false << false << false << V { 84, 129, 174, 219 };
    }
    void menuBarPacking()
    {
        QFETCH(float, scale);
        QFETCH(QVector<int>, xs);
        A::forceScale(scale);
        KorvelTapeDrive w;
        QPushButton *const items[]
            = { A::backBtn(w), A::homeBtn(w), A::helpBtn(w), A::aboutBtn(w) };
        // Park every item somewhere no rule uses, to see which ones move.
        for (QPushButton *item : items)
            item->move(500, 0);
        QFETCH(bool, homeAndBack);
        QFETCH(bool, back);
        QFETCH(bool, onlyHelpAbout);
        QFETCH(bool, home);
        A::homeAndBackShown(w) = homeAndBack;
        A::backShown(w) = back;
        A::menuOnlyHelpAbout(w) = onlyHelpAbout;
        A::homeShown(w) = home;
        A::layout(w);
        const int side = scaled(20);
        for (int i = 0; i < 4; ++i) {
            const QRect expected = xs[i] < 0 ? QRect(500, 0, items[i]->width(), items[i]->height())
                                             : QRect(xs[i], scaled(10), side, side);
            QCOMPARE(items[i]->geometry(), expected);
        }
    }

    // --- scale sets, styles and texts ----------------------------------------

    void scaleSet_data()
    {
        QTest::addColumn<float>("scale");
        QTest::addColumn<int>("set");
        QTest::addColumn<QString>("helpPressed"); // spelt differently in the 100 set
        QTest::newRow("1.0") << 1.0f << 100 << "img_HelpDisabler.png";
        QTest::newRow("1.25") << 1.25f << 125 << "img_HelpDisable.png";
        QTest::newRow("1.5") << 1.5f << 150 << "img_HelpDisable.png";
        QTest::newRow("1.75") << 1.75f << 150 << "img_HelpDisable.png";
        QTest::newRow("2.0") << 2.0f << 150 << "img_HelpDisable.png";
        QTest::newRow("0.75") << 0.75f << 0 << "";
    }
    void scaleSet()
    {
        QFETCH(float, scale);
        QFETCH(int, set);
        QCOMPARE(scaleSetFor(scale), set);

        A::forceScale(scale);
        KorvelTapeDrive w;
        const QString close = A::closeBtn(w)->styleSheet();
        if (set == 0) {
            // Default look: no image style, no picture, no animation.
            QVERIFY(close.isEmpty());
            QVERIFY(!A::connectedMovie(w));
            QVERIFY(!A::connectedMovieLabel(w)->movie());
            QVERIFY(A::dividerLabel(w)->pixmap(Qt::ReturnByValue).isNull());
        } else {
            QVERIFY2(close.contains(QStringLiteral(":/images/%1/").arg(set)), qPrintable(close));
            QVERIFY(A::connectedMovie(w));
            QCOMPARE(A::connectedMovieLabel(w)->movie(), A::connectedMovie(w));
            QFETCH(QString, helpPressed);
            QVERIFY(A::helpBtn(w)->styleSheet().endsWith(
                QStringLiteral("pressed { border-image: url(:/images/%1/%2);}")
                    .arg(set)
                    .arg(helpPressed)));
        }
        // Colours and the progress bar do not depend on the set.
        QCOMPARE(
            A::menuBarFrame(w)->styleSheet(), QStringLiteral("background-color:rgb(235,235,235)"));
    }

    void resourcesExist_data()
    {
        QTest::addColumn<float>("scale");
        QTest::newRow("100") << 1.0f;
        QTest::newRow("125") << 1.25f;
        QTest::newRow("150") << 1.5f;
    }
    void resourcesExist()
    {
        QFETCH(float, scale);
        A::forceScale(scale);
        KorvelTapeDrive w;
        QStringList missing = missingStyleImages(w);
        // The tiles' other images appear once the load tile is chosen.
        A::loadImageBtn(w)->click();
        missing << missingStyleImages(w);
        missing.removeDuplicates();
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char(' '))));

        int index = 0;
        for (QLabel *picture : A::pictureLabels(w)) {
            QVERIFY2(!picture->pixmap(Qt::ReturnByValue).isNull(),
                qPrintable(QStringLiteral("picture %1 is empty").arg(index)));
            ++index;
        }
        QVERIFY(A::connectedMovie(w)->isValid());
    }

    void textsKeepTheirBlanks()
    {
        A::forceScale(1.0f);
        KorvelTapeDrive w;
        QCOMPARE(A::recommendedLabel(w)->text(), QStringLiteral(" (Recommended)"));
        QCOMPARE(A::savingAtLabel(w)->text(), QStringLiteral("Saving the image of tape at: "));
        QCOMPARE(A::destinationHintLabel(w)->text(),
            QStringLiteral(
                "Select the destination path where the tape drive image is to be saved. "));
        QCOMPARE(A::createHintLabel(w)->text(),
            QStringLiteral("Select this option to create a new image of the tape drive. This "
                           "image can later be used to \nrecover data."));
        QCOMPARE(A::titleLabel(w)->font().family(), QStringLiteral("Segoe UI Semibold"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Tarnwick"));
    }

    void missingFontsGetAnInstalledStandIn()
    {
        installFontSubstitutes();
        const QStringList installed = QFontDatabase().families();
        for (const QString &wanted :
            { QStringLiteral("Segoe UI"), QStringLiteral("Segoe UI Semibold") }) {
            if (installed.contains(wanted, Qt::CaseInsensitive))
                continue;
            const QStringList standIns = QFont::substitutes(wanted);
            QVERIFY2(!standIns.isEmpty(), qPrintable(wanted));
            // Not whatever fontconfig falls back to, but the first stand-in.
            QCOMPARE(QFontInfo(QFont(wanted, 10)).family().toLower(), standIns.first().toLower());
        }
    }

    // --- start-up state ------------------------------------------------------

    void initialState()
    {
        A::forceScale(1.0f);
        KorvelTapeDrive w;
        QCOMPARE(w.objectName(), QStringLiteral("KorvelTapeDriveClass"));
        QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(w.testAttribute(Qt::WA_TransparentForMouseEvents));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QVERIFY(A::optionPageFrame(w)->isVisible());
        // The connection page is not hidden, only covered by the option page.
        QVERIFY(A::connectPageFrame(w)->isVisible());
        for (QWidget *hidden :
            std::initializer_list<QWidget *> { A::destinationPageFrame(w), A::progressPageFrame(w),
                A::loadPageFrame(w), A::selectedImagePageFrame(w), A::backBtn(w), A::homeBtn(w),
                A::notConnectedLabel(w), A::scanCreatedHintLabel(w), A::imagePathInfoLabel(w),
                A::imageSizeInfoLabel(w), A::selectedImagePathLabel(w), A::completedLabel(w) })
            QVERIFY(hidden->isHidden());

        QCOMPARE(A::aboutBtn(w)->toolTip(), QStringLiteral("About"));
        QCOMPARE(A::helpBtn(w)->toolTip(), QStringLiteral("Help"));
        QCOMPARE(A::homeBtn(w)->toolTip(), QStringLiteral("Home"));
        QCOMPARE(A::backBtn(w)->toolTip(), QStringLiteral("Back"));
        QCOMPARE(A::menuBtn(w)->toolTip(), QStringLiteral("Menu"));

        QVERIFY(A::loadPathEdit(w)->isReadOnly());
        QCOMPARE(A::loadPathEdit(w)->textInteractionFlags(), Qt::NoTextInteraction);
        QVERIFY(A::destinationPathEdit(w)->isReadOnly());
        for (QPushButton *b : { A::loadImageBtn(w), A::createImageBtn(w), A::closeBtn(w),
                 A::minimizeBtn(w), A::menuBtn(w), A::retryBtn(w) })
            QCOMPARE(b->focusPolicy(), Qt::NoFocus);

        // The menu starts open and its animation ends after 12 ticks of 15 ms.
        QVERIFY(A::menuBtn(w)->isCheckable());
        QVERIFY(A::menuBtn(w)->isChecked());
        QCOMPARE(A::toolBarTimer(w)->interval(), 15);
        QTest::qWait(300);
        QVERIFY(!A::toolBarTimer(w)->isActive());
        QVERIFY(A::menuSeparatorLabel(w)->isVisible());
        QVERIFY(A::helpBtn(w)->isVisible());
        QVERIFY(A::aboutBtn(w)->isVisible());
        QVERIFY(A::backBtn(w)->isHidden());
    }

    // --- title-strip drag ----------------------------------------------------

    void titleStripDrag_data()
    {
        QTest::addColumn<float>("scale");
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<int>("buttonValue"); // Qt::MouseButton
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<bool>("moves");
        QTest::newRow("title text")
            << 1.0f << QPoint(360, 15) << int(Qt::LeftButton) << false << true;
        QTest::newRow("empty title bar")
            << 1.0f << QPoint(100, 10) << int(Qt::LeftButton) << false << true;
        QTest::newRow("last strip pixel")
            << 1.0f << QPoint(601, 29) << int(Qt::LeftButton) << false << true;
        QTest::newRow("first pixel right of the strip")
            << 1.0f << QPoint(602, 10) << int(Qt::LeftButton) << false << false;
        QTest::newRow("menu bar below the strip")
            << 1.0f << QPoint(300, 45) << int(Qt::LeftButton) << false << false;
        QTest::newRow("right button")
            << 1.0f << QPoint(360, 15) << int(Qt::RightButton) << false << false;
        QTest::newRow("double click")
            << 1.0f << QPoint(360, 15) << int(Qt::LeftButton) << true << false;
        QTest::newRow("1.25 strip end")
            << 1.25f << QPoint(751, 36) << int(Qt::LeftButton) << false << true;
        QTest::newRow("1.25 right of the strip")
            << 1.25f << QPoint(780, 20) << int(Qt::LeftButton) << false << false;
    }
    void titleStripDrag()
    {
        QFETCH(float, scale);
        QFETCH(QPoint, press);
        QFETCH(int, buttonValue);
        const auto button = static_cast<Qt::MouseButton>(buttonValue);
        QFETCH(bool, doubleClick);
        QFETCH(bool, moves);
        A::forceScale(scale);
        KorvelTapeDrive w;
        w.move(100, 100);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QPoint start = w.pos();

        sendMouse(w, QEvent::MouseButtonPress, press, button, button);
        if (doubleClick) {
            // Qt's order: press, release, double click; the double click
            // must not start a drag of its own.
            sendMouse(w, QEvent::MouseButtonRelease, press, button, Qt::NoButton);
            sendMouse(w, QEvent::MouseButtonDblClick, press, button, button);
        }
        const QPoint delta(40, 25);
        sendMouse(w, QEvent::MouseMove, press + delta, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w.pos(), moves ? start + delta : start);

        sendMouse(w, QEvent::MouseButtonRelease, press + delta, button, Qt::NoButton);
        QVERIFY(!A::titleDragging(w));
        const QPoint afterRelease = w.pos();
        sendMouse(w, QEvent::MouseMove, press + delta * 2, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w.pos(), afterRelease);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
