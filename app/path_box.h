#pragma once

class QString;
class QTextEdit;

namespace PathBox {

/// A path box wraps a long path over as many lines as it needs, from its start;
/// what does not fit the box's height is reached with its scroll bar.
void setUp(QTextEdit *box);

/// Shows the whole of @p path from its beginning; the tool tip holds it as well.
void show(QTextEdit *box, const QString &path);

} // namespace PathBox
