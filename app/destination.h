#pragma once
/**
 * @file
 * The destination page's folder choice, replaceable so that tests pick a
 * folder without a native dialog.
 */
#include <QString>

#include <functional>

class QWidget;

namespace Destination {

/// Asks for a folder; an empty result means the user cancelled.
using FolderDialog = std::function<QString(QWidget *parent, const QString &caption)>;
extern FolderDialog folderDialog;

} // namespace Destination
