// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/desktop_notification.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "app/desktop_identity.h"

namespace velkorant {

bool SendDesktopNotification(const QString& title, const QString& text) {
  const QString service = QStringLiteral("org.freedesktop.Notifications");
  const QDBusConnection bus = QDBusConnection::sessionBus();
  const QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
  // A service that is not running yet may be started by the bus for the call.
  if (daemon == nullptr || (!daemon->isServiceRegistered(service).value() &&
                            !daemon->activatableServiceNames().value().contains(service))) {
    return false;
  }
  QDBusMessage notify = QDBusMessage::createMethodCall(
      service, QStringLiteral("/org/freedesktop/Notifications"), service, QStringLiteral("Notify"));
  const QString app_id = QString::fromLatin1(kAppId);
  // Application name, no notification to replace, the installed icon, summary, body, no
  // actions, the launcher it belongs to, and the server's own display time.
  notify << QStringLiteral("Velkorant") << 0u << app_id << title << text << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), app_id}} << -1;
  return bus.send(notify);
}

}  // namespace velkorant
