#pragma once

// A dialog runner for tests that work through the program's own dialogs: each modal dialog is
// shown and handed to the next step of a script, which fills and closes it as a user would, and
// the dialog's own result is returned. Message boxes are recorded and answered from a queue.

#include <gtest/gtest.h>

#include <QDialog>
#include <QTest>
#include <deque>
#include <functional>
#include <vector>

#include "gui_support.h"
#include "mailbox/ui_services.h"
#include "dialogs/dialog_fields.h"
#include "ui/dialog_runner.h"

namespace velkorant::testing {

class DialogScript final : public RecordingRunner {
 public:
  using Step = std::function<void(QDialog&)>;

  int RunModal(QDialog& dialog) override {
    events.push_back({dialog.windowTitle(), {}, 0, dialog.objectName()});
    if (steps.empty()) {
      ADD_FAILURE() << "no step for the dialog " << dialog.objectName().toStdString();
      return kDialogCancel;
    }
    const Step step = std::move(steps.front());
    steps.pop_front();
    dialog.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    step(dialog);
    if (dialog.isVisible()) {
      ADD_FAILURE() << "the step left the dialog " << dialog.objectName().toStdString() << " open";
      dialog.reject();
    }
    return dialog.result();
  }

  // The captions of the boxes and the titles of the dialogs, in order.
  std::vector<QString> Captions() const {
    std::vector<QString> captions;
    for (const RunnerEvent& event : events)
      captions.push_back(event.caption);
    return captions;
  }

  std::deque<Step> steps;
};

}  // namespace velkorant::testing
