#include "cli/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "crypto/message_cipher.h"
#include "support/cli_runner.h"

namespace velkorant::cli {
namespace {

namespace fs = std::filesystem;

using Result = testing::CliResult;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("velkorant-cli-test-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string PasswordFile(const std::string& content) {
    const fs::path path = dir_ / "password";
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  static Result Run(const std::vector<std::string>& args, const std::string& input = "") {
    return testing::RunCliCommand(args, input);
  }

  fs::path dir_;
};

TEST_F(CliTest, EncryptThenDecryptRoundTripsUtf8) {
  const std::string password = PasswordFile("contraseña\n");
  const std::string plain = "Año nuevo, café y 5 €\r\nsegunda línea";
  const Result encrypted = Run({"encrypt", "--password-file", password}, plain);
  ASSERT_EQ(encrypted.status, kExitOk) << encrypted.err;
  ASSERT_EQ(encrypted.out.back(), '\n');
  // 16 + 43 Windows-1252 bytes: four blocks.
  EXPECT_EQ(encrypted.out.size(), 128u + 1);

  const Result decrypted = Run({"decrypt", "--password-file=" + password}, encrypted.out);
  ASSERT_EQ(decrypted.status, kExitOk) << decrypted.err;
  EXPECT_EQ(decrypted.out, plain);
}

TEST_F(CliTest, PasswordFileLosesOnlyOneTrailingLineEnd) {
  const std::string transport =
      Run({"encrypt", "--password-file", PasswordFile("clave  \n")}, "hola").out;
  EXPECT_EQ(Run({"decrypt", "--password-file", PasswordFile("clave  ")}, transport).out, "hola");
  EXPECT_EQ(Run({"decrypt", "--password-file", PasswordFile("clave  \r\n")}, transport).out,
            "hola");
  EXPECT_EQ(Run({"decrypt", "--password-file", PasswordFile("clave")}, transport).status,
            kExitFailure);
}

TEST_F(CliTest, FailedDecryptionExitsOneWithAReason) {
  // A fixed prefix makes the text the same every run: with a random one, a wrong password
  // passes the padding check once in 256 runs.
  const std::string transport =
      EncryptTextWithPrefix("0123456789abcdef", "x", DeriveKeyAndIv("buena"));
  ASSERT_EQ(Run({"decrypt", "--password-file", PasswordFile("buena")}, transport).out, "x");
  const Result wrong = Run({"decrypt", "--password-file", PasswordFile("mala")}, transport);
  EXPECT_EQ(wrong.status, kExitFailure);
  EXPECT_EQ(wrong.out, "");
  EXPECT_NE(wrong.err.find("decryption failed"), std::string::npos);

  const Result garbage = Run({"decrypt", "--password-file", PasswordFile("buena")}, "ABC");
  EXPECT_EQ(garbage.status, kExitFailure);
  EXPECT_NE(garbage.err.find("block size"), std::string::npos) << garbage.err;
}

TEST_F(CliTest, FolderAndFingerprint) {
  EXPECT_EQ(Run({"folder", "abc"}).out, "BA7816BF8F\n");
  // The terminal's UTF-8 "ñ" is digested as the Windows-1252 byte F1.
  EXPECT_EQ(Run({"folder", "ñ"}).out, Run({"folder", "\xC3\xB1"}).out);
  EXPECT_NE(Run({"folder", "ñ"}).out, "");
  EXPECT_EQ(Run({"fingerprint", "--password-file", PasswordFile("abc\n")}).out, "C2412435\n");
}

TEST_F(CliTest, UsageErrors) {
  EXPECT_EQ(Run({}).status, kExitUsage);
  EXPECT_EQ(Run({"nonsense"}).status, kExitUsage);
  EXPECT_EQ(Run({"encrypt"}).status, kExitUsage);
  EXPECT_EQ(Run({"encrypt", "--password", "secret"}).status, kExitUsage);
  EXPECT_EQ(Run({"encrypt", "--password-file"}).status, kExitUsage);
  EXPECT_EQ(Run({"folder"}).status, kExitUsage);
  const Result missing = Run({"encrypt", "--password-file", (dir_ / "absent").string()});
  EXPECT_NE(missing.status, kExitOk);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos);

  const Result help = Run({"--help"});
  EXPECT_EQ(help.status, kExitOk);
  for (const char* command : {"encrypt", "decrypt", "folder", "fingerprint"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
}

}  // namespace
}  // namespace velkorant::cli
