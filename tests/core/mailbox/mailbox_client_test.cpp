// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/mailbox_client.h"

#include <gtest/gtest.h>

#include <chrono>

#include "mailbox/message_actions.h"
#include "platform/ansi_text.h"
#include "platform/url_download.h"
#include "support/mailbox_server.h"
#include "support/recording_ui.h"

namespace velkorant {
namespace {

using testing::ServerAddress;

enum Request { kCheck, kExists, kCreate, kSend };
constexpr const char* kRequestNames[] = {"check", "exists", "create", "send"};

// One request as the program makes it; whether it succeeded.
bool Ask(Request request, const ServerAddress& at, testing::RecordingUi& ui) {
  const testing::ScopedCaBundle ca(at.ca);
  const Settings settings{.user_name = "", .server_name = at.server};
  UrlDownloader downloader;
  MailboxClient client(settings, ui, downloader);
  Message nobody;  // who has no mailbox
  nobody.usuario_receptor_msj = "Nadie_1";
  nobody.password_msj = "clave";
  return request == kCheck    ? client.CheckServer()
         : request == kExists ? client.MailboxExists("Hannah_desert")
         : request == kCreate
             ? client.CreateMailbox("Hannah_desert") == MailboxClient::Creation::kCreated
             : client.SendEncryptedMessage(nobody);
}

// Answers are read by their first characters, exactly, as text up to a NUL byte with CR LF as
// LF. A failure is told in the words of its request's kind, with its reason, in the terminal and
// its box; a refused send shows the server's reason. ("@" in a line stands for the server's
// address.)
TEST(MailboxClientTest, AnswersAndFailures) {
  const ServerAddress local = testing::LocalMailboxServer();
  ASSERT_FALSE(local.server.empty()) << "the mailbox_server fixture did not run";
  const testing::HostileServer echo("answers");
  const testing::HostileServer huge("huge");
  const testing::HostileServer drops("drops");      // the first answer to a new mailbox is lost
  const testing::HostileServer limited("limited");  // 429 "Error: ..." to every script
  const auto answer = [&echo](const std::string& text, const testing::HostileServer* at = nullptr) {
    at = at ? at : &echo;
    return ServerAddress{at->address().server + text + "/", at->address().ca};
  };
  const ServerAddress nowhere{"127.0.0.1:9/velkorant/", ""};
  const std::string hi = "Conectando con servidor @", ok = "Conexión con servidor: OK",
                    no = "Error. No se ha podido conectar con el servidor @",
                    yes = "Servidor de mensajes: OK", conn = "Error de conexión.";
  const std::string unreachable =
      conn +
      " Comprueba tu conexión de Internet y tu cortafuegos (el servidor no acepta la conexión)";
  const std::string too_long =
      conn + " Código de error: 800C000F (la respuesta del servidor es demasiado larga)";
  const std::string missing = "Error. No existe el usuario Hannah_desert",
                    create = "Creando buzón para usuario: Hannah_desert",
                    created = "Buzón creado correctamente",
                    taken = "Error. Ya existe el nombre de usuario: Hannah_desert";
  const std::string lost =
      conn + " Código de error: 800C0004 (se ha cortado la comunicación con el servidor)";
  const std::string unknown =
      "No se sabe si el servidor ha creado el buzón; el nombre de usuario Hannah_desert se queda "
      "guardado, y la próxima recepción dirá si existe.";
  const std::string too_many =
      "Código de error: 800C0007 (el servidor recibe demasiadas peticiones: HTTP 429; espera un "
      "poco)";
  const std::string too_many_text = "SRV: Error: demasiadas peticiones; espera un poco",
                    sending = "Enviando mensaje ...", unsent = "No se ha podido enviar el mensaje";
  struct Case {
    ServerAddress at;
    Request request;
    bool yes;
    std::vector<std::string> lines;
    std::string box = "";
  } const cases[] = {
      {answer("OK%0D%0Amore"), kCheck, true, {hi, ok, "SRV: OK\nmore", yes}},
      {answer("OKAY%00x"), kCheck, true, {hi, ok, "SRV: OKAY", yes}},
      {answer("O"), kCheck, false, {hi, ok, "SRV: O", no}},
      {answer("ok"), kCheck, false, {hi, ok, "SRV: ok", no}},
      {answer("%20OK"), kCheck, false, {hi, ok, "SRV:  OK", no}},
      {answer(""), kCheck, false, {hi, ok, "SRV: ", no}},
      {nowhere, kCheck, false, {hi, unreachable}},
      {answer("si%0A"), kExists, true, {}},
      {answer("sin"), kExists, true, {}},
      {answer("Si"), kExists, false, {}},
      {answer("%20si"), kExists, false, {}},
      {answer(""), kExists, false, {}},
      {answer("no"), kExists, false, {missing}, "No existe el usuario"},
      {answer("nothing"), kExists, false, {missing}, "No existe el usuario"},
      {nowhere, kExists, false, {unreachable}, conn},
      {huge.address(), kExists, false, {too_long}, conn},
      {answer("error"), kCreate, true, {create, created}},
      {answer(""), kCreate, true, {create, created}},
      {answer("Error:%20ya"), kCreate, false, {create, taken}, "Usuario ya existe"},
      // Whether the server created it is asked, so that a created name is never forgotten.
      {answer("si", &drops), kCreate, true, {lost, created}, conn},
      {answer("no", &drops), kCreate, false, {lost}, conn},
      {answer("x", &drops), kCreate, false, {lost, unknown}, conn},
      // Over the server's limits: a refusal, never a taken name nor a success.
      {limited.address(), kCreate, false, {conn + " " + too_many, too_many_text}, conn},
      {limited.address(), kSend, false, {sending, unsent + ". " + too_many, too_many_text}},
      {local,
       kSend,
       false,
       {sending, unsent + " (el servidor no encuentra lo pedido: HTTP 404)",
        "SRV: Error: no existe el buzon"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at.server + " " + kRequestNames[c.request]);
    testing::RecordingUi ui;
    EXPECT_EQ(Ask(c.request, c.at, ui), c.yes);
    std::vector<std::string> lines = c.lines;
    for (std::string& line : lines)
      line = line.ends_with("@") ? line.substr(0, line.size() - 1) + c.at.server : line;
    EXPECT_EQ(ui.lines, lines);
    EXPECT_EQ(ui.boxes.empty() ? "" : ui.boxes[0].caption, c.box);
    EXPECT_TRUE(c.box != conn || ui.boxes[0].text == lines.front());
    EXPECT_TRUE(c.request != kCheck ||
                (!ui.icons.empty() && !ui.sounds.empty() &&
                 ui.icons.back() == (c.yes ? StatusIcon::kIdle : StatusIcon::kError) &&
                 ui.sounds.back() ==
                     (c.yes ? EventSound::kServerCheckOk : EventSound::kServerCheckFailed)));
  }
}

// The outcomes and reasons that no answer of a mailbox server shows to the flows: a certificate
// nobody vouches for, plain HTTP where TLS is due, an address that is not https, and an answer
// that trickles on for ever (ended at the total time-out). (A port nobody listens on is in the
// client's table.)
TEST(UrlDownloadTest, OutcomeCodes) {
  const ServerAddress local = testing::LocalMailboxServer();
  ASSERT_FALSE(local.server.empty()) << "the mailbox_server fixture did not run";
  const testing::HostileServer endless("endless");
  const testing::HostileServer plain("plain");
  const std::string check = "https://" + local.server + "comprobar_conexion_servidor.php";
  const std::string bad_address = "la dirección del servidor no es válida";
  struct Case {
    std::string url, ca;
    ResultCode code;
    std::string reason;
  } const cases[] = {
      {check, "", kInvalidCertificate, "el certificado del servidor no es de confianza"},
      {"https://" + plain.address().server, "", kSecurityProblem,
       "no se ha podido establecer la conexión segura (TLS)"},
      {"http://" + local.server + "comprobar_conexion_servidor.php", local.ca, kInvalidUrl,
       bad_address},
      {"file:///etc/passwd", local.ca, kInvalidUrl, bad_address},
      {"https://" + endless.address().server + "x.php", endless.address().ca, kConnectionTimeout,
       "el servidor no responde a tiempo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const testing::ScopedCaBundle ca(c.ca);
    UrlDownloader downloader({.total_timeout = std::chrono::seconds(3)});
    std::string body = "stale";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FormatResultCode(downloader.FetchToMemory(c.url, body)), FormatResultCode(c.code));
    EXPECT_EQ(body, "");
    EXPECT_EQ(AnsiToUtf8(FailureReason(downloader)), c.reason);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  }
}

// What no server flow can show: a code that counts as reached, a message file's failures, and
// the desktop program's reply subject.
TEST(FlowRules, FailureTextsAndReplySubject) {
  EXPECT_EQ(FailureText(RequestKind::kSend, kDownloadFailure), "");
  EXPECT_EQ(FailureText(RequestKind::kMessageFile, kObjectNotFound), "");
  EXPECT_EQ(AnsiToUtf8(FailureText(RequestKind::kCheck, kObjectNotFound)), "Error de conexión.");
  EXPECT_EQ(AnsiToUtf8(FailureText(RequestKind::kMessageFile, kConnectionTimeout)),
            "Error de conexión. Código de error: 800C000B");
  EXPECT_EQ(AnsiToUtf8(FailureText(RequestKind::kSend, kConnectionTimeout)),
            "No se ha podido enviar el mensaje. Código de error: 800C000B");
  // Told from curl's own code, which no test can cause without a name lookup.
  EXPECT_EQ(AnsiToUtf8(FailureReason(DownloadFailure::kHostNotFound, 0)),
            "no se encuentra ningún servidor con ese nombre");
  EXPECT_EQ(ReplySubject("Fwd: Re: Hola"), "Fwd: Re: Hola");
}

}  // namespace
}  // namespace velkorant
