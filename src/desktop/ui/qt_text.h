// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The widget boundary: core texts are Windows-1252 bytes, widgets hold UTF-16; colours in the
// program's tables are 0x00BBGGRR values.

#include <QColor>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ansi_text.h"

namespace velkorant {

inline QString ToQString(std::string_view ansi) {
  return QString::fromStdU16String(AnsiToUtf16(ansi));
}

inline std::string ToAnsi(const QString& text) {
  return Utf16ToAnsi(text.toStdU16String());
}

// 0x00BBGGRR: red in the lowest byte.
inline QColor FromColorRef(std::uint32_t value) {
  return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                static_cast<int>((value >> 16) & 0xFFu));
}

}  // namespace velkorant
