#pragma once

class QString;
class QTextEdit;

namespace PathBox {

/// A path box is one line high and shows one line: a path longer than the box shows its
/// end (the file name and the folders nearest to it), with all of it in the tool tip.
void setUp(QTextEdit *box);

/// Shows @p path, its end when it is longer than the box; the tool tip holds it whole.
void show(QTextEdit *box, const QString &path);

} // namespace PathBox
