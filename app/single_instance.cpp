#include "app/single_instance.h"

#include "dialogs/dialog_common.h"
#include "dialogs/repairfinishdialog.h"
#include "platform/backend/win32_handles.h"
#include "platform/win32_instance.h"

#include <QSharedMemory>
#include <QTimer>

#include <cstdio>

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
void clearStaleSegment(const QString &nativeKey)
{
    QSharedMemory probe;
    probe.setNativeKey(nativeKey);
    if (probe.attach())
        probe.detach();
}

} // namespace

QString singleInstanceKeyFile()
{
    const QString folder = namedObjectFolder();
    return folder.isEmpty() ? QString()
                            : folder + QLatin1Char('/') + QLatin1String(kSingleInstanceKey);
}

bool passSingleInstanceGuard(QSharedMemory &segment)
{
    QString problem;
    if (namedObjectFolder(&problem).isEmpty()) {
        // Lock and key in a shared place would let another user block or fake them.
        std::fprintf(stderr, "tarnwick: %s; a second start in this session will not be refused\n",
            qPrintable(problem));
        return true;
    }
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Tarnwick");
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // The handle stays open: the process is about to end anyway.
        showAlreadyRunning();
        return false;
    }
    // The lock only covers two starts racing through this step; the segment
    // is what refuses later starts.
    CloseHandle(mutex);

    // The key file sits in the user's own folder, so the segment is this user's alone.
    segment.setNativeKey(singleInstanceKeyFile());
    clearStaleSegment(segment.nativeKey());
    if (!segment.create(kSegmentSize, QSharedMemory::ReadWrite)) {
        showAlreadyRunning();
        return false;
    }
    return true;
}
