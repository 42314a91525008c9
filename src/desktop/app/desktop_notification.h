// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Desktop notifications through the freedesktop notification service on the session bus, which
// desktops offer with or without a system tray.

#include <QString>

namespace velkorant {

// Hands the notification to the service; false when the session bus has no such service (then
// nothing was sent). Never waits for the notification to be shown.
bool SendDesktopNotification(const QString& title, const QString& text);

}  // namespace velkorant
