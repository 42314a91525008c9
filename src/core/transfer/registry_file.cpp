// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/registry_file.h"

#include <optional>
#include <utility>

#include "platform/ansi_text.h"

namespace velkorant {
namespace {

enum class Dialect { kRegedit5, kRegedit4, kWine };

constexpr std::u16string_view kRegedit5Header = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kRegedit4Header = u"REGEDIT4";
constexpr std::u16string_view kWineHeader = u"WINE REGISTRY Version 2";
constexpr std::u16string_view kCurrentUser = u"HKEY_CURRENT_USER";

// regedit breaks a hex line once it reaches this many characters.
constexpr std::size_t kHexLineWidth = 77;

// A file the reader cannot take; thrown only inside this file.
struct Failure {
  int line;
  std::string_view what;  // UTF-8, as written here
};

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9')
    return c - u'0';
  if (c >= u'a' && c <= u'f')
    return c - u'a' + 10;
  if (c >= u'A' && c <= u'F')
    return c - u'A' + 10;
  return -1;
}

void AppendUtf16Le(std::string& out, std::u16string_view text) {
  for (const char16_t unit : text) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
}

std::string Utf16LeWithNul(std::u16string_view text) {
  std::string out;
  AppendUtf16Le(out, text);
  out.append(2, '\0');
  return out;
}

// 1-based line of the code unit at `end`.
int LineAt(std::u16string_view text, std::size_t end) {
  int line = 1;
  for (std::size_t i = 0; i < end && i < text.size(); ++i)
    line += text[i] == u'\n';
  return line;
}

RegistryParse Failed(int line, std::string_view what) {
  RegistryParse result;
  result.error_line = line;
  result.error = Ansi("línea ") + std::to_string(line) + ": " + Ansi(what);
  return result;
}

class Reader {
 public:
  explicit Reader(std::u16string text) : text_(std::move(text)) {}

  RegistryParse Read(bool wine) {
    RegistryParse result;
    try {
      ReadHeader(wine);
      while (NextLine()) {
        SkipBlanks();
        if (AtEnd() || Take(u';') || (dialect_ == Dialect::kWine && Take(u'#')))
          continue;
        if (Take(u'['))
          ReadKey(result.ops);
        else if (Peek() == u'"' || Peek() == u'@')
          ReadValue(result.ops);
        else
          Fail("no es una clave, un valor ni un comentario");
      }
    } catch (const Failure& failure) {
      return Failed(failure.line, failure.what);
    }
    return result;
  }

 private:
  [[noreturn]] void Fail(std::string_view what) const { throw Failure{line_number_, what}; }

  bool NextLine() {
    if (next_ >= text_.size())
      return false;
    std::size_t end = text_.find(u'\n', next_);
    terminated_ = end != std::u16string::npos;
    if (!terminated_)
      end = text_.size();
    line_ = std::u16string_view(text_).substr(next_, end - next_);
    if (!line_.empty() && line_.back() == u'\r')
      line_.remove_suffix(1);
    next_ = end + 1;
    pos_ = 0;
    ++line_number_;
    return true;
  }

  bool AtEnd() const { return pos_ >= line_.size(); }
  char16_t Peek() const { return AtEnd() ? u'\0' : line_[pos_]; }
  bool Take(char16_t c) {
    if (Peek() != c || AtEnd())
      return false;
    ++pos_;
    return true;
  }
  // An ASCII word, without regard to letter case ("DWORD:" is read as regedit reads it).
  bool TakeWord(std::u16string_view word) {
    if (line_.size() - pos_ < word.size())
      return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
      char16_t c = line_[pos_ + i];
      if (c >= u'A' && c <= u'Z')
        c = static_cast<char16_t>(c - u'A' + u'a');
      if (c != word[i])
        return false;
    }
    pos_ += word.size();
    return true;
  }
  void SkipBlanks() {
    while (!AtEnd() && (line_[pos_] == u' ' || line_[pos_] == u'\t'))
      ++pos_;
  }
  void ExpectEnd(std::string_view what) {
    SkipBlanks();
    if (!AtEnd())
      Fail(what);
  }

