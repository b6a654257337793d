#include "app/korveltapedrive.h"
#include "common/app_globals.h"
#include "dialogs/aboutdlg.h"
#include "platform/win32_registry.h"
#include "tape_fixtures.h"

#include <QDesktopServices>
#include <QDir>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>
#include <memory>

// Stands in for the desktop: records what would have been opened.
class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

namespace {

const char *const kSchemes[] = { "", "http", "https", "file", "mailto", "smb" };

// The anchor of a rich-text label as a browser would read it back.
struct Anchor
{
    QString href;
    QString text;
};

Anchor readAnchor(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    Anchor anchor;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isAnchor()) {
                anchor.href = fragment.charFormat().anchorHref();
                anchor.text += fragment.text();
            }
        }
    return anchor;
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_dir.path()));
        qputenv("TARNWICK_OS_RELEASE", QFile::encodeName(osRelease()));
        for (const char *scheme : kSchemes)
            QDesktopServices::setUrlHandler(QLatin1String(scheme), &m_recorder, "open");
    }

    void init()
    {
        scaleFactor = 1.0f;
        settingsPath = QLatin1String(kApplicationKeyPath);
        m_recorder.opened.clear();
        QFile::remove(applicationSettingsFile());
        writeOsRelease("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION_ID=\"12\"\n");
    }

    void cleanupTestCase()
    {
        m_window.reset();
        for (const char *scheme : kSchemes)
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    }

    void operatingSystem_data()
    {
        QTest::addColumn<QByteArray>("osRelease");
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("version");
        const QString kernel = QStringLiteral("kernel");
        // clang-format off
        QTest::newRow("full name") << QByteArray("PRETTY_NAME=\"Changed Linux 13\"\nVERSION_ID=13\n")
            << "Changed Linux 13" << "13";
        QTest::newRow("seven characters") << QByteArray("PRETTY_NAME='Debian7'\nVERSION_ID=7\n")
            << "Debian7" << "7";
        QTest::newRow("six characters switch both")
            << QByteArray("PRETTY_NAME=Debian\nVERSION_ID=\"12\"\n") << kernel << kernel;
        QTest::newRow("escaped quote")
            << QByteArray("# comment\nPRETTY_NAME=\"Tarn \\\"OS\\\" 1\"\nVERSION_ID=1\n")
            << "Tarn \"OS\" 1" << "1";
        // clang-format on
    }

    // Read when the dialog is made and again on a change of language; the support link
    // is read once.
    void operatingSystem()
    {
        QFETCH(QByteArray, osRelease);
        QFETCH(QString, product);
        QFETCH(QString, version);
        writeSettings("EmailSup=mailto:a@example.com\nEmailSupText=first");
        AboutDlg dialog;
        QCOMPARE(dialog.OSLabel->text(), QStringLiteral("Debian GNU/Linux 12 (bookworm)"));
        const QString link = dialog.SupportBtn->text();
        writeOsRelease(osRelease);
        writeSettings("EmailSupText=second");
        QEvent change(QEvent::LanguageChange);
        QApplication::sendEvent(&dialog, &change);
        const RegistryKey kernelKey { QLatin1String(kWindowsVersionKeyPath) };
        if (product == QLatin1String("kernel")) {
            product = kernelKey.stringValue(QStringLiteral("ProductName"));
            version = kernelKey.stringValue(QStringLiteral("CurrentVersion"));
            QVERIFY(product == QLatin1String("Linux") && !version.isEmpty());
        }
        QCOMPARE(dialog.OSLabel->text(), product);
        QCOMPARE(dialog.VersionLabel->text(), version);
        QCOMPARE(dialog.SupportBtn->text(), link);
    }

    // The values as an installation writes them: plain lines, commas and all. Help opens only
    // web addresses, the support link web and mail ones; anything else opens nothing (both
    // doors read and check the value alike: one row of each kind).
    void links_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("target"); // what opens, or the link's; empty: nothing
        QTest::addColumn<QString>("text"); // the support link's
        // clang-format off
        QTest::newRow("help absent") << QByteArray() << "" << "";
        QTest::newRow("help address") << QByteArray("KB=https://help.example.com/a")
            << "https://help.example.com/a" << "";
        QTest::newRow("help blank, tolerated") << QByteArray("KB=http://help.example.com/b c")
            << "http://help.example.com/b%20c" << "";
        QTest::newRow("help local file") << QByteArray("KB=file:///etc/passwd") << "" << "";
        QTest::newRow("help mail") << QByteArray("KB=mailto:a@example.com") << "" << "";
        QTest::newRow("support absent") << QByteArray() << "" << "";
        QTest::newRow("support mail") << QByteArray("EmailSup=mailto:support@example.com\n"
            "EmailSupText=support@example.com") << "mailto:support@example.com"
            << "support@example.com";
        QTest::newRow("support comma in the text") << QByteArray("EmailSup=https://example.com/s?a=1,2\n"
            "EmailSupText=Support, Tarnwick team") << "https://example.com/s?a=1,2"
            << "Support, Tarnwick team";
        QTest::newRow("support quotes and brackets") << QByteArray("EmailSup=https://example.com/a?q=\"x\"&b=<c>\n"
            "EmailSupText=Help \"now\" <b>bold</b> & more") << "https://example.com/a?q=\"x\"&b=<c>"
            << "Help \"now\" <b>bold</b> & more";
        QTest::newRow("support option") << QByteArray("EmailSup=--help\nEmailSupText=x") << "" << "";
        // clang-format on
    }

    // One window for all Help rows: the address is read again on every click.
    void links()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, target);
        writeSettings(ini);
        const bool help = QByteArray(QTest::currentDataTag()).startsWith("help");
        const QByteArray line = ini.split('\n').first(); // KB or EmailSup
        const QString value = QString::fromUtf8(line.mid(line.indexOf('=') + 1));
        if (target.isEmpty() && !value.isEmpty())
            QTest::ignoreMessage(QtWarningMsg,
                qPrintable(
                    QStringLiteral("tarnwick: %1 does not open \"%2\": only %3 addresses")
                        .arg(help ? QStringLiteral("Help") : QStringLiteral("the support link"),
                            value,
                            help ? QStringLiteral("http/https")
                                 : QStringLiteral("mailto/http/https"))));
        if (help) {
            if (!m_window)
                m_window.reset(new KorvelTapeDrive);
            QVERIFY(QMetaObject::invokeMethod(m_window.get(), "helpOnline"));
            QStringList urls;
            for (const QUrl &url : qAsConst(m_recorder.opened))
                urls << url.toString(QUrl::FullyEncoded);
            QCOMPARE(urls, target.isEmpty() ? QStringList() : QStringList { target });
            return;
        }
        AboutDlg dialog;
        const Anchor anchor = readAnchor(dialog.SupportBtn->text());
        QCOMPARE(anchor.href, target);
        QTEST(anchor.text, "text");
        if (anchor.href.isEmpty())
            QCOMPARE(dialog.SupportBtn->text(), QStringLiteral("<a href=\"\"></a>"));
        QVERIFY(dialog.SupportBtn->openExternalLinks());
    }

    // Centred on the window, a new dialog per click. (Its licence button opens the installed
    // Eula.pdf: the package test clicks it.)
    void aboutFromTheWindow()
    {
        KorvelTapeDrive window;
        window.move(50, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint centred(
            window.x() + (window.width() - 602) / 2, window.y() + (window.height() - 368) / 2);
        QVERIFY(QMetaObject::invokeMethod(&window, "onAbtDlg"));
        auto dialogs = window.findChildren<AboutDlg *>();
        QCOMPARE(dialogs.size(), 1);
        QCOMPARE(dialogs.first()->pos(), centred);
        QVERIFY(dialogs.first()->isVisible());
        QTest::mouseClick(dialogs.first()->CloseButton, Qt::LeftButton);
        QVERIFY(!dialogs.first()->isVisible());

        QVERIFY(QMetaObject::invokeMethod(&window, "onAbtDlg"));
        dialogs = window.findChildren<AboutDlg *>();
        QCOMPARE(dialogs.size(), 2);
        QVERIFY(!dialogs.first()->isVisible());
        QCOMPARE(dialogs.last()->pos(), centred);
        dialogs.last()->close();
    }

private:
    QString osRelease() const { return m_dir.filePath(QStringLiteral("os-release")); }

    void writeOsRelease(const QByteArray &text) { QVERIFY(writeFile(osRelease(), text)); }

    /// The settings file as the installation writes it, @p lines under [General].
    static void writeSettings(const QByteArray &lines)
    {
        QDir().mkpath(QFileInfo(applicationSettingsFile()).path());
        QVERIFY(writeFile(applicationSettingsFile(), "[General]\n" + lines + "\n"));
    }

    QTemporaryDir m_dir;
    UrlRecorder m_recorder;
    std::unique_ptr<KorvelTapeDrive> m_window;
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
