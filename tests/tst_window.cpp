#include "common/app_globals.h"
#include "common/fonts.h"
#include "common/scale_set.h"
#include "window_test_access.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

/// The url(...) paths of every widget's style sheet that name no compiled-in resource.
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

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { A::forceScale(0.0f); }

    // The density gives the scale, the scale its picture set, and every picture it names exists.
    void scaleAndPictures_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<float>("scale");
        QTest::addColumn<int>("set");
        QTest::addColumn<QString>("window"); // as a real start on such a screen builds it
        QTest::newRow("72 below the sets") << 72 << 0.75f << 0 << "";
        QTest::newRow("96 exact") << 96 << 1.0f << 100 << "";
        QTest::newRow("97 raised") << 97 << 1.25f << 125 << "";
        QTest::newRow("120 exact") << 120 << 1.25f << 125 << "1.25 1062x750";
        QTest::newRow("121 raised") << 121 << 1.5f << 150 << "";
        QTest::newRow("144 exact") << 144 << 1.5f << 150 << "";
        QTest::newRow("192 above the sets") << 192 << 2.0f << 150 << "2 1700x1200";
    }
    void scaleAndPictures()
    {
        QFETCH(int, dpi);
        QFETCH(float, scale);
        QFETCH(int, set);
        QFETCH(QString, window);
        QCOMPARE(scaleFactorForDpi(dpi), scale);
        QCOMPARE(scaleSetFor(scale), set);
        A::forceScale(scale);
        KorvelTapeDrive w;
        const QString close = A::closeBtn(w)->styleSheet();
        if (set == 0) {
            // Default look: no image style, no picture, no animation.
            QVERIFY(close.isEmpty());
            QVERIFY(!A::connectedMovie(w));
            QVERIFY(A::dividerLabel(w)->pixmap(Qt::ReturnByValue).isNull());
        } else {
            QVERIFY2(close.contains(QStringLiteral(":/images/%1/").arg(set)), qPrintable(close));
            QVERIFY(A::connectedMovie(w)->isValid());
            // Every picture named anywhere exists, so a misspelt name in any set shows here.
            QStringList missing = missingStyleImages(w);
            A::loadImageBtn(w)->click(); // the tiles' other images appear once it is chosen
            missing << missingStyleImages(w);
            QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char(' '))));
            for (QLabel *picture : A::pictureLabels(w))
                QVERIFY(!picture->pixmap(Qt::ReturnByValue).isNull());
        }
        if (window.isEmpty())
            return;
        // QT_FONT_DPI is read once per process, so each density needs its own.
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_FONT_DPI"), QString::number(dpi));
        env.insert(QStringLiteral("TARNWICK_REPORT_SCALE"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.start(
            QCoreApplication::applicationFilePath(), { QStringLiteral("reportDetectedScale") });
        QVERIFY(child.waitForFinished(30000));
        const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
        QVERIFY2(output.contains(QStringLiteral("detected ") + window), qPrintable(output));
    }

    // Run as a child by scaleAndPictures: prints what the real screen query gave the window.
    void reportDetectedScale()
    {
        if (qEnvironmentVariableIsEmpty("TARNWICK_REPORT_SCALE"))
            QSKIP("only run as a child of scaleAndPictures");
        KorvelTapeDrive window;
        printf("detected %g %dx%d\n", double(scaleFactor), window.width(), window.height());
        fflush(stdout);
    }

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
        // clang-format off
        QTest::newRow("1.25") << 1.25f << QSize(1062, 750) << QRect(0, 0, 1062, 37)
            << QRect(0, 37, 1062, 50) << QRect(0, 87, 1062, 662) << QRect(887, 600, 146, 40)
            << QRect(532, 162, 300, 300) << 749 << 1061;
        QTest::newRow("1.5") << 1.5f << QSize(1275, 900) << QRect(0, 0, 1275, 45)
            << QRect(0, 45, 1275, 60) << QRect(0, 105, 1275, 795) << QRect(1065, 720, 175, 48)
            << QRect(639, 195, 360, 360) << 899 << 1274;
        // clang-format on
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
        QCOMPARE(A::browseDestinationBtn(w)->size(), nextButton.size());
        QTEST(A::loadImageBtn(w)->geometry(), "loadTile");
        QTEST(A::bottomBorderLabel(w)->y(), "bottomBorderY");
        QTEST(A::rightBorderLabel(w)->x(), "rightBorderX");
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
        // The semibold face stays semibold whatever weight a widget asks for.
        if (!installed.contains(QStringLiteral("Lato Semibold")))
            QSKIP("no stand-in with a semibold face is installed");
        for (const int weight : { int(QFont::Normal), int(QFont::Bold) }) {
            QFont semibold(QStringLiteral("Segoe UI Semibold"), 10);
            semibold.setWeight(weight);
            QCOMPARE(QFontInfo(semibold).styleName(), QStringLiteral("Semibold"));
        }
    }

    void initialState()
    {
        A::forceScale(1.0f);
        KorvelTapeDrive w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        // The connection page is not hidden, only covered by the option page. (The menu starts
        // open: the navigation tests start from there.)
        QVERIFY(A::optionPageFrame(w)->isVisible());
        QVERIFY(A::connectPageFrame(w)->isVisible());
        for (QWidget *hidden :
            std::initializer_list<QWidget *> { A::destinationPageFrame(w), A::progressPageFrame(w),
                A::loadPageFrame(w), A::selectedImagePageFrame(w), A::backBtn(w), A::homeBtn(w),
                A::notConnectedLabel(w), A::scanCreatedHintLabel(w), A::imagePathInfoLabel(w),
                A::imageSizeInfoLabel(w), A::selectedImagePathLabel(w), A::completedLabel(w) })
            QVERIFY(hidden->isHidden());
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
