#include "scanner/ui/scanner_window.h"

#include "scanner/core/carver.h"
#include "scanner/core/image_facts.h"
#include "scanner/core/report.h"
#include "scanner/ui/scanner_look.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Quorlin;

namespace {

enum ItemRole { KindRole = Qt::UserRole, IndexRole };
enum ItemKind { ArchiveItem, EntryItem, RawItem };
enum Column { NameColumn, SizeColumn, OffsetColumn, NoteColumn };

QTreeWidgetItem *checkableItem(const QStringList &texts, ItemKind kind, int index)
{
    auto *item = new QTreeWidgetItem(texts);
    item->setData(NameColumn, KindRole, kind);
    item->setData(NameColumn, IndexRole, index);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
    item->setCheckState(NameColumn, Qt::Checked);
    item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(OffsetColumn, Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

} // namespace

ScannerWindow::ScannerWindow(const QString &imagePath, QWidget *parent)
    : QMainWindow(parent)
{
    buildWidgets();
    applyScannerLook(this);
    const qreal scale = qMax<qreal>(1.0, logicalDpiX() / 96.0);
    resize(int(900 * scale), int(640 * scale));
    if (imagePath.isEmpty())
        m_status->setText(tr("Open a .tape image to scan it."));
    else
        startScan(imagePath);
}

ScannerWindow::~ScannerWindow()
{
    m_cancel = true;
    if (m_worker)
        m_worker->wait();
}

void ScannerWindow::buildWidgets()
{
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("central"));
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(18, 14, 18, 14);
    auto *top = new QHBoxLayout;
    m_heading = new QLabel(tr("Scanning the image"), central);
    m_heading->setObjectName(QStringLiteral("heading"));
    auto *open = new QPushButton(tr("Open Image…"), central);
    connect(open, &QPushButton::clicked, this, &ScannerWindow::chooseImage);
    top->addWidget(m_heading, 1);
    top->addWidget(open);
    layout->addLayout(top);
    m_facts = new QFormLayout;
    m_facts->setLabelAlignment(Qt::AlignLeft);
    layout->addLayout(m_facts);
    m_scanBar = new QProgressBar(central);
    m_scanBar->setObjectName(QStringLiteral("scanProgress"));
    layout->addWidget(m_scanBar);
    m_tree = new QTreeWidget(central);
    m_tree->setObjectName(QStringLiteral("foundTree"));
    m_tree->setHeaderLabels({ tr("Name"), tr("Size"), tr("Offset"), tr("Note") });
    m_tree->header()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    m_tree->header()->setStretchLastSection(false);
    connect(m_tree, &QTreeWidget::itemChanged, this, &ScannerWindow::updateExtractButton);
    layout->addWidget(m_tree, 3);
    m_messages = new QPlainTextEdit(central);
    m_messages->setObjectName(QStringLiteral("messages"));
    m_messages->setReadOnly(true);
    m_messages->setMaximumBlockCount(1000);
    layout->addWidget(m_messages, 1);
    auto *bottom = new QHBoxLayout;
    m_folder = new QLineEdit(central);
    m_folder->setObjectName(QStringLiteral("folderEdit"));
    m_folder->setPlaceholderText(tr("Folder to extract to"));
    connect(m_folder, &QLineEdit::textChanged, this, &ScannerWindow::updateExtractButton);
    m_browse = new QPushButton(tr("Browse…"), central);
    connect(m_browse, &QPushButton::clicked, this, &ScannerWindow::chooseFolder);
    m_extract = new QPushButton(tr("Extract"), central);
    m_extract->setObjectName(QStringLiteral("extractButton"));
    connect(m_extract, &QPushButton::clicked, this, &ScannerWindow::extractChecked);
    bottom->addWidget(new QLabel(tr("Extract to:"), central));
    bottom->addWidget(m_folder, 1);
    bottom->addWidget(m_browse);
    bottom->addWidget(m_extract);
    layout->addLayout(bottom);
    m_extractBar = new QProgressBar(central);
    m_extractBar->setObjectName(QStringLiteral("extractProgress"));
    layout->addWidget(m_extractBar);
    m_status = new QLabel(central);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);
    setCentralWidget(central);
    updateExtractButton();
}

void ScannerWindow::runOnWorker(std::function<void()> job)
{
    m_cancel = false;
    m_worker = QThread::create(std::move(job));
    connect(m_worker, &QThread::finished, this, [this] {
        m_worker->deleteLater();
        m_worker = nullptr;
        updateExtractButton();
    });
    updateExtractButton();
    m_worker->start();
}

void ScannerWindow::setProgress(QProgressBar *bar, qint64 done, qint64 total)
{
    // Permille keeps the bar's int range safe for images of any size.
    bar->setRange(0, 1000);
    bar->setValue(total > 0 ? int(done * 1000 / total) : 1000);
}

void ScannerWindow::startScan(const QString &path)
{
    if (isBusy())
        return;
    setWindowTitle(tr("quorlin - %1").arg(QFileInfo(path).fileName()));
    m_heading->setText(tr("Scanning %1").arg(QFileInfo(path).fileName()));
    m_tree->clear();
    m_messages->clear();
    m_result = ScanResult();
    showFacts(readImageFacts(path));
    m_status->setText(tr("Scanning…"));
    runOnWorker([this, path] {
        ScanResult result = scanImage(
            path,
            [this](qint64 done, qint64 total) {
                QMetaObject::invokeMethod(this, [=] { setProgress(m_scanBar, done, total); });
            },
            &m_cancel);
        QMetaObject::invokeMethod(this, [this, result] { showResult(result); });
    });
}

