// SPDX-License-Identifier: GPL-3.0-or-later
// A transport text of any bytes, decoded with one fixed key: the decoder that tries many keys
// gives what the library's own decoding gives, and a text the sender makes of these bytes, as
// plain text, decodes back to them.

#include "crypto/message_cipher.h"
#include "fuzz_check.h"

using namespace velkorant;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const DerivedKey key = DeriveKeyAndIv("clave de prueba");
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const Decrypted fast = Ciphertext(bytes).TryDecrypt(key);
  const Decrypted library = TryDecryptTextWithKey(bytes, key);
  FUZZ_CHECK(fast.text == library.text && fast.failure == library.failure);
  FUZZ_CHECK(!CanBeTransportText(bytes) || fast.failure != DecryptFailure::kBadLength);

  const std::string sent = EncryptTextWithPrefix("0123456789abcdef", bytes, key);
  FUZZ_CHECK(CanBeTransportText(sent) == (sent.size() <= kMaxTransportTextLength));
  FUZZ_CHECK(Ciphertext(sent).TryDecrypt(key).text == bytes);
  FUZZ_CHECK(TryDecryptTextWithKey(sent, key).text == bytes);
  return 0;
}
