#include "app/app_globals.h"
#include "app/korveltapedrive.h"
#include "scan/image_loading.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

namespace ImageLoading {

OpenFileDialog openFileDialog = [](QWidget *parent, const QString &caption,
                                   const QString &filter) {
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
};

QString sizeOnDiskText(double size)
{
    const double kib = 0.0009765625;
    QString number;
    QString unit;
    if (size >= 1099511627776.0) {
        number = QString::number(size * kib * kib * kib * kib, 'f', 2);
        unit = QStringLiteral(" TB in disk");
    } else if (size >= 1073741824.0) {
        number = QString::number(size * kib * kib * kib, 'f', 2);
        unit = QStringLiteral(" GB in disk");
    } else if (size >= 1048576.0) {
        number = QString::number(size * kib * kib, 'f', 2);
        unit = QStringLiteral(" MB in disk");
    } else {
        number = QString::number(size * kib, 'f', 2);
        unit = QStringLiteral(" KB in disk");
    }
    return QStringLiteral("Image Size:  ") + number + unit;
}

} // namespace ImageLoading

void KorvelTapeDrive::browseImagePathLoad()
{
    loadPathEdit->clear();
    loadedImagePath
        = ImageLoading::openFileDialog(this, tr("Open Image"), tr("Image Files (*.tape)"));
    loadPathEdit->setText(loadedImagePath);

    selectedImagePathLabel->setFont(QFont(QStringLiteral("Segoe UI"), 10));
    selectedImagePathLabel->setAlignment(Qt::AlignCenter);
    const QFontMetrics metrics(selectedImagePathLabel->font());
    selectedImagePathLabel->setText(
        metrics.elidedText(loadedImagePath, Qt::ElideMiddle, selectedImagePathLabel->width()));
    selectedImagePathLabel->setToolTip(QStringLiteral("Image Path:  ") + loadedImagePath);
}

void KorvelTapeDrive::scanImage()
{
    if (loadedImagePath.isEmpty()) {
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
    double size = 0.0;
    QFile file(loadedImagePath);
    if (file.open(QIODevice::ReadOnly)) {
        size = static_cast<double>(file.size());
        file.close();
    }
    selectedImageSizeLabel->setText(ImageLoading::sizeOnDiskText(size));
    selectedImageSizeLabel->setFont(QFont(QStringLiteral("Segoe UI"), 10));
    selectedImageSizeLabel->setAlignment(Qt::AlignCenter);
    selectedImageSizeLabel->show();
}
