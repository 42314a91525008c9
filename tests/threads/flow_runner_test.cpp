// SPDX-License-Identifier: GPL-3.0-or-later
// The flow runner's hand-over between the GUI thread and its workers, also run under
// ThreadSanitizer with Debian's Qt, which is built without it. The tool sees our own data cross:
// a flow's objects made on the GUI thread, changed by the work on a worker and read back by the
// done step; a box's answer and its cancel; the calls a flow posts. It cannot see Qt's own atomics
// and its event queue's locks, which carry those posts: the runner marks each post and its call
// for the tool, where it posts them.
#include "view/flow_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "support/installation.h"
#include "support/recording_ui.h"

namespace velkorant {
namespace {

// A GUI that answers Yes, unlike a cancelled box's safe answer.
struct YesUi : testing::RecordingUi {
  int ShowMessageBox(std::string_view text, std::string_view caption, unsigned type) override {
    RecordingUi::ShowMessageBox(text, caption, type);
    return kAnswerYes;
  }
};

TEST(FlowRunnerTest, FlowsHandTheirObjectsOverAndBack) {
  const testing::Installation installation("flows");
  int argc = 0;
  const QCoreApplication application(argc, nullptr);
  for (const auto order : {FlowRunner::Order::kOneAtATime, FlowRunner::Order::kAtOnce}) {
    YesUi gui;
    std::vector<std::string> done;
    int cancelled = 0;
    {
      FlowRunner runner(gui, installation.settings_file(), order);
      QObject::connect(&runner, &FlowRunner::flowEnded,
                       [&cancelled](const std::string&, bool was) { cancelled += was; });
      const auto start = [&](const std::string& name) {
        Settings settings;
        settings.user_name = name;
        runner.Start(
            settings, FlowRunner::WhenBusy::kQueue,
            [](FlowRunner::Flow& flow) {
              flow.settings.user_name += '+';
              flow.ui.LogTerminal(flow.settings.user_name);
              flow.settings.server_name =
                  std::to_string(flow.ui.ShowMessageBox("¿Seguir?", "Prueba", kBoxYesNoQuestion));
            },
            [&done](FlowRunner::Flow& flow) {
              done.push_back(flow.settings.user_name + flow.settings.server_name);
            });
      };
      for (const char* name : {"a", "b", "c", "d"})
        start(name);
      while (done.size() < 4)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
      // Stopped at once: their boxes are never shown, and take the safe answer, No.
      start("e"), start("f");
    }
    EXPECT_THAT(done, ::testing::UnorderedElementsAre("a+6", "b+6", "c+6", "d+6", "e+7", "f+7"));
    EXPECT_EQ(gui.boxes.size(), 4u);
    EXPECT_THAT(gui.lines, ::testing::UnorderedElementsAre("a+", "b+", "c+", "d+", "e+", "f+"));
    EXPECT_EQ(cancelled, 2);
  }
}

}  // namespace
}  // namespace velkorant
