// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's message commands and its preferences command, worked through the real
// dialogs. The server is a closed local port: any request leaves lines in the terminal.

#include <QElapsedTimer>
#include <tuple>

#include "support/child_process.h"
#include "view/message_commands.h"
#include "window.h"

namespace velkorant::testing {
namespace {

class CommandsTest : public WindowTest {
 protected:
  void StartWith(const std::vector<Message>& messages) {
    WindowTest::StartWith(messages);
    startup_terminal_ = Terminal();
  }
  bool NoRequest() const { return Terminal() == startup_terminal_; }

  QString startup_terminal_;
};

TEST_F(CommandsTest, EachCommandPresetsTheComposeDialog) {
  Message unknown = Msg('r', "Carlos_ruiz", "RE: x", "2024-03-03");
  unknown.password_msj = "una clave que nadie tiene";
  StartWith({Msg('a', "Jos\xE9_Mar\xEDn", "Fotos", "2024-03-01"),
             Msg('n', "Luisa", "Borrador", "2024-03-01"),
             Msg('r', "Ana_garcia", "Re: Cena", "2024-03-02"), unknown});
  // "Aaa" is listed before "Amigos" but, holding only a nested profile, has no password: the
  // profile is found by name, not by its place in the list.
  ASSERT_TRUE(
      WriteProfile(view()->settings_store(), "Aaa\\Sub", {"Aaa\\Sub", "anidada", "", "", "", ""}));
  view()->LoadProfiles();
  WaitForFlows();
  // A name, the message chosen, the command; the dialog's receiver, subject, body, profile and
  // password, whether it says "Respuesta", and the field where typing starts.
  const QString hola = "Hola,\nun saludo.", jose = U("José_Marín");
  const std::tuple<const char*, QString, int, QStringList, bool, int> cases[] = {
      {"compose", "r1", kIdCompose, {"", "", "", "", ""}, false, kIdReceiver},
      {"no profile", "r2", kIdReply, {"Carlos_ruiz", "Re: RE: x", "", "", ""}, true, kIdBody},
      {"new", "r1", kIdNewToSender, {"Ana_garcia", "", "", "Amigos", kPassword}, false, kIdSubject},
      {"forward", "e1", kIdForward, {jose, "Fotos", hola, "Amigos", kPassword}, false, kIdBody},
      {"edit", "e2", kIdEdit, {"Luisa", "Borrador", hola, "Amigos", kPassword}, false, kIdBody},
  };
  for (const auto& [name, code, command, fields, says_reply, typing_starts] : cases) {
    SCOPED_TRACE(name);
    ClickRow(code);
    runner_.steps.push_back([&](QDialog& dialog) {
      QStringList shown;
      for (int id : {kIdReceiver, kIdSubject, kIdBody, kIdComposeProfile, kIdComposePassword})
        shown << Text(dialog, id);
      EXPECT_EQ(shown, fields);
      EXPECT_EQ(Find(dialog, kIdReplyMark)->isVisible(), says_reply);
      EXPECT_EQ(dialog.focusWidget(), Field(dialog, typing_starts));
      Click(dialog, kDialogCancel);
    });
    Press(command);
  }
  EXPECT_EQ(std::tuple(Key(true, 3, "asunto_msj"), Key(false, 1, "flag_msj_respondido")),
            std::tuple("-", "0"));  // nothing stored, nothing marked
  EXPECT_TRUE(NoRequest());
}

TEST_F(CommandsTest, SavedRepliesAndEditsStayHereUnsent) {
  StartWith({Msg('r', "Ana_garcia", "Cena", "2024-03-02")});
  ClickRow("r1");
  Fill(kIdReply, {{kIdBody, U("Sí, a las nueve.")}}, kComposeSaveOnly);
  // Not sent, but an answer; the received message is marked answered.
  EXPECT_EQ(std::tuple(Key(true, 1, "flag_msj_enviado_srv"), Key(true, 1, "flag_msj_respondido"),
                       Key(false, 1, "flag_msj_respondido")),
            std::tuple("0", "1", "1"));
  EXPECT_EQ(Selected(), QStringList{"e1"});
  Fill(kIdEdit, {{kIdSubject, "Informe final"}},
       kComposeSaveOnly);  // in place, no longer an answer
  EXPECT_EQ(std::tuple(Key(true, 1, "asunto_msj"), Key(true, 1, "flag_msj_respondido"),
                       Key(true, 2, "asunto_msj")),
            std::tuple("Informe final", "0", "-"));
  EXPECT_TRUE(NoRequest());
}

// Another process holds the message files: the window does not wait for it. A message read
// shows read at once and is marked when the files are free; a reply waits 10 s for its copy, then
// stays open with its text and marks nothing answered; a copy stored after a short wait goes out.
TEST_F(CommandsTest, AnotherProcessHoldingTheFilesNeverHoldsTheWindow) {
  StartWith({Msg('u', "Ana_garcia", "Cena", "2024-03-02")});
  const auto hold = [](const char* seconds) {
    return std::make_unique<ChildProcess>(std::vector<std::string>{
        VELKORANT_PYTHON, "-c",
        "import fcntl,os,sys,time; f=os.open('.', os.O_RDONLY); fcntl.flock(f, fcntl.LOCK_EX); "
        "print('held=1', flush=True); time.sleep(float(sys.argv[1]))",
        seconds});
  };
  auto holder = hold("60");
  ASSERT_EQ(holder->ReadSettings(1).size(), 1u);
  QElapsedTimer clock;
  clock.start();
  ClickRow("r1");
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_EQ(list().model().index(0, 0).data(kRowColourRole).toInt(),
            static_cast<int>(RowColour::kRead));  // its only row
  runner_.answers = {kAnswerOk, kAnswerYes};      // the box that says why, then leaving it
  runner_.steps.push_back([this](QDialog& compose) {
    Type(compose, kIdBody, "Vale");
    Click(compose, kDialogOk);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !runner_.events.empty(); }, 15'000));
    EXPECT_EQ(Text(compose, kIdBody), "Vale");
    Escape(compose);
  });
  OnMessageCommand(view()->commands(), kIdReply);  // not waiting for the mark, which waits too
  EXPECT_EQ(runner_.Captions(),
            QStringList({"Error. No se ha podido guardar el mensaje", "Descartar mensaje"}));
  EXPECT_EQ(std::tuple(Key(false, 1, "flag_msj_leido"), Key(false, 1, "flag_msj_respondido")),
            std::tuple("0", "0"));
  holder.reset();
  WaitForFlows();
  EXPECT_EQ(Key(false, 1, "flag_msj_leido"), "1");

