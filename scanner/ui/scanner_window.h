#pragma once
#include "scanner/core/extractor.h"
#include "scanner/core/scan_result.h"

#include <QMainWindow>

#include <atomic>

class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QThread;
class QTreeWidget;
class QTreeWidgetItem;

/// The scanner's window: the image's facts, what the scan found, and the
/// extraction of the checked items to a folder. Scanning and extraction run on
/// a worker thread so the window stays responsive on large images.
class ScannerWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit ScannerWindow(const QString &imagePath,
        const Quorlin::ExtractOptions &options = Quorlin::ExtractOptions(),
        QWidget *parent = nullptr);
    ~ScannerWindow() override;

    bool isBusy() const { return m_worker != nullptr; }
    const Quorlin::ScanResult &result() const { return m_result; }

private slots:
    void chooseImage();
    void chooseFolder();
    void extractChecked();
    void updateExtractButton();

private:
    void buildWidgets();
    void startScan(const QString &path);
    void showFacts(const Quorlin::ImageFacts &facts);
    void showResult(const Quorlin::ScanResult &result);
    QHBoxLayout *buildExtractRow(QWidget *central);
    void showSummary(const QString &text, bool trouble);
    void showExtraction(
        const QString &folder, bool whole, int written, const QStringList &problems);
    QTreeWidgetItem *addArchive(const Quorlin::ScanResult &result, int index);
    Quorlin::Selection checkedItems() const;
    void runOnWorker(std::function<void()> job);
    void setProgress(QProgressBar *bar, qint64 done, qint64 total);

    Quorlin::ExtractOptions m_options;
    Quorlin::ScanResult m_result;
    std::atomic<bool> m_cancel { false };
    QThread *m_worker = nullptr;
    QLabel *m_heading = nullptr;
    QLabel *m_summary = nullptr;
    QFormLayout *m_facts = nullptr;
    QProgressBar *m_scanBar = nullptr;
    QTreeWidget *m_tree = nullptr;
    QPlainTextEdit *m_messages = nullptr;
    QLineEdit *m_folder = nullptr;
    QPushButton *m_browse = nullptr;
    QPushButton *m_extract = nullptr;
    QProgressBar *m_extractBar = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_showFolder = nullptr;
    QString m_extractedTo;
    QString m_suggestedFolder; ///< the folder beside the image offered for extraction
};
