// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ini_file.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/ansi_text.h"

namespace velkorant {
namespace {

// Windows-1252 upper case to lower case, as a case-insensitive comparison of the decoded
// characters sees it.
constexpr std::array<unsigned char, 256> kFold = [] {
  std::array<unsigned char, 256> fold{};
  for (std::size_t i = 0; i < fold.size(); ++i)
    fold[i] = static_cast<unsigned char>(i);
  for (std::size_t c = 'A'; c <= 'Z'; ++c)
    fold[c] = static_cast<unsigned char>(c + 0x20);
  for (std::size_t c = 0xC0; c <= 0xDE; ++c) {
    if (c != 0xD7)
      fold[c] = static_cast<unsigned char>(c + 0x20);
  }
  fold[0x8A] = 0x9A;  // Š
  fold[0x8C] = 0x9C;  // Œ
  fold[0x8E] = 0x9E;  // Ž
  fold[0x9F] = 0xFF;  // Ÿ
  return fold;
}();

unsigned char Fold(char c) {
  return kFold[static_cast<unsigned char>(c)];
}

std::size_t FoldHash(std::string_view text) {
  std::size_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : text) {
    hash ^= Fold(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

// The blanks Windows trims around names and values (^Z included).
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1A';
}

}  // namespace

std::string_view TrimIniBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

namespace {

std::string_view Trim(std::string_view text) {
  return TrimIniBlanks(text);
}

bool BreaksLines(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsQuote(char c) {
  return c == '"' || c == '\'';
}

// The bytes to write so that the reader gives back `value` (apart from CR, LF and NUL, which
// become blanks so that no value can end its line early).
std::string PrepareValue(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  out.push_back('"');
  for (const char c : value)
    out.push_back(c == '\r' || c == '\n' || c == '\0' ? ' ' : c);
  const std::string_view body = std::string_view(out).substr(1);
  const bool needs_quotes =
      !body.empty() && (IsBlank(body.front()) || IsBlank(body.back()) ||
                        (body.size() >= 2 && IsQuote(body.front()) && body.front() == body.back()));
  if (needs_quotes) {
    out.push_back('"');
    return out;
  }
  return out.substr(1);
}

std::string_view EolBytes(unsigned char eol) {
  static constexpr std::array<std::string_view, 4> kBytes = {"", "\r\n", "\n", "\r"};
  return kBytes[eol];
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i]))
      return false;
  }
  return true;
}

std::string_view IniDocument::Text(const Line& line) const {
  return std::string_view(text_).substr(line.offset, line.length);
}

std::string_view IniDocument::Name(const Line& line) const {
  return std::string_view(text_).substr(line.offset + line.name_begin,
                                        line.name_end - line.name_begin);
}

IniDocument::Line IniDocument::Classify(std::size_t offset, std::size_t length, Eol eol) const {
  Line line;
  line.offset = offset;
  line.length = static_cast<std::uint32_t>(length);
  line.eol = eol;
  const std::string_view view = std::string_view(text_).substr(offset, length);
  std::size_t begin = 0;
  while (begin < view.size() && IsBlank(view[begin]))
    ++begin;
  if (begin == view.size())
    return line;  // blank
  if (view[begin] == ';') {
    line.kind = Kind::kComment;
    return line;
  }
  const auto set_name = [&line, view](std::size_t from, std::size_t to) {
    const std::string_view name = Trim(view.substr(from, to - from));
    const std::size_t name_begin =
        name.empty() ? from : static_cast<std::size_t>(name.data() - view.data());
    line.name_begin = static_cast<std::uint32_t>(name_begin);
    line.name_end = static_cast<std::uint32_t>(name_begin + name.size());
  };
  if (view[begin] == '[') {
    const std::size_t close = view.rfind(']');
    if (close != std::string_view::npos && close > begin) {
      line.kind = Kind::kHeader;
      set_name(begin + 1, close);
      return line;
    }
  }
  const std::size_t equals = view.find('=', begin);
  if (equals == std::string_view::npos) {
    line.kind = Kind::kOther;
    return line;
  }
  line.kind = Kind::kEntry;
  line.equals = static_cast<std::uint32_t>(equals);
  set_name(begin, equals);
  return line;
}

IniDocument::Line IniDocument::AddLine(std::string_view text, Eol eol) {
  const std::size_t offset = text_.size();
  text_ += text;
  return Classify(offset, text.size(), eol);
}

