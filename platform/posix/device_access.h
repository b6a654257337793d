#pragma once
/**
 * @file
 * What to do about a tape drive that the user may not open. A drive's node is
 * normally root:tape 0660, but distributions differ, so the group is read from
 * the node itself. The command-line imager adds this to its "access denied".
 */
#include <QString>

/**
 * A hint that follows "access denied" for the device node @p path: which group
 * grants access and how to join it, that the user joined it after this session
 * started, or that only the node's owner may open it. Empty when @p path is not
 * a character device, cannot be looked at, or its mode lets this user read it
 * (the refusal then has another cause, which a group would not cure). @p noun names
 * the device in the hint ("drive", "changer").
 */
QString deviceAccessHint(const QString &path, const QString &noun = QStringLiteral("drive"));
