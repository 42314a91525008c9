// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// INI files as Windows' private-profile functions read and write them, over 8-bit bytes.
//
// A file is kept as its lines. An edit changes only the lines it concerns: comments, blank
// lines, "k = v" spacing and unknown lines keep their bytes. Names match without regard to case
// (Windows-1252 letters); a new section goes at the end of the file with no blank line of its
// own, a new key right after the last entry of its section; lines end in CR LF. On reading,
// names and values are trimmed, one pair of matching quotes around a value is dropped, lines
// starting with ';' are comments, CR LF, LF and CR all end a line, the first of duplicate
// sections or keys wins and lines before the first section belong to none.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"

namespace velkorant {

// Whether two names are the same for an INI file: letters compare without regard to case, as
// Windows-1252 letters.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// A name or value without the blanks Windows trims around them (^Z among them).
std::string_view TrimIniBlanks(std::string_view text);

class IniDocument {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  // Values come back through a buffer of 4096 characters on Windows.
  static constexpr std::size_t kMaxValueLength = 4095;

  // Any bytes parse (up to IniFile::kMaxFileSize). A UTF-16LE byte-order mark makes a UTF-16 file
  // (kept as such when written back); a UTF-8 one is kept but not taken for part of the first line.
  static IniDocument Parse(std::string bytes);
  std::string Serialize() const;

  // Sections are numbered in file order, duplicates included. Returned views stay valid until
  // the next edit.
  std::size_t SectionCount() const { return sections_.size(); }
  std::string_view SectionName(std::size_t section) const;
  // The first section with this name, or npos.
  std::size_t FindSection(std::string_view name) const;

  // The value as read: trimmed, one pair of matching quotes removed, not cut. nullopt when the
  // section or key is missing.
  std::optional<std::string_view> FindValue(std::size_t section, std::string_view key) const;
  std::optional<std::string_view> FindValue(std::string_view section, std::string_view key) const;
  // FindValue for several keys (given without surrounding blanks) in one pass over the
  // section: values[i] for keys[i].
  void FindValues(std::size_t section, std::span<const std::string_view> keys,
                  std::span<std::optional<std::string_view>> values) const;
  // Every entry of the section in file order, as FindValue reads them: (name, value).
  std::vector<std::pair<std::string_view, std::string_view>> Entries(std::size_t section) const;
  // GetPrivateProfileString: the value cut to kMaxValueLength, or the default without its
  // trailing blanks.
  std::string GetString(std::size_t section, std::string_view key,
                        std::string_view default_value) const;
  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view default_value) const;

  // WritePrivateProfileString with a value. CR, LF and NUL in the value become blanks, so a value
  // can never break the line structure; a value that would not read back as written (blanks at
  // its edges, or the same quote at both ends) is wrapped in one extra pair of double quotes.
  // False, with nothing changed, for an empty or unusable name.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  // Removes the key's line; the section stays even when empty.
  bool DeleteKey(std::string_view section, std::string_view key);
  // Removes the header and every line up to the next header.
  bool DeleteSection(std::string_view section);
  // What appending "\r\n" to the file does: ends an unfinished last line, else adds an empty one.
  void AppendLineEnd();

  // Whether any edit changed the document since it was parsed.
  bool changed() const { return changed_; }

 private:
  friend class IniFile;

  enum class Eol : unsigned char { kNone, kCrLf, kLf, kCr };
  enum class Kind : unsigned char { kBlank, kComment, kHeader, kEntry, kOther };

  // A slice of text_. Lines never reach 4 GiB: IniFile refuses files of 1 GiB and more.
  struct Line {
    std::size_t offset = 0;
    std::uint32_t length = 0;
    // kEntry and kHeader: the trimmed name, relative to offset; kEntry: where its first '=' is.
    std::uint32_t name_begin = 0;
    std::uint32_t name_end = 0;
    std::uint32_t equals = 0;
    Eol eol = Eol::kCrLf;
    Kind kind = Kind::kBlank;
  };

  // Its header line and the lines up to (not including) `end`.
  struct Section {
    std::size_t header;
    std::size_t end;
  };

