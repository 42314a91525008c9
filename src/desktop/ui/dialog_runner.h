// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every message box and modal dialog of the program runs through this, so tests can answer
// them without a real modal loop.

#include <QString>
#include <memory>

class QDialog;
class QMessageBox;
class QWidget;

namespace velkorant {

class DialogRunner {
 public:
  virtual ~DialogRunner() = default;

  // Type 0x20 (OK) or 0x24 (Yes / No), both with the question-mark icon, the latter also with
  // kBoxDefaultSecond (No is the default); the answer is kAnswerOk, kAnswerYes or kAnswerNo.
  virtual int ShowMessageBox(QWidget* parent, const QString& text, const QString& caption,
                             unsigned type) = 0;
  // Runs the dialog modally and returns its result code.
  virtual int RunModal(QDialog& dialog) = 0;
};

// The box ModalDialogRunner runs for ShowMessageBox, built but not shown.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text,
                                            const QString& caption, unsigned type);

class ModalDialogRunner final : public DialogRunner {
 public:
  int ShowMessageBox(QWidget* parent, const QString& text, const QString& caption,
                     unsigned type) override;
  int RunModal(QDialog& dialog) override;
};

}  // namespace velkorant
