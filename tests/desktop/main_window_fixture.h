#pragma once

// A started program in an installation of its own, with the widgets at hand by identifier.

#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/main_frame.h"
#include "app/msjprv_app.h"
#include "gui_support.h"
#include "view/main_view.h"
#include "view/message_list_panel.h"

namespace velkorant::testing {

class MainWindowTest : public ::testing::Test {
 protected:
  void TearDown() override {
    app_.reset();
    // Nothing may be left open: no stray dialog, no window.
    for (QWidget* widget : QApplication::topLevelWidgets())
      EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className();
  }

  // Starts the program; `runner` null means real modal windows.
  void Start(DialogRunner* runner) {
    app_ = std::make_unique<MSJPRVApp>(runner);
    ASSERT_TRUE(app_->InitInstance());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame()));
  }
  void Start() { Start(&runner_); }
  // Past the start-up timer's one tick.
  bool WaitForStartupTimer() {
    auto* timer = view()->findChild<QTimer*>(QStringLiteral("100"));
    return timer != nullptr && QTest::qWaitFor([&] { return !timer->isActive(); }, 5000);
  }

  CMainFrame* frame() const { return app_->main_frame(); }
  CMainView* view() const { return frame()->view(); }
  MessageListPanel& list() const { return view()->list(); }
  template <typename Widget>
  Widget* Find(int id) const {
    auto* widget = frame()->findChild<Widget*>(QString::number(id));
    EXPECT_NE(widget, nullptr) << id;
    return widget;
  }
  QTableView* table() const { return Find<QTableView>(1013); }

  // The texts of one column, top to bottom.
  QStringList Column(int column) const {
    QStringList texts;
    const MessageListModel& model = list().model();
    for (int row = 0; row < model.rowCount(); ++row)
      texts << model.row(row).texts[static_cast<std::size_t>(column)];
    return texts;
  }
  QStringList Codes() const { return Column(kColumnCode); }
  QStringList TerminalLines() const {
    QStringList lines;
    auto* terminal = Find<QListWidget>(1000);
    for (int i = 0; i < terminal->count(); ++i)
      lines << terminal->item(i)->text();
    return lines;
  }

  // A click on the row of that code, as the user does it.
  void ClickRow(const QString& code) {
    const int row = static_cast<int>(Codes().indexOf(code));
    ASSERT_GE(row, 0) << code.toStdString();
    const QRect cell = table()->visualRect(list().model().index(row, kColumnSubject));
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, cell.center());
  }

  Installation installation_;
  ScriptedRunner runner_;
  std::unique_ptr<MSJPRVApp> app_;
};

}  // namespace velkorant::testing
