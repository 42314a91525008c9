// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "platform/ansi_text.h"
#include "settings/password_profiles.h"
#include "store/message_store.h"
#include "support/installation.h"
#include "transfer/installation_import.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using testing::Installation;

void Put(std::string_view file, const std::string& bytes) {
  std::ofstream(std::string(file), std::ios::binary) << bytes;
}

// The bytes of a message file of `subjects`, as the program writes it.
std::string MessageFile(bool enviado, std::vector<std::string> subjects) {
  const Installation scratch("messages");
  MessageStore store(scratch.work());
  for (const std::string& subject : subjects) {
    const Message message{.fecha_msj = "2026-01-02 03:04:05",
                          .usuario_emisor_msj = "Ana_Windows",
                          .asunto_msj = subject,
                          .cuerpo_msj = Ansi("línea\r\notra"),
                          .enviado = enviado};
    EXPECT_NE(store.SaveMessage(message).numero, 0u);
  }
  return Installation::Bytes(scratch.work() /
                             (enviado ? kSentMessagesFile : kReceivedMessagesFile));
}

TEST(MessageFiles, DamagedOrCutFilesNameTheirLine) {
  const std::string good = MessageFile(false, {"uno", "dos"});
  ASSERT_FALSE(CheckMessageFile("", false));
  const std::size_t second = good.find("[mensaje_recibido_2]");
  const auto last_line = std::count(good.begin(), good.end(), '\n');
  struct Case {
    std::string bytes;
    bool enviado;
    std::string line;
  } cases[] = {
      {good, true, "1"},  // the other kind's file
      {good.substr(0, good.size() - 4), false, std::to_string(last_line - 1)},  // cut mid-line
      {good.substr(0, good.find("cuerpo_msj", second)), false, "13"},           // cut at a line end
      {good.substr(0, second) + "basura\r\n" + good.substr(second), false, "13"},
      {good + good.substr(second), false, std::to_string(last_line + 1)},  // message twice
      {std::string(good).replace(good.find("uno"), 1, std::string(1, '\0')), false, "5"},
      {"\xFF\xFE[\0", false, "1"},
  };
  for (const Case& c : cases) {
    const auto error = CheckMessageFile(c.bytes, c.enviado);
    ASSERT_TRUE(error) << c.line;
    EXPECT_TRUE(error->starts_with(Ansi("línea ") + c.line + ":")) << *error;
  }
}

TEST(MessageFiles, MergeKeepsEachMessageOnceWithTheNextNumbers) {
  const std::string ours = MessageFile(true, {"a", "b"});
  // Theirs holds b and a under other numbers, then c twice and a message that differs from a in
  // one flag only.
  std::string theirs = MessageFile(true, {"b", "a", "c", "c", "a"});
  theirs.replace(theirs.rfind("flag_msj_enviado_srv=0"), 22, "flag_msj_enviado_srv=1");
  const auto merge = MergeMessageFiles(ours, theirs, true);
  ASSERT_TRUE(merge);
  EXPECT_EQ(merge->added, 2);
  EXPECT_EQ(merge->already_here, 3);
  EXPECT_TRUE(merge->bytes.starts_with(ours));
  EXPECT_FALSE(CheckMessageFile(merge->bytes, true));

  const Installation installation;
  Put(kSentMessagesFile, merge->bytes);
  MessageStore store;
  ASSERT_TRUE(store.LoadMessageStore());
  std::string seen;
  for (const Message& message : store.messages())
    seen += std::to_string(message.numero) + message.asunto_msj +
            (message.flag_msj_enviado_srv ? "+" : "") + " ";
  EXPECT_EQ(seen, "1a 2b 3c 4a+ ");
  EXPECT_EQ(store.messages()[2].cuerpo_msj, Ansi("línea\r\notra"));
}

SettingsSnapshot Snapshot(std::string user, std::int32_t counter) {
  return {{{"Opciones",
            {{"NombreUsuario", user},
             {"ComentarioUsuario", std::monostate{}},
             {"MsjsRecibidos", counter},
             {"ReproSonidos", 0},
             {"EjecPrimVez", 0}}},
           {"PerfilPass\\Amigos",
            {{"PerfilNombre", std::string("Amigos")},
             {"Password", std::string(Ansi("contraseña1"))},
             {"Comentario2", std::string("segunda")}}}},
          {"PerfilPass\\Viejo"},
          {}};
}

// The installation's state as bytes: its two message files and its settings database.
std::string State(const Installation& installation) {
  std::string state;
  for (const auto& entry : fs::directory_iterator(installation.work()))
    state += entry.path().filename().string() + "\n" + Installation::Bytes(entry.path());
  return state + Installation::Bytes(installation.settings_file());
}

