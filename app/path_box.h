#pragma once

class QString;
class QTextEdit;

namespace PathBox {

/// One line, no scroll bars: a path box is a single line of 30 units.
void setUp(QTextEdit *box);

/// Shows @p path scrolled to its end, so the file or folder name stays in view
/// however long the path; the tool tip holds the whole path.
void show(QTextEdit *box, const QString &path);

} // namespace PathBox