  void ReadHeader(bool wine) {
    if (NextLine()) {
      std::u16string_view header = line_;
      while (!header.empty() && (header.back() == u' ' || header.back() == u'\t'))
        header.remove_suffix(1);
      if (wine && header == kWineHeader)
        dialect_ = Dialect::kWine;
      else if (!wine && header == kRegedit5Header)
        dialect_ = Dialect::kRegedit5;
      else if (!wine && header == kRegedit4Header)
        dialect_ = Dialect::kRegedit4;
      else
        Fail(wine ? "no es un registro de Wine (falta «WINE REGISTRY Version 2»)"
                  : "no es un archivo del Editor del Registro (falta «Windows Registry Editor "
                    "Version 5.00» o «REGEDIT4»)");
    } else {
      line_number_ = 1;
      Fail("el archivo está vacío");
    }
  }

  // "[KEY]" and "[-KEY]" in regedit's files; "[KEY] TIMESTAMP" in Wine's, escaped and relative
  // to the current user.
  void ReadKey(std::vector<RegistryOp>& ops) {
    RegistryOp op;
    op.line = line_number_;
    if (dialect_ == Dialect::kWine) {
      op.key = std::u16string(kCurrentUser) + u'\\' + ReadQuoted(u']');
      SkipBlanks();
      while (Peek() >= u'0' && Peek() <= u'9')
        ++pos_;
    } else {
      if (Take(u'-'))
        op.kind = RegistryOpKind::kDeleteKey;
      const std::size_t close = line_.rfind(u']');
      if (close == std::u16string_view::npos || close < pos_)
        Fail("falta el corchete que cierra la clave");
      op.key = line_.substr(pos_, close - pos_);
      pos_ = close + 1;
    }
    ExpectEnd("sobra texto tras la clave");
    key_.reset();
    if (op.kind == RegistryOpKind::kKey)
      key_ = op.key;
    ops.push_back(std::move(op));
  }

  void ReadValue(std::vector<RegistryOp>& ops) {
    RegistryOp op;
    op.kind = RegistryOpKind::kValue;
    op.line = line_number_;
    if (!Take(u'@')) {
      ++pos_;
      op.name = ReadQuoted(u'"');
    }
    SkipBlanks();
    if (!Take(u'='))
      Fail("falta el signo = tras el nombre del valor");
    if (!key_)
      Fail("valor fuera de una clave");
    op.key = *key_;
    SkipBlanks();
    const bool wine = dialect_ == Dialect::kWine;
    if (!wine && Take(u'-')) {
      op.kind = RegistryOpKind::kDeleteValue;
    } else if (Take(u'"') || (wine && TakeWord(u"str:\""))) {
      op.type = kRegSz;
      op.data = Utf16LeWithNul(ReadQuoted(u'"'));
    } else if (wine && TakeWord(u"str(")) {
      op.type = ReadTypeNumber();
      if (!TakeWord(u"):\""))
        Fail("tipo de valor desconocido");
      op.data = Utf16LeWithNul(ReadQuoted(u'"'));
    } else if (TakeWord(u"dword:")) {
      op.type = kRegDword;
      const std::uint32_t number = ReadHexNumber("valor dword no válido");
      for (int shift = 0; shift < 32; shift += 8)
        op.data += static_cast<char>((number >> shift) & 0xFF);
    } else if (TakeWord(u"hex:")) {
      op.type = kRegBinary;
      op.data = ReadHexBytes();
    } else if (TakeWord(u"hex(")) {
      op.type = ReadTypeNumber();
      if (!TakeWord(u"):"))
        Fail("tipo de valor desconocido");
      op.data = ReadHexBytes();
      // REGEDIT4 keeps these texts in the 8-bit code page; the registry holds them in UTF-16.
      if (dialect_ == Dialect::kRegedit4 &&
          (op.type == kRegSz || op.type == kRegExpandSz || op.type == kRegMultiSz))
        op.data = Widen(op.data);
    } else {
      Fail("tipo de valor desconocido");
    }
    ExpectEnd("sobra texto tras el valor");
    // regedit and Wine end every line: a last line without its end may have been cut short.
    if (!terminated_)
      Fail("el archivo termina a mitad de esta línea: parece cortado");
    ops.push_back(std::move(op));
  }

