// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialog_runner.h"

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "common/ui_services.h"
#include "ui/dialog_units.h"

namespace velkorant {
namespace {

// QMessageBox wraps its text at about 500 pixels, but the program breaks its lines itself: the
// text gets the width of its longest line, as far as QMessageBox lets a box grow on the screen
// (all of a narrow one, else 480 pixels short of its width and 1000 at most).
void FitLongestLine(QMessageBox& box, const QString& text, QWidget* parent) {
  auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
  if (label == nullptr || screen == nullptr || box.layout() == nullptr)
    return;
  int longest = 0;
  for (const QString& line : text.split(u'\n'))
    longest = std::max(longest, label->fontMetrics().horizontalAdvance(line));
  const int screen_width = screen->availableGeometry().width();
  const int widest = screen_width <= 1024 ? screen_width : std::min(screen_width - 480, 1000);
  label->setMinimumWidth(longest + 2);  // a pixel on each side, as the text is laid out
  const int excess = box.layout()->minimumSize().width() - widest;
  if (excess > 0)
    label->setMinimumWidth(std::max(0, label->minimumWidth() - excess));
}

}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text,
                                            const QString& caption, unsigned type) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Question, caption, text,
                                           QMessageBox::NoButton, parent);
  box->setFont(DialogFont());
  // Texts quote subjects and server answers: "<b>" in them is text, never markup.
  box->setTextFormat(Qt::PlainText);
  FitLongestLine(*box, text, parent);
  if ((type & ~kBoxDefaultSecond) == kBoxYesNoQuestion) {
    QPushButton* yes = box->addButton(QStringLiteral("Sí"), QMessageBox::YesRole);
    QPushButton* no = box->addButton(QStringLiteral("No"), QMessageBox::NoRole);
    box->setDefaultButton((type & kBoxDefaultSecond) != 0 ? no : yes);
    box->setEscapeButton(no);
  } else {
    QPushButton* ok = box->addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
  }
  return box;
}

int ModalDialogRunner::ShowMessageBox(QWidget* parent, const QString& text, const QString& caption,
                                      unsigned type) {
  const std::unique_ptr<QMessageBox> box = MakeMessageBox(parent, text, caption, type);
  box->exec();
  if ((type & ~kBoxDefaultSecond) != kBoxYesNoQuestion)
    return kAnswerOk;
  return box->buttonRole(box->clickedButton()) == QMessageBox::YesRole ? kAnswerYes : kAnswerNo;
}

int ModalDialogRunner::RunModal(QDialog& dialog) {
  return dialog.exec();
}

}  // namespace velkorant
