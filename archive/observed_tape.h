#pragma once
/**
 * @file
 * The tape handed to the imaging engine, watched: every call goes on to the
 * drive unchanged, and what each read brought (a record, a mark, an
 * unreadable block, a block longer than the read) is logged. So the command
 * line learns what the engine passes over in silence without the engine doing
 * anything differently.
 */
#include "archive/tape_log.h"
#include "platform/backend/tape_backend.h"

class ObservedTape : public TapeBackend
{
public:
    /// Watches @p tape (not owned; it must stay open while this is used).
    ObservedTape(TapeBackend &tape, TapeLog &log);

    DWORD prepare(bool unload) override { return m_tape.prepare(unload); }
    DWORD status() override { return m_tape.status(); }
    DWORD mediaInfo(TapeMediaInfo &info) override { return m_tape.mediaInfo(info); }
    DWORD setBlockSize(std::uint32_t blockSize) override { return m_tape.setBlockSize(blockSize); }
    DWORD spaceToEndOfData() override { return m_tape.spaceToEndOfData(); }
    DWORD seekBlock(std::uint64_t block) override;
    DWORD position(std::uint64_t &block) override { return m_tape.position(block); }
    DWORD spaceRecords(std::int64_t count) override { return m_tape.spaceRecords(count); }
    DWORD read(void *buffer, std::uint32_t length, std::uint32_t &bytesRead) override;
    DWORD eject() override { return m_tape.eject(); }
    DWORD identify(TapeIdentity &identity) override { return m_tape.identify(identity); }

    /// A handle for @p tape, watched, to put where the engine takes its tape handle from.
    static HANDLE wrap(HANDLE tape, TapeLog &log);

private:
    TapeBackend &m_tape;
    TapeLog &m_log;
};
