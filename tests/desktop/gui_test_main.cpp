// SPDX-License-Identifier: GPL-3.0-or-later
// One QApplication for all tests of the executable, offscreen unless told otherwise. No test may
// hang on a window that does not close: a dialog or box still open after a few seconds fails the
// running test and is closed, which also ends the modal loop waiting for it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QTimer>

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  QTimer watchdog;
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(window);
      const qint64 now = QDateTime::currentMSecsSinceEpoch();
      // A dialog waiting for a write it asked for has its own bound.
      if (!window->isVisible() || dialog == nullptr || dialog->property("waiting").toBool()) {
        window->setProperty("shown_at", QVariant());
      } else if (!dialog->property("shown_at").isValid()) {
        dialog->setProperty("shown_at", now);
      } else if (now - dialog->property("shown_at").toLongLong() > 5000) {
        ADD_FAILURE() << "the window \"" << dialog->windowTitle().toStdString()
                      << "\" stayed open 5 s";
        dialog->done(QDialog::Rejected);
      }
    }
  });
  watchdog.start(250);
  return RUN_ALL_TESTS();
}
