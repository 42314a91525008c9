// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The controls of the main form, placed at their dialog-unit positions; each control's
// objectName is its identifier (ui/control_ids.h).

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;
class QTextEdit;
class QWidget;

namespace velkorant {

class DialogUnits;

// The form's size in dialog units.
inline constexpr int kFormWidthUnits = 633;
inline constexpr int kFormHeightUnits = 307;

struct MainViewControls {
  QPushButton* receive = nullptr;
  QPushButton* compose = nullptr;
  QPushButton* profiles = nullptr;
  QPushButton* exit = nullptr;
  QGroupBox* list_group = nullptr;
  QTableView* message_list = nullptr;
  QPushButton* reply = nullptr;
  QPushButton* new_to_sender = nullptr;
  QPushButton* forward = nullptr;
  QPushButton* edit = nullptr;
  QPushButton* remove = nullptr;
  // Idle, error, no new messages, new messages.
  std::array<QLabel*, 4> envelope{};
  QLabel* banner = nullptr;
  QGroupBox* message_group = nullptr;
  QTextEdit* reading_pane = nullptr;
  QGroupBox* filters_group = nullptr;
  QCheckBox* show_sent = nullptr;
  QCheckBox* show_received = nullptr;
  QComboBox* user_filter = nullptr;
  QCheckBox* user_filter_on = nullptr;
  QLineEdit* search = nullptr;
  QPushButton* search_button = nullptr;
  QPushButton* clear_search = nullptr;
  QGroupBox* terminal_group = nullptr;
  QListWidget* terminal = nullptr;
  QPushButton* clear_terminal = nullptr;
};

// Creates every control as a child of `form`, in the template's order (later ones on top).
MainViewControls BuildMainViewControls(QWidget& form, const DialogUnits& units);

// The button pictures, with their captions beside them (a start-up step).
void LoadButtonPictures(const MainViewControls& controls);

// Lets the form take any size from its template's: the message list, the reading pane and the
// terminal take the width and height added (or give up what is taken), and every other control
// keeps its place beside the part it belongs to. Under its minimum size the form scrolls.
void MakeFormResizable(QWidget& form, const MainViewControls& controls, const DialogUnits& units);

}  // namespace velkorant
