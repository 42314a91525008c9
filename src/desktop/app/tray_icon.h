// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program on the desktop: in the system tray, the status envelope's picture with the number
// of unread messages in its tooltip; and a desktop notification when a receive run brings new
// messages while none of the program's windows is active, through the desktop's notification
// service, or the tray where there is no such service. Made on every desktop; the icon shows
// only where there is a tray.

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>

class QMenu;
class QSystemTrayIcon;

namespace velkorant {

class CMainFrame;

class TrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit TrayIcon(CMainFrame& frame, QObject* parent = nullptr);
  ~TrayIcon() override;

  // Puts the icon in the tray, where the desktop has one.
  void Show();
  QString toolTip() const;
  int status() const { return status_; }
  QSystemTrayIcon& tray() { return *tray_; }

  static QString ToolTipFor(int unread);
  // A stranger's name as a notification may show it: plain text (a desktop may read markup in
  // it), no control or direction characters, at most 40 characters.
  static QString PlainName(const QString& name);

 signals:
  // Every desktop notification, as shown.
  void notified(const QString& title, const QString& text);

 private:
  void OnStatusIcon(int state);
  void Notify();
  void Refresh();
  bool ProgramActive() const;
  // The senders of the decrypted unread messages that came after `known_received_`, newest
  // first, each once.
  QStringList NewSenders() const;
  void NoteKnownReceived();

  CMainFrame& frame_;
  QSystemTrayIcon* tray_;
  QMenu* menu_;
  int status_ = 1;
  // A receive run with new messages ended while the program was in the background.
  bool notify_pending_ = false;
  // The highest received message's number before the last run: those above it are new.
  std::uint32_t known_received_ = 0;
};

}  // namespace velkorant
