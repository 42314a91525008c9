#include "ui/dialog_runner.h"

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

#include "mailbox/ui_services.h"
#include "ui/dialog_units.h"

namespace velkorant {

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text,
                                            const QString& caption, unsigned type) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Question, caption, text,
                                           QMessageBox::NoButton, parent);
  box->setFont(DialogFont());
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
