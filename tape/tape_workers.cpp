#include "tape/tape_workers.h"

#include "imaging/imaging_state.h"
#include "platform/win32_tape.h"
#include "tape/no_event_loop.h"

namespace {
constexpr int kLoadAttempts = 4;
}

MyThread::MyThread(QObject *parent)
    : QThread(parent)
{
    setEventDispatcher(new NoEventLoopDispatcher); // run() never enters an event loop
}

MyThread::~MyThread()
{
    condition.wakeOne();
    wait();
}

void MyThread::run()
{
    // After a failed open there is nothing to load; the load status keeps its value.
    if (!ImagingState::driveOpen)
        return;
    for (int attempt = 0; attempt < kLoadAttempts; ++attempt) {
        ImagingState::loadStatus = PrepareTape(ImagingState::tapeHandle, TAPE_LOAD, TRUE);
        if (ImagingState::loadStatus == NO_ERROR)
            return;
    }
    (void)GetLastError(); // dropped: the page state tells the user
}

MyThreadone::MyThreadone(QObject *parent)
    : QThread(parent)
{
    setEventDispatcher(new NoEventLoopDispatcher); // run() never enters an event loop
}

MyThreadone::~MyThreadone()
{
    condition.wakeOne();
    wait();
}

void MyThreadone::run()
{
    // Only the byte count matters: a mark, the end of data or a read error
    // show up as what was (or was not) read.
    DWORD bytesRead = 0;
    ReadFile(ImagingState::tapeHandle, ImagingState::readBuffer, ImagingState::kReadLength,
        &bytesRead, nullptr);
    ImagingState::lastReadLength = bytesRead;
}

MyThreadtwo::MyThreadtwo(QObject *parent)
    : QThread(parent)
{
    setEventDispatcher(new NoEventLoopDispatcher); // run() never enters an event loop
}

MyThreadtwo::~MyThreadtwo()
{
    condition.wakeOne();
    wait();
}

void MyThreadtwo::run()
{
    if (SetTapePosition(ImagingState::tapeHandle, TAPE_SPACE_END_OF_DATA, 0, 0, 0, FALSE)
        != NO_ERROR)
        (void)GetLastError(); // dropped: the position read afterwards tells the engine
}

MyThreadthree::MyThreadthree(QObject *parent)
    : QThread(parent)
{
    setEventDispatcher(new NoEventLoopDispatcher); // run() never enters an event loop
}

MyThreadthree::~MyThreadthree()
{
    condition.wakeOne();
    wait();
}

void MyThreadthree::run()
{
    if (SetTapePosition(ImagingState::tapeHandle, TAPE_ABSOLUTE_BLOCK, 0, 0, 0, FALSE) != NO_ERROR)
        (void)GetLastError(); // dropped: the position read afterwards tells the engine
}
