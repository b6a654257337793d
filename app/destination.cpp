#include "app/destination.h"
#include "app/korveltapedrive.h"
#include "app/path_box.h"

#include "imaging/block_size.h"
#include "imaging/image_name.h"
#include "tape/imaging_driver.h"
#include "imaging/imaging_state.h"
#include "platform/win32_tape.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QLabel>
#include <QStorageInfo>
#include <QStyledItemDelegate>
#include <QTextEdit>

namespace Destination {

FolderDialog folderDialog = [](QWidget *parent, const QString &caption) {
    return QFileDialog::getExistingDirectory(parent, caption, QString(), QFileDialog::ShowDirsOnly);
};

} // namespace Destination

void KorvelTapeDrive::browseImagePath()
{
    destinationPathEdit->clear();
    ImagingState::imagePath.clear();
    const QString folder = Destination::folderDialog(this, tr("Open Directory"));
    if (folder.isEmpty())
        return;

    const QStorageInfo volume(folder);
    // A volume we cannot write to is turned down without a word, like a cancelled dialog.
    if (!volume.isValid() || !volume.isReady() || volume.isReadOnly())
        return;
    if (volume.bytesAvailable() < ImagingState::totalBytes) {
        showMessage(QStringLiteral("   Insufficient space"),
            QStringLiteral(" Insufficient space in the disk."));
        return;
    }
    ImagingState::imagePath
        = ImageName::imagePath(folder, ImageName::timeStamp(QDateTime::currentDateTime()));
    PathBox::show(destinationPathEdit, ImagingState::imagePath);
}

void KorvelTapeDrive::fillBlockSizeList()
{
    if (blockSizeCombo->count() != 0)
        return;
    // The first insertion into the empty list selects "Auto" and so runs blockSizeChanged.
    blockSizeCombo->insertItems(0, BlockSize::entries());
    blockSizeCombo->setStyleSheet(QStringLiteral("border: 1px solid grey;"));
    // The list opens as a plain list whose hovered and current rows are highlighted. Drawn as
    // menu items instead (this style's default), the sheet's border turned them into empty
    // boxes with white text on white.
    blockSizeCombo->setItemDelegate(new QStyledItemDelegate(blockSizeCombo));
}

void KorvelTapeDrive::blockSizeChanged(const QString &)
{
    ImagingState::blockSizeText = blockSizeCombo->currentText();
    if (BlockSize::isFixedSize(ImagingState::blockSizeText)) {
        recommendedLabel->hide();
    } else if (ImagingState::blockSizeText == BlockSize::autoText()) {
        Imaging::queryMedia();
        recommendedLabel->show();
    }
    // The drive gets the size of the run in force (0, variable, between runs; an abandoned
    // run's size after one), not the entry just chosen: the engine sets the record size.
    TAPE_SET_MEDIA_PARAMETERS media {};
    media.BlockSize = ImagingState::chosenBlockSize;
    if (SetTapeParameters(ImagingState::tapeHandle, SET_TAPE_MEDIA_INFORMATION, &media) != NO_ERROR)
        GetLastError(); // dropped: the reads work record by record either way
}
