#include "ui/dialog_runner.h"

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

#include "mailbox/ui_services.h"
#include "ui/dialog_units.h"

namespace velkorant {

int ModalDialogRunner::ShowMessageBox(QWidget* parent, const QString& text, const QString& caption,
                                      unsigned type) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
  box.setFont(DialogFont());
  if (type == kBoxYesNoQuestion) {
    QPushButton* yes = box.addButton(QStringLiteral("Sí"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? kAnswerYes : kAnswerNo;
  }
  QPushButton* ok = box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  box.exec();
  return kAnswerOk;
}

int ModalDialogRunner::RunModal(QDialog& dialog) {
  return dialog.exec();
}

}  // namespace velkorant
