#pragma once

class QSharedMemory;
class QString;

/**
 * Lets the start go on when no other instance runs in this session; otherwise
 * shows the already-running message and returns false (the caller exits 0).
 * On success @p segment stays created until the caller destroys it. The lock
 * and the segment's key file live in the user's private folder for named
 * objects (namedObjectFolder()), so other users neither share nor block them;
 * without such a folder the start goes on unguarded and says so on stderr.
 */
bool passSingleInstanceGuard(QSharedMemory &segment);

/// The key of the segment that marks a running instance.
extern const char *const kSingleInstanceKey;

/// The segment's native key: the file named after kSingleInstanceKey in the private folder.
QString singleInstanceKeyFile();
