#include "scanner/ui/scanner_window.h"

#include "imaging/size_text.h"
#include "scanner/core/carver.h"
#include "scanner/core/image_facts.h"
#include "scanner/core/report.h"
#include "scanner/core/shown_name.h"
#include "scanner/ui/scanner_look.h"

#include <QDesktopServices>
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
#include <QStyle>
#include <QThread>
#include <QTreeWidget>
#include <QUrl>
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

ScannerWindow::ScannerWindow(
    const QString &imagePath, const ExtractOptions &options, QWidget *parent)
    : QMainWindow(parent)
    , m_options(options)
{
    applyScannerLook(this); // first, so the widgets are measured in the window's font
    buildWidgets();
    const qreal scale = qMax<qreal>(1.0, logicalDpiX() / 96.0);
    resize(int(900 * scale), int(640 * scale));
    if (imagePath.isEmpty())
        showSummary(tr("Open a .tape image to scan it."), false);
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
    layout->setSpacing(8);
    auto *top = new QHBoxLayout;
    m_heading = new QLabel(tr("Scanning the image"), central);
    m_heading->setObjectName(QStringLiteral("heading"));
    auto *open = new QPushButton(tr("Open Image…"), central);
    connect(open, &QPushButton::clicked, this, &ScannerWindow::chooseImage);
    top->addWidget(m_heading, 1);
    top->addWidget(open);
    layout->addLayout(top);
    m_summary = new QLabel(central);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setWordWrap(true);
    layout->addWidget(m_summary);
    m_facts = new QFormLayout;
    m_facts->setLabelAlignment(Qt::AlignLeft);
    m_facts->setVerticalSpacing(2);
    layout->addLayout(m_facts);
    m_scanBar = new QProgressBar(central);
    m_scanBar->setObjectName(QStringLiteral("scanProgress"));
    layout->addWidget(m_scanBar);
    m_tree = new QTreeWidget(central);
    m_tree->setObjectName(QStringLiteral("foundTree"));
    m_tree->setHeaderLabels({ tr("Name"), tr("Size"), tr("Image offset"), tr("Note") });
    m_tree->header()->setStretchLastSection(true);
    m_tree->header()->setMinimumSectionSize(60);
    connect(m_tree, &QTreeWidget::itemChanged, this, &ScannerWindow::updateExtractButton);
    layout->addWidget(m_tree, 1);
    auto *messagesTitle = new QLabel(tr("Notes and problems"), central);
    messagesTitle->setObjectName(QStringLiteral("sectionTitle"));
    layout->addWidget(messagesTitle);
    m_messages = new QPlainTextEdit(central);
    m_messages->setObjectName(QStringLiteral("messages"));
    m_messages->setReadOnly(true);
    m_messages->setMaximumBlockCount(1000);
    // A few lines are enough: the list of what was found gets the room.
    m_messages->setFixedHeight(m_messages->fontMetrics().lineSpacing() * 5 + 12);
    layout->addWidget(m_messages);
    layout->addLayout(buildExtractRow(central));
    m_extractBar = new QProgressBar(central);
    m_extractBar->setObjectName(QStringLiteral("extractProgress"));
    m_extractBar->hide();
    layout->addWidget(m_extractBar);
    auto *bottom = new QHBoxLayout;
    m_status = new QLabel(central);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_showFolder = new QPushButton(tr("Open Folder"), central);
    m_showFolder->hide();
    connect(m_showFolder, &QPushButton::clicked, this,
        [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_extractedTo)); });
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_showFolder);
    layout->addLayout(bottom);
    setCentralWidget(central);
    updateExtractButton();
}

QHBoxLayout *ScannerWindow::buildExtractRow(QWidget *central)
{
    auto *row = new QHBoxLayout;
    m_folder = new QLineEdit(central);
    m_folder->setObjectName(QStringLiteral("folderEdit"));
    m_folder->setPlaceholderText(tr("Folder the checked files are written to"));
    connect(m_folder, &QLineEdit::textChanged, this, &ScannerWindow::updateExtractButton);
    m_browse = new QPushButton(tr("Browse…"), central);
    connect(m_browse, &QPushButton::clicked, this, &ScannerWindow::chooseFolder);
    m_extract = new QPushButton(tr("Extract"), central);
    m_extract->setObjectName(QStringLiteral("extractButton"));
    connect(m_extract, &QPushButton::clicked, this, &ScannerWindow::extractChecked);
    row->addWidget(new QLabel(tr("Extract to:"), central));
    row->addWidget(m_folder, 1);
    row->addWidget(m_browse);
    row->addWidget(m_extract);
    return row;
}

