#include "app/korveltapedrive.h"
#include "common/app_globals.h"
#include "dialogs/aboutdlg.h"
#include "platform/win32_registry.h"

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
        QTest::newRow("full name") << QByteArray("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
            "VERSION_ID=\"12\"\n") << "Debian GNU/Linux 12 (bookworm)" << "12";
        QTest::newRow("seven characters") << QByteArray("PRETTY_NAME='Debian7'\nVERSION_ID=7\n")
            << "Debian7" << "7";
        QTest::newRow("six characters switch both")
            << QByteArray("PRETTY_NAME=Debian\nVERSION_ID=\"12\"\n") << kernel << kernel;
        QTest::newRow("escaped quote")
            << QByteArray("# comment\nPRETTY_NAME=\"Tarn \\\"OS\\\" 1\"\nVERSION_ID=1\n")
            << "Tarn \"OS\" 1" << "1";
        // clang-format on
    }

    void operatingSystem()
    {
        QFETCH(QByteArray, osRelease);
        QFETCH(QString, product);
        QFETCH(QString, version);
        writeOsRelease(osRelease);
        const RegistryKey kernelKey { QLatin1String(kWindowsVersionKeyPath) };
        if (product == QLatin1String("kernel")) {
            product = kernelKey.stringValue(QStringLiteral("ProductName"));
            version = kernelKey.stringValue(QStringLiteral("CurrentVersion"));
            QCOMPARE(product, QStringLiteral("Linux"));
            QVERIFY(!version.isEmpty());
        }
        AboutDlg dialog;
        QCOMPARE(dialog.OSLabel->text(), product);
        QCOMPARE(dialog.VersionLabel->text(), version);
    }

    // The values as an installation writes them: plain lines, commas and all.
    void supportLink_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("target"); // the link's; empty: an empty link
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("refused"); // logged; empty: nothing logged
        // clang-format off
        QTest::newRow("absent") << QByteArray() << "" << "" << "";
        QTest::newRow("mail") << QByteArray("EmailSup=mailto:support@example.com\n"
            "EmailSupText=support@example.com") << "mailto:support@example.com"
            << "support@example.com" << "";
        QTest::newRow("comma in the text") << QByteArray("EmailSup=https://example.com/s?a=1,2\n"
            "EmailSupText=Support, Tarnwick team") << "https://example.com/s?a=1,2"
            << "Support, Tarnwick team" << "";
        QTest::newRow("quotes and brackets") << QByteArray("EmailSup=https://example.com/a?q=\"x\"&b=<c>\n"
            "EmailSupText=Help \"now\" <b>bold</b> & more") << "https://example.com/a?q=\"x\"&b=<c>"
            << "Help \"now\" <b>bold</b> & more" << "";
        QTest::newRow("local file") << QByteArray("EmailSup=file:///etc/passwd\nEmailSupText=x")
            << "" << "" << "file:///etc/passwd";
        QTest::newRow("option") << QByteArray("EmailSup=--help\nEmailSupText=x") << "" << ""
            << "--help";
        // clang-format on
    }

    void supportLink()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, refused);
        writeSettings(ini);
        if (!refused.isEmpty())
            QTest::ignoreMessage(QtWarningMsg,
                qPrintable(QStringLiteral("tarnwick: the support link does not open \"%1\": only "
                                          "mailto/http/https addresses")
                               .arg(refused)));
        AboutDlg dialog;
        const Anchor anchor = readAnchor(dialog.SupportBtn->text());
        QTEST(anchor.href, "target");
        QTEST(anchor.text, "text");
        if (anchor.href.isEmpty())
            QCOMPARE(dialog.SupportBtn->text(), QStringLiteral("<a href=\"\"></a>"));
        QVERIFY(dialog.SupportBtn->openExternalLinks());
    }

    void help_data()
    {
        QTest::addColumn<QByteArray>("kb");
        QTest::addColumn<QString>("opened"); // empty: nothing
        // clang-format off
        QTest::newRow("absent") << QByteArray() << "";
        QTest::newRow("address") << QByteArray("KB=https://help.example.com/a")
            << "https://help.example.com/a";
        QTest::newRow("comma") << QByteArray("KB=https://help.example.com/?tags=tape,imaging")
            << "https://help.example.com/?tags=tape,imaging";
        QTest::newRow("blank, tolerated") << QByteArray("KB=http://help.example.com/b c")
            << "http://help.example.com/b%20c";
        QTest::newRow("local file") << QByteArray("KB=file:///etc/passwd") << "";
        QTest::newRow("option") << QByteArray("KB=--help") << "";
        QTest::newRow("mail") << QByteArray("KB=mailto:a@example.com") << "";
        // clang-format on
    }

    // One window for all rows: the address is read again on every click.
    void help()
    {
        QFETCH(QByteArray, kb);
        QFETCH(QString, opened);
        writeSettings(kb);
        const QString value = QString::fromUtf8(kb.mid(3));
        if (opened.isEmpty() && !value.isEmpty())
            QTest::ignoreMessage(QtWarningMsg,
                qPrintable(QStringLiteral("tarnwick: Help does not open \"%1\": only http/https "
                                          "addresses")
                               .arg(value)));
        if (!m_window)
            m_window.reset(new KorvelTapeDrive);
        QVERIFY(QMetaObject::invokeMethod(m_window.get(), "helpOnline"));
        QStringList urls;
        for (const QUrl &url : qAsConst(m_recorder.opened))
            urls << url.toString(QUrl::FullyEncoded);
        QCOMPARE(urls, opened.isEmpty() ? QStringList() : QStringList { opened });
    }

    // Centred on the window, a new dialog per click; its licence button opens Eula.pdf.
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
        QTest::mouseClick(dialogs.first()->LicenseButton, Qt::LeftButton);
        QCOMPARE(m_recorder.opened,
            QList<QUrl> { QUrl::fromLocalFile(
                QCoreApplication::applicationDirPath() + QStringLiteral("/Eula.pdf")) });
        QTest::mouseClick(dialogs.first()->CloseButton, Qt::LeftButton);
        QVERIFY(!dialogs.first()->isVisible());

        QVERIFY(QMetaObject::invokeMethod(&window, "onAbtDlg"));
        dialogs = window.findChildren<AboutDlg *>();
        QCOMPARE(dialogs.size(), 2);
        QVERIFY(!dialogs.first()->isVisible());
        QCOMPARE(dialogs.last()->pos(), centred);
        dialogs.last()->close();
    }

    void languageChangeRereadsOnlyTheSystem()
    {
        writeSettings("EmailSup=mailto:a@example.com\nEmailSupText=first");
        AboutDlg dialog;
        const QString link = dialog.SupportBtn->text();
        writeOsRelease("PRETTY_NAME=\"Changed Linux 13\"\nVERSION_ID=13\n");
        writeSettings("EmailSupText=second");
        QEvent change(QEvent::LanguageChange);
        QApplication::sendEvent(&dialog, &change);
        QCOMPARE(dialog.OSLabel->text(), QStringLiteral("Changed Linux 13"));
        QCOMPARE(dialog.VersionLabel->text(), QStringLiteral("13"));
        QCOMPARE(dialog.SupportBtn->text(), link);
    }

private:
    QString osRelease() const { return m_dir.filePath(QStringLiteral("os-release")); }

    void writeOsRelease(const QByteArray &text) { writeText(osRelease(), text); }

    static void writeText(const QString &path, const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    /// The settings file as the installation writes it, @p lines under [General].
    static void writeSettings(const QByteArray &lines)
    {
        writeText(applicationSettingsFile(), "[General]\n" + lines + "\n");
    }

    QTemporaryDir m_dir;
    UrlRecorder m_recorder;
    std::unique_ptr<KorvelTapeDrive> m_window;
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
