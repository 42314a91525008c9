// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ansi_text.h"

#include <array>
#include <cassert>
#include <cstdint>

namespace velkorant {
namespace {

// 0x80-0x9F of Windows-1252 (Microsoft's code page table); undefined entries keep their value.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Best fit for U+0100-U+017F (Latin Extended-A): the byte Windows writes for each code point.
constexpr std::string_view kLatinExtendedA =
    "AaAaAaCcCcCcCcDd\xD0"
    "dEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIiIi??JjKk?LlLlLlL"
    "lLlNnNnNn???OoOoOo\x8C\x9CRrRrRrSsSsSs"
    "\x8A\x9ATtTtTtUuUuUuUuUuUuWwYy\x9FZzZz\x8E\x9E?";
static_assert(kLatinExtendedA.size() == 0x80);

unsigned char BestFit(char32_t cp) {
  if (cp >= 0x100 && cp < 0x180) {
    return static_cast<unsigned char>(kLatinExtendedA[cp - 0x100]);
  }
  if (cp >= 0x2000 && cp <= 0x2006)
    return ' ';
  if (cp >= 0x2080 && cp <= 0x2089)
    return static_cast<unsigned char>('0' + (cp - 0x2080));
  if (cp >= 0xFF01 && cp <= 0xFF5E)
    return static_cast<unsigned char>(cp - 0xFF01 + 0x21);
  switch (cp) {
    case 0x2010:
    case 0x2011:
    case 0x2212:
      return '-';
    case 0x2032:
      return '\'';
    case 0x2035:
      return '`';
    case 0x2044:
    case 0x2215:
      return '/';
    case 0x2216:
      return '\\';
    case 0x2223:
      return '|';
    case 0x2236:
      return ':';
    case 0x223C:
      return '~';
    case 0x3000:
      return ' ';
    default:
      return '?';
  }
}

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at `pos`, advancing it; rejects overlong forms, surrogates and
// truncated sequences, consuming one byte for each malformed one.
char32_t DecodeUtf8(std::string_view in, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(in[pos++]);
  if (lead < 0x80)
    return lead;
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    return kInvalid;
  }
  std::size_t p = pos;
  for (int i = 0; i < extra; ++i, ++p) {
    if (p >= in.size())
      return kInvalid;
    const auto c = static_cast<unsigned char>(in[p]);
    if ((c & 0xC0) != 0x80)
      return kInvalid;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return kInvalid;
  pos = p;
  return cp;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t AnsiToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F)
    return kHighControls[byte - 0x80];
  return byte;
}

unsigned char UnicodeToAnsi(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
    return static_cast<unsigned char>(cp);
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == cp)
      return static_cast<unsigned char>(0x80 + i);
  }
  return BestFit(cp);
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() + ansi.size() / 4);
  for (char c : ansi) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      AppendUtf8(out, AnsiToUnicode(byte));
    }
  }
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    // Runs of ASCII, the bulk of every stored text, are copied whole.
    std::size_t end = pos;
    while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) < 0x80)
      ++end;
    out.append(utf8, pos, end - pos);
    pos = end;
    if (pos == utf8.size())
      break;
    const char32_t cp = DecodeUtf8(utf8, pos);
    out += static_cast<char>(cp == kInvalid ? '?' : UnicodeToAnsi(cp));
  }
  return out;
}

std::optional<std::string> Utf8ToAnsiExact(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const char32_t cp = DecodeUtf8(utf8, pos);
    if (cp == kInvalid)
      return std::nullopt;
    const unsigned char byte = UnicodeToAnsi(cp);
    if (AnsiToUnicode(byte) != cp)
      return std::nullopt;
    out += static_cast<char>(byte);
  }
  return out;
}

std::string Ansi(std::string_view utf8) {
  std::optional<std::string> exact = Utf8ToAnsiExact(utf8);
  assert(exact && "a text of the program's own that Windows-1252 cannot hold");
  return exact ? std::move(*exact) : Utf8ToAnsi(utf8);
}

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  for (char c : ansi)
    out += static_cast<char16_t>(AnsiToUnicode(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      out += '?';
      continue;
    }
    out += static_cast<char>(UnicodeToAnsi(cp));
  }
  return out;
}

std::optional<std::string> Utf16ToAnsiExact(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (const char16_t unit : utf16) {
    // A surrogate, paired or not, is never a Windows-1252 character.
    const unsigned char byte = UnicodeToAnsi(unit);
    if (AnsiToUnicode(byte) != unit)
      return std::nullopt;
    out += static_cast<char>(byte);
  }
  return out;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const char32_t cp = DecodeUtf8(utf8, pos);
    if (cp == kInvalid)
      return std::nullopt;
    if (cp < 0x10000) {
      out += static_cast<char16_t>(cp);
    } else {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
  }
  return out;
}

}  // namespace velkorant
