#pragma once

class QSharedMemory;

/**
 * Lets the start go on when no other instance runs in this session; otherwise
 * shows the already-running message and returns false (the caller exits 0).
 * On success @p segment stays created until the caller destroys it.
 */
bool passSingleInstanceGuard(QSharedMemory &segment);

/// The key of the segment that marks a running instance.
extern const char *const kSingleInstanceKey;
