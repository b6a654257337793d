#include "app/korveltapedrive.h"

#include "common/app_globals.h"
#include "dialogs/aboutdlg.h"
#include "dialogs/dialog_common.h"
#include "platform/win32_registry.h"

#include <QDesktopServices>
#include <QUrl>

void KorvelTapeDrive::onAbtDlg()
{
    // A new dialog per click; the window keeps the earlier ones, hidden.
    auto *about = new AboutDlg(this);
    centreIn(about, QRect(x(), y(), width(), height()));
    about->show();
}

void KorvelTapeDrive::helpOnline()
{
    // Read on every click, so a changed address needs no restart.
    const RegistryKey settings(settingsPath);
    QUrl address;
    address.setUrl(settings.value(QStringLiteral("KB")).toString(), QUrl::TolerantMode);
    // An empty address opens nothing; the desktop's answer is not needed.
    QDesktopServices::openUrl(address);
}
