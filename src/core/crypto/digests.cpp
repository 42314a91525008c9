// SPDX-License-Identifier: GPL-3.0-or-later
#include "crypto/digests.h"

#include <cryptopp/crc.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>

namespace velkorant {
namespace {

template <typename Hash>
std::string DigestHex(std::string_view bytes) {
  CryptoPP::byte digest[Hash::DIGESTSIZE];
  Hash().CalculateDigest(digest, reinterpret_cast<const CryptoPP::byte*>(bytes.data()),
                         bytes.size());
  std::string hex;
  hex.reserve(2 * sizeof digest);
  CryptoPP::HexEncoder encoder(new CryptoPP::StringSink(hex), true, 0);
  encoder.Put(digest, sizeof digest);
  encoder.MessageEnd();
  return hex;
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
  return DigestHex<CryptoPP::SHA256>(bytes);
}

std::string MailboxFolderName(std::string_view user_name) {
  return Sha256Hex(user_name).substr(0, 10);
}

// Crypto++ emits the CRC register least significant byte first, which is the stored form.
std::string Crc32Hex(std::string_view bytes) {
  return DigestHex<CryptoPP::CRC32>(bytes);
}

}  // namespace velkorant
