// SPDX-License-Identifier: GPL-3.0-or-later
#include <cryptopp/hex.h>
#include <gtest/gtest.h>

#include "crypto/message_cipher.h"

namespace velkorant {
namespace {

std::string Unhex(std::string_view hex) {
  std::string bytes;
  CryptoPP::StringSource(std::string(hex), true,
                         new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
  return bytes;
}

// hashlib.pbkdf2_hmac('sha512', b'abc', hashlib.sha512(b'abc').digest(), 8000, 64): the salt is
// FIPS 180-4's SHA-512 "abc" example; bytes 0-31 are the key, 32-47 the IV. The IV is the one part
// of the wire format that a transport's random first block hides from transport_interop.py.
TEST(Crypto, KeyAndIvKnownAnswer) {
  const DerivedKey abc = DeriveKeyAndIv("abc");
  EXPECT_EQ(std::string(abc.key.begin(), abc.key.end()) + std::string(abc.iv.begin(), abc.iv.end()),
            Unhex("9AB01080AA5E68E4950F158D6F69C78DF8372FAFBBF7A70CD1CA48FE5474BEEC0E2688F43742BF34"
                  "B0A87445C1431120"));
}

// What the library's pipeline makes of a transport, and a failure is never a plain text. That the
// receive runs' shortcut gives the same answer is the transport fuzz target's property.
TEST(Crypto, WhatDecrypts) {
  const DerivedKey key = DeriveKeyAndIv("clave1234"), wrong = DeriveKeyAndIv("otra clave");
  const std::string right = EncryptTextWithPrefix("abcdefgh12345678", "mensaje de prueba", key);
  // The last byte of the second block turned so that the padding (15 bytes of 0F) ends in 00.
  std::string zero = right;
  zero[63] = "FEDCBA9876543210"[std::stoi(zero.substr(63, 1), nullptr, 16)];
  using enum DecryptFailure;
  struct Case {
    const char* name;
    std::string transport;
    const DerivedKey& key;
    DecryptFailure failure;
  } const cases[] = {
      {"wrong password", right, wrong, kBadPadding},
      {"padding of zero", zero, key, kBadPadding},
      {"empty", "", key, kBadLength},
      {"not whole blocks", std::string(40, 'A'), key, kBadLength},
      {"prefix missing", EncryptTextWithPrefix("", "", key), key, kNoRoomForPrefix},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Decrypted result = TryDecryptTextWithKey(c.transport, c.key);
    EXPECT_EQ(std::tuple(result.text.has_value(), result.failure), std::tuple(false, c.failure));
  }
  EXPECT_NE(EncryptText("hola", "clave"), EncryptText("hola", "clave")) << "the random prefix";
}

}  // namespace
}  // namespace velkorant
