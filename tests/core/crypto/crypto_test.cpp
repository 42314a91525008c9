#include <cryptopp/hex.h>
#include <gtest/gtest.h>

#include "crypto/digests.h"
#include "crypto/message_cipher.h"

namespace velkorant {
namespace {

std::string Unhex(std::string_view hex) {
  std::string bytes;
  CryptoPP::StringSource(std::string(hex), true,
                         new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
  return bytes;
}

// NIST SP 800-38A F.2.5/F.2.6, CBC-AES256: the first plain block stands where the random prefix
// goes; the fifth cipher block is the PKCS #7 padding block (from Python's cryptography package).
const std::string kNistPlain = Unhex(
    "6BC1BEE22E409F96E93D7E117393172AAE2D8A571E03AC9C9EB76FAC45AF8E5130C81C46A35CE411E5FBC1191A0A"
    "52EFF69F2445DF4F9B17AD2B417BE66C3710");
DerivedKey NistKey() {
  static const std::string bytes = Unhex(
      "603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4000102030405060708090A0B0C"
      "0D0E0F");
  const auto* key = reinterpret_cast<const CryptoPP::byte*>(bytes.data());
  return {CryptoPP::SecByteBlock(key, 32), CryptoPP::SecByteBlock(key + 32, 16)};
}

TEST(Crypto, KnownAnswers) {
  const DerivedKey abc = DeriveKeyAndIv("abc");
  struct Case {
    const char* source;
    std::string computed, expected;
  } const cases[] = {
      {"FIPS 180-4 SHA-256 \"abc\"", Sha256Hex("abc"),
       "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
      {"CRC-32 check value CBF43926, low byte first", Crc32Hex("123456789"), "2639F4CB"},
      // hashlib.pbkdf2_hmac('sha512', b'abc', hashlib.sha512(b'abc').digest(), 8000, 64): the
      // salt is FIPS 180-4's SHA-512 "abc" example; bytes 0-31 are the key, 32-47 the IV.
      {"PBKDF2-HMAC-SHA512 key and IV",
       std::string(abc.key.begin(), abc.key.end()) + std::string(abc.iv.begin(), abc.iv.end()),
       Unhex(
           "9AB01080AA5E68E4950F158D6F69C78DF8372FAFBBF7A70CD1CA48FE5474BEEC0E2688F43742BF34B0A874"
           "45C1431120")},
      {"SP 800-38A encryption",
       EncryptTextWithPrefix(kNistPlain.substr(0, 16), kNistPlain.substr(16), NistKey()),
       "F58C4C04D6E5F1BA779EABFB5F7BFBD69CFC4E967EDB808D679F777BC6702C7D39F23369A9D9BACF"
       "A530E26304231461B2EB05E2C39BE9FCDA6C19078C6A9D1B3F461796D6B0D6B2E0C2A72B4D80E644"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(c.computed, c.expected);
  }
}

// The library's pipeline and the receive runs' shortcut give the same answer, and a failure is
// never a plain text.
TEST(Crypto, WhatDecrypts) {
  const DerivedKey key = DeriveKeyAndIv("clave1234"), wrong = DeriveKeyAndIv("otra clave");
  const std::string right = EncryptTextWithPrefix("abcdefgh12345678", "mensaje de prueba", key);
  // The last byte of the second block turned so that the padding (15 bytes of 0F) ends in 00.
  std::string zero = right;
  zero[63] = "FEDCBA9876543210"[std::stoi(zero.substr(63, 1), nullptr, 16)];
  struct Case {
    const char* name;
    std::string transport;
    const DerivedKey& key;
    std::optional<std::string> plain;
  } const cases[] = {
      {"right password", right, key, "mensaje de prueba"},
      {"empty plain text", EncryptTextWithPrefix("abcdefgh12345678", "", key), key, ""},
      {"wrong password", right, wrong, std::nullopt},
      {"padding of zero", zero, key, std::nullopt},
      {"empty", "", key, std::nullopt},
      {"not whole blocks", std::string(40, 'A'), key, std::nullopt},
      {"no room for the prefix", EncryptTextWithPrefix("", "", key), key, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TryDecryptTextWithKey(c.transport, c.key), c.plain);
    EXPECT_EQ(Ciphertext(c.transport).TryDecrypt(c.key), c.plain);
  }
  EXPECT_NE(EncryptText("hola", "clave"), EncryptText("hola", "clave")) << "the random prefix";
}

}  // namespace
}  // namespace velkorant
