#include "mailbox/mailbox_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "crypto/digests.h"
#include "crypto/message_cipher.h"
#include "platform/ansi_text.h"
#include "store/message_text.h"
#include "support/mailbox_server.h"
#include "support/recording_ui.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using velkorant::testing::HostileServer;
using velkorant::testing::RandomFolder;
using velkorant::testing::RecordingUi;
using velkorant::testing::ScopedCaBundle;

constexpr const char* kConnectionFailure =
    "Error de conexión. Comprueba tu conexión de Internet y tu cortafuegos";

// A user name whose mailbox folder nobody else uses.
std::string FreshUserName() {
  return "usuario_" + RandomFolder();
}

class MailboxClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = testing::LocalMailboxServer();
    ASSERT_FALSE(server_.server.empty()) << "the mailbox_server fixture did not run";
    dir_ = fs::temp_directory_path() / ("velkorant-client-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    settings_.server_name = server_.server;
  }
  void TearDown() override { fs::remove_all(dir_); }

  MailboxClient Client() { return MailboxClient(settings_, ui_, downloader_); }

  // Makes the local server answer `text` to `script` for one folder.
  void HookAnswer(const std::string& script, const std::string& folder, const std::string& text) {
    const fs::path hooks =
        fs::path(VELKORANT_BINARY_DIR) / "mailbox-server-state/data/_test_answers";
    fs::create_directories(hooks);
    std::ofstream(hooks / (script + "@" + folder), std::ios::binary) << text;
    hooks_.push_back(hooks / (script + "@" + folder));
  }
  void ClearHooks() {
    for (const auto& hook : hooks_)
      fs::remove(hook);
    hooks_.clear();
  }

  testing::ServerAddress server_;
  fs::path dir_;
  Settings settings_;
  RecordingUi ui_;
  UrlDownloader downloader_;
  std::vector<fs::path> hooks_;
};

TEST_F(MailboxClientTest, CheckServerSucceedsAgainstTheLocalServer) {
  ScopedCaBundle ca(server_.ca);
  Client().CheckServer();
  EXPECT_THAT(ui_.lines,
              ElementsAre("Conectando con servidor " + server_.server, "Conexión con servidor: OK",
                          "SRV: OK", "Servidor de mensajes: OK"));
  EXPECT_THAT(ui_.icons, ElementsAre(StatusIcon::kIdle));
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kServerCheckOk));
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(MailboxClientTest, CheckServerTestsTheFirstTwoCharactersExactly) {
  struct Case {
    std::string answer;
    bool ok;
  };
  for (const Case& c : {Case{"OK\\nmore", true}, Case{"OKAY", true}, Case{"O", false},
                        Case{"ok", false}, Case{" OK", false}, Case{"", false}}) {
    HostileServer fake("answers", {"--answer", "comprobar_conexion_servidor.php=" + c.answer});
    ScopedCaBundle ca(fake.address().ca);
    settings_.server_name = fake.address().server;
    ui_.Clear();
    Client().CheckServer();
    ASSERT_EQ(ui_.lines.size(), 4u) << c.answer;
    EXPECT_EQ(ui_.lines[1], "Conexión con servidor: OK");
    std::string shown = c.answer;
    if (const auto at = shown.find("\\n"); at != std::string::npos)
      shown.replace(at, 2, "\n");
    EXPECT_EQ(ui_.lines[2], "SRV: " + shown);
    EXPECT_EQ(ui_.lines[3],
              c.ok ? "Servidor de mensajes: OK"
                   : "Error. No se ha podido conectar con el servidor " + fake.address().server);
    EXPECT_EQ(ui_.last_icon(), c.ok ? StatusIcon::kIdle : StatusIcon::kError);
    EXPECT_THAT(ui_.sounds,
                ElementsAre(c.ok ? EventSound::kServerCheckOk : EventSound::kServerCheckFailed));
  }
}

