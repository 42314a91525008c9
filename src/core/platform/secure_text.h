// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cryptopp/misc.h>

#include <string>

namespace velkorant {

// Overwrites the whole buffer, spare capacity included, where a shorter earlier value may lie.
inline void Wipe(std::string& text) {
  text.resize(text.capacity());
  CryptoPP::SecureWipeBuffer(reinterpret_cast<CryptoPP::byte*>(text.data()), text.size());
  text.clear();
}

}  // namespace velkorant
