#include "crypto/message_cipher.h"

#include <cryptopp/hex.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace velkorant {
namespace {

std::string Hex(const CryptoPP::SecByteBlock& block) {
  std::string hex;
  CryptoPP::HexEncoder encoder(new CryptoPP::StringSink(hex), true, 0);
  encoder.Put(block, block.size());
  encoder.MessageEnd();
  return hex;
}

std::string Unhex(std::string_view hex) {
  std::string bytes;
  CryptoPP::StringSource(std::string(hex), true,
                         new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
  return bytes;
}

DerivedKey KeyFromHex(std::string_view key, std::string_view iv) {
  DerivedKey derived;
  const std::string k = Unhex(key), v = Unhex(iv);
  std::copy(k.begin(), k.end(), derived.key.begin());
  std::copy(v.begin(), v.end(), derived.iv.begin());
  return derived;
}

// Collects what the cipher reports on failure instead of writing it to standard output.
std::string g_diagnostics;
class CipherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_diagnostics.clear();
    SetCipherDiagnosticSink([](std::string_view text) { g_diagnostics += text; });
  }
  void TearDown() override { SetCipherDiagnosticSink(nullptr); }
};

TEST_F(CipherTest, DerivationMatchesPythonHashlib) {
  // hashlib.pbkdf2_hmac('sha512', pw, hashlib.sha512(pw).digest(), 8000, 64), an independent
  // PBKDF2 implementation; bytes 0-31 are the key, 32-47 the IV.
  struct Vector {
    std::string password;
    std::string derived;
  };
  const Vector vectors[] = {
      {"",
       "8CABD954918A9C9F3D574A38AD561EFDFDC1BC8382B4E576617E1648FBEE319F246E9BB8A66A7474AF391101"
       "CE81C79B6947FA0EC7F3CF3FD9EDB931052A6D80"},
      {"password",
       "29B931A9842BA9F416F0B94D2744E6747FAB11F48D9C9606BB5B7B14CA8A429F43563787EB5D6E8BEA633D1B"
       "F4BF9B20189BFDA8DAD81FBD0BE832CB0360435A"},
      {"contrase\xF1"
       "a",
       "616A6AFC61458599DA7D287DA0D2A45DD632AD2B9EE0BFCE76F5566173A580456FCBA7AEE46DAF2DBC854CD1"
       "7779F06A489292069D41FA71692AE329141B7A12"},
      {"Velkorant 1234!",
       "FD59B3581EB2C7A30E98E60299B647DB32BE3735BE4849EA1EAEE1203E5DC56361546EA2F7F004C8FD9AB952"
       "0F371C8A880A75E0176E2C9BF8517580CF072469"},
      {std::string(100, 'x'),
       "0A7EB6D4EEF602B3E0EA7123ED8E3CA81BA0CBA7AC0DCB2879397A8DC74B4B2DD6B9FCB61CEB1182DEA0D0BF"
       "0B873045FB7A73DDCF6418F57A3763FAD673CDA4"},
  };
  for (const auto& v : vectors) {
    const DerivedKey key = DeriveKeyAndIv(v.password);
    EXPECT_EQ(Hex(key.key), v.derived.substr(0, 64)) << v.password;
    EXPECT_EQ(Hex(key.iv), v.derived.substr(64, 32)) << v.password;
  }
}

// NIST SP 800-38A F.2.5 / F.2.6 (CBC-AES256). The first plain block stands in the prefix's
// place; the fifth cipher block is the PKCS #7 padding block (computed with Python's
// cryptography package).
constexpr std::string_view kNistKey =
    "603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4";
constexpr std::string_view kNistIv = "000102030405060708090A0B0C0D0E0F";
constexpr std::string_view kNistPlain =
    "6BC1BEE22E409F96E93D7E117393172AAE2D8A571E03AC9C9EB76FAC45AF8E5130C81C46A35CE411E5FBC1191A0A"
    "52EFF69F2445DF4F9B17AD2B417BE66C3710";
constexpr std::string_view kNistCipherPadded =
    "F58C4C04D6E5F1BA779EABFB5F7BFBD69CFC4E967EDB808D679F777BC6702C7D39F23369A9D9BACFA530E2630423"
    "1461B2EB05E2C39BE9FCDA6C19078C6A9D1B3F461796D6B0D6B2E0C2A72B4D80E644";

TEST_F(CipherTest, AesCbcMatchesNistVectors) {
  const DerivedKey key = KeyFromHex(kNistKey, kNistIv);
  const std::string plain = Unhex(kNistPlain);
  EXPECT_EQ(EncryptTextWithPrefix(plain.substr(0, 16), plain.substr(16), key), kNistCipherPadded);
  EXPECT_EQ(DecryptTextWithKey(kNistCipherPadded, key), plain.substr(16));
}

TEST_F(CipherTest, RoundTripsEveryLengthAndPassword) {
  const std::string passwords[] = {"", "clave1234",
                                   "contrase\xF1"
                                   "a \x80\x9F",
                                   std::string(40, 'p')};
  for (const auto& password : passwords) {
    for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 800u}) {
      std::string plain(n, '\0');
      for (std::size_t i = 0; i < n; ++i)
        plain[i] = static_cast<char>(i * 37 + 1);
      const std::string transport = EncryptText(plain, password);
      EXPECT_EQ(transport.size(), 32 * (n / 16 + 2)) << n;
      EXPECT_EQ(DecryptText(transport, password), plain) << n;
    }
  }
}

