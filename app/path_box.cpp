#include "app/path_box.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTextEdit>

namespace PathBox {

void setUp(QTextEdit *box)
{
    // Wrapped, a second line was half hidden and the scroll bar squeezed into the box's
    // height; a path also breaks badly, having few blanks.
    box->setLineWrapMode(QTextEdit::NoWrap);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void show(QTextEdit *box, const QString &path)
{
    box->setText(path);
    box->setToolTip(path);
    // The line in the middle of the box's height, as a line edit has it. The font and the
    // scaled size are the box's own by now.
    const int room = box->contentsRect().height() - QFontMetrics(box->font()).height();
    box->document()->setDocumentMargin(qMax(1, room / 2));
    box->document()->documentLayout()->documentSize(); // lays it out, which sets the ranges
    box->verticalScrollBar()->setValue(0);
    QScrollBar *across = box->horizontalScrollBar();
    across->setValue(across->maximum());
}

} // namespace PathBox
