#pragma once
// Virtual tapes and image files made by the tests, and the shared imaging state
// put back as a fresh process has it.
#include "imaging/imaging_state.h"
#include "platform/tap_writer.h"
#include "platform/virtual_tape.h"
#include "platform/win32_tape.h"

#include <QFile>
#include <QVector>

/// Tape contents: a record length each, or kMark for a tape mark.
using Objects = QVector<int>;
constexpr int kMark = -1;

/// The bytes of the record at @p index; never 0, so zero padding stands out.
inline QByteArray recordContent(int index, int length)
{
    QByteArray data(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        data[i] = char(1 + (index * 31 + i * 7 + (i >> 9)) % 251);
    return data;
}

/// Writes a virtual tape file; the record at @p errorRecord is marked unreadable.
inline bool writeTape(const QString &path, const Objects &objects, int errorRecord = -1)
{
    TapWriter tape;
    if (!tape.open(QFile::encodeName(path).toStdString()))
        return false;
    for (int i = 0; i < objects.size(); ++i) {
        if (objects[i] == kMark) {
            tape.writeTapeMark();
        } else {
            const QByteArray data = recordContent(i, objects[i]);
            tape.writeRecord(data.constData(), std::uint32_t(data.size()), i == errorRecord);
        }
    }
    return tape.close();
}

/// Opens a tape file directly, as the program opens its drive.
inline HANDLE openTapeFile(const QString &path)
{
    const std::wstring name = path.toStdWString();
    return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_ARCHIVE, nullptr);
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

/// The shared imaging state as a fresh process starts with it, no drive open.
inline void resetImagingState()
{
    if (ImagingState::driveOpen)
        CloseHandle(ImagingState::tapeHandle);
    ImagingState::tapeHandle = nullptr;
    ImagingState::driveOpen = false;
    ImagingState::loadStatus = 1;
    ImagingState::busy = false;
    ImagingState::totalBytes = 0;
    ImagingState::bytesDone = 0;
    ImagingState::blockCount = 0;
    ImagingState::chosenBlockSize = 0;
    ImagingState::lastReadLength = 0;
    ImagingState::blockSizeText = QString();
    ImagingState::imagePath.clear();
    ImagingState::runFlag = false;
    ImagingState::abortFlag = false;
    ImagingState::progressPagePrepared = false;
    ImagingState::ejectFlag = false;
    ImagingState::turnOffFlag = false;
    VirtualTape::setFaults(VirtualTape::NoFault);
    VirtualTape::resetPrepareCallCount();
}
