#include "platform/url_download.h"

#include <gtest/gtest.h>

#include <chrono>

#include "mailbox/mailbox_client.h"
#include "platform/ansi_text.h"
#include "support/mailbox_server.h"

namespace velkorant {
namespace {

using testing::ServerAddress;

// The outcomes the server flows cannot tell apart by their texts, and the reason each failure
// gives, against the real local server and misbehaving ones.
TEST(UrlDownloadTest, OutcomeCodes) {
  const ServerAddress local = testing::LocalMailboxServer();
  ASSERT_FALSE(local.server.empty()) << "the mailbox_server fixture did not run";
  const testing::HostileServer huge("huge");
  const testing::HostileServer endless("endless");
  const testing::HostileServer plain("plain");
  const std::string check = "https://" + local.server + "comprobar_conexion_servidor.php";
  const std::string too_long = "la respuesta del servidor es demasiado larga";
  struct Case {
    std::string url;
    std::string ca;
    ResultCode code;
    std::string reason;
    std::string body = "";
    std::size_t max_bytes = 0;
  };
  const Case cases[] = {
      {check, local.ca, kResultOk, "", "OK"},
      {check, local.ca, kCannotLoadData, too_long, "", 1},  // over the caller's cap
      // An error status's text is kept: it is the server's reason.
      {"https://" + local.server + "crear_buzon.php", local.ca, kDataNotAvailable,
       "el servidor responde con el código HTTP 400", "Error: falta el parametro folder"},
      {"https://" + local.server + testing::RandomFolder() + "/msj_1_datos.cry", local.ca,
       kObjectNotFound, "el servidor no encuentra lo pedido: HTTP 404"},
      {"https://127.0.0.1:9/velkorant/x.php", local.ca, kResourceNotFound,
       "el servidor no acepta la conexión"},
      {"https://no-such-host.invalid/x.php", local.ca, kResourceNotFound,
       "no se encuentra ningún servidor con ese nombre"},
      {check, "", kInvalidCertificate, "el certificado del servidor no es de confianza"},
      {"https://" + plain.address().server, "", kSecurityProblem,
       "no se ha podido establecer la conexión segura (TLS)"},
      {"http://" + local.server + "comprobar_conexion_servidor.php", local.ca, kInvalidUrl,
       "la dirección del servidor no es válida"},
      {"file:///etc/passwd", local.ca, kInvalidUrl, "la dirección del servidor no es válida"},
      {"https://" + huge.address().server + "x.php", huge.address().ca, kCannotLoadData, too_long},
      // An answer that trickles on for ever ends at the total time-out.
      {"https://" + endless.address().server + "x.php", endless.address().ca, kConnectionTimeout,
       "el servidor no responde a tiempo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const testing::ScopedCaBundle ca(c.ca);
    UrlDownloader downloader({.total_timeout = std::chrono::seconds(3)});
    std::string body = "stale";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FormatResultCode(downloader.FetchToMemory(c.url, body, c.max_bytes)),
              FormatResultCode(c.code));
    EXPECT_EQ(body, c.body);
    EXPECT_EQ(AnsiToUtf8(FailureReason(downloader)), c.reason);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  }
}

}  // namespace
}  // namespace velkorant