TEST_F(CipherTest, TransportTextShape) {
  EXPECT_EQ(EncryptText("", "pw").size(), 64u);
  EXPECT_EQ(EncryptText(std::string(15, 'a'), "pw").size(), 64u);
  EXPECT_EQ(EncryptText(std::string(16, 'a'), "pw").size(), 96u);
  EXPECT_EQ(EncryptText(std::string(32, 'a'), "pw").size(), 128u);

  const std::string first = EncryptText("hola", "clave1234");
  const std::string second = EncryptText("hola", "clave1234");
  EXPECT_NE(first, second) << "the random prefix must make encryptions differ";
  EXPECT_TRUE(std::all_of(first.begin(), first.end(),
                          [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }));
  EXPECT_EQ(DecryptText(second, "clave1234"), "hola");
}

TEST_F(CipherTest, DecryptionToleratesCaseAndSeparators) {
  const std::string transport = EncryptText("mensaje de prueba", "clave1234");
  std::string lower = transport;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  EXPECT_EQ(DecryptText(lower, "clave1234"), "mensaje de prueba");

  std::string spaced;
  for (std::size_t i = 0; i < transport.size(); ++i) {
    spaced += transport[i];
    if (i % 7 == 6)
      spaced += (i % 2 ? " " : "\r\n");
  }
  EXPECT_EQ(DecryptText(spaced, "clave1234"), "mensaje de prueba");
}

TEST_F(CipherTest, BadInputGivesEmptyResultAndReportsTheLibraryError) {
  EXPECT_EQ(DecryptText("", "clave1234"), "");
  EXPECT_NE(g_diagnostics.find("not a multiple of block size"), std::string::npos) << g_diagnostics;

  g_diagnostics.clear();
  EXPECT_EQ(DecryptText(std::string(40, 'A'), "clave1234"), "");
  EXPECT_NE(g_diagnostics.find("not a multiple of block size"), std::string::npos) << g_diagnostics;
  EXPECT_EQ(g_diagnostics.find('\n'), std::string::npos) << "no line end of our own";

  // One block decrypts at best to a prefix with nothing after it.
  const DerivedKey key = DeriveKeyAndIv("clave1234");
  const std::string one_block = EncryptTextWithPrefix("", "", key);
  ASSERT_EQ(one_block.size(), 32u);
  EXPECT_EQ(DecryptText(one_block, "clave1234"), "");
  EXPECT_FALSE(TryDecryptTextWithKey(one_block, key).has_value());
  EXPECT_EQ(DecryptText(EncryptText("x", "clave1234").substr(0, 32), "clave1234"), "");
}

TEST_F(CipherTest, WrongPasswordNeverReturnsThePlainText) {
  int failures = 0;
  for (int i = 0; i < 20; ++i) {
    const std::string transport = EncryptText("texto secreto " + std::to_string(i), "correcta1");
    const std::string result = DecryptText(transport, "incorrecta");
    EXPECT_EQ(result.find("texto secreto"), std::string::npos);
    failures += result.empty();
  }
  // The padding check rejects about 255 of 256 wrong keys.
  EXPECT_GE(failures, 17);
  EXPECT_NE(g_diagnostics.find("invalid PKCS #7 block padding"), std::string::npos);
}

TEST_F(CipherTest, TryDecryptTellsEmptyPlainTextFromFailure) {
  const DerivedKey key = DeriveKeyAndIv("clave1234");
  const auto empty = TryDecryptTextWithKey(EncryptTextWithKey("", key), key);
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(*empty, "");
  EXPECT_FALSE(TryDecryptTextWithKey("00", key).has_value());
}

TEST_F(CipherTest, DecodedCiphertextGivesWhatThePipelineGives) {
  // The receive runs' shortcut must agree with the library's pipeline on everything: right and
  // wrong keys, garbage whose padding happens to fit, odd digits, separators, any length.
  const DerivedKey right = DeriveKeyAndIv("clave compartida");
  const DerivedKey wrong = DeriveKeyAndIv("otra clave");
  std::mt19937 random(1234);
  const auto hex = [&random](std::size_t bytes) {
    std::string text;
    for (std::size_t i = 0; i < 2 * bytes; ++i)
      text += "0123456789ABCDEFabcdef"[random() % 22];
    return text;
  };
  std::vector<std::string> transports = {"",
                                         "0",
                                         "00",
                                         "zz",
                                         EncryptTextWithKey("", right),
                                         EncryptTextWithKey("hola", right) + "A",
                                         " " + EncryptTextWithKey(std::string(40, 'x'), right)};
  for (int i = 0; i < 3000; ++i)
    transports.push_back(hex(16 * (1 + random() % 4)));
  for (int i = 0; i < 50; ++i)
    transports.push_back(hex(random() % 70) + "-\r\n" + hex(3));
  int padding_fits = 0;
  for (const std::string& transport : transports) {
    for (const DerivedKey* key : {&right, &wrong}) {
      const auto expected = TryDecryptTextWithKey(transport, *key);
      EXPECT_EQ(Ciphertext(transport).TryDecrypt(*key), expected) << transport;
      padding_fits += expected.has_value();
    }
  }
  EXPECT_GT(padding_fits, 10) << "random blocks whose padding fits must be among the cases";
}

TEST(RandomPrefix, UsesOnlyLettersAndDigits) {
  std::string all;
  for (int i = 0; i < 200; ++i) {
    const std::string prefix = MakeRandomPrefix();
    ASSERT_EQ(prefix.size(), 16u);
    all += prefix;
  }
  EXPECT_TRUE(std::all_of(all.begin(), all.end(),
                          [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }));
  // 3200 draws from 62 characters: each letter or digit shows up.
  std::string distinct = all;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  EXPECT_GE(distinct.size(), 60u);
}

}  // namespace
}  // namespace velkorant
