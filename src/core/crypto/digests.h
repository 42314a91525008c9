// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Public names for users and short fingerprints for passwords.

#include <string>
#include <string_view>

namespace velkorant {

// SHA-256 as 64 upper-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);
// The first 10 digits of Sha256Hex: the only form in which a user name reaches the server.
std::string MailboxFolderName(std::string_view user_name);
// CRC-32 (IEEE) written least significant byte first: "abc" -> "C2412435".
std::string Crc32Hex(std::string_view bytes);

}  // namespace velkorant