IniDocument IniDocument::Parse(std::string bytes) {
  IniDocument document;
  if (bytes.starts_with("\xFF\xFE")) {
    document.DecodeUtf16(bytes);
  } else {
    if (bytes.starts_with("\xEF\xBB\xBF")) {
      document.prefix_ = bytes.substr(0, 3);
      bytes.erase(0, 3);
    }
    document.text_ = std::move(bytes);
  }
  document.parsed_size_ = document.text_.size();
  document.SplitLines();
  document.RebuildIndex();
  return document;
}

void IniDocument::DecodeUtf16(std::string_view bytes) {
  utf16_ = true;
  std::u16string& wide = raw_;
  wide.reserve(bytes.size() / 2);
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  // One byte per character, remembering where each came from in the file, so that a line the
  // program never edits is written back with the characters Windows-1252 cannot hold.
  text_.reserve(wide.size());
  raw_offsets_.reserve(wide.size() + 1);
  for (std::size_t i = 0; i < wide.size();) {
    char32_t code_point = wide[i];
    std::size_t units = 1;
    if (code_point >= 0xD800 && code_point <= 0xDFFF) {
      const bool paired = code_point < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
                          wide[i + 1] <= 0xDFFF;
      code_point =
          paired ? 0x10000 + ((code_point - 0xD800) << 10) + (wide[i + 1] - 0xDC00) : 0xFFFD;
      units = paired ? 2 : 1;
    }
    raw_offsets_.push_back(static_cast<std::uint32_t>(i));
    text_.push_back(static_cast<char>(UnicodeToAnsi(code_point)));
    i += units;
  }
  raw_offsets_.push_back(static_cast<std::uint32_t>(wide.size()));
}

void IniDocument::SplitLines() {
  const std::string_view text = text_;
  lines_.reserve(text.size() / 24);
  // The next CR and LF are looked up with memchr and remembered until passed: most lines end in
  // CR LF, and a byte-by-byte scan would cost most of the parse.
  const auto next_of = [&text](char c, std::size_t from) {
    const std::size_t found = text.find(c, from);
    return found == std::string_view::npos ? text.size() : found;
  };
  std::size_t next_cr = next_of('\r', 0);
  std::size_t next_lf = next_of('\n', 0);
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (next_cr < pos)
      next_cr = next_of('\r', pos);
    if (next_lf < pos)
      next_lf = next_of('\n', pos);
    const std::size_t end = std::min(next_cr, next_lf);
    Eol eol = Eol::kNone;
    std::size_t next = text.size();
    if (end == text.size()) {
      // the last line has no line end
    } else if (text[end] == '\n') {
      eol = Eol::kLf;
      next = end + 1;
    } else if (end + 1 < text.size() && text[end + 1] == '\n') {
      eol = Eol::kCrLf;
      next = end + 2;
    } else {
      eol = Eol::kCr;
      next = end + 1;
    }
    const Line line = Classify(pos, end - pos, eol);
    if (line.kind == Kind::kHeader) {
      if (!sections_.empty())
        sections_.back().end = lines_.size();
      sections_.push_back(Section{lines_.size(), 0});
    }
    lines_.push_back(line);
    pos = next;
  }
  if (!sections_.empty())
    sections_.back().end = lines_.size();
}

std::string IniDocument::Serialize() const {
  if (utf16_)
    return SerializeUtf16();
  std::size_t size = prefix_.size();
  for (const Line& line : lines_)
    size += line.length + 2;
  std::string out;
  out.reserve(size);
  out += prefix_;
  for (const Line& line : lines_) {
    out += Text(line);
    out += EolBytes(static_cast<unsigned char>(line.eol));
  }
  return out;
}

std::string IniDocument::SerializeUtf16() const {
  std::u16string wide;
  for (const Line& line : lines_) {
    if (line.offset + line.length <= parsed_size_) {
      // Untouched since parsing: its characters exactly as they were in the file.
      const std::size_t begin = raw_offsets_[line.offset];
      wide.append(raw_, begin, raw_offsets_[line.offset + line.length] - begin);
    } else {
      wide += AnsiToUtf16(Text(line));
    }
    wide += AnsiToUtf16(EolBytes(static_cast<unsigned char>(line.eol)));
  }
  std::string encoded = "\xFF\xFE";
  encoded.reserve(2 + wide.size() * 2);
  for (const char16_t unit : wide) {
    encoded.push_back(static_cast<char>(unit & 0xFF));
    encoded.push_back(static_cast<char>(unit >> 8));
  }
  return encoded;
}

