#include "dialogs/repairfinishdialog.h"

#include "dialogs/message_looks.h"

#include <QBitmap>
#include <QMouseEvent>
#include <QPainter>

namespace {

const QSize kBaseSize(400, 173);

const BaseRect kBaseLayout[] = {
    { "OkBtn", { 300, 140, 90, 26 } },
    { "frame", { 0, 0, 400, 173 } },
    { "label", { 130, 80, 261, 31 } },
    { "label_2", { 20, 50, 67, 67 } },
    { "label_3", { 130, 6, 16, 16 } },
    { "label_8", { 2, 2, 395, 25 } },
    { "lower_barlabel", { 2, 135, 394, 37 } },
    { "repairedLabl", { 100, 25, 349, 89 } },
};

QRect titleStrip()
{
    return QRect(0, 0, scaled(498), scaled(30));
}

} // namespace

repairFinishDialog::repairFinishDialog(QWidget *parent)
    : QDialog(parent)
{
    setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    layoutWidgets();
    applyMessageImages(label_3, OkBtn, label_2);
    label_8->setText(tr("      Choose location"));
    repairedLabl->setText(tr("Choose the location."));
    OkBtn->setText(tr("OK"));
    connect(OkBtn, SIGNAL(clicked()), this, SLOT(OnOK()));
}

repairFinishDialog::~repairFinishDialog() = default;

void repairFinishDialog::layoutWidgets()
{
    applyScaledLayout(this, kBaseSize, kBaseLayout);
}

void repairFinishDialog::OnOK()
{
    close();
}

void repairFinishDialog::resizeEvent(QResizeEvent *event)
{
    // The window's shape is exactly its rectangle, kept in step with its size.
    QBitmap mask(size());
    mask.fill(Qt::color0);
    QPainter painter(&mask);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(Qt::black, Qt::SolidPattern));
    painter.drawRect(0, 0, width(), height());
    painter.end();
    setMask(mask);
    QDialog::resizeEvent(event);
}

void repairFinishDialog::mousePressEvent(QMouseEvent *event)
{
    m_drag.press(this, event, titleStrip());
    QDialog::mousePressEvent(event);
}

void repairFinishDialog::mouseMoveEvent(QMouseEvent *event)
{
    QDialog::mouseMoveEvent(event);
    m_drag.move(this, event);
}

void repairFinishDialog::mouseReleaseEvent(QMouseEvent *event)
{
    QDialog::mouseReleaseEvent(event);
    m_drag.release();
}
