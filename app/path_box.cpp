#include "app/path_box.h"

#include <QScrollBar>
#include <QTextEdit>

namespace PathBox {

void setUp(QTextEdit *box)
{
    box->setLineWrapMode(QTextEdit::NoWrap);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void show(QTextEdit *box, const QString &path)
{
    box->setText(path);
    box->setToolTip(path);
    box->horizontalScrollBar()->setValue(box->horizontalScrollBar()->maximum());
}

} // namespace PathBox
