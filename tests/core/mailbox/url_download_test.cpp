#include "platform/url_download.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "support/mailbox_server.h"

namespace velkorant {
namespace {

using testing::HostileServer;
using testing::LocalMailboxServer;
using testing::RandomFolder;
using testing::ScopedCaBundle;

// Every outcome the download layer reports, against the real local server and misbehaving ones.
TEST(UrlDownloadTest, OutcomeCodes) {
  const testing::ServerAddress local = LocalMailboxServer();
  ASSERT_FALSE(local.server.empty()) << "the mailbox_server fixture did not run";
  const std::string folder = RandomFolder();
  const std::string transport(96, 'A');
  HostileServer huge("huge");
  HostileServer refuse("refuse");
  HostileServer endless("endless");

  struct Case {
    const char* name;
    std::string url;
    std::string ca;
    ResultCode code;
    std::function<bool(const std::string&)> body_ok;
    std::size_t max_bytes = 0;
  };
  const auto empty = [](const std::string& body) { return body.empty(); };
  const auto https = [](const testing::ServerAddress& at, const std::string& rest) {
    return "https://" + at.server + rest;
  };
  const Case cases[] = {
      {"server check", https(local, "comprobar_conexion_servidor.php"), local.ca, kResultOk,
       [](const std::string& body) { return body.starts_with("OK"); }},
      {"create", https(local, "crear_buzon.php?folder=" + folder), local.ca, kResultOk,
       [](const std::string& body) { return !body.starts_with("Error"); }},
      {"send",
       https(local,
             "enviar_mensaje.php?name=datos&folder=" + folder + "&new=0&datacry=" + transport),
       local.ca, kResultOk, [](const std::string& body) { return !body.empty(); }},
      {"message byte for byte", https(local, folder + "/msj_1_datos.cry"), local.ca, kResultOk,
       [&transport](const std::string& body) { return body == transport; }},
      {"message over the caller's cap", https(local, folder + "/msj_1_datos.cry"), local.ca,
       kCannotLoadData, empty, transport.size() - 1},
      {"missing message", https(local, RandomFolder() + "/msj_1_datos.cry"), local.ca,
       kObjectNotFound, empty},
      {"refused port", "https://127.0.0.1:9/velkorant/comprobar_conexion_servidor.php", local.ca,
       kResourceNotFound, empty},
      {"unknown host", "https://no-such-host.invalid/x.php", local.ca, kResourceNotFound, empty},
      {"untrusted certificate", https(local, "comprobar_conexion_servidor.php"), "",
       kInvalidCertificate, empty},
      {"plain http", "http://" + local.server + "comprobar_conexion_servidor.php", local.ca,
       kInvalidUrl, empty},
      {"local file", "file:///etc/passwd", local.ca, kInvalidUrl, empty},
      {"huge answer", https(huge.address(), "x.php"), huge.address().ca, kCannotLoadData, empty},
      // The server's refusal text is kept: the user is shown why a send failed.
      {"error status", https(refuse.address(), "enviar_mensaje.php?name=datos"),
       refuse.address().ca, kDataNotAvailable,
       [](const std::string& body) { return body.starts_with("Error"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedCaBundle ca(c.ca);
    UrlDownloader downloader;
    std::string body = "stale";
    EXPECT_EQ(FormatResultCode(downloader.FetchToMemory(c.url, body, c.max_bytes)),
              FormatResultCode(c.code));
    EXPECT_TRUE(c.body_ok(body)) << body.substr(0, 80);
  }

  // An answer that trickles on for ever ends at the total time-out.
  ScopedCaBundle ca(endless.address().ca);
  DownloadLimits limits;
  limits.total_timeout = std::chrono::seconds(3);
  UrlDownloader downloader(limits);
  std::string body;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(downloader.FetchToMemory(https(endless.address(), "x.php"), body), kConnectionTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace velkorant
