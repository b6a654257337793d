// How the window and the dialogs look and move: the scale a screen's density gives, the
// pictures and fonts, the scaled geometry, texts and buttons, the title strips' drag.
#include "common/app_globals.h"
#include "common/fonts.h"
#include "common/scale_set.h"
#include "dialogs/aboutdlg.h"
#include "modal_helper.h"
#include "window_test_access.h"

#include <QBitmap>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QProcess>
#include <QRegularExpression>
#include <QTextEdit>
#include <QtTest>
#include <memory>
#include <tuple>

namespace {

std::unique_ptr<QDialog> makeDialog(const QString &kind)
{
    if (kind == QLatin1String("close"))
        return std::make_unique<CloseApplicationDlg>();
    if (kind == QLatin1String("yesno"))
        return std::make_unique<YesNoApplicationDlg>();
    if (kind == QLatin1String("about"))
        return std::make_unique<AboutDlg>();
    return std::make_unique<repairFinishDialog>();
}

QLabel *label(QDialog *dialog, const char *name)
{
    return dialog->findChild<QLabel *>(QLatin1String(name));
}

void showAt(QWidget *widget, const QPoint &position)
{
    widget->move(position);
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget));
}

/// Sends a mouse event where a real one at @p pos would land: the deepest child there,
/// from which Qt lets an unhandled event propagate to the window.
void sendMouse(
    QWidget *widget, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held)
{
    QWidget *target = widget->childAt(pos);
    if (!target)
        target = widget;
    QMouseEvent event(
        type, target->mapFrom(widget, pos), widget->mapToGlobal(pos), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

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

class TestLook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); } // as the program does at start

    void cleanup() { A::forceScale(0.0f); }

    void init()
    {
        scaleFactor = 1.0f;
        dialogDragging = false;
        aboutDragging = false;
    }

    // Each dialog: its size and one child's place at a scale, its window kind, title, message
    // and the buttons it shows.
    void dialogs_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<float>("scale");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("widget");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("title"); // empty: the About dialog's own labels
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("buttons"); // shown, sorted, between "|"
        const int splash = Qt::SplashScreen;
        // clang-format off
        QTest::newRow("close") << "close" << 1.25f << QSize(617, 220) << "frame"
            << QRect(1, 0, 616, 218) << splash << "Exit" << "Are you sure you want to exit?" << "No|Yes";
        QTest::newRow("yesno") << "yesno" << 1.25f << QSize(617, 220) << "label_3"
            << QRect(218, 7, 20, 20) << splash << "     Block Size Mismatch"
            << "Selected block size is larger than the tape block size.This will have an impact "
               "on the recovery of data.Do you want to continue?" << "No|Yes";
        QTest::newRow("repair") << "repair" << 1.5f << QSize(600, 259) << "repairedLabl"
            << QRect(150, 37, 523, 133) << int(Qt::Window | Qt::FramelessWindowHint)
            << "      Choose location" << "Choose the location." << "OK";
        QTest::newRow("about") << "about" << 1.5f << QSize(903, 552) << "CloseButton"
            << QRect(300, 421, 124, 39) << 0 << "" << "" << "";
        // clang-format on
    }

    void dialogs()
    {
        QFETCH(QString, kind);
        QFETCH(QSize, size);
        QFETCH(QRect, rect);
        QFETCH(int, flags);
        QFETCH(QString, title);
        QFETCH(float, scale);
        QFETCH(QString, widget);
        scaleFactor = scale;
        const auto dialog = makeDialog(kind);
        QCOMPARE(dialog->minimumSize(), size);
        QCOMPARE(dialog->maximumSize(), size);
        auto *child = dialog->findChild<QWidget *>(widget);
        QVERIFY(child);
        QCOMPARE(child->geometry(), rect);
        QCOMPARE(child->minimumSize(), rect.size());
        if (title.isEmpty())
            return;
        showAt(dialog.get(), QPoint(50, 50));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Tarnwick"));
        QCOMPARE(int(dialog->windowType()), flags & Qt::WindowType_Mask);
        QCOMPARE(dialog->windowFlags().testFlag(Qt::FramelessWindowHint),
            bool(flags & Qt::FramelessWindowHint));
        QCOMPARE(label(dialog.get(), "label_8")->text(), title);
        QLabel *message
            = label(dialog.get(), kind == QLatin1String("repair") ? "repairedLabl" : "label_2");
        QTEST(message->text(), "message");
        QVERIFY(message->wordWrap());
        QStringList shown;
        for (QPushButton *each : dialog->findChildren<QPushButton *>())
            if (each->isVisible()
                && dialog->childAt(each->geometry().center()) == each) // not covered
                shown << each->text();
        shown.sort();
        QTEST(shown.join(QLatin1Char('|')), "buttons");
    }

    // The title strips of the window and the dialogs move them; a press below a strip, right
    // of the window's strip, with another button or as a double click does not.
    void dragging_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<float>("scale");
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<QString>("how"); // "left", "right" or "double"
        QTest::addColumn<bool>("moves");
        // clang-format off
        QTest::newRow("close strip") << "close" << 1.0f << QPoint(480, 29) << "left" << true;
        QTest::newRow("close below strip") << "close" << 1.0f << QPoint(100, 30) << "left" << false;
        QTest::newRow("close right button") << "close" << 1.0f << QPoint(100, 10) << "right" << false;
        QTest::newRow("repair 1.5 strip") << "repair" << 1.5f << QPoint(590, 44) << "left" << true;
        QTest::newRow("repair 1.5 below") << "repair" << 1.5f << QPoint(20, 45) << "left" << false;
        QTest::newRow("about 1.25 last strip row") << "about" << 1.25f << QPoint(700, 36) << "left"
            << true;
        QTest::newRow("about 1.25 below strip") << "about" << 1.25f << QPoint(700, 37) << "left"
            << false;
        QTest::newRow("window title text") << "window" << 1.0f << QPoint(360, 15) << "left" << true;
        QTest::newRow("window, right of the strip") << "window" << 1.0f << QPoint(602, 10) << "left"
            << false;
        QTest::newRow("window, below the strip") << "window" << 1.0f << QPoint(300, 30) << "left"
            << false;
        QTest::newRow("window double click") << "window" << 1.0f << QPoint(360, 15) << "double"
            << false;
        QTest::newRow("window 1.25 strip end") << "window" << 1.25f << QPoint(751, 36) << "left"
            << true;
        // clang-format on
    }

    void dragging()
    {
        QFETCH(QString, kind);
        QFETCH(float, scale);
        QFETCH(QPoint, press);
        QFETCH(QString, how);
        QFETCH(bool, moves);
        scaleFactor = scale;
        A::forceScale(scale);
        std::unique_ptr<KorvelTapeDrive> window;
        std::unique_ptr<QDialog> dialog;
        QWidget *widget = nullptr;
        const bool *dragging = kind == QLatin1String("about") ? &aboutDragging : &dialogDragging;
        if (kind == QLatin1String("window")) {
            window = std::make_unique<KorvelTapeDrive>();
            widget = window.get();
            dragging = &A::titleDragging(*window);
        } else {
            dialog = makeDialog(kind);
            widget = dialog.get();
        }
        showAt(widget, QPoint(100, 80));
        const QPoint start = widget->pos();
        const auto button = how == QLatin1String("right") ? Qt::RightButton : Qt::LeftButton;
        sendMouse(widget, QEvent::MouseButtonPress, press, button, button);
        if (how == QLatin1String("double")) {
            // Qt's order: press, release, double click; the double click must not start a
            // drag of its own.
            sendMouse(widget, QEvent::MouseButtonRelease, press, button, Qt::NoButton);
            sendMouse(widget, QEvent::MouseButtonDblClick, press, button, button);
        }
        QCOMPARE(*dragging, moves);
        const QPoint delta(37, 21);
        sendMouse(widget, QEvent::MouseMove, press + delta, Qt::NoButton, button);
        QCOMPARE(widget->pos(), moves ? start + delta : start);
        sendMouse(widget, QEvent::MouseButtonRelease, press + delta, button, Qt::NoButton);
        QVERIFY(!*dragging);
        // After the release a move with no button held leaves it where it is.
        const QPoint settled = widget->pos();
        sendMouse(widget, QEvent::MouseMove, press, Qt::NoButton, Qt::NoButton);
        QCOMPARE(widget->pos(), settled);
    }

    // The centred titles must clear the logo at their left at every scale; the fonts are in
    // points, so at 1.25 and 1.5 the screen's density makes them larger too.
    void titlesClearTheirLogos_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("logoX"); // base units; -1: where the dialog puts it
        QTest::addColumn<float>("scale");
        const QList<std::tuple<const char *, QString, int>> uses = {
            { "yesno", QStringLiteral("     Block Size Mismatch"), -1 },
            { "close", QStringLiteral("Exit"), -1 },
            { "repair", QStringLiteral("   Insufficient space"), -1 },
            { "repair", QStringLiteral("             Select Destination Path"), -1 },
            { "repair", QStringLiteral("Select Image"), -1 },
            { "repair", QStringLiteral("         Tarnwick"), 105 },
            { "repair", QStringLiteral("Exit"), 165 },
            { "repair", QStringLiteral("   Tape position unknown"), 100 },
            { "repair", QStringLiteral("   Image not created"), 100 },
            { "repair", QStringLiteral("   Image incomplete"), 100 },
        };
        for (const float scale : { 1.0f, 1.25f, 1.5f })
            for (const auto &use : uses)
                QTest::addRow("%s at %g", qPrintable(std::get<1>(use).trimmed()), double(scale))
                    << std::get<0>(use) << std::get<1>(use) << std::get<2>(use) << scale;
    }

    void titlesClearTheirLogos()
    {
        QFETCH(QString, title);
        QFETCH(int, logoX);
        QFETCH(float, scale);
        scaleFactor = scale;
        QFETCH(QString, kind);
        const auto dialog = makeDialog(kind);
        QLabel *titleLabel = label(dialog.get(), "label_8");
        QLabel *logo = label(dialog.get(), "label_3");
        titleLabel->setText(title);
        if (logoX >= 0)
            placeScaledSquare(logo, logoX, 6, 16);
        QFont font = titleLabel->font();
        font.setPointSizeF(font.pointSizeF() * double(scale));
        const QFontMetricsF metrics(font);
        const int blanks = title.size() - title.trimmed().size();
        const qreal letters = titleLabel->x()
            + (titleLabel->width() - metrics.horizontalAdvance(title)) / 2
            + metrics.horizontalAdvance(title.left(blanks)) + metrics.leftBearing(title.at(blanks));
        const int logoEnd = logo->x() + logo->width();
        QVERIFY2(letters >= logoEnd + 1,
            qPrintable(QStringLiteral("title from %1, logo to %2").arg(letters).arg(logoEnd)));
    }

    void messageMaskCoversTheDialog()
    {
        scaleFactor = 1.25f;
        repairFinishDialog dialog;
        dialog.resize(dialog.size());
        showAt(&dialog, QPoint(10, 10));
        QCOMPARE(dialog.mask(), QRegion(dialog.rect()));
    }

    // The density gives the scale, the scale its picture set, and every picture it names exists
    // (96 and 144 dpi, exact, are the end-to-end run's).
    void scaleAndPictures_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<float>("scale");
        QTest::addColumn<int>("set");
        QTest::addColumn<QString>("window"); // as a real start on such a screen builds it
        QTest::newRow("72 below the sets") << 72 << 0.75f << 0 << "";
        QTest::newRow("97 raised") << 97 << 1.25f << 125 << "";
        QTest::newRow("120 exact") << 120 << 1.25f << 125 << "1.25 1062x750";
        QTest::newRow("121 raised") << 121 << 1.5f << 150 << "";
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

    // The window at 1.25, the scale the end-to-end run does not click through: rounded
    // regions, and the borders on the last pixel row and column.
    void regionsAtScale()
    {
        A::forceScale(1.25f);
        KorvelTapeDrive w;
        QCOMPARE(w.minimumSize(), QSize(1062, 750));
        QCOMPARE(w.maximumSize(), QSize(1062, 750));
        QCOMPARE(A::titleBarFrame(w)->geometry(), QRect(0, 0, 1062, 37));
        QCOMPARE(A::menuBarFrame(w)->geometry(), QRect(0, 37, 1062, 50));
        for (QFrame *frame :
            { A::connectPageFrame(w), A::optionPageFrame(w), A::destinationPageFrame(w),
                A::progressPageFrame(w), A::loadPageFrame(w), A::selectedImagePageFrame(w) })
            QCOMPARE(frame->geometry(), QRect(0, 87, 1062, 662));
        const QRect next(887, 600, 146, 40);
        for (QPushButton *button : { A::optionNextBtn(w), A::retryBtn(w), A::createBtn(w) })
            QVERIFY(button->geometry() == next && button->maximumSize() == next.size());
        QCOMPARE(A::browseDestinationBtn(w)->size(), next.size());
        QCOMPARE(A::loadImageBtn(w)->geometry(), QRect(532, 162, 300, 300));
        QCOMPARE(A::bottomBorderLabel(w)->y(), 749);
        QCOMPARE(A::rightBorderLabel(w)->x(), 1061);
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

    // The 150 % company logo had the reel's wound-tape ring cut into it, unlike the other
    // sets: in each set the reel is solid between its windows and its rim.
    void companyLogoIsOneDrawing_data()
    {
        QTest::addColumn<int>("set");
        for (const int set : { 100, 125, 150 })
            QTest::addRow("%d", set) << set;
    }
    void companyLogoIsOneDrawing()
    {
        QFETCH(int, set);
        const QImage logo(QStringLiteral(":/images/%1/img_CompanyLogo.png").arg(set));
        QVERIFY(!logo.isNull());
        // The reel's radius is 9.5 and its centre (10.5, 12), in 26ths of the height.
        const double unit = logo.height() / 26.0;
        const double radius = 9.5 * unit;
        const QPoint belowTheWindows(int(unit + radius), int(12 * unit + 0.8 * radius));
        QCOMPARE(qAlpha(logo.pixel(belowTheWindows)), 255);
    }

    // Every text of the window is in the stand-in of the face it names; the path boxes were
    // left in the toolkit's default font.
    void textsUseTheNamedFaces()
    {
        installFontSubstitutes();
        A::forceScale(1.0f);
        KorvelTapeDrive w;
        const QStringList faces { QFontInfo(QFont(QStringLiteral("Segoe UI"), 10)).family(),
            QFontInfo(QFont(QStringLiteral("Segoe UI Semibold"), 10)).family() };
        QStringList strays;
        for (QWidget *widget : w.findChildren<QWidget *>()) {
            QString text;
            if (auto *label = qobject_cast<QLabel *>(widget))
                text = label->text();
            else if (auto *button = qobject_cast<QAbstractButton *>(widget))
                text = button->text();
            else if (qobject_cast<QTextEdit *>(widget) || qobject_cast<QComboBox *>(widget))
                text = QStringLiteral("(a box for text)");
            const QString family = QFontInfo(widget->font()).family();
            if (!text.isEmpty() && !faces.contains(family)) {
                strays << QStringLiteral("%1 at %2,%3 \"%4\": %5")
                              .arg(QLatin1String(widget->metaObject()->className()))
                              .arg(widget->x())
                              .arg(widget->y())
                              .arg(text.left(20), family);
            }
        }
        QVERIFY2(strays.isEmpty(), qPrintable(strays.join(QLatin1String("; "))));
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

QTEST_MAIN(TestLook)
#include "tst_look.moc"
