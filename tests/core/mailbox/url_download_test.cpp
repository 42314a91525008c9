#include "platform/url_download.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/mailbox_server.h"

namespace velkorant {
namespace {

using testing::ServerAddress;

// The outcomes the server flows cannot tell apart by their texts, against the real local server
// and misbehaving ones.
TEST(UrlDownloadTest, OutcomeCodes) {
  const ServerAddress local = testing::LocalMailboxServer();
  ASSERT_FALSE(local.server.empty()) << "the mailbox_server fixture did not run";
  const testing::HostileServer huge("huge");
  const testing::HostileServer endless("endless");
  const std::string check = "https://" + local.server + "comprobar_conexion_servidor.php";
  struct Case {
    std::string url;
    std::string ca;
    ResultCode code;
    std::string body = "";
    std::size_t max_bytes = 0;
  };
  const Case cases[] = {
      {check, local.ca, kResultOk, "OK"},
      {check, local.ca, kCannotLoadData, "", 1},  // over the caller's cap
      // An error status's text is kept: it is the server's reason.
      {"https://" + local.server + "crear_buzon.php", local.ca, kDataNotAvailable,
       "Error: falta el parametro folder"},
      {"https://" + local.server + testing::RandomFolder() + "/msj_1_datos.cry", local.ca,
       kObjectNotFound},
      {"https://127.0.0.1:9/velkorant/x.php", local.ca, kResourceNotFound},
      {"https://no-such-host.invalid/x.php", local.ca, kResourceNotFound},
      {check, "", kInvalidCertificate},
      {"http://" + local.server + "comprobar_conexion_servidor.php", local.ca, kInvalidUrl},
      {"file:///etc/passwd", local.ca, kInvalidUrl},
      {"https://" + huge.address().server + "x.php", huge.address().ca, kCannotLoadData},
      // An answer that trickles on for ever ends at the total time-out.
      {"https://" + endless.address().server + "x.php", endless.address().ca, kConnectionTimeout},
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
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  }
}

}  // namespace
}  // namespace velkorant
