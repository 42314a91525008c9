// SPDX-License-Identifier: GPL-3.0-or-later
// One program per folder: a later start brings the open window to the front, and --receive asks
// it to receive; a run waiting on the server leaves the window free and ends when the program
// does. (The other options are tried on the installed program by install_test.sh; the desktop's
// notifications, by the window exchange.)

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include "app/program_start.h"
#include "app/single_instance.h"
#include "support/mailbox_server.h"
#include "support/private_keyring.h"
#include "view/message_commands.h"
#include "window.h"

namespace velkorant::testing {
namespace {

// The built program's exit code and output, run in `folder` while this process goes on serving
// its own window.
std::pair<int, QString> RunProgram(const QString& folder, const QStringList& args) {
  QProcess process;
  process.setWorkingDirectory(folder);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(VELKORANT_PROGRAM, args);
  if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000))
    process.kill();
  process.waitForFinished();
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          process.readAll()};
}

TEST_F(WindowTest, LaterStartsInTheFolderAskTheOpenWindow) {
  WriteSettings();
  const QString work = home_.work().c_str();
  EXPECT_EQ(RunProgram(work, {"--receive"}).first, 1);  // no window open here
  Start();
  InstanceChannel channel(work);
  ASSERT_TRUE(
      channel.Claim([this](auto request) { return AnswerInstanceRequest(app_.get(), request); }));
  QWidget elsewhere;  // the user went on elsewhere and minimised the program
  ASSERT_TRUE(Activate(elsewhere));
  frame()->showMinimized();
  const auto [code, output] = RunProgram(work, {});
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(output.contains("already open")) << output.toStdString();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return frame()->isActiveWindow() && !frame()->isMinimized(); }, 5000));
  elsewhere.hide();
  EXPECT_EQ(RunProgram(work, {"--receive"}).first, 0);  // once the window's own run is over
  EXPECT_EQ(runner_.Captions(), QStringList{U("Error de conexión.")});
  WriteSettings({.user = ""});  // refused, as the button is, without a user name
  view()->ReloadSettings();
  EXPECT_TRUE(RunProgram(work, {"--receive"}).second.contains("no user name"));
  EXPECT_EQ(runner_.events.size(), 1u);
}

// Against a server whose answer never ends, the run would wait a minute; messages written
// meanwhile are stored at once and their sends wait for it. "Cancelar" ends it at once, and the
// sends go on; quitting ends them too, their messages stored unsent.
TEST_F(WindowTest, ARunWaitingOnTheServerLeavesTheWindowFreeAndEndsWithTheProgram) {
  const HostileServer endless("endless");  // its answers never end
  const ScopedCaBundle ca(endless.address().ca);
  StartWith({}, {.server = endless.address().server});
  // The run starts while the first dialog is open (as by its timer); the second asks again.
  const auto compose = [this](const char* subject, bool by_key = false) {
    runner_.steps.push_back([this, subject](QDialog& dialog) {
      view()->OnReceiveMessages();
      for (const auto& [id, text] : Letter("Luisa_sanz", subject, "Hola Luisa", "A"))
        Type(dialog, id, text);
      Click(dialog, kDialogOk);
    });
    (by_key && Activate(*frame())) ? QTest::keyClick(frame(), Qt::Key_N, Qt::ControlModifier)
                                   : OnMessageCommand(view()->commands(), kIdCompose);
  };
  compose("Hola");
  compose("Dos", true);
  EXPECT_TRUE(QTest::qWaitFor([] { return Key(true, 2, "asunto_msj") == "Dos"; }, 5000));
  EXPECT_EQ(Terminal().count(U("El envío espera a que termine la operación en curso.")), 2);
  EXPECT_EQ(Terminal().count(U("Ya hay una operación en curso con el servidor")), 1);
  for (const int id : {kCommandCheckServer, kCommandPreferences, kCommandProfiles})
    EXPECT_EQ(frame()->command(id)->isEnabled(), id == kCommandProfiles) << id;
  // The worst lateness of a 10 ms timer while the run waits.
  QElapsedTimer clock;
  qint64 worst = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] { worst = std::max(worst, clock.restart()); });
  clock.start();
  tick.start(10);
  QTest::qWait(1400);
  EXPECT_LT(worst, 500);
  tick.stop();
  ASSERT_TRUE(Activate(*frame()));  // for the button's key
  Get(kIdCancelFlow)->setFocus();
  QTest::keyClick(Get(kIdCancelFlow), Qt::Key_Escape);
  EXPECT_TRUE(QTest::qWaitFor(
      [this] { return frame()->pane(2)->accessibleName() == U("Operación cancelada"); }, 2000));
  ASSERT_TRUE(view()->flows().busy());  // the first send waits on the server now
  clock.restart();
  frame()->command(kCommandExit)->trigger();
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_EQ(runner_.Captions(), QStringList{});  // the failure of a run ended so is no box
  // One confirmed in a dialog still open when the program quit is stored too, unsent.
  compose("Chao");
  WaitForFlows();
  EXPECT_EQ(Key(true, 1, "asunto_msj") + Key(true, 1, "flag_msj_enviado_srv") +
                Key(true, 2, "flag_msj_enviado_srv") + Key(true, 3, "asunto_msj"),
            "Hola00Chao");
}

// A keyring that takes every call and answers none (an unlock prompt left open, a hung daemon):
// the window shows, its buttons answer, and the program quits at once.
TEST_F(WindowTest, AKeyringThatDoesNotAnswerNeverHoldsTheWindow) {
  WriteSettings();
  for (const char* profile : {"Amigos", "Seleccion"})  // their passwords kept in the keyring
    ASSERT_TRUE(SettingsStore().WriteValues(
        ProfileSection(profile), {{"Password", std::monostate()}, {"PasswordEnLlavero", 1}}));
  const SilentKeyring silent;
  QElapsedTimer clock;
  clock.start();
  app_ = std::make_unique<MSJPRVApp>(&runner_);
  ASSERT_TRUE(app_->InitInstance());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame()));
  Click(*frame(), kIdReceive);
  Click(*frame(), kIdProfiles);
  EXPECT_LT(clock.elapsed(), 3000);
  EXPECT_TRUE(QTest::qWaitFor([&] { return silent.started() != 0; }, 5000));
  EXPECT_TRUE(view()->flows().busy() && view()->local().busy());  // both wait on the keyring
  clock.restart();
  frame()->close();
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_EQ(runner_.Captions(), QStringList{});
}

}  // namespace
}  // namespace velkorant::testing
