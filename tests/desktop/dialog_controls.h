#pragma once

// Working a dialog's controls as a user does: found by identifier, typed into with key presses
// (also characters QTest cannot map to a key), clicked with the mouse.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace velkorant::testing {

inline QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

template <typename Widget>
Widget* Control(QWidget& dialog, int id) {
  auto* widget = dialog.findChild<Widget*>(QString::number(id));
  EXPECT_NE(widget, nullptr) << "control " << id;
  return widget;
}

inline void Click(QWidget& dialog, int id) {
  QPushButton* button = Control<QPushButton>(dialog, id);
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
}

// A line break is the Enter key.
inline void KeyIn(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    if (c == u'\n') {
      QTest::keyClick(widget, Qt::Key_Return);
      continue;
    }
    if (c.unicode() < 0x80) {
      QTest::keyClick(widget, c.toLatin1());
      continue;
    }
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}

// Empties the field, then types the text into it.
inline void Type(QWidget& dialog, int id, const QString& text) {
  QWidget* widget = Control<QWidget>(dialog, id);
  ASSERT_NE(widget, nullptr);
  if (auto* combo = qobject_cast<QComboBox*>(widget))
    combo->lineEdit()->clear();
  if (auto* line = qobject_cast<QLineEdit*>(widget))
    line->clear();
  if (auto* plain = qobject_cast<QPlainTextEdit*>(widget))
    plain->clear();
  KeyIn(widget, text);
}

inline QString Text(QWidget& dialog, int id) {
  QWidget* widget = Control<QWidget>(dialog, id);
  if (auto* combo = qobject_cast<QComboBox*>(widget))
    return combo->currentText();
  if (auto* line = qobject_cast<QLineEdit*>(widget))
    return line->text();
  if (auto* plain = qobject_cast<QPlainTextEdit*>(widget))
    return plain->toPlainText();
  return {};
}

}  // namespace velkorant::testing
