// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The per-user settings database: a small registry kept in SQLite. Keys nest with "\\" below a
// root that the database itself stands for; each key holds named text values (8-bit bytes, kept
// exactly) and 32-bit integer values. Key and value names match without regard to letter case
// and keep the case they were first written with; subkeys list in ascending order of their
// upper-cased names, as on Windows.
//
// Reads never create anything and report whenever the database cannot be used (status()). A
// damaged file is left exactly as it is: the database reports kCorrupt until the file at the
// path is another one (restored, or moved away). Several processes may use the same file at
// once.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "platform/atomic_file.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velkorant {

// Windows' upper-casing of a Windows-1252 name, as UTF-16 code units. Names are equal when
// these are, and sort by them (so "_" comes after the letters, as on Windows).
std::u16string UpperCaseName(std::string_view name);
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);

enum class SettingsDatabaseStatus {
  kOk,           // the last operation worked (or found no database yet: everything absent)
  kUnavailable,  // the last operation failed for a passing reason: locked, permissions, disk full
  kCorrupt,      // the file is no database of ours; it is left untouched for good
};

// What kind of trouble the last failure was, for telling the user what to do about it.
enum class SettingsProblem {
  kNone,
  kLocked,        // another program held it past the wait
  kDamaged,       // not a database, or a damaged one
  kNewerVersion,  // written by a newer version of the program
  kNoAccess,      // no permission, or a read-only file or disk
  kNotAFile,      // a folder (or something else) in its place
  kDiskFull,
  kOther,
};

enum class DeleteKeyResult {
  kDeleted,
  kAbsent,
  kHasSubkeys,  // nothing was deleted
  kFailed,      // the database could not be used
};

// A value to write; std::monostate removes the value instead.
struct ValueWrite {
  std::string_view key_path;
  std::string_view name;
  std::variant<std::string_view, std::int32_t, std::monostate> value;
};

class SettingsDatabase {
 public:
  // $XDG_CONFIG_HOME/KRWTN_Software/VLKRNTS/settings.sqlite3, with ~/.config when the variable
  // is unset, empty or not an absolute path. Empty when no home folder can be found.
  static std::filesystem::path DefaultPath();

  explicit SettingsDatabase(std::filesystem::path path,
                            std::chrono::milliseconds busy_timeout = std::chrono::seconds(5));
  ~SettingsDatabase();
  SettingsDatabase(const SettingsDatabase&) = delete;
  SettingsDatabase& operator=(const SettingsDatabase&) = delete;

  const std::filesystem::path& path() const { return path_; }
  SettingsDatabaseStatus status() const { return status_; }
  SettingsProblem problem() const { return problem_; }

  // A text value. An integer value reads as its decimal text, since a caller asking for text
  // can show that; nullopt when the key or value is absent or the database cannot be read.
  std::optional<std::string> ReadText(std::string_view key_path, std::string_view name);
  // An integer value. A text value gives nullopt: its digits are not the number a registry
  // reader would see, so the caller's default is the safer answer.
  std::optional<std::int32_t> ReadInt(std::string_view key_path, std::string_view name);

  bool KeyExists(std::string_view key_path);
  // The subkeys' names in their stored case, ascending; nullopt when the key is absent.
  std::optional<std::vector<std::string>> SubkeyNames(std::string_view key_path);

  // Writes in order, as one transaction, creating the keys along each path.
  bool WriteValues(std::span<const ValueWrite> writes);
  bool WriteText(std::string_view key_path, std::string_view name, std::string_view value);
  bool WriteInt(std::string_view key_path, std::string_view name, std::int32_t value);
  // The text value, written first as `value` when absent, in one transaction: of two processes
  // that both find none, both get the one written first. nullopt when it cannot be had.
  std::optional<std::string> ReadOrWriteText(std::string_view key_path, std::string_view name,
                                             std::string_view value);

  // Only a key without subkeys is deleted, together with its values. The root cannot be.
  DeleteKeyResult DeleteKey(std::string_view key_path);

 private:
  struct ConnectionCloser {
    void operator()(sqlite3* db) const;
  };
  struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const;
  };
  using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;
  class Transaction;

  enum class Access { kRead, kWrite };

  // The open connection, opening (and for writes creating) the file on first need; nullptr
  // when there is none to use. For reads, also nullptr while the file holds no tables yet.
  sqlite3* Connection(Access access);
  bool Open(bool create);
  bool EnsureSchema();
  void Close();
  sqlite3_stmt* Prepare(const char* sql);
  // Records a failure of SQLite; damage marks the database corrupt and closes it.
  void Failed(SettingsProblem without_connection = SettingsProblem::kOther);
  void MarkUnusable(SettingsProblem problem);
  void Succeeded();

  std::optional<std::int64_t> FindKey(std::string_view key_path);
  // The value as stored: its bytes, or an integer.
  std::optional<std::variant<std::string, std::int64_t>> ReadValue(std::string_view key_path,
                                                                   std::string_view name);
  std::optional<std::int64_t> FindOrCreateKey(std::string_view key_path);
  bool WriteValue(std::int64_t key, const ValueWrite& write);

  std::filesystem::path path_;
  std::chrono::milliseconds busy_timeout_;
  // Statements are finalized before the connection closes: declared after it.
  std::unique_ptr<sqlite3, ConnectionCloser> db_;
  std::unordered_map<const char*, Statement> statements_;
  bool schema_ready_ = false;
  SettingsDatabaseStatus status_ = SettingsDatabaseStatus::kOk;
  FileStamp corrupt_file_;  // the damaged file's identity
  SettingsProblem problem_ = SettingsProblem::kNone;
};

}  // namespace velkorant