TEST_F(MailboxClientTest, UnreachableServer) {
  settings_.server_name = "127.0.0.1:9/velkorant/";
  Client().CheckServer();
  EXPECT_THAT(ui_.lines,
              ElementsAre("Conectando con servidor 127.0.0.1:9/velkorant/", kConnectionFailure));
  EXPECT_THAT(ui_.icons, ElementsAre(StatusIcon::kError));
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kServerCheckFailed));

  ui_.Clear();
  EXPECT_FALSE(Client().MailboxExists("Hannah_desert"));
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, "Error de conexión.");
  EXPECT_EQ(ui_.boxes[0].text, kConnectionFailure);
  EXPECT_EQ(ui_.boxes[0].type, kBoxOkQuestion);
  EXPECT_THAT(ui_.lines, ElementsAre(kConnectionFailure));
  EXPECT_THAT(ui_.icons, ElementsAre(StatusIcon::kError));
}

TEST_F(MailboxClientTest, MailboxExistsReadsOnlyTheFirstTwoCharacters) {
  ScopedCaBundle ca(server_.ca);
  struct Case {
    std::string answer;
    bool exists;
    bool box;
  };
  const Case cases[] = {{"si", true, false},     {"si\n", true, false}, {"sin", true, false},
                        {"Si", false, false},    {"SI", false, false},  {" si", false, false},
                        {"", false, false},      {"no", false, true},   {"no\n", false, true},
                        {"nothing", false, true}};
  for (const Case& c : cases) {
    const std::string name = FreshUserName();
    HookAnswer("existe_buzon", MailboxFolderName(name), c.answer);
    ui_.Clear();
    EXPECT_EQ(Client().MailboxExists(name), c.exists) << c.answer;
    if (c.box) {
      ASSERT_EQ(ui_.boxes.size(), 1u) << c.answer;
      EXPECT_EQ(ui_.boxes[0].caption, "No existe el usuario");
      EXPECT_EQ(ui_.boxes[0].text,
                "Error. No se ha podido enviar el mensaje\nNo existe el usuario " + name +
                    " en el servidor.");
      EXPECT_THAT(ui_.lines, ElementsAre("Error. No existe el usuario " + name));
    } else {
      EXPECT_TRUE(ui_.boxes.empty()) << c.answer;
      EXPECT_TRUE(ui_.lines.empty()) << c.answer;
    }
  }
  ClearHooks();
}

TEST_F(MailboxClientTest, CreateMailboxThenItIsTaken) {
  ScopedCaBundle ca(server_.ca);
  const std::string name = FreshUserName();
  EXPECT_FALSE(Client().MailboxExists(name));
  ui_.Clear();
  EXPECT_TRUE(Client().CreateMailbox(name));
  EXPECT_THAT(ui_.lines,
              ElementsAre("Creando buzón para usuario: " + name, "Buzón creado correctamente"));
  EXPECT_TRUE(ui_.boxes.empty());
  EXPECT_TRUE(Client().MailboxExists(name));

  ui_.Clear();
  EXPECT_FALSE(Client().CreateMailbox(name));
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, "Usuario ya existe");
  EXPECT_EQ(ui_.boxes[0].text, "No puedes usar el nombre de usario: " + name + "\nYa existe.");
  EXPECT_THAT(ui_.lines, ElementsAre("Creando buzón para usuario: " + name,
                                     "Error. Ya existe el nombre de usuario: " + name));

  // Answers that do not begin with "Error" exactly mean the mailbox was made.
  for (const std::string answer : {"error", "OK", ""}) {
    const std::string other = FreshUserName();
    HookAnswer("crear_buzon", MailboxFolderName(other), answer);
    EXPECT_TRUE(Client().CreateMailbox(other)) << answer;
  }
  ClearHooks();
}

