// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/keyboard_access.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QTextEdit>
#include <array>
#include <utility>

#include "app/main_frame.h"
#include "view/main_view.h"

namespace velkorant {
namespace {

void Name(QWidget* widget, const QString& name, bool tooltip = false) {
  if (widget == nullptr)
    return;
  widget->setAccessibleName(name);
  if (tooltip)
    widget->setToolTip(name);
}

template <typename Widget>
Widget* Control(CMainFrame& frame, int id) {
  return frame.findChild<Widget*>(QString::number(id));
}

// The commands with a key: the menu command carries the shortcut, so the menu shows it, and the
// button's tooltip names it. `clicks` the menu command clicks the button, so both keep the
// button's rules (click() does nothing on a disabled button).
struct KeyedCommand {
  int command;
  int button;
  QKeyCombination keys;
  bool clicks;
};
constexpr std::array<KeyedCommand, 3> kKeyedCommands = {{
    {kCommandReceive, kIdReceive, QKeyCombination(Qt::Key_F5), true},
    {kCommandCompose, kIdCompose, QKeyCombination(Qt::ControlModifier, Qt::Key_N), true},
    {kCommandExit, kIdExit, QKeyCombination(Qt::ControlModifier, Qt::Key_Q), false},
}};

}  // namespace

void PrepareKeyboardAndAccessibility(CMainFrame& frame) {
  CMainView* view = frame.view();
  if (view == nullptr)
    return;
  const MainViewControls& c = view->controls();

  // The status envelope: four pictures, one visible at a time, each telling the mailbox's state.
  const std::array<QString, 4> envelope = {
      QStringLiteral("Estado del buzón: en espera"),
      QStringLiteral("Estado del buzón: error en la conexión con el servidor"),
      QStringLiteral("Estado del buzón: no hay mensajes nuevos"),
      QStringLiteral("Estado del buzón: hay mensajes nuevos"),
  };
  for (std::size_t i = 0; i < envelope.size(); ++i)
    Name(c.envelope[i], envelope[i], true);
  Name(c.banner, QStringLiteral("Velkorant"));
  // The picture buttons lose their caption to their picture.
  Name(c.clear_search, QStringLiteral("Borrar la búsqueda"), true);
  Name(c.clear_terminal, QStringLiteral("Vaciar el terminal"), true);
  // Controls without a caption of their own take the title of the frame around them.
  Name(c.message_list, QStringLiteral("Listado de mensajes"));
  Name(c.reading_pane, QStringLiteral("Mensaje"));
  Name(c.terminal, QStringLiteral("Terminal"));
  Name(c.user_filter, QStringLiteral("Usuario del filtro"));
  Name(c.search, QStringLiteral("Texto a buscar"));
  Name(frame.findChild<QProgressBar*>(QStringLiteral("1")), QStringLiteral("Progreso"));

  // Tab goes on to the next control instead of walking the cells of the list.
  c.message_list->setTabKeyNavigation(false);
  // The form's order: the top row of buttons, the list and its buttons, the reading pane, the
  // filters and the terminal's clear button. (The terminal itself never takes the focus.)
  const std::array<QWidget*, 19> chain = {
      c.receive,      c.compose,       c.profiles,      c.exit,           c.message_list,
      c.reply,        c.new_to_sender, c.forward,       c.edit,           c.remove,
      c.reading_pane, c.show_sent,     c.show_received, c.user_filter,    c.user_filter_on,
      c.search,       c.search_button, c.clear_search,  c.clear_terminal,
  };
  for (std::size_t i = 0; i + 1 < chain.size(); ++i)
    QWidget::setTabOrder(chain[i], chain[i + 1]);

  for (const KeyedCommand& keyed : kKeyedCommands) {
    QAction* action = frame.command(keyed.command);
    auto* button = Control<QAbstractButton>(frame, keyed.button);
    if (action == nullptr || button == nullptr)
      continue;
    action->setShortcut(QKeySequence(keyed.keys));
    button->setToolTip(QStringLiteral("%1 (%2)").arg(
        action->text().remove(u'&'), action->shortcut().toString(QKeySequence::NativeText)));
    if (keyed.clicks)
      QObject::connect(action, &QAction::triggered, button, &QAbstractButton::click);
  }
  auto* find = new QShortcut(QKeySequence::Find, &frame);
  find->setContext(Qt::WindowShortcut);
  QObject::connect(find, &QShortcut::activated, c.search, [search = c.search] {
    search->setFocus(Qt::ShortcutFocusReason);
    search->selectAll();
  });
  const QString find_tip =
      QStringLiteral("Buscar (%1)").arg(find->key().toString(QKeySequence::NativeText));
  c.search->setToolTip(find_tip);
  c.search_button->setToolTip(find_tip);
}

}  // namespace velkorant