  holder = hold("1");
  ASSERT_EQ(holder->ReadSettings(1).size(), 1u);
  Fill(kIdReply, {{kIdBody, "Vale"}});
  EXPECT_EQ(std::tuple(Key(true, 1, "cuerpo_msj"), Key(false, 1, "flag_msj_respondido")),
            std::tuple("Vale", "1"));
  EXPECT_FALSE(NoRequest());  // sent (the closed server refused it)
}

TEST_F(CommandsTest, DeleteRemovesTheMessageAskedAbout) {
  StartWith({Msg('n', "Luisa_sanz", "Borrador", "2024-03-01"),
             Msg('a', "Luisa_sanz", "Fotos", "2024-03-01"),
             Msg('r', "Ana_garcia", "Cena del viernes", "2024-03-02")});
  ClickRow("r1");
  Press(kIdDelete);  // answered No
  ASSERT_EQ(runner_.Captions(), QStringList{"Eliminar mensaje"});
  EXPECT_EQ(runner_.events[0].second, U("¿ Eliminar este mensaje ?\n\nCena del viernes"));
  EXPECT_TRUE(Key(false, 1, "asunto_msj") == "Cena del viernes" && !Pane().isEmpty());
  // While the question is open the list is reloaded and the message moves up a place.
  ClickRow("e2");
  runner_.on_box = [this] {
    EXPECT_TRUE(MessageStore(".").DeleteMessage(true, 1));
    view()->ReloadMessages();
  };
  runner_.answers = {kAnswerYes};
  Press(kIdDelete);
  runner_.on_box = nullptr;
  EXPECT_EQ(Column(), QStringList{"r1"});
  EXPECT_TRUE(Pane().isEmpty() && !Get(kIdDelete)->isEnabled());
  EXPECT_TRUE(NoRequest());
  EXPECT_EQ(runner_.types,
            std::vector<unsigned>(2, kBoxYesNoQuestion | kBoxDefaultSecond));  // No first
}

TEST_F(CommandsTest, PreferencesRegisterANewNameOnlyAndForgetARefusedOne) {
  StartWith({});
  ASSERT_TRUE(view()->settings_store().WriteInt(kOptionsSection, kReceivedCounterEntry, 7));
  const auto counter = [this] { return LoadSettings(view()->settings_store())->received_counter; };
  Fill(kCommandPreferences, {{kIdUserName, "otro nombre"}});  // a user name is chosen once
  EXPECT_EQ(std::tuple(view()->settings().user_name, counter()), std::tuple("Hannah_desert", 7));
  EXPECT_TRUE(NoRequest());  // no registration again
  runner_.answers = {kAnswerYes};
  Fill(kCommandPreferences, {}, kIdDeleteUser);  // "Eliminar este usuario"
  Fill(kCommandPreferences, {{kIdUserName, "Hannah_desert_2"},
                             {kIdServerName, "127.0.0.1:2/velkorant/"},
                             {kIdServerDescription, "cerrado"}});
  EXPECT_FALSE(NoRequest());  // the registration, which the server refused
  const Preferences stored = LoadPreferences(view()->settings_store()).value();
  EXPECT_EQ(
      std::tie(stored.user_name, stored.server_name, stored.server_description, stored.play_sounds),
      std::tuple("", "127.0.0.1:2/velkorant/", "cerrado", 1));
  EXPECT_EQ(std::tuple(view()->settings().user_name, counter()), std::tuple("", 0));
}

}  // namespace
}  // namespace velkorant::testing
