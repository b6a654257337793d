#pragma once
/**
 * @file
 * The About dialog's form, written the way uic writes forms: widgets with
 * their object names, palettes, fonts and base geometry; retranslateUi sets
 * the fixed texts (the operating system values and the support link are the
 * dialog's to fill).
 */
#include <QFrame>
#include <QLabel>
#include <QPushButton>

class QDialog;

class Ui_AboutDialog
{
public:
    QLabel *LabelPixmap = nullptr;
    QFrame *MainFrame = nullptr;
    QLabel *m_pPixmapLabel = nullptr;
    QFrame *frame = nullptr; ///< the information panel
    QLabel *label_18 = nullptr;
    QLabel *label_20 = nullptr;
    QLabel *line1 = nullptr;
    QLabel *label_6 = nullptr;
    QLabel *label_17 = nullptr;
    QLabel *label_16 = nullptr;
    QLabel *line2 = nullptr;
    QLabel *label_22 = nullptr;
    QLabel *OSLabel = nullptr;
    QLabel *label_15 = nullptr;
    QLabel *VersionLabel = nullptr;
    QLabel *SupportBtn = nullptr;
    QPushButton *LicenseButton = nullptr;
    QPushButton *CloseButton = nullptr;

    void setupUi(QDialog *AboutDialog);
    void retranslateUi(QDialog *AboutDialog);
};

namespace Ui {
class AboutDialog : public Ui_AboutDialog
{
};
} // namespace Ui
