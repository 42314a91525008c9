// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the program's own dialogs share: controls placed at their dialog-unit positions with
// their identifiers as object names, fields whose typing stops at a limit while a longer text put
// in by the program stays whole, and the length check made when a dialog takes its fields back.

#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog_units.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;

namespace velkorant {

class DialogRunner;
class SettingsStore;
struct BoxText;

// The box that says the settings could not be read (`reading`) or saved, which file, why and what
// to do; after a failed save nothing has changed.
void ShowSettingsFailure(DialogRunner& runner, QWidget* parent, const SettingsStore& store,
                         bool reading);
// The same with the problem as the store described it (on a worker that read it).
void ShowSettingsFailure(DialogRunner& runner, QWidget* parent, const std::string& problem,
                         bool reading);

// Adds to `changes`, once each, every character of `text` that Windows-1252 has no byte for, as
// "日 → ?" with what it becomes in the stores.
void AddChangedCharacters(const QString& text, QStringList& changes);

// Result codes of the program's dialogs.
inline constexpr int kDialogOk = 1;
inline constexpr int kDialogCancel = 2;

// Left, top, width, height in dialog units.
struct UnitRect {
  int left;
  int top;
  int width;
  int height;
};

// A fixed-size dialog drawn from a template: its objectName is the template number, and closing
// it any other way than through its buttons (Esc, the window's close box) ends it with
// kDialogCancel, as its "Cancelar" button does. Its controls sit on a form of the template's
// size; on a screen too small for the form the dialog takes what the screen has and the form
// scrolls, following the focus.
class TemplateDialog : public QDialog {
  Q_OBJECT
  Q_PROPERTY(bool waiting READ waiting)

 public:
  TemplateDialog(int template_id, const QString& caption, int width_units, int height_units,
                 QWidget* parent);

  const DialogUnits& units() const { return units_; }
  // The parent of the dialog's controls.
  QWidget& form() const { return *form_; }
  void reject() override;

  // While what the dialog confirmed is written elsewhere (on a worker), its controls wait and it
  // stays open, so that nothing typed is lost should the write fail.
  void SetWaiting(bool waiting);
  bool waiting() const { return waiting_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // As large as the form, or as the screen's free area leaves room for.
  void FitScreen();

  DialogUnits units_;
  QWidget* form_;
  QScrollArea* area_;
  bool waiting_ = false;
  std::vector<QPointer<QWidget>> waiting_controls_;
};

template <typename Widget>
Widget* PlaceControl(TemplateDialog& dialog, int id, UnitRect place) {
  auto* widget = new Widget(&dialog.form());
  if (id != 0)
    widget->setObjectName(QString::number(id));
  widget->setGeometry(dialog.units().Rect(place.left, place.top, place.width, place.height));
  return widget;
}

// With a `buddy`, the "&" in the text marks the Alt key that moves to it, and screen readers name
// the buddy by the label.
QLabel* PlaceLabel(TemplateDialog& dialog, int id, const QString& text, UnitRect place,
                   Qt::Alignment alignment = Qt::AlignLeft, QWidget* buddy = nullptr);
// Centred text in a thin frame.
QLabel* PlaceFramedLabel(TemplateDialog& dialog, int id, const QString& text, UnitRect place);
QGroupBox* PlaceGroup(TemplateDialog& dialog, const QString& title, UnitRect place);
QPushButton* PlaceButton(TemplateDialog& dialog, int id, const QString& caption, UnitRect place);
QCheckBox* PlaceCheckBox(TemplateDialog& dialog, int id, const QString& caption, UnitRect place);
// The "." button that shows the information picture 154 (20 by 20 pixels) instead of its caption;
// `name` says what it explains, to screen readers and in its tooltip.
QPushButton* PlaceHelpButton(TemplateDialog& dialog, int id, UnitRect place, const QString& name);
// The template gives the height of the dropped-down list; the closed box is one line high.
QComboBox* PlaceComboBox(TemplateDialog& dialog, int id, UnitRect place);

// A stored "NULL" is shown as an empty field.
QString StoredText(std::string_view stored);

// A single-line field whose typing and pasting stop at `limit` characters. A text the program
// puts in (a preset, a list entry of its combo box) stays whole even when longer; the user can
// then only shorten it, and the length check refuses it when the dialog takes it back.
class LimitedLineEdit : public QLineEdit {
  Q_OBJECT

 public:
  LimitedLineEdit(int limit, QWidget* parent);

  void SetFieldText(const QString& text);
  int limit() const { return limit_; }
  // How long the text may grow: the limit, or the present length when that is more.
  int allowed() const { return allowed_; }

 private:
  int limit_;
  int allowed_;
};

// The message body: Enter starts a new line, Tab moves on, and typing stops at `limit`
// characters with each line break counting two (the stored text breaks lines with CR LF).
class LimitedTextEdit : public QPlainTextEdit {
  Q_OBJECT

 public:
  LimitedTextEdit(int limit, QWidget* parent);

  // Line breaks are CR LF (a lone CR or LF also breaks the line); nothing is cut.
  void SetFieldText(const QString& text);
  // Line breaks as CR LF.
  QString FieldText() const;
  // Characters as the stored text counts them: a line break is two.
  static int Length(const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  // How many more characters fit when the selection is replaced.
  int Room() const;
  // The longest start of `text` that fits the room.
  QString Fitting(const QString& text) const;

  int limit_;
};

LimitedLineEdit* PlaceField(TemplateDialog& dialog, int id, int limit, UnitRect place);
// An editable combo box whose typing stops at `limit` characters; typing never picks an entry.
QComboBox* PlaceEditableComboBox(TemplateDialog& dialog, int id, int limit, UnitRect place);

// A field that shows each character as "*".
void MakePasswordField(QLineEdit& field);
// "Ver": the password in clear or as "*".
void ShowPasswordInClear(QLineEdit& field, bool clear);

// A check's box that keeps the dialog open; once it is answered the focus is on the field it
// names (if any), its text selected for typing over.
void Refuse(DialogRunner& runner, QWidget& dialog, QWidget* field, const QString& text,
            const QString& caption);
void Refuse(DialogRunner& runner, QWidget& dialog, QWidget* field, const BoxText& box);

// Takes the fields of a dialog back in their order, each held to its limit. The first one over
// its limit shows the too-long box, gets the focus with its text selected, and stops the rest.
class FieldTaker {
 public:
  FieldTaker(DialogRunner& runner, QWidget& dialog) : runner_(runner), dialog_(dialog) {}

  // `label` is the field's name as the dialog shows it (UTF-8); `text` Windows-1252.
  FieldTaker& Take(QWidget& control, std::string_view label, std::string text, std::size_t limit,
                   std::string& into);
  bool ok() const { return ok_; }

 private:
  DialogRunner& runner_;
  QWidget& dialog_;
  bool ok_ = true;
};

}  // namespace velkorant