void IniDocument::RebuildIndex() {
  std::size_t capacity = 16;
  while (capacity < sections_.size() * 2 + 2)
    capacity *= 2;
  slots_.assign(capacity, 0);
  indexed_ = 0;
  for (std::size_t i = 0; i < sections_.size(); ++i)
    AddToIndex(i);
}

void IniDocument::AddToIndex(std::size_t section) {
  const std::string_view name = SectionName(section);
  if (name.empty())
    return;  // "[]" can never be looked up
  if ((indexed_ + 1) * 2 > slots_.size()) {
    RebuildIndex();  // sized for every section, this one included
    return;
  }
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = FoldHash(name) & mask;; slot = (slot + 1) & mask) {
    if (slots_[slot] == 0) {
      slots_[slot] = static_cast<std::uint32_t>(section + 1);
      ++indexed_;
      return;
    }
    // Only the first section of a name is ever found.
    if (EqualsIgnoringCase(SectionName(slots_[slot] - 1), name))
      return;
  }
}

std::string_view IniDocument::SectionName(std::size_t section) const {
  return Name(lines_[sections_.at(section).header]);
}

std::size_t IniDocument::FindSection(std::string_view name) const {
  name = Trim(name);
  if (name.empty() || slots_.empty())
    return npos;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = FoldHash(name) & mask;; slot = (slot + 1) & mask) {
    if (slots_[slot] == 0)
      return npos;
    const std::size_t section = slots_[slot] - 1;
    if (EqualsIgnoringCase(SectionName(section), name))
      return section;
  }
}

std::string_view IniDocument::EntryValue(const Line& line) const {
  std::string_view value = Trim(Text(line).substr(line.equals + 1));
  if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::size_t IniDocument::FindEntry(std::size_t section, std::string_view key) const {
  key = Trim(key);
  if (key.empty())
    return npos;
  for (std::size_t i = sections_[section].header + 1; i < sections_[section].end; ++i) {
    if (lines_[i].kind == Kind::kEntry && EqualsIgnoringCase(Name(lines_[i]), key))
      return i;
  }
  return npos;
}

std::optional<std::string_view> IniDocument::FindValue(std::size_t section,
                                                       std::string_view key) const {
  if (section >= SectionCount())
    return std::nullopt;
  const std::size_t line = FindEntry(section, key);
  if (line == npos)
    return std::nullopt;
  return EntryValue(lines_[line]);
}

std::optional<std::string_view> IniDocument::FindValue(std::string_view section,
                                                       std::string_view key) const {
  return FindValue(FindSection(section), key);
}

void IniDocument::FindValues(std::size_t section, std::span<const std::string_view> keys,
                             std::span<std::optional<std::string_view>> values) const {
  for (auto& value : values)
    value.reset();
  const std::size_t wanted = std::min(keys.size(), values.size());
  if (section >= SectionCount() || wanted == 0)
    return;
  // Keys are usually asked for in the order the file holds them: try the next one first.
  std::size_t hint = 0;
  for (std::size_t i = sections_[section].header + 1; i < sections_[section].end; ++i) {
    if (lines_[i].kind != Kind::kEntry)
      continue;
    const std::string_view name = Name(lines_[i]);
    for (std::size_t tried = 0; tried < wanted; ++tried) {
      const std::size_t k = (hint + tried) % wanted;
      if (!values[k] && EqualsIgnoringCase(name, keys[k])) {
        values[k] = EntryValue(lines_[i]);
        hint = k + 1;
        break;
      }
    }
  }
}

std::vector<std::pair<std::string_view, std::string_view>> IniDocument::Entries(
    std::size_t section) const {
  std::vector<std::pair<std::string_view, std::string_view>> entries;
  if (section >= SectionCount())
    return entries;
  for (std::size_t i = sections_[section].header + 1; i < sections_[section].end; ++i) {
    if (lines_[i].kind == Kind::kEntry)
      entries.emplace_back(Name(lines_[i]), EntryValue(lines_[i]));
  }
  return entries;
}

std::string IniDocument::GetString(std::size_t section, std::string_view key,
                                   std::string_view default_value) const {
  if (const auto value = FindValue(section, key)) {
    return std::string(value->substr(0, kMaxValueLength));
  }
  while (!default_value.empty() && default_value.back() == ' ')
    default_value.remove_suffix(1);
  return std::string(default_value.substr(0, kMaxValueLength));
}

std::string IniDocument::GetString(std::string_view section, std::string_view key,
                                   std::string_view default_value) const {
  return GetString(FindSection(section), key, default_value);
}

IniDocument::Line* IniDocument::LastLine() {
  return lines_.empty() ? nullptr : &lines_.back();
}

void IniDocument::EnsureFinalLineEnd() {
  Line* last = LastLine();
  if (last != nullptr && last->eol == Eol::kNone)
    last->eol = Eol::kCrLf;
}

void IniDocument::InsertLine(std::size_t position, const Line& line) {
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(position), line);
  // Sections are in file order: the ones from the insertion point on move down a line, and only
  // the one the line goes into grows. Most inserts go into the last section, so this is quick.
  const auto moved =
      std::partition_point(sections_.begin(), sections_.end(),
                           [position](const Section& s) { return s.header < position; });
  for (auto section = moved; section != sections_.end(); ++section) {
    ++section->header;
    ++section->end;
  }
  if (moved != sections_.begin() && std::prev(moved)->end >= position)
    ++std::prev(moved)->end;
}

