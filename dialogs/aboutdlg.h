#pragma once
#include "dialogs/aboutdialog_form.h"
#include "dialogs/dialog_common.h"

#include <QDialog>

class QGridLayout;
class QLabel;

/// True only between a left press in the About dialog's top strip and the next release.
extern bool aboutDragging;

/**
 * The About dialog: product and version, the operating system's name and
 * version, the support link from the application settings, the licence and
 * Close. Frameless, fixed size, scaled, dragged by its top strip.
 */
class AboutDlg : public QDialog, public Ui::AboutDialog
{
    Q_OBJECT

public:
    explicit AboutDlg(QWidget *parent = nullptr);
    ~AboutDlg() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    void OpenLicense();

private:
    void layoutScaled();
    void readSystemInformation();
    void buildTitleStrip();
    void buildLayouts();
    void applyPictures();
    void setSupportLink();

    QLabel *titleTextLabel = nullptr;
    QLabel *blankTitleLabel = nullptr;
    QLabel *titleLineLabel = nullptr;
    QGridLayout *titleGrid = nullptr;
    QGridLayout *lineGrid = nullptr;
    QGridLayout *contentGrid = nullptr;
    StripDrag m_drag { aboutDragging };
};