void ScannerWindow::showSummary(const QString &text, bool trouble)
{
    m_summary->setText(text);
    m_summary->setProperty("trouble", trouble);
    // A dynamic property takes effect in the style sheet only when polished again.
    m_summary->style()->unpolish(m_summary);
    m_summary->style()->polish(m_summary);
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
    const QString shown = shownName(QFileInfo(path).fileName());
    setWindowTitle(tr("quorlin - %1").arg(shown));
    m_heading->setText(tr("Scanning %1").arg(shown));
    m_tree->clear();
    m_messages->clear();
    m_result = ScanResult();
    showFacts(readImageFacts(path));
    showSummary(tr("Scanning the image for archives…"), false);
    // Beside the image by default, so one press of Extract recovers everything
    // to a place the user can find again; a folder the user typed is kept.
    const QFileInfo image(path);
    if (m_folder->text().isEmpty() || m_folder->text() == m_suggestedFolder) {
        m_suggestedFolder = QDir::toNativeSeparators(image.absolutePath() + QLatin1Char('/')
            + image.completeBaseName() + tr(" - recovered"));
        m_folder->setText(m_suggestedFolder);
    }
    m_scanBar->show();
    m_extractBar->hide();
    m_showFolder->hide();
    m_status->clear();
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

QTreeWidgetItem *ScannerWindow::addArchive(const ScanResult &result, int index)
{
    const FoundArchive &archive = result.archives[index];
    QString title = tr("Archive %1: %2").arg(index + 1).arg(archive.format);
    if (!archive.filter.isEmpty())
        title += tr(", %1 compressed").arg(archive.filter);
    QStringList notes { expansionNote(archive, m_options.maxSize) };
    if (!archiveNote(result, index).isEmpty())
        notes.append(archiveNote(result, index));
    auto *item = checkableItem({ title, SizeText::human(archive.length),
                                   QString::number(result.facts.imageOffset(archive.offset)),
                                   notes.join(QStringLiteral("; ")) },
        ArchiveItem, index);
    item->setToolTip(NoteColumn, shownName(archive.note));
    if (archive.damaged || expandedSize(archive) > sizeLimit(archive, m_options.maxSize))
        item->setForeground(NoteColumn, troubleColor());
    for (int e = 0; e < archive.entries.size(); ++e) {
        const FoundEntry &entry = archive.entries[e];
        QString note = entryDamageNote(result.facts, entry);
        if (!entry.linkTarget.isEmpty() || !entry.rawLinkTarget.isEmpty())
            note = tr("link to %1").arg(linkTargetName(entry));
        auto *child
            = checkableItem({ shownName(entryPath(entry)),
                                SizeText::human(contentSize(archive, entry)), QString(), note },
                EntryItem, e);
        if (entry.damaged)
            child->setForeground(NoteColumn, troubleColor());
        item->addChild(child);
    }
    return item;
}

void ScannerWindow::showResult(const ScanResult &result)
{
    m_result = result;
    const QSignalBlocker blocker(m_tree);
    m_tree->clear();
    showFacts(result.facts);
    for (int a = 0; a < result.archives.size(); ++a) {
        m_tree->addTopLevelItem(addArchive(result, a));
        if (!result.archives[a].note.isEmpty())
            m_messages->appendPlainText(
                tr("Archive %1: %2").arg(a + 1).arg(shownName(result.archives[a].note)));
    }
    for (int r = 0; r < result.rawRegions.size(); ++r) {
        const RawRegion &region = result.rawRegions[r];
        m_tree->addTopLevelItem(
            checkableItem({ tr("Raw data: %1").arg(rawRegionOutputName(result.facts, region)),
                              SizeText::human(region.length),
                              QString::number(result.facts.imageOffset(region.offset)),
                              rawRegionNote(result, r) },
                RawItem, r));
    }
    m_tree->expandAll();
    for (int column : { NameColumn, SizeColumn, OffsetColumn })
        m_tree->resizeColumnToContents(column);
    // Long paths must not push the notes out of sight. Until the window is first shown the
    // tree has no width of its own yet; it will span the window, so take the window's.
    const int room = isVisible() ? m_tree->viewport()->width() : width();
    m_tree->setColumnWidth(NameColumn, qMin(m_tree->columnWidth(NameColumn), room / 2));
    m_scanBar->hide();
    m_heading->setText(shownName(QFileInfo(result.facts.path).fileName()));
    if (!result.error.isEmpty()) {
        showSummary(tr("The image could not be read to the end: %1").arg(result.error), true);
    } else {
        QString text = tr("Found %1").arg(summary(result));
        if (result.cancelled)
            text += tr(" The scan was stopped before the end of the image.");
        showSummary(text, hasDamage(result) || result.cancelled);
    }
    m_status->setText(
        tr("Check what to recover and press Extract: it is written to the folder shown."));
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
        this, tr("Open Image"), QString(), tr("Tape images (*.tape *.tap);;All files (*)"));
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
    m_status->setText(tr("Extracting to %1…").arg(QDir::toNativeSeparators(folder)));
    m_showFolder->hide();
    m_extractBar->show();
    setProgress(m_extractBar, 0, 1);
    runOnWorker([this, selection, folder] {
        Extractor extractor(m_result, folder, m_options);
        extractor.setCancelFlag(&m_cancel);
        extractor.setProgress([this](qint64 done, qint64 total, const QString &) {
            QMetaObject::invokeMethod(this, [=] { setProgress(m_extractBar, done, total); });
        });
        const bool whole = extractor.run(selection);
        const QStringList written = extractor.written();
        const QStringList problems = extractor.problems();
        QMetaObject::invokeMethod(
            this, [=] { showExtraction(folder, whole, written.size(), problems); });
    });
}

void ScannerWindow::showExtraction(
    const QString &folder, bool whole, int written, const QStringList &problems)
{
    setProgress(m_extractBar, 1, 1);
    m_extractedTo = folder;
    const QString shown = QDir::toNativeSeparators(folder);
    if (!problems.isEmpty()) {
        m_messages->appendPlainText(tr("Extraction to %1:").arg(shown));
        for (const QString &problem : problems)
            m_messages->appendPlainText(QStringLiteral("  ") + problem);
    }
    QString text = tr("Extracted %1 file(s) to %2.").arg(written).arg(shown);
    if (!whole)
        text += tr(" %1 problem(s): see Notes and problems.").arg(problems.size());
    m_status->setText(text);
    m_showFolder->setVisible(written > 0);
}