void IniDocument::CompactIfWasteful() {
  // A UTF-16 file's untouched lines are known by their place in the parsed text.
  if (utf16_ || dead_text_ < 4096 || dead_text_ < text_.size() / 2)
    return;
  std::string compact;
  compact.reserve(text_.size() - dead_text_);
  for (Line& line : lines_) {
    const std::size_t offset = compact.size();
    compact += Text(line);
    line.offset = offset;
  }
  text_.swap(compact);
  dead_text_ = 0;
}

bool IniDocument::WriteString(std::string_view section_name, std::string_view key,
                              std::string_view value) {
  section_name = Trim(section_name);
  key = Trim(key);
  if (section_name.empty() || key.empty() || BreaksLines(section_name) || BreaksLines(key) ||
      key.find('=') != std::string_view::npos || key.front() == ';' || key.front() == '[') {
    return false;
  }
  std::string entry = std::string(key) + "=" + PrepareValue(value);
  changed_ = true;

  const std::size_t found = FindSection(section_name);
  if (found == npos) {
    EnsureFinalLineEnd();
    const std::string header = "[" + std::string(section_name) + "]";
    const std::size_t first = lines_.size();
    lines_.push_back(AddLine(header, Eol::kCrLf));
    lines_.push_back(AddLine(entry, Eol::kCrLf));
    sections_.push_back(Section{first, lines_.size()});
    AddToIndex(sections_.size() - 1);
    return true;
  }

  const Section section = sections_[found];
  if (const std::size_t existing = FindEntry(found, key); existing != npos) {
    // The name keeps the spelling it has in the file.
    entry.replace(0, key.size(), Name(lines_[existing]));
    dead_text_ += lines_[existing].length;
    lines_[existing] = AddLine(entry, lines_[existing].eol);
    CompactIfWasteful();
    return true;
  }

  // After the last entry, ahead of any blank or comment lines that close the section.
  std::size_t position = section.end;
  while (position > section.header + 1 && (lines_[position - 1].kind == Kind::kBlank ||
                                           lines_[position - 1].kind == Kind::kComment)) {
    --position;
  }
  if (lines_[position - 1].eol == Eol::kNone)
    lines_[position - 1].eol = Eol::kCrLf;
  InsertLine(position, AddLine(entry, Eol::kCrLf));
  return true;
}

bool IniDocument::DeleteKey(std::string_view section_name, std::string_view key) {
  const std::size_t found = FindSection(section_name);
  if (found == npos)
    return true;
  const std::size_t line = FindEntry(found, key);
  if (line == npos)
    return true;
  dead_text_ += lines_[line].length;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(line));
  for (Section& section : sections_) {
    if (section.header > line) {
      --section.header;
      --section.end;
    } else if (section.end > line) {
      --section.end;
    }
  }
  changed_ = true;
  CompactIfWasteful();
  return true;
}

bool IniDocument::DeleteSection(std::string_view section_name) {
  const std::size_t found = FindSection(section_name);
  if (found == npos)
    return true;
  const Section gone = sections_[found];
  const std::size_t count = gone.end - gone.header;
  for (std::size_t i = gone.header; i < gone.end; ++i)
    dead_text_ += lines_[i].length;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(gone.header),
               lines_.begin() + static_cast<std::ptrdiff_t>(gone.end));
  sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(found));
  for (std::size_t i = found; i < sections_.size(); ++i) {
    sections_[i].header -= count;
    sections_[i].end -= count;
  }
  RebuildIndex();
  changed_ = true;
  CompactIfWasteful();
  return true;
}