  std::string_view Text(const Line& line) const;
  std::string_view Name(const Line& line) const;
  Line Classify(std::size_t offset, std::size_t length, Eol eol) const;
  // A UTF-16LE file (with its byte-order mark) into text_, one byte per character.
  void DecodeUtf16(std::string_view bytes);
  // text_ into lines and sections.
  void SplitLines();
  Line AddLine(std::string_view text, Eol eol);
  void InsertLine(std::size_t position, const Line& line);
  std::string_view EntryValue(const Line& line) const;
  // Index in lines_ of the section's first entry named `key`, or npos.
  std::size_t FindEntry(std::size_t section, std::string_view key) const;
  Line* LastLine();  // nullptr for an empty file
  void EnsureFinalLineEnd();
  void AddToIndex(std::size_t section);
  void RebuildIndex();
  void CompactIfWasteful();
  std::string SerializeUtf16() const;

  std::string prefix_;  // a UTF-8 byte-order mark
  bool utf16_ = false;
  // A UTF-16 file's characters as read, and for each byte of the parsed text where its character
  // starts among them (one more entry for the end).
  std::u16string raw_;
  std::vector<std::uint32_t> raw_offsets_;
  std::size_t parsed_size_ = 0;
  std::string text_;           // the parsed lines, then the text of lines written since
  std::size_t dead_text_ = 0;  // bytes of text_ no line refers to any more
  std::vector<Line> lines_;
  std::vector<Section> sections_;
  // Open addressing over the first section of each name: section index + 1, 0 for a free slot.
  // Kept over std::unordered_map with a case-folding hash: bench_store loads the two files of
  // 10 000 messages in 80-83 ms with this index and in 85-89 ms with the map (median of 21,
  // three runs each), which copies every section name into a node of its own.
  std::vector<std::uint32_t> slots_;
  std::size_t indexed_ = 0;
  bool changed_ = false;
};

// One INI file on disk with its parsed content cached. The cache is checked against the file's
// size, modification time and identity before each operation, so edits by other programs show
// at the next call, and a file that did not change is never parsed again.
class IniFile {
 public:
  // Larger files read as unreadable: empty, and never overwritten; nor is a file ever written
  // that would be this large, so that nothing is stored that could not be read back.
  static constexpr std::int64_t kMaxFileSize = std::int64_t{1} << 30;

  explicit IniFile(std::filesystem::path path, std::int64_t max_size = kMaxFileSize);

  const std::filesystem::path& path() const { return path_; }

  // The current content. A missing or unreadable file reads as empty; readable() tells them apart.
  const IniDocument& Read();
  bool readable() const { return state_ != FileState::kUnreadable; }

  // Runs `edit` on the current content and writes the result as one atomic rewrite. Nothing is
  // written when the edit changes nothing. False when `edit` refused, when the file exists but
  // could not be read (writing would lose its content) or when writing failed; the file on disk
  // is then as it was.
  FileOutcome Modify(const std::function<bool(IniDocument&)>& edit);

  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view default_value);
  FileOutcome WriteString(std::string_view section, std::string_view key, std::string_view value);
  FileOutcome DeleteKey(std::string_view section, std::string_view key);
  FileOutcome DeleteSection(std::string_view section);

  AtomicFileWriter& writer() { return writer_; }
  // Changes whenever the content does (an edit, or the file read again): lets callers keep what
  // they derived from it.
  std::uint64_t generation() const { return generation_; }

  // While holding, edits change only the cached content (which Read() returns) and reach the
  // file at Flush(), in one atomic rewrite: a run of many saves writes its file once. A crash
  // before the flush leaves the file as it was before the first held edit.
  void HoldWrites();
  // Writes the held edits and stops holding. On failure the edits are dropped, the file stays as
  // it was.
  FileOutcome Flush();
  // Drops the held edits and stops holding; the file stays as it was.
  void DiscardHeld();

 private:
  void Revalidate();
  // Writes the cached content over the file, atomically.
  FileOutcome WriteDocument();

  std::filesystem::path path_;
  std::int64_t max_size_;
  AtomicFileWriter writer_;
  IniDocument document_;
  FileState state_ = FileState::kMissing;
  FileStamp stamp_;
  bool cached_ = false;
  bool holding_ = false;
  bool held_changes_ = false;
  std::uint64_t generation_ = 0;
};

}  // namespace velkorant
