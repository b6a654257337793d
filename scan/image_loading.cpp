#include "scan/image_loading.h"
#include "app/korveltapedrive.h"
#include "app/path_box.h"
#include "common/app_globals.h"
#include "imaging/size_text.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

namespace ImageLoading {

OpenFileDialog openFileDialog = [](QWidget *parent, const QString &caption, const QString &filter) {
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
};

} // namespace ImageLoading

void KorvelTapeDrive::browseImagePathLoad()
{
    loadPathEdit->clear();
    loadedImagePath
        = ImageLoading::openFileDialog(this, tr("Open Image"), tr("Image Files (*.tape)"));
    PathBox::show(loadPathEdit, loadedImagePath);

    selectedImagePathLabel->setFont(QFont(QStringLiteral("Segoe UI"), 10));
    selectedImagePathLabel->setAlignment(Qt::AlignCenter);
    const QFontMetrics metrics(selectedImagePathLabel->font());
    selectedImagePathLabel->setText(
        metrics.elidedText(loadedImagePath, Qt::ElideMiddle, selectedImagePathLabel->width()));
    selectedImagePathLabel->setToolTip(QStringLiteral("Image Path:  ") + loadedImagePath);
}

void KorvelTapeDrive::scanImage()
{
    // A FIFO or device would hold the size query's open() until someone writes to it, and
    // is no image: it is refused like no choice. A file that has gone gets the size 0.
    const QFileInfo chosen(loadedImagePath);
    if (loadedImagePath.isEmpty() || (chosen.exists() && !chosen.isFile())) {
        showMessage(QStringLiteral("Select Image"),
            QStringLiteral("You need to select an image to scan for data."));
        return;
    }
    if (menuBtn->isChecked())
        homeBtn->show();
    homeAndBackShown = true;
    layoutWidgets();
    selectedImagePageFrame->show();
    selectedImageMark = true;
    selectedImagePathLabel->show();

    // Only the size on disk is shown; whether the file is a sound image is
    // for the scanner to find out.
    qint64 size = 0;
    QFile file(loadedImagePath);
    if (file.open(QIODevice::ReadOnly)) {
        size = file.size();
        file.close();
    }
    selectedImageSizeLabel->setText(SizeText::imageSize(size, SizeText::Comparison::FloatingPoint));
    selectedImageSizeLabel->setFont(QFont(QStringLiteral("Segoe UI"), 10));
    selectedImageSizeLabel->setAlignment(Qt::AlignCenter);
    selectedImageSizeLabel->show();
}
