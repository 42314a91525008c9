// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/tray_icon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>
#include <array>

#include "app/desktop_notification.h"
#include "app/main_frame.h"
#include "common/ui_services.h"
#include "store/message_store.h"
#include "ui/pictures.h"
#include "ui/qt_text.h"
#include "view/flow_runner.h"
#include "view/main_view.h"
#include "view/message_list_panel.h"

namespace velkorant {
namespace {

// The envelope pictures of the states 1 to 4, as the main view shows them.
QIcon EnvelopeIcon(int state) {
  constexpr std::array<const char*, 4> kPictures = {"155", "157", "158", "156"};
  if (state < 1 || state > 4)
    state = 1;
  QIcon icon;
  for (const int width : {42, 84}) {
    const QPixmap picture =
        LoadPicture(QString::fromLatin1(kPictures[static_cast<std::size_t>(state - 1)]),
                    QSize(width, width * 30 / 42));
    if (!picture.isNull())
      icon.addPixmap(picture);
  }
  return icon;
}

}  // namespace

TrayIcon::TrayIcon(CMainFrame& frame, QObject* parent)
    : QObject(parent), frame_(frame), tray_(new QSystemTrayIcon(this)), menu_(new QMenu) {
  CMainView& view = *frame_.view();
  menu_->addAction(QStringLiteral("Mostrar Velkorant"), &frame_, &CMainFrame::BringToFront);
  menu_->addAction(QStringLiteral("Recibir mensajes"), view.controls().receive,
                   &QPushButton::click);
  menu_->addSeparator();
  if (QAction* exit = frame_.command(kCommandExit))
    menu_->addAction(exit);
  tray_->setContextMenu(menu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick)
      frame_.BringToFront();
  });
  connect(&view, &CMainView::statusIconChanged, this, &TrayIcon::OnStatusIcon);
  // Rebuilt lists and selections (which mark messages read) change the unread count.
  connect(&view.list(), &MessageListPanel::currentMessageChanged, this, &TrayIcon::Refresh);
  // A run's new messages are counted once the run has stored and listed them.
  connect(&view.flows(), &FlowRunner::busyChanged, this, [this](bool busy) {
    if (busy)
      NoteKnownReceived();
    else if (notify_pending_)
      Notify();
  });
  tray_->setIcon(EnvelopeIcon(status_));
  NoteKnownReceived();
  Refresh();
}

TrayIcon::~TrayIcon() {
  delete menu_;
}

void TrayIcon::Show() {
  if (QSystemTrayIcon::isSystemTrayAvailable())
    tray_->show();
}

void TrayIcon::NoteKnownReceived() {
  known_received_ = 0;
  for (const Message& message : frame_.view()->message_store().messages()) {
    if (!message.enviado)
      known_received_ = std::max(known_received_, message.numero);
  }
}

QStringList TrayIcon::NewSenders() const {
  QStringList senders;
  const std::vector<Message>& messages = frame_.view()->message_store().messages();
  for (auto message = messages.rbegin(); message != messages.rend(); ++message) {
    if (!message->enviado && message->numero > known_received_ && message->flag_msj_desencriptado &&
        !message->flag_msj_leido) {
      const QString name = ToQString(message->usuario_emisor_msj);
      if (!senders.contains(name))
        senders << name;
    }
  }
  return senders;
}

QString TrayIcon::PlainName(const QString& name) {
  QString plain;
  for (const QChar c : name) {
    const QChar::Category category = c.category();
    if (category != QChar::Other_Control && category != QChar::Other_Format &&
        category != QChar::Separator_Line && category != QChar::Separator_Paragraph) {
      plain.append(c);
    }
  }
  // Cut before escaping, so that no escape is cut in half.
  return plain.left(40).toHtmlEscaped();
}

QString TrayIcon::ToolTipFor(int unread) {
  if (unread == 0)
    return QStringLiteral("Velkorant: no hay mensajes sin leer");
  if (unread == 1)
    return QStringLiteral("Velkorant: 1 mensaje sin leer");
  return QStringLiteral("Velkorant: %1 mensajes sin leer").arg(unread);
}

QString TrayIcon::toolTip() const {
  return tray_->toolTip();
}

bool TrayIcon::ProgramActive() const {
  const QWidget* active = QApplication::activeWindow();
  return active != nullptr && (active == &frame_ || frame_.isAncestorOf(active));
}

void TrayIcon::OnStatusIcon(int state) {
  status_ = state;
  tray_->setIcon(EnvelopeIcon(state));
  // Judged now, before the run's end brings the window to the front.
  if (state == static_cast<int>(StatusIcon::kNewMessages) && !ProgramActive() && !notify_pending_) {
    notify_pending_ = true;
    if (!frame_.view()->flows().busy())
      QTimer::singleShot(0, this, &TrayIcon::Notify);
  }
}

void TrayIcon::Notify() {
  notify_pending_ = false;
  Refresh();
  const QString title = QStringLiteral("Velkorant: mensajes nuevos");
  const int unread = frame_.view()->list().UnreadCount();
  QString text = QStringLiteral("Tienes %1 mensajes sin leer.").arg(unread);
  if (unread == 1) {
    text = QStringLiteral("Tienes 1 mensaje sin leer.");
  } else if (unread == 0) {
    // Every new message stayed undecrypted: no password profile fits them.
    text = QStringLiteral("Han llegado mensajes que no se han podido desencriptar.");
  }
  constexpr qsizetype kNamed = 3;
  const QStringList senders = NewSenders();
  if (!senders.isEmpty()) {
    QStringList named;
    for (const QString& sender : senders.mid(0, kNamed))
      named << PlainName(sender);
    text += QStringLiteral("\nDe: ") + named.join(QStringLiteral(", "));
    if (senders.size() > kNamed)
      text += QStringLiteral(" y %1 más").arg(senders.size() - kNamed);
    text += QLatin1Char('.');
  }
  // The desktop's notification service where there is one, whatever the tray.
  if (!SendDesktopNotification(title, text) && QSystemTrayIcon::isSystemTrayAvailable())
    tray_->showMessage(title, text, EnvelopeIcon(status_));
  emit notified(title, text);
}

void TrayIcon::Refresh() {
  tray_->setToolTip(ToolTipFor(frame_.view()->list().UnreadCount()));
}

}  // namespace velkorant