  std::u16string ReadQuoted(char16_t close) {
    std::u16string out;
    for (;;) {
      if (AtEnd())
        Fail(close == u']' ? "falta el corchete que cierra la clave"
                           : "falta la comilla que cierra el texto");
      const char16_t c = line_[pos_++];
      if (c == close)
        return out;
      if (c != u'\\') {
        out += c;
        continue;
      }
      if (AtEnd())
        Fail("falta la comilla que cierra el texto");
      const char16_t escaped = line_[pos_++];
      if (dialect_ == Dialect::kWine) {
        out += WineEscape(escaped);
        continue;
      }
      // regedit doubles backslashes and escapes quotes; \n, \r and \0 are Wine's regedit's.
      switch (escaped) {
        case u'\\':
        case u'"':
          out += escaped;
          break;
        case u'n':
          out += u'\n';
          break;
        case u'r':
          out += u'\r';
          break;
        case u'0':
          out += u'\0';
          break;
        default:
          out += u'\\';
          out += escaped;
      }
    }
  }

  char16_t WineEscape(char16_t escaped) {
    constexpr std::u16string_view kLetters = u"abefnrtv";
    constexpr std::u16string_view kControls = u"\a\b\x1B\f\n\r\t\v";
    if (const std::size_t at = kLetters.find(escaped); at != std::u16string_view::npos)
      return kControls[at];
    if (escaped == u'x') {
      std::uint32_t unit = 0;
      int digits = 0;
      for (; digits < 4 && HexDigit(Peek()) >= 0; ++digits)
        unit = unit * 16 + static_cast<std::uint32_t>(HexDigit(line_[pos_++]));
      if (digits == 0)
        Fail("secuencia \\x sin cifras hexadecimales");
      return static_cast<char16_t>(unit);
    }
    if (escaped >= u'0' && escaped <= u'7') {
      std::uint32_t unit = escaped - u'0';
      for (int digits = 1; digits < 3 && Peek() >= u'0' && Peek() <= u'7'; ++digits)
        unit = unit * 8 + (line_[pos_++] - u'0');
      return static_cast<char16_t>(unit);
    }
    return escaped;
  }

  std::uint32_t ReadHexNumber(std::string_view what) {
    std::uint32_t number = 0;
    int digits = 0;
    for (; !AtEnd() && HexDigit(Peek()) >= 0; ++digits, ++pos_) {
      if (digits == 8)
        Fail(what);
      number = number * 16 + static_cast<std::uint32_t>(HexDigit(Peek()));
    }
    if (digits == 0)
      Fail(what);
    return number;
  }

  std::uint32_t ReadTypeNumber() { return ReadHexNumber("tipo de valor desconocido"); }

  // Two digits a byte, commas between, and ",\" carrying the list on to the next line.
  std::string ReadHexBytes() {
    std::string bytes;
    SkipBlanks();
    if (AtEnd())
      return bytes;
    for (;;) {
      SkipBlanks();
      if (Take(u'\\')) {
        ExpectEnd("dato hexadecimal no válido");
        if (!NextLine())
          Fail("el valor sigue tras el final del archivo");
        SkipBlanks();
      }
      const int high = HexDigit(Peek());
      const int low = pos_ + 1 < line_.size() ? HexDigit(line_[pos_ + 1]) : -1;
      if (high < 0 || low < 0)
        Fail("dato hexadecimal no válido");
      pos_ += 2;
      bytes += static_cast<char>(high * 16 + low);
      SkipBlanks();
      if (AtEnd())
        return bytes;
      if (!Take(u','))
        Fail("dato hexadecimal no válido");
    }
  }

  static std::string Widen(std::string_view ansi) {
    std::string out;
    AppendUtf16Le(out, AnsiToUtf16(ansi));
    return out;
  }

  std::u16string text_;
  Dialect dialect_ = Dialect::kRegedit5;
  std::size_t next_ = 0;
  std::u16string_view line_;
  std::size_t pos_ = 0;
  int line_number_ = 0;
  bool terminated_ = true;
  std::optional<std::u16string> key_;
};

