#include "app/korveltapedrive.h"
#include "common/app_globals.h"
#include "dialogs/aboutdlg.h"
#include "platform/win32_registry.h"

#include <QDesktopServices>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

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

const char *const kSchemes[] = { "", "http", "https", "file", "mailto" };

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
        QTest::newRow("no name") << QByteArray("VERSION_ID=\"12\"\n") << kernel << kernel;
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

    void supportLink_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("text");
        QTest::newRow("absent") << false << QString() << QString();
        QTest::newRow("mail") << true << "mailto:support@example.com"
                              << "support@example.com";
        QTest::newRow("quotes and brackets") << true << "https://example.com/a?q=\"x\"&b=<c>"
                                             << "Help \"now\" <b>bold</b> & more";
    }

    void supportLink()
    {
        QFETCH(bool, installed);
        QFETCH(QString, target);
        QFETCH(QString, text);
        if (installed)
            writeSettings({ { QStringLiteral("EmailSup"), target },
                { QStringLiteral("EmailSupText"), text } });
        AboutDlg dialog;
        if (!installed)
            QCOMPARE(dialog.SupportBtn->text(), QStringLiteral("<a href=\"\"></a>"));
        const Anchor anchor = readAnchor(dialog.SupportBtn->text());
        QCOMPARE(anchor.href, target);
        QCOMPARE(anchor.text, text);
        QVERIFY(dialog.SupportBtn->openExternalLinks());
    }

    void licenceOpensBesideTheProgram()
    {
        AboutDlg dialog;
        QTest::mouseClick(dialog.LicenseButton, Qt::LeftButton);
        QCOMPARE(m_recorder.opened.size(), 1);
        QCOMPARE(m_recorder.opened.first(),
            QUrl::fromLocalFile(
                QCoreApplication::applicationDirPath() + QStringLiteral("/Eula.pdf")));
    }

    void helpReadsTheAddressOnEveryClick()
    {
        KorvelTapeDrive window;
        QVERIFY(QMetaObject::invokeMethod(&window, "helpOnline"));
        for (const QUrl &url : qAsConst(m_recorder.opened))
            QVERIFY2(url.isEmpty(), "Help opened something without an address");

        // Written from outside, as the installation does.
        writeText(applicationSettingsFile(), "[General]\nKB=https://help.example.com/a\n");
        QVERIFY(QMetaObject::invokeMethod(&window, "helpOnline"));
        QCOMPARE(m_recorder.opened.last(), QUrl(QStringLiteral("https://help.example.com/a")));

        writeText(applicationSettingsFile(), "[General]\nKB=https://help.example.com/b c\n");
        QVERIFY(QMetaObject::invokeMethod(&window, "helpOnline"));
        QCOMPARE(m_recorder.opened.last(), QUrl(QStringLiteral("https://help.example.com/b%20c")));

        QFile::remove(applicationSettingsFile());
        m_recorder.opened.clear();
        QVERIFY(QMetaObject::invokeMethod(&window, "helpOnline"));
        for (const QUrl &url : qAsConst(m_recorder.opened))
            QVERIFY(url.isEmpty());
    }

    void aboutIsCentredOnTheWindowEachTime()
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

    void languageChangeRereadsOnlyTheSystem()
    {
        writeSettings({ { QStringLiteral("EmailSup"), QStringLiteral("mailto:a@example.com") },
            { QStringLiteral("EmailSupText"), QStringLiteral("first") } });
        AboutDlg dialog;
        const QString link = dialog.SupportBtn->text();
        writeOsRelease("PRETTY_NAME=\"Changed Linux 13\"\nVERSION_ID=13\n");
        writeSettings({ { QStringLiteral("EmailSupText"), QStringLiteral("second") } });
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

    static void writeSettings(const QList<QPair<QString, QString>> &values)
    {
        QDir().mkpath(QFileInfo(applicationSettingsFile()).path());
        QSettings settings(applicationSettingsFile(), QSettings::IniFormat);
        settings.clear();
        for (const auto &value : values)
            settings.setValue(value.first, value.second);
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }

    QTemporaryDir m_dir;
    UrlRecorder m_recorder;
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