void IniDocument::AppendLineEnd() {
  changed_ = true;
  Line* last = LastLine();
  if (last != nullptr && last->eol == Eol::kNone) {
    last->eol = Eol::kCrLf;
    return;
  }
  lines_.push_back(AddLine({}, Eol::kCrLf));
  if (!sections_.empty())
    sections_.back().end = lines_.size();
}

IniFile::IniFile(std::filesystem::path path, std::int64_t max_size)
    : path_(std::move(path)), max_size_(max_size) {}

void IniFile::Revalidate() {
  // Held edits are newer than the file.
  if (held_changes_)
    return;
  const FileStatus status = StatFile(path_);
  if (status.state == FileState::kPresent && status.stamp.size >= max_size_) {
    // Not a file this program wrote; never parsed, never overwritten.
    state_ = FileState::kUnreadable;
    stamp_ = status.stamp;
    document_ = IniDocument{};
    ++generation_;
    cached_ = false;
    return;
  }
  if (status.state == FileState::kPresent) {
    if (cached_ && state_ == FileState::kPresent && stamp_ == status.stamp)
      return;
    FileContent content = ReadFileContent(path_);
    state_ = content.state;
    stamp_ = content.stamp;
    document_ = content.state == FileState::kPresent ? IniDocument::Parse(std::move(content.bytes))
                                                     : IniDocument{};
    ++generation_;
  } else {
    if (!cached_ || state_ != status.state) {
      document_ = IniDocument{};
      ++generation_;
    }
    state_ = status.state;
  }
  cached_ = true;
}

const IniDocument& IniFile::Read() {
  Revalidate();
  return document_;
}

FileOutcome IniFile::Modify(const std::function<bool(IniDocument&)>& edit) {
  Revalidate();
  if (state_ == FileState::kUnreadable) {
    return FileOutcome::Failed(stamp_.size >= max_size_ ? Ansi("es demasiado grande")
                                                        : "no se puede leer (o no es un archivo)");
  }
  // Until the new content is on disk the cache may hold edits the file lacks: on any way out
  // but success it is read again.
  cached_ = false;
  if (!edit(document_))
    return FileOutcome::Failed({});
  if (document_.changed())
    ++generation_;
  if (holding_) {
    held_changes_ = held_changes_ || document_.changed();
    cached_ = true;
    return {};
  }
  if (document_.changed()) {
    FileOutcome written = WriteDocument();
    if (!written)
      return written;
  }
  cached_ = true;
  return {};
}

FileOutcome IniFile::WriteDocument() {
  const std::string bytes = document_.Serialize();
  if (static_cast<std::int64_t>(bytes.size()) >= max_size_)
    return FileOutcome::Failed(Ansi("se haría demasiado grande para leerlo"));
  FileStamp written;
  FileOutcome outcome = writer_.Write(path_, bytes, &written);
  if (!outcome)
    return outcome;
  document_.changed_ = false;
  state_ = FileState::kPresent;
  stamp_ = written;
  return {};
}

void IniFile::HoldWrites() {
  holding_ = true;
}

FileOutcome IniFile::Flush() {
  holding_ = false;
  if (!held_changes_)
    return {};
  held_changes_ = false;
  // On failure the cache is read again from the file: the held edits are gone.
  FileOutcome outcome = WriteDocument();
  cached_ = outcome.ok;
  return outcome;
}

void IniFile::DiscardHeld() {
  holding_ = false;
  if (held_changes_) {
    held_changes_ = false;
    cached_ = false;  // read again from the file
  }
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view default_value) {
  return Read().GetString(section, key, default_value);
}

FileOutcome IniFile::WriteString(std::string_view section, std::string_view key,
                                 std::string_view value) {
  return Modify([&](IniDocument& document) { return document.WriteString(section, key, value); });
}

FileOutcome IniFile::DeleteKey(std::string_view section, std::string_view key) {
  return Modify([&](IniDocument& document) { return document.DeleteKey(section, key); });
}

FileOutcome IniFile::DeleteSection(std::string_view section) {
  return Modify([&](IniDocument& document) { return document.DeleteSection(section); });
}

}  // namespace velkorant
