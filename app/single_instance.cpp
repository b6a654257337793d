#include "app/single_instance.h"

#include "dialogs/dialog_common.h"
#include "dialogs/repairfinishdialog.h"
#include "platform/win32_handles.h"
#include "platform/win32_instance.h"

#include <QSharedMemory>
#include <QTimer>

const char *const kSingleInstanceKey = "5a1f3c2e-7d44-4b1a-9e0c-3f6b2d8a41c7";

namespace {

constexpr int kSegmentSize = 512;

void showAlreadyRunning()
{
    repairFinishDialog message(nullptr);
    message.repairedLabl->setText(QObject::tr(" Tarnwick is already\n running."));
    message.label_8->setText(QObject::tr("         Tarnwick"));
    placeScaledSquare(message.label_3, 105, 6, 16);
    // Lets scripted and headless starts (tests, the offscreen platform) see the
    // message and still end on their own.
    bool timed = false;
    const int dismissAfterMs = qEnvironmentVariableIntValue("TARNWICK_AUTO_DISMISS_MS", &timed);
    if (timed)
        QTimer::singleShot(dismissAfterMs, &message, &QDialog::close);
    message.exec();
}

// A segment outlives a killed owner on Linux. Attaching and detaching removes
// it when nobody else is attached; a live instance keeps it.
void clearStaleSegment(const QString &key)
{
    QSharedMemory probe(key);
    if (probe.attach())
        probe.detach();
}

} // namespace

bool passSingleInstanceGuard(QSharedMemory &segment)
{
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Tarnwick");
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // The handle stays open: the process is about to end anyway.
        showAlreadyRunning();
        return false;
    }
    // The lock only covers two starts racing through this step; the segment
    // is what refuses later starts.
    CloseHandle(mutex);

    clearStaleSegment(segment.key());
    if (!segment.create(kSegmentSize, QSharedMemory::ReadWrite)) {
        showAlreadyRunning();
        return false;
    }
    return true;
}