void ScannerWindow::showFacts(const ImageFacts &facts)
{
    while (m_facts->rowCount() > 0)
        m_facts->removeRow(0);
    for (const auto &line : factLines(facts)) {
        auto *name = new QLabel(line.first + QLatin1Char(':'));
        name->setObjectName(QStringLiteral("factName"));
        auto *value = new QLabel(line.second);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true);
        m_facts->addRow(name, value);
    }
}

QTreeWidgetItem *ScannerWindow::addArchive(int index, const FoundArchive &archive)
{
    QString title = tr("Archive %1: %2").arg(index + 1).arg(archive.format);
    if (!archive.filter.isEmpty())
        title += tr(", %1 compressed").arg(archive.filter);
    auto *item = checkableItem(
        { title, humanSize(archive.length),
            QString::number(m_result.facts.imageOffset(archive.offset)), archive.note },
        ArchiveItem, index);
    for (int e = 0; e < archive.entries.size(); ++e) {
        const FoundEntry &entry = archive.entries[e];
        QString note = entry.damaged ? tr("damaged") : QString();
        if (!entry.linkTarget.isEmpty())
            note = tr("link to %1").arg(entry.linkTarget);
        item->addChild(
            checkableItem({ entry.path, humanSize(entry.size), QString(), note }, EntryItem, e));
    }
    return item;
}

void ScannerWindow::showResult(const ScanResult &result)
{
    m_result = result;
    const QSignalBlocker blocker(m_tree);
    m_tree->clear();
    for (int a = 0; a < result.archives.size(); ++a) {
        m_tree->addTopLevelItem(addArchive(a, result.archives[a]));
        if (!result.archives[a].note.isEmpty())
            m_messages->appendPlainText(
                tr("Archive %1: %2").arg(a + 1).arg(result.archives[a].note));
    }
    for (int r = 0; r < result.rawRegions.size(); ++r) {
        const RawRegion &region = result.rawRegions[r];
        m_tree->addTopLevelItem(checkableItem(
            { tr("Raw data (%1)").arg(rawRegionOutputName(result.facts, region)),
                humanSize(region.length), QString::number(result.facts.imageOffset(region.offset)),
                tr("not recognised") },
            RawItem, r));
    }
    m_tree->expandAll();
    m_tree->resizeColumnToContents(SizeColumn);
    m_tree->resizeColumnToContents(OffsetColumn);
    setProgress(m_scanBar, 1, 1);
    m_heading->setText(QFileInfo(result.facts.path).fileName());
    QString status = tr("Found %1 archive(s) and %2 raw region(s).")
                         .arg(result.archives.size())
                         .arg(result.rawRegions.size());
    if (!result.error.isEmpty())
        status = result.error;
    else if (result.cancelled)
        status += tr(" The scan was stopped before the end.");
    m_status->setText(status);
    updateExtractButton();
}

Selection ScannerWindow::checkedItems() const
{
    Selection selection;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *top = m_tree->topLevelItem(i);
        const int index = top->data(NameColumn, IndexRole).toInt();
        if (top->data(NameColumn, KindRole).toInt() == RawItem) {
            if (top->checkState(NameColumn) == Qt::Checked)
                selection.rawRegions.insert(index);
            continue;
        }
        for (int c = 0; c < top->childCount(); ++c) {
            if (top->child(c)->checkState(NameColumn) == Qt::Checked)
                selection.entries[index].insert(top->child(c)->data(NameColumn, IndexRole).toInt());
        }
    }
    return selection;
}

void ScannerWindow::updateExtractButton()
{
    const bool idle = !isBusy();
    m_extract->setEnabled(
        idle && !m_folder->text().trimmed().isEmpty() && !checkedItems().isEmpty());
    m_browse->setEnabled(idle);
}

void ScannerWindow::chooseImage()
{
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open Image"), QString(), tr("Tape images (*.tape);;All files (*)"));
    if (!path.isEmpty())
        startScan(path);
}

void ScannerWindow::chooseFolder()
{
    const QString folder
        = QFileDialog::getExistingDirectory(this, tr("Extract to"), m_folder->text());
    if (!folder.isEmpty())
        m_folder->setText(QDir::toNativeSeparators(folder));
}

void ScannerWindow::extractChecked()
{
    const Selection selection = checkedItems();
    const QString folder = QDir::fromNativeSeparators(m_folder->text().trimmed());
    if (selection.isEmpty() || folder.isEmpty() || isBusy())
        return;
    m_status->setText(tr("Extracting to %1…").arg(folder));
    setProgress(m_extractBar, 0, 1);
    runOnWorker([this, selection, folder] {
        Extractor extractor(m_result, folder);
        extractor.setCancelFlag(&m_cancel);
        extractor.setProgress([this](qint64 done, qint64 total, const QString &) {
            QMetaObject::invokeMethod(this, [=] { setProgress(m_extractBar, done, total); });
        });
        const bool whole = extractor.run(selection);
        const QStringList written = extractor.written();
        const QStringList problems = extractor.problems();
        QMetaObject::invokeMethod(this, [=] { showExtraction(whole, written, problems); });
    });
}

void ScannerWindow::showExtraction(
    bool whole, const QStringList &written, const QStringList &problems)
{
    setProgress(m_extractBar, 1, 1);
    for (const QString &problem : problems)
        m_messages->appendPlainText(problem);
    m_status->setText(whole ? tr("Extracted %1 file(s).").arg(written.size())
                            : tr("Extracted %1 file(s); %2 problem(s), see the messages above.")
                                  .arg(written.size())
                                  .arg(problems.size()));
}