std::u16string Escaped(std::u16string_view text) {
  std::u16string out;
  for (const char16_t c : text) {
    if (c == u'\\' || c == u'"')
      out += u'\\';
    out += c;
  }
  return out;
}

// regedit's hex form: lower-case pairs, the line broken with ",\" once it is long enough.
void AppendHex(std::u16string& line, std::string_view bytes) {
  constexpr std::u16string_view kDigits = u"0123456789abcdef";
  std::size_t width = line.size();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    line += kDigits[byte >> 4];
    line += kDigits[byte & 0xF];
    if (i + 1 == bytes.size())
      break;
    line += u',';
    width += 3;
    if (width >= kHexLineWidth) {
      line += u"\\\r\n  ";
      width = 2;
    }
  }
}

// One value's line of a regedit file, without its line end.
std::u16string ValueLine(std::string_view name, const SnapshotValue& value) {
  std::u16string line = u'"' + Escaped(AnsiToUtf16(name)) + u"\"=";
  if (std::holds_alternative<std::monostate>(value))
    return line + u'-';
  if (const auto* number = std::get_if<std::int32_t>(&value)) {
    constexpr std::u16string_view kDigits = u"0123456789abcdef";
    line += u"dword:";
    const auto bits = static_cast<std::uint32_t>(*number);
    for (int shift = 28; shift >= 0; shift -= 4)
      line += kDigits[(bits >> shift) & 0xF];
    return line;
  }
  const std::u16string text = AnsiToUtf16(std::get<std::string>(value));
  // Quoted text cannot carry a line end or a NUL: regedit writes such a text in hex.
  if (text.find_first_of(std::u16string_view(u"\r\n\0", 3)) == std::u16string::npos)
    return line + u'"' + Escaped(text) + u'"';
  line += u"hex(1):";
  AppendHex(line, Utf16LeWithNul(text));
  return line;
}

}  // namespace

std::u16string FromUtf16Le(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
  return text;
}

RegistryParse ParseRegeditFile(std::string_view bytes) {
  std::u16string text;
  if (bytes.starts_with("\xFF\xFE")) {
    text = FromUtf16Le(bytes.substr(2));
    if (bytes.size() % 2 != 0)
      return Failed(LineAt(text, text.size()), "el archivo termina a mitad de un carácter");
  } else {
    // An editor here saves UTF-8: with its mark, or valid UTF-8 holding an accented letter (which
    // 8-bit text almost never is), the file is read as UTF-8 rather than as regedit's code page.
    const bool marked = bytes.starts_with("\xEF\xBB\xBF");
    auto utf8 = Utf8ToUtf16(bytes.substr(marked ? 3 : 0));
    if (utf8 && (marked || utf8->size() != bytes.size()))
      text = std::move(*utf8);
    else
      text = AnsiToUtf16(bytes);
  }
  return Reader(std::move(text)).Read(false);
}

RegistryParse ParseWineRegistry(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return Failed(LineAt(text, text.size()), "carácter no ASCII fuera de una secuencia \\x");
    text += static_cast<char16_t>(c);
  }
  return Reader(std::move(text)).Read(true);
}

std::string WriteRegeditFile(const SettingsSnapshot& snapshot) {
  const std::u16string root = u"HKEY_CURRENT_USER\\Software\\" + AnsiToUtf16(kCompanyKey) + u'\\' +
                              AnsiToUtf16(kApplicationKey);
  std::u16string out = std::u16string(kRegedit5Header) + u"\r\n\r\n";
  const auto key = [&](std::string_view path, std::u16string_view open) {
    out += open;
    out += root;
    if (!path.empty())
      out += u'\\' + AnsiToUtf16(path);
    out += u"]\r\n";
  };
  for (const std::string& deleted : snapshot.deleted_sections) {
    key(deleted, u"[-");
    out += u"\r\n";
  }
  key({}, u"[");
  out += u"\r\n";
  for (const SnapshotSection& section : snapshot.sections) {
    key(section.path, u"[");
    for (const auto& [name, value] : section.values)
      out += ValueLine(name, value) + u"\r\n";
    out += u"\r\n";
  }
  std::string bytes = "\xFF\xFE";
  AppendUtf16Le(bytes, out);
  return bytes;
}

}  // namespace velkorant
