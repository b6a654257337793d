#pragma once
#include <QString>

#include <cstddef>

namespace Quorlin {

/// Amanda opens each tape file with a block of this size: a line of facts, how
/// to restore, zeros. The dump follows it.
constexpr qint64 amandaHeaderLength = 32768;

/// Whether an Amanda tape file header starts at @p data: its tag, a kind of
/// tape file it knows, and a first line of plain text that holds that kind's fields.
bool isAmandaHeader(const unsigned char *data, std::size_t available);

/// What the header's first line says, in words: host, disk, level, date,
/// compression and program of a dump; the label and date of a tape's start.
QString amandaHeaderFacts(const unsigned char *data, std::size_t available);

/// Which dump a dump header's tape file holds, and which part of it.
struct AmandaPart
{
    bool valid = false; ///< a dump's header
    QString dump; ///< host, disk, level and date: the same in every part of one dump
    int number = 0; ///< the part, from 1; 0 when the header names none
    int total = 0; ///< how many parts the dump has; 0 when the header does not know
};
AmandaPart amandaPart(const unsigned char *data, std::size_t available);

} // namespace Quorlin
