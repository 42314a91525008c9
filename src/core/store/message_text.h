// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The plain text of a message before encryption: six tagged lines, each ending in "\n".

#include <ctime>
#include <string>
#include <string_view>

#include "store/message.h"

namespace velkorant {

inline constexpr std::string_view kMessageFormatVersion = "v1.1a";
// Stands for "\r\n" in a message body, on the wire and in the message store.
inline constexpr std::string_view kLineBreakMarker = "retfld";

std::string BuildMessageText(const Message& message);

// The value after the first occurrence of `tag` up to the next line feed; "" when either is
// missing.
std::string ExtractField(std::string_view text, std::string_view tag);

// A decrypted text is taken for a message when it has more than 30 characters and a non-empty
// "VER:" field; anything else means a wrong password.
bool IsAcceptableMessageText(std::string_view text);

// The fields of an accepted text, for a received message (body still holds the markers).
Message MessageFromText(std::string_view text);

// Local date and time as "YYYY-MM-DD HH:MM:SS".
std::string MessageTimestamp(std::time_t when = std::time(nullptr));

// "\r\n" -> "retfld", left to right without overlap; lone CR or LF stay.
std::string EncodeLineBreaks(std::string_view body);
// "retfld" -> "\r\n".
std::string DecodeLineBreaks(std::string_view body);

}  // namespace velkorant
