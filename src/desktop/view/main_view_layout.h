#pragma once

// The controls of the main form, placed at their dialog-unit positions; each control's
// objectName is its identifier ("1126").

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
  QPushButton* receive = nullptr;        // 1126
  QPushButton* compose = nullptr;        // 1164
  QPushButton* profiles = nullptr;       // 1001
  QPushButton* exit = nullptr;           // 1011
  QGroupBox* list_group = nullptr;       // 1018
  QTableView* message_list = nullptr;    // 1013
  QPushButton* reply = nullptr;          // 1160
  QPushButton* new_to_sender = nullptr;  // 1161
  QPushButton* forward = nullptr;        // 1162
  QPushButton* edit = nullptr;           // 1163
  QPushButton* remove = nullptr;         // 1165
  // 1168 idle, 1169 error, 1170 no new messages, 1171 new messages.
  std::array<QLabel*, 4> envelope{};
  QLabel* banner = nullptr;            // 1167
  QGroupBox* message_group = nullptr;  // 1019
  QTextEdit* reading_pane = nullptr;   // 1125
  QGroupBox* filters_group = nullptr;
  QCheckBox* show_sent = nullptr;        // 1021
  QCheckBox* show_received = nullptr;    // 1020
  QComboBox* user_filter = nullptr;      // 1015
  QCheckBox* user_filter_on = nullptr;   // 1016
  QLineEdit* search = nullptr;           // 1022
  QPushButton* search_button = nullptr;  // 1023
  QPushButton* clear_search = nullptr;   // 1024
  QGroupBox* terminal_group = nullptr;
  QListWidget* terminal = nullptr;        // 1000
  QPushButton* clear_terminal = nullptr;  // 1166
};

// Creates every control as a child of `form`, in the template's order (later ones on top).
MainViewControls BuildMainViewControls(QWidget& form, const DialogUnits& units);

// Step 9 of the start-up: the button pictures, with their captions beside them.
void LoadButtonPictures(const MainViewControls& controls);

}  // namespace velkorant
