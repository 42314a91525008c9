// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's 8-bit texts are Windows-1252 bytes, as on the system the message format comes
// from. These conversions are used wherever text crosses into Unicode: widgets, the terminal,
// and the UTF-8 fields of the message store.

#include <optional>
#include <string>
#include <string_view>

namespace velkorant {

// Every byte has a code point; the five bytes Windows-1252 leaves undefined map to the C1
// controls of the same value, so all 256 bytes round-trip.
char32_t AnsiToUnicode(unsigned char byte);

// Windows' best-fit conversion: exact mapping first, then the closest ASCII look-alike
// (U+0141 -> 'L'), otherwise '?'.
unsigned char UnicodeToAnsi(char32_t code_point);

std::string AnsiToUtf8(std::string_view ansi);
void AppendUtf8(std::string& out, char32_t code_point);
// Malformed UTF-8 sequences count as unrepresentable characters ('?').
std::string Utf8ToAnsi(std::string_view utf8);
// For text whose meaning must survive the conversion (a password): nullopt when the UTF-8 is
// malformed or holds a character that Windows-1252 has no byte for.
std::optional<std::string> Utf8ToAnsiExact(std::string_view utf8);

// The program's own texts: written in the sources as UTF-8, used as the Windows-1252 bytes the
// user reads (Ansi("Conexión con servidor: OK")). Every character of one has a Windows-1252 byte;
// a debug build stops at one that has not. Text from elsewhere (a path, an argument) goes
// through Utf8ToAnsi.
std::string Ansi(std::string_view utf8);

std::u16string AnsiToUtf16(std::string_view ansi);
// Unpaired surrogates become '?'.
std::string Utf16ToAnsi(std::u16string_view utf16);
// nullopt when a character has no Windows-1252 byte, or a surrogate is unpaired.
std::optional<std::string> Utf16ToAnsiExact(std::u16string_view utf16);
// nullopt when the UTF-8 is malformed.
std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8);

}  // namespace velkorant
