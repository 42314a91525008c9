#include "platform/url_download.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/mailbox_server.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using testing::HostileServer;
using testing::LocalMailboxServer;
using testing::RandomFolder;
using testing::ScopedCaBundle;

class UrlDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("velkorant-url-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    target_ = dir_ / "envio_resultado.txt";
    local_ = LocalMailboxServer();
    ASSERT_FALSE(local_.server.empty()) << "the mailbox_server fixture did not run";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Nothing but the target may be left in the folder: no partial or temporary files.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
      names.push_back(entry.path().filename());
    return names;
  }

  fs::path dir_;
  fs::path target_;
  testing::ServerAddress local_;
};

TEST_F(UrlDownloadTest, FetchesScriptAnswersAndMessageFilesByteForByte) {
  ScopedCaBundle ca(local_.ca);
  UrlDownloader downloader;
  ASSERT_EQ(downloader.FetchToFile("https://" + local_.server + "comprobar_conexion_servidor.php",
                                   target_),
            kResultOk);
  EXPECT_EQ(ReadResultFile(target_).value_or("").substr(0, 2), "OK");
  EXPECT_FALSE(fs::exists(target_)) << "ReadResultFile deletes the answer";

  const std::string folder = RandomFolder();
  ASSERT_EQ(downloader.FetchToFile("https://" + local_.server + "crear_buzon.php?folder=" + folder,
                                   target_),
            kResultOk);
  ReadResultFile(target_);
  const std::string transport(96, 'A');
  ASSERT_EQ(downloader.FetchToFile("https://" + local_.server +
                                       "enviar_mensaje.php?name=datos&folder=" + folder +
                                       "&new=0&datacry=" + transport,
                                   target_),
            kResultOk);
  ReadResultFile(target_);

  const fs::path message = dir_ / "mensaje_recibido.cry";
  ASSERT_EQ(
      downloader.FetchToFile("https://" + local_.server + folder + "/msj_1_datos.cry", message),
      kResultOk);
  std::ifstream in(message, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), transport);
}

TEST_F(UrlDownloadTest, MissingMessageIsNotFoundAndLeavesNoFile) {
  ScopedCaBundle ca(local_.ca);
  UrlDownloader downloader;
  const fs::path message = dir_ / "mensaje_recibido.cry";
  EXPECT_EQ(downloader.FetchToFile("https://" + local_.server + RandomFolder() + "/msj_1_datos.cry",
                                   message),
            kObjectNotFound);
  EXPECT_EQ(downloader.last_http_status(), 404);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(UrlDownloadTest, RefusedAndUnknownHostsAreConnectionFailures) {
  UrlDownloader downloader;
  // The discard port: nothing listens on it here.
  EXPECT_EQ(downloader.FetchToFile("https://127.0.0.1:9/velkorant/comprobar_conexion_servidor.php",
                                   target_),
            kResourceNotFound);
  EXPECT_EQ(downloader.FetchToFile("https://no-such-host.invalid/x.php", target_),
            kResourceNotFound);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(UrlDownloadTest, UntrustedCertificateAndOtherSchemesAreRefused) {
  {
    ScopedCaBundle no_private_ca("");
    UrlDownloader downloader;
    EXPECT_EQ(downloader.FetchToFile("https://" + local_.server + "comprobar_conexion_servidor.php",
                                     target_),
              kInvalidCertificate);
  }
  UrlDownloader downloader;
  EXPECT_EQ(downloader.FetchToFile("http://" + local_.server + "comprobar_conexion_servidor.php",
                                   target_),
            kInvalidUrl);
  EXPECT_EQ(downloader.FetchToFile("file:///etc/passwd", target_), kInvalidUrl);
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_EQ(FormatResultCode(kInvalidCertificate), "800C0019");
}

TEST_F(UrlDownloadTest, HostileAnswersStayBounded) {
  {
    HostileServer huge("huge");
    ScopedCaBundle ca(huge.address().ca);
    UrlDownloader downloader;
    EXPECT_EQ(downloader.FetchToFile("https://" + huge.address().server + "x.php", target_),
              kCannotLoadData);
  }
  {
    HostileServer refuse("refuse");
    ScopedCaBundle ca(refuse.address().ca);
    UrlDownloader downloader;
    EXPECT_EQ(downloader.FetchToFile(
                  "https://" + refuse.address().server + "enviar_mensaje.php?name=datos", target_),
              kDataNotAvailable);
    EXPECT_EQ(downloader.last_http_status(), 500);
  }
  {
    HostileServer endless("endless");
    ScopedCaBundle ca(endless.address().ca);
    DownloadLimits limits;
    limits.total_timeout = std::chrono::seconds(3);
    UrlDownloader downloader(limits);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(downloader.FetchToFile("https://" + endless.address().server + "x.php", target_),
              kConnectionTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(UrlDownloadTest, ResultFileIsReadAsTextAndDeleted) {
  std::ofstream(target_, std::ios::binary) << std::string("OK\r\nsegunda\rtercera\0oculto", 27);
  EXPECT_EQ(ReadResultFile(target_), std::optional<std::string>("OK\nsegunda\rtercera"));
  EXPECT_FALSE(fs::exists(target_));
  EXPECT_EQ(ReadResultFile(target_), std::nullopt);

  std::ofstream(target_, std::ios::binary).flush();
  EXPECT_EQ(ReadResultFile(target_), std::optional<std::string>(""));
}

}  // namespace
}  // namespace velkorant
