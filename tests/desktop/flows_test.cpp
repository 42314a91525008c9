// SPDX-License-Identifier: GPL-3.0-or-later
// The window while the server works: its shortcuts where people look for them, the focus after a
// flow, each flow's outcome in the status bar, writing meanwhile, and cancelling a flow.

#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "crypto/message_cipher.h"
#include "support/mailbox_server.h"
#include "window.h"

namespace velkorant::testing {
namespace {

class FlowsTest : public WindowTest {
 protected:
  // The outcome pane's text, which its accessible name must repeat.
  QString Told() const {
    const QLabel* pane = Get<QLabel>(kIdOutcomePane);
    EXPECT_EQ(pane->accessibleName(), pane->text());
    return pane->text();
  }
  QString LastLine() const { return Terminal().section('\n', -1).section(" - ", 1); }
  // Message files 1..n in a folder of their own, as a server keeps them.
  static std::string Files(int n) {
    const std::string folder = std::filesystem::absolute("served").string();
    std::filesystem::create_directory(folder);
    for (int i = 1; i <= n; ++i)
      std::ofstream(folder + "/msj_" + std::to_string(i) + "_datos.cry")
          << EncryptText("VER:v1.1a\nEMI:Ana_1\nASU:asunto " + std::to_string(i) + "\n", kPassword);
    return folder;
  }
};

TEST_F(FlowsTest, EachShortcutShowsInItsMenuAndItsButtonsTooltip) {
  StartWith();
  const std::tuple<int, int, QKeySequence, QString> rows[] = {
      {kCommandReceive, kIdReceive, Qt::Key_F5, "Recibir mensajes (F5)"},
      {kCommandCompose, kIdCompose, QKeySequence("Ctrl+N"), "Redactar nuevo mensaje (Ctrl+N)"},
      {kCommandExit, kIdExit, QKeySequence("Ctrl+Q"), "Salir (Ctrl+Q)"}};
  for (const auto& [command, button, keys, tip] : rows) {
    QAction* action = frame()->command(command);
    EXPECT_EQ(action->shortcut(), keys) << tip.toStdString();
    EXPECT_TRUE(qobject_cast<QMenu*>(action->associatedObjects().value(0))) << tip.toStdString();
    EXPECT_EQ(Get(button)->toolTip(), tip);
  }
}

// The server refuses every request: each flow fails at once.
TEST_F(FlowsTest, FocusGoesBackToWhatStartedTheFlowAndTheStatusBarTellsHowItEnded) {
  StartWith();
  ASSERT_TRUE(Activate(*frame()));
  Get(kIdReceive)->setFocus();
  QTest::keyClick(frame(), Qt::Key_F5);
  WaitForFlows();
  EXPECT_EQ(frame()->focusWidget(), Get(kIdReceive));
  EXPECT_EQ(Told(), LastLine());
  EXPECT_TRUE(Told().startsWith("Error")) << Told().toStdString();
  Fill(kIdCompose, {{kIdReceiver, "Luisa_sanz"},
                    {kIdSubject, "Hola"},
                    {kIdBody, "Hola"},
                    {kIdComposeProfile, "A"}});
  EXPECT_EQ(frame()->focusWidget(), Get(kIdCompose));
  runner_.steps.push_back([](QDialog& dialog) { Click(dialog, kDialogOk); });
  Press(kIdProfiles);
  EXPECT_EQ(frame()->focusWidget(), Get(kIdProfiles));
}

TEST_F(FlowsTest, WhileAFlowRunsMessagesAreWrittenAndStoredAndTheirSendsWaitInOrder) {
  const HostileServer server("answers");
  const ScopedCaBundle ca(server.address().ca);
  StartWith({}, {.server = server.answering_yes().server});
  std::atomic<bool> held = true;
  view()->flows().Start(view()->settings(), FlowRunner::WhenBusy::kSkip,
                        [&held](FlowRunner::Flow& flow) {
                          while (held && !flow.cancelled)
                            std::this_thread::sleep_for(std::chrono::milliseconds(10));
                        });
  for (const char* subject : {"Uno", "Dos"}) {
    runner_.steps.push_back([subject](QDialog& dialog) {
      for (const auto& [id, text] : {std::pair(kIdReceiver, "Luisa_sanz"),
                                     {kIdSubject, subject},
                                     {kIdBody, "Hola"},
                                     {kIdComposeProfile, "A"}})
        Type(dialog, id, text);
      Click(dialog, kDialogOk);
    });
    ASSERT_TRUE(Activate(*frame()));  // for its shortcuts
    QTest::keyClick(frame(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !view()->local().busy(); }, 5000));
  }
  ASSERT_TRUE(Activate(*frame()));
  QTest::keyClick(frame(), Qt::Key_F5);
  EXPECT_EQ(Key(true, 1, "asunto_msj") + Key(true, 2, "asunto_msj") +
                Key(true, 1, "flag_msj_enviado_srv") + Key(true, 2, "flag_msj_enviado_srv"),
            "UnoDos00");
  EXPECT_EQ(Terminal().count(U("El envío espera a que termine la operación en curso.")), 2);
  EXPECT_TRUE(
      Terminal().endsWith(U("Ya hay una operación en curso con el servidor; esta "
                            "recepción no se hace.")));
  // Cancelled by Esc on "Cancelar": the sends asked for still go, one after the other.
  auto* cancel = Get<QPushButton>(kIdCancelFlow);
  ASSERT_TRUE(cancel->isVisible());
  EXPECT_EQ(cancel->accessibleName(), U("Cancelar la operación en curso"));
  cancel->setFocus();
  QTest::keyClick(cancel, Qt::Key_Escape);
  WaitForFlows();
  EXPECT_FALSE(cancel->isVisible());
  EXPECT_EQ(Key(true, 1, "flag_msj_enviado_srv") + Key(true, 2, "flag_msj_enviado_srv"), "11");
  EXPECT_EQ(Terminal().count("Mensaje enviado correctamente"), 2);
  EXPECT_EQ(Told(), "Mensaje enviado correctamente");
}

// A run cancelled while it waits for a slow server keeps what it stored, and the counter says
// so: the next run fetches only the rest.
TEST_F(FlowsTest, ACancelledRunKeepsWhatItStoredAndTheNextFetchesTheRest) {
  const std::string files = Files(6);
  const HostileServer slow("slow", files);
  const ScopedCaBundle ca(slow.address().ca);
  StartWith({}, {.server = slow.answering_yes().server});
  Click(*frame(), kIdReceive);
  auto* progress = Get<QProgressBar>(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return progress->value() >= 1; }, 20'000));
  QElapsedTimer clock;
  clock.start();
  Click(*frame(), kIdCancelFlow);
  WaitForFlows();
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_EQ(Told(), U("Operación cancelada"));
  const auto counter = [this] { return LoadSettings(view()->settings_store())->received_counter; };
  const int stored = counter();
  EXPECT_GE(stored, 1);
  EXPECT_LT(stored, 6);
  EXPECT_EQ(Key(false, stored, "asunto_msj"), "asunto " + std::to_string(stored));
  EXPECT_EQ(Key(false, stored + 1, "asunto_msj"), "-");
  Press(kIdReceive);
  EXPECT_EQ(Told(), QString::number(6 - stored) + " nuevos mensajes");
  EXPECT_EQ(std::tuple(counter(), Key(false, 6, "asunto_msj"), Key(false, 7, "asunto_msj")),
            std::tuple(6, "asunto 6", "-"));
}

}  // namespace
}  // namespace velkorant::testing
