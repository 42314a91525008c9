// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Password-based AES-256-CBC for message texts. The transport text is the ciphertext as upper-case
// hexadecimal; key and IV come from the password alone (PBKDF2-HMAC-SHA-512 salted with the
// password's own SHA-512), and a random 16-character prefix makes two encryptions differ.

#include <cryptopp/secblock.h>

#include <optional>
#include <string>
#include <string_view>

namespace velkorant {

inline constexpr int kPbkdf2Iterations = 8000;
inline constexpr std::size_t kRandomPrefixLength = 16;

// Key material of one password. Secure blocks: wiped when released.
struct DerivedKey {
  CryptoPP::SecByteBlock key{32};
  CryptoPP::SecByteBlock iv{16};
};

DerivedKey DeriveKeyAndIv(std::string_view password);
std::string MakeRandomPrefix();

// Never fails: every password and plain text has a transport text.
std::string EncryptText(std::string plain_text, std::string password);
// The plain text, or "" when the transport text does not decrypt with this password (the
// library's error text is then written to standard output, without a line end).
std::string DecryptText(std::string transport_text, std::string password);

// Why a transport text did not decrypt. Both padding and length are the library's words for a
// wrong password or a damaged text; a wrong password nearly always shows as bad padding.
enum class DecryptFailure { kNone, kBadLength, kBadPadding, kNoRoomForPrefix, kOther };

// A decryption's outcome: the plain text, or why there is none with the library's own text.
struct Decrypted {
  std::optional<std::string> text;
  DecryptFailure failure = DecryptFailure::kNone;
  std::string library_text;  // empty where the library said nothing (kNoRoomForPrefix)

  bool ok() const { return text.has_value(); }
};

// The same operations with a key derived beforehand, so that a receive run derives each
// password's key once instead of once per message.
std::string EncryptTextWithKey(std::string_view plain_text, const DerivedKey& key);
// Deterministic core of the encryption, with the prefix given: for known-answer tests.
std::string EncryptTextWithPrefix(std::string_view prefix, std::string_view plain_text,
                                  const DerivedKey& key);
std::string DecryptTextWithKey(std::string_view transport_text, const DerivedKey& key);
// Tells a failure apart from an empty plain text, which DecryptText cannot, and writes nothing.
Decrypted TryDecryptTextWithKey(std::string_view transport_text, const DerivedKey& key);

// The server takes messages of up to this many hexadecimal digits.
inline constexpr std::size_t kMaxTransportTextLength = 64'000;

// Whether `text` can be a transport text at all: hexadecimal digits of either case, with blanks
// between them, making a whole number of cipher blocks, and no longer than the server accepts.
// An error or maintenance page, an empty file or a truncated one cannot.
bool CanBeTransportText(std::string_view text);

// A transport text decoded once, for trying many keys on it as a receive run does. A wrong key
// is nearly always told from the last block alone, without decrypting the rest.
class Ciphertext {
 public:
  // Digits are read in pairs, upper and lower case alike; any other character is skipped.
  explicit Ciphertext(std::string_view transport_text);
  // The same result as TryDecryptTextWithKey on the transport text.
  Decrypted TryDecrypt(const DerivedKey& key) const;

 private:
  std::string bytes_;
};

}  // namespace velkorant