TEST_F(MailboxClientTest, SentMessageArrivesEncryptedInTheReceiversMailbox) {
  ScopedCaBundle ca(server_.ca);
  const std::string receiver = FreshUserName();
  ASSERT_TRUE(Client().CreateMailbox(receiver));
  Message record;
  record.fecha_msj = "2024-03-07 09:05:00";
  record.usuario_emisor_msj = "Hannah_desert";
  record.usuario_receptor_msj = receiver;
  record.asunto_msj = Utf8ToAnsi("Año nuevo");
  record.cuerpo_msj = "uno\r\ndos";
  record.password_msj = "clave compartida";
  ui_.Clear();
  ASSERT_TRUE(Client().SendEncryptedMessage(record));
  ASSERT_EQ(ui_.lines.size(), 4u);
  EXPECT_EQ(ui_.lines[0], "Enviando mensaje ...");
  EXPECT_EQ(ui_.lines[1], "Mensaje enviado correctamente");
  EXPECT_EQ(ui_.lines[3].rfind("SRV: ", 0), 0u);
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kMessageSent));

  std::string transport;
  ASSERT_EQ(downloader_.FetchToMemory(
                "https://" + server_.server + MailboxFolderName(receiver) + "/msj_1_datos.cry",
                transport),
            kResultOk);
  EXPECT_EQ(ui_.lines[2], "Bytes enviados: " + std::to_string(transport.size()));
  EXPECT_EQ(transport.size() % 32, 0u);
  EXPECT_EQ(DecryptText(transport, "clave compartida"), BuildMessageText(record));
}

TEST_F(MailboxClientTest, RefusedSendIsAFailure) {
  ScopedCaBundle ca(server_.ca);
  Message record;
  record.usuario_receptor_msj = FreshUserName();  // no mailbox: the server answers 404
  record.password_msj = "clave compartida";
  EXPECT_FALSE(Client().SendEncryptedMessage(record));
  ASSERT_GE(ui_.lines.size(), 2u);
  EXPECT_EQ(ui_.lines[0], "Enviando mensaje ...");
  EXPECT_EQ(ui_.lines[1], "No se ha podido enviar el mensaje");
  EXPECT_EQ(std::count(ui_.lines.begin(), ui_.lines.end(), "Mensaje enviado correctamente"), 0);
  EXPECT_THAT(ui_.icons, ElementsAre(StatusIcon::kError));
  EXPECT_TRUE(ui_.sounds.empty());

  HostileServer refusing("refuse");
  ScopedCaBundle fake_ca(refusing.address().ca);
  settings_.server_name = refusing.address().server;
  ui_.Clear();
  EXPECT_FALSE(Client().SendEncryptedMessage(record));
  // The server's own reason is shown after the failure.
  EXPECT_THAT(ui_.lines, ElementsAre("Enviando mensaje ...",
                                     "No se ha podido enviar el mensaje. Código de error: 800C0007",
                                     "SRV: Error: almacenamiento lleno"));
}

TEST(FailureText, WordsEachClassAsTheRequestSaysIt) {
  EXPECT_EQ(ClassifyResult(kResultOk), ResultClass::kReached);
  EXPECT_EQ(ClassifyResult(kDownloadFailure), ResultClass::kReached);
  EXPECT_EQ(AnsiToUtf8(FailureText(RequestKind::kCheck, kObjectNotFound)), "Error de conexión.");
  EXPECT_EQ(AnsiToUtf8(FailureText(RequestKind::kSend, kObjectNotFound)),
            "No se ha podido enviar el mensaje");
  EXPECT_EQ(FailureText(RequestKind::kMessageFile, kObjectNotFound), "");
  EXPECT_EQ(AnsiToUtf8(FailureText(RequestKind::kMailbox, MakeResultCode(0x800C0007))),
            "Error de conexión. Código de error: 800C0007");
  EXPECT_EQ(AnsiToUtf8(FailureText(RequestKind::kSend, kConnectionTimeout)),
            "No se ha podido enviar el mensaje. Código de error: 800C000B");
  EXPECT_EQ(FailureText(RequestKind::kSend, kDownloadFailure), "");
}

}  // namespace
}  // namespace velkorant
