#include "scanner/ui/scanner_look.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QWidget>

namespace {
const char styleSheet[] = "QMainWindow, QWidget#central { background: #ffffff; }"
                          "QLabel#heading { font-size: 16pt; color: #1f2a37; }"
                          "QLabel#factName { color: #5b6675; }"
                          "QLabel#summary { font-weight: bold; color: #166534; }"
                          "QLabel#summary[trouble=\"true\"] { color: #9a3412; }"
                          "QLabel#sectionTitle { color: #5b6675; }"
                          "QTreeWidget, QPlainTextEdit { border: 1px solid #d5dae1; }"
                          "QPushButton { padding: 4px 14px; }";
}

QColor troubleColor()
{
    return QColor(0x9a, 0x34, 0x12);
}

void applyScannerLook(QWidget *window)
{
    QFont::insertSubstitutions(QStringLiteral("Segoe UI"),
        { QStringLiteral("Noto Sans"), QStringLiteral("DejaVu Sans"),
            QStringLiteral("Liberation Sans") });
    window->setFont(QFont(QStringLiteral("Segoe UI"), 10));
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Base, Qt::white);
    window->setPalette(palette);
    window->setStyleSheet(QLatin1String(styleSheet));
}
