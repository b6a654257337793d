#include "app/path_box.h"

#include <QScrollBar>
#include <QTextEdit>

namespace PathBox {

void setUp(QTextEdit *box)
{
    box->setLineWrapMode(QTextEdit::WidgetWidth);
    // A path has few blanks: break inside a name rather than leave a line half empty.
    box->setWordWrapMode(QTextOption::WrapAnywhere);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void show(QTextEdit *box, const QString &path)
{
    box->setText(path);
    box->setToolTip(path);
    box->verticalScrollBar()->setValue(0);
}

} // namespace PathBox
