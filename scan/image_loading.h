#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace ImageLoading {

/// Asks for an existing image file; the tests replace it to choose without a native dialog.
using OpenFileDialog
    = std::function<QString(QWidget *parent, const QString &caption, const QString &filter)>;
extern OpenFileDialog openFileDialog;

} // namespace ImageLoading