TEST(InstallationImport, SameOtherAndReplacedUser) {
  const std::string theirs_received = MessageFile(false, {"x", "y"});
  const std::string enviados = "mensajes_enviados.ini", recibidos = "mensajes_recibidos.ini";
  struct Case {
    std::string here_user;
    std::int32_t here_counter;
    bool replace;
    std::string refusal;  // the start of it; empty: applied
    std::int32_t counter;
    std::set<std::string> files;  // the working folder's file names after it
  } cases[] = {
      {"", 0, false, "", 7, {enviados, recibidos}},
      {"Ana_Windows", 30, false, "", 30, {enviados, recibidos}},  // the counter never goes down
      {"Ana_Windows", 3, false, "", 7, {enviados, recibidos}},
      {"Otro_usuario", 30, false, "Lo que se quiere traer es del usuario", 30, {recibidos}},
      {"Otro_usuario", 30, true, "", 7, {enviados, "mensajes_recibidos-2026-12-07.ini", recibidos}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.here_user + " " + std::to_string(c.here_counter));
    const Installation installation;
    SettingsStore settings;
    MessageStore messages;
    ASSERT_TRUE(SavePreferences(settings, {c.here_user, "mi comentario"}, c.here_counter));
    ASSERT_TRUE(WriteProfile(settings, "Viejo", {"Viejo", "clave vieja", {}}));
    ASSERT_TRUE(
        WriteProfile(settings, "Amigos", {"Amigos", "otra clave", {"c1", "c2", "c3", "c4"}}));
    Put(kReceivedMessagesFile, MessageFile(false, {"y", "z"}));

    ImportSource source{
        Snapshot("Ana_Windows", 7), {}, {theirs_received, MessageFile(true, {"enviado"})}};
    const ImportOptions options{c.replace, 1796644800};  // 2026-12-07, midday
    InstallationImport import(settings, messages);
    const auto plan = import.MakePlan(source, options);
    const std::string before = State(installation);
    if (!c.refusal.empty()) {
      ASSERT_FALSE(plan.ok());
      EXPECT_TRUE(plan.refusal->starts_with(Ansi(c.refusal))) << *plan.refusal;
      EXPECT_TRUE(plan.other_user);
      EXPECT_FALSE(import.Apply(source, options, plan));
      EXPECT_EQ(State(installation), before);
      continue;
    }
    ASSERT_TRUE(plan.ok()) << *plan.refusal;
    ASSERT_TRUE(import.Apply(source, options, plan));
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(installation.work()))
      files.insert(entry.path().filename().string());
    EXPECT_EQ(files, c.files);

    const auto loaded = LoadSettings(settings);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->user_name, "Ana_Windows");
    EXPECT_EQ(loaded->received_counter, c.counter);
    EXPECT_FALSE(loaded->play_sounds);
    EXPECT_EQ(loaded->server_name, kDefaultServerAddress);   // absent: the default
    EXPECT_EQ(LoadPreferences(settings)->user_comment, "");  // removed by the source
    // The profile deleted by the source is gone; the other one takes the source's values over
    // what was here.
    EXPECT_EQ(EnumerateProfiles(settings), std::vector<std::string>{"Amigos"});
    EXPECT_EQ(ReadProfile(settings, "Amigos").profile,
              (PasswordProfile{"Amigos", Ansi("contraseña1"), {"c1", "segunda", "c3", "c4"}}));

    // Received: theirs as it is in place of the set-aside file, merged otherwise (y was here).
    EXPECT_EQ(Installation::Bytes(kReceivedMessagesFile) == theirs_received, c.replace);
    MessageStore reloaded;
    ASSERT_TRUE(reloaded.LoadMessageStore());
    EXPECT_EQ(reloaded.messages().size(), c.replace ? 3u : 4u);  // 1 sent + x, y (+ z)
  }
}

TEST(InstallationImport, NothingChangesWhenTheSourceOrTheInstallationIsNotAsPlanned) {
  const Installation installation;
  SettingsStore settings;
  MessageStore messages;
  ASSERT_TRUE(SavePreferences(settings, {"Ana_Windows"}, 3));
  Put(kSentMessagesFile, MessageFile(true, {"a"}));
  InstallationImport import(settings, messages);

  const std::string sent = MessageFile(true, {"b"});
  ImportSource damaged{Snapshot("Ana_Windows", 7), {}, {{}, sent.substr(0, sent.size() - 5)}};
  const std::string before = State(installation);
  const auto refused = import.MakePlan(damaged, {});
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.refusal->find(Ansi("línea ")), std::string::npos);
  EXPECT_FALSE(import.Apply(damaged, {}, refused));
  EXPECT_EQ(State(installation), before);

  // Agreed to, then a receive run moves the counter before it is carried out.
  ImportSource source{Snapshot("Ana_Windows", 7), {}, {{}, sent}};
  const auto plan = import.MakePlan(source, {});
  ASSERT_TRUE(plan.ok());
  ASSERT_TRUE(settings.WriteInt("Opciones", "MsjsRecibidos", 9));
  const std::string changed = State(installation);
  ASSERT_NE(changed, before);
  EXPECT_FALSE(import.Apply(source, {}, plan));
  EXPECT_EQ(State(installation), changed);
}

}  // namespace
}  // namespace velkorant
