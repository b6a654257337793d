#include "app/korveltapedrive.h"

#include "common/app_globals.h"
#include "common/desktop_links.h"
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
    const QString value = settings.stringValue(QStringLiteral("KB"));
    QUrl address;
    address.setUrl(value, QUrl::TolerantMode);
    // The desktop's answer is not needed.
    if (mayOpen(address, helpSchemes(), "Help", value))
        QDesktopServices::openUrl(address);
}
