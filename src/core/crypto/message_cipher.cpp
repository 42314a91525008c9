// SPDX-License-Identifier: GPL-3.0-or-later
#include "crypto/message_cipher.h"

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/pwdbased.h>
#include <cryptopp/sha.h>

#include <array>
#include <cstdio>

namespace velkorant {
namespace {

const CryptoPP::byte* Bytes(std::string_view text) {
  return reinterpret_cast<const CryptoPP::byte*>(text.data());
}

// 256 entries so that one random byte picks a character; the first eight letters therefore
// come slightly more often than the rest.
const std::array<char, 256>& PrefixAlphabet() {
  static const std::array<char, 256> alphabet = [] {
    constexpr std::string_view kCharacters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
    std::array<char, 256> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
      table[i] = kCharacters[i % kCharacters.size()];
    return table;
  }();
  return alphabet;
}

}  // namespace

DerivedKey DeriveKeyAndIv(std::string_view password) {
  CryptoPP::SecByteBlock salt(CryptoPP::SHA512::DIGESTSIZE);
  CryptoPP::SHA512().CalculateDigest(salt, Bytes(password), password.size());

  CryptoPP::SecByteBlock derived(64);
  CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA512> pbkdf2;
  pbkdf2.DeriveKey(derived, derived.size(), 0, Bytes(password), password.size(), salt, salt.size(),
                   kPbkdf2Iterations, 0.0);

  DerivedKey result;
  std::copy_n(derived.begin(), result.key.size(), result.key.begin());
  std::copy_n(derived.begin() + 32, result.iv.size(), result.iv.begin());
  return result;
}

std::string MakeRandomPrefix() {
  // A fresh pool per call, seeded from the operating system without blocking.
  CryptoPP::AutoSeededRandomPool pool(false, 32);
  const auto& alphabet = PrefixAlphabet();
  std::string prefix(kRandomPrefixLength, '\0');
  for (char& c : prefix)
    c = alphabet[pool.GenerateByte()];
  return prefix;
}

std::string EncryptTextWithKey(std::string_view plain_text, const DerivedKey& key) {
  return EncryptTextWithPrefix(MakeRandomPrefix(), plain_text, key);
}

std::string EncryptTextWithPrefix(std::string_view prefix, std::string_view plain_text,
                                  const DerivedKey& key) {
  std::string input;
  input.reserve(prefix.size() + plain_text.size());
  input.append(prefix).append(plain_text);

  CryptoPP::AES::Encryption aes(key.key, key.key.size());
  CryptoPP::CBC_Mode_ExternalCipher::Encryption cbc(aes, key.iv);
  std::string transport;
  transport.reserve(2 * (input.size() / 16 + 1) * 16);
  CryptoPP::StringSource pump(
      input, true,
      new CryptoPP::StreamTransformationFilter(
          cbc, new CryptoPP::HexEncoder(new CryptoPP::StringSink(transport), true, 0),
          CryptoPP::StreamTransformationFilter::PKCS_PADDING));
  return transport;
}

namespace {

// What the library says of the failures a user meets, so both decryption paths report alike.
constexpr std::string_view kBadLength =
    "StreamTransformationFilter: ciphertext length is not a multiple of block size";
constexpr std::string_view kBadPadding =
    "StreamTransformationFilter: invalid PKCS #7 block padding found";

Decrypted Failed(DecryptFailure failure, std::string library_text) {
  return {std::nullopt, failure, std::move(library_text)};
}

// The plain text after its random prefix.
Decrypted WithoutPrefix(std::string decrypted) {
  if (decrypted.size() < kRandomPrefixLength)
    return Failed(DecryptFailure::kNoRoomForPrefix, {});
  decrypted.erase(0, kRandomPrefixLength);
  return {std::move(decrypted), DecryptFailure::kNone, {}};
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

}  // namespace

Decrypted TryDecryptTextWithKey(std::string_view transport_text, const DerivedKey& key) {
  std::string decrypted;
  try {
    CryptoPP::AES::Decryption aes(key.key, key.key.size());
    CryptoPP::CBC_Mode_ExternalCipher::Decryption cbc(aes, key.iv);
    CryptoPP::StringSource pump(Bytes(transport_text), transport_text.size(), true,
                                new CryptoPP::HexDecoder(new CryptoPP::StreamTransformationFilter(
                                    cbc, new CryptoPP::StringSink(decrypted),
                                    CryptoPP::StreamTransformationFilter::PKCS_PADDING)));
  } catch (const CryptoPP::Exception& e) {
    const std::string_view what = e.what();
    return Failed(what.find("multiple of block size") != what.npos ? DecryptFailure::kBadLength
                  : what.find("padding") != what.npos              ? DecryptFailure::kBadPadding
                                                                   : DecryptFailure::kOther,
                  std::string(what));
  }
  return WithoutPrefix(std::move(decrypted));
}

std::string DecryptTextWithKey(std::string_view transport_text, const DerivedKey& key) {
  Decrypted result = TryDecryptTextWithKey(transport_text, key);
  std::fwrite(result.library_text.data(), 1, result.library_text.size(), stdout);
  return std::move(result.text).value_or(std::string());
}

bool CanBeTransportText(std::string_view text) {
  if (text.size() > kMaxTransportTextLength)
    return false;
  std::size_t digits = 0;
  for (const char c : text) {
    if (HexValue(c) >= 0) {
      ++digits;
    } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\v' && c != '\f') {
      return false;
    }
  }
  return digits > 0 && digits % (2 * CryptoPP::AES::BLOCKSIZE) == 0;
}

Ciphertext::Ciphertext(std::string_view transport_text) {
  bytes_.reserve(transport_text.size() / 2);
  int high = -1;
  for (const char c : transport_text) {
    const int value = HexValue(c);
    if (value < 0)
      continue;
    if (high < 0) {
      high = value;
    } else {
      bytes_.push_back(static_cast<char>((high << 4) | value));
      high = -1;
    }
  }
}

Decrypted Ciphertext::TryDecrypt(const DerivedKey& key) const {
  constexpr std::size_t kBlock = CryptoPP::AES::BLOCKSIZE;
  const std::size_t size = bytes_.size();
  if (size == 0 || size % kBlock != 0) {
    return Failed(DecryptFailure::kBadLength, std::string(kBadLength));
  }
  const auto* data = reinterpret_cast<const CryptoPP::byte*>(bytes_.data());
  CryptoPP::AES::Decryption aes(key.key, key.key.size());

  // The padding lives in the last block: plain = D(last) xor the block before it (or the IV).
  CryptoPP::byte last[kBlock];
  aes.ProcessBlock(data + size - kBlock, last);
  const CryptoPP::byte* previous = size > kBlock ? data + size - 2 * kBlock : key.iv.data();
  for (std::size_t i = 0; i < kBlock; ++i)
    last[i] ^= previous[i];
  const std::size_t padding = last[kBlock - 1];
  bool padded = padding >= 1 && padding <= kBlock;
  for (std::size_t i = kBlock - (padded ? padding : 0); padded && i < kBlock; ++i) {
    padded = last[i] == padding;
  }
  if (!padded) {
    return Failed(DecryptFailure::kBadPadding, std::string(kBadPadding));
  }

  std::string plain(size, '\0');
  CryptoPP::CBC_Mode_ExternalCipher::Decryption cbc(aes, key.iv);
  cbc.ProcessData(reinterpret_cast<CryptoPP::byte*>(plain.data()), data, size);
  plain.resize(size - padding);
  return WithoutPrefix(std::move(plain));
}

std::string EncryptText(std::string plain_text, std::string password) {
  return EncryptTextWithKey(plain_text, DeriveKeyAndIv(password));
}

std::string DecryptText(std::string transport_text, std::string password) {
  return DecryptTextWithKey(transport_text, DeriveKeyAndIv(password));
}

}  // namespace velkorant
