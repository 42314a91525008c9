// SPDX-License-Identifier: GPL-3.0-or-later
// The end of a server flow: the focus goes back to the control that started it, and the status
// bar's outcome pane tells how it ended in its text and in its accessible name (which screen
// readers announce as it changes). The server refuses every request: each flow fails at once.

#include <QLabel>

#include "window.h"

namespace velkorant::testing {

TEST_F(WindowTest, FocusGoesBackToWhatStartedAFlowAndTheStatusBarTellsHowItEnded) {
  StartWith();
  // A key's menu command shows it, and its button's tooltip names it.
  QStringList shown;
  for (const auto& [command, button] : {std::pair(kCommandReceive, kIdReceive),
                                        {kCommandCompose, kIdCompose},
                                        {kCommandExit, kIdExit}})
    shown << frame()->command(command)->shortcut().toString() << Get(button)->toolTip();
  shown << Get(kIdSearchButton)->toolTip();
  EXPECT_EQ(shown,
            QStringList({"F5", "Recibir mensajes (F5)", "Ctrl+N", "Redactar nuevo mensaje (Ctrl+N)",
                         "Ctrl+Q", "Salir (Ctrl+Q)", "Buscar (Ctrl+F)"}));
  const QLabel* outcome = frame()->pane(2);
  ASSERT_TRUE(Activate(*frame()));
  Get(kIdReceive)->setFocus();
  QTest::keyClick(frame(), Qt::Key_F5);
  WaitForFlows();
  EXPECT_EQ(std::tuple(outcome->text(), outcome->accessibleName(), outcome->text().left(5)),
            std::tuple(Terminal().section(" - ", -1), outcome->text(), "Error"));
  EXPECT_EQ(frame()->focusWidget(), Get(kIdReceive));
  Fill(kIdCompose, Letter("Luisa", "Hola", "Hola", "A"));
  EXPECT_EQ(frame()->focusWidget(), Get(kIdCompose));
  Fill(kIdProfiles, {});
  EXPECT_EQ(frame()->focusWidget(), Get(kIdProfiles));
}

}  // namespace velkorant::testing
