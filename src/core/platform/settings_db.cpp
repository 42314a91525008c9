// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/settings_db.h"

#include <sqlite3.h>

#include <climits>

#include "platform/ansi_text.h"
#include "platform/settings_db_statement.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using settings_db::ColumnBytes;
using settings_db::StatementUse;

// The registry's limits on names, and a bound on values well above anything this program keeps.
constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxValueName = 16383;
constexpr std::size_t kMaxTextValue = 1 << 20;

constexpr std::int64_t kRootKey = 1;
// The registry's type numbers, so that a look into the file explains itself.
constexpr int kTextType = 1;     // REG_SZ
constexpr int kIntegerType = 4;  // REG_DWORD

constexpr const char* kFindKey = "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2";
constexpr const char* kInsertKey = "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)";
constexpr const char* kHasSubkey = "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1";
constexpr const char* kSubkeyNames = "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded";
constexpr const char* kDeleteValues = "DELETE FROM vals WHERE key = ?1";
constexpr const char* kDeleteKey = "DELETE FROM keys WHERE id = ?1";
constexpr const char* kDeleteValue = "DELETE FROM vals WHERE key = ?1 AND folded = ?2";
constexpr const char* kReadValue = "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2";
// On conflict the value keeps the name it was created with.
constexpr const char* kWriteValue =
    "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data";

char16_t UpperCase(char32_t c) {
  if (c >= U'a' && c <= U'z')
    return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
    return static_cast<char16_t>(c - 0x20);
  switch (c) {
    case 0xFF:
      return 0x178;  // ÿ Ÿ
    case 0x161:
      return 0x160;  // š Š
    case 0x153:
      return 0x152;  // œ Œ
    case 0x17E:
      return 0x17D;  // ž Ž
    case 0x192:
      return 0x191;  // ƒ Ƒ
    default:
      return static_cast<char16_t>(c);  // every Windows-1252 character is in the BMP
  }
}

// The upper-cased name as big-endian UTF-16, so that SQLite's byte order of BLOBs is the order
// of the code units.
std::string FoldedBlob(std::string_view name) {
  std::string folded;
  folded.reserve(2 * name.size());
  for (const char16_t unit : UpperCaseName(name)) {
    folded.push_back(static_cast<char>(unit >> 8));
    folded.push_back(static_cast<char>(unit & 0xFF));
  }
  return folded;
}

// "A\B" names B below A; one trailing backslash is ignored. Empty components and over-long
// names make the path invalid.
std::optional<std::vector<std::string_view>> SplitKeyPath(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.empty())
    return parts;
  if (path.back() == '\\')
    path.remove_suffix(1);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find('\\', start);
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part.size() > kMaxKeyName)
      return std::nullopt;
    parts.push_back(part);
    if (end == std::string_view::npos)
      return parts;
    start = end + 1;
  }
}

bool ValidWrite(const ValueWrite& write) {
  if (!SplitKeyPath(write.key_path) || write.name.size() > kMaxValueName)
    return false;
  const auto* text = std::get_if<std::string_view>(&write.value);
  return text == nullptr || text->size() <= kMaxTextValue;
}

void BindBytes(sqlite3_stmt* statement, int index, std::string_view bytes) {
  // An empty view may have no data pointer, which SQLite would store as NULL.
  if (bytes.empty()) {
    sqlite3_bind_zeroblob(statement, index, 0);
  } else {
    sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()),
                      SQLITE_TRANSIENT);
  }
}

}  // namespace

std::u16string UpperCaseName(std::string_view name) {
  std::u16string upper;
  upper.reserve(name.size());
  for (const char byte : name)
    upper.push_back(UpperCase(AnsiToUnicode(static_cast<unsigned char>(byte))));
  return upper;
}

bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && UpperCaseName(a) == UpperCaseName(b);
}

// BEGIN IMMEDIATE takes the write lock at once (waiting out other writers), so a transaction
// never fails half-way for want of it; anything not committed is rolled back.
class SettingsDatabase::Transaction {
 public:
  explicit Transaction(SettingsDatabase& owner) : owner_(owner) {
    begun_ =
        sqlite3_exec(owner_.db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!begun_)
      owner_.Failed();
  }
  ~Transaction() {
    if (begun_ && !committed_ && owner_.db_) {
      sqlite3_exec(owner_.db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  bool begun() const { return begun_; }
  bool Commit() {
    if (!owner_.db_)
      return false;
    committed_ = sqlite3_exec(owner_.db_.get(), "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!committed_)
      owner_.Failed();
    return committed_;
  }

 private:
  SettingsDatabase& owner_;
  bool begun_ = false;
  bool committed_ = false;
};

std::optional<std::int64_t> SettingsDatabase::FindKey(std::string_view key_path) {
  const auto parts = SplitKeyPath(key_path);
  if (!parts)
    return std::nullopt;
  sqlite3_stmt* find = Prepare(kFindKey);
  if (find == nullptr)
    return std::nullopt;
  std::int64_t key = kRootKey;
  for (const std::string_view part : *parts) {
    const StatementUse use(find);
    sqlite3_bind_int64(find, 1, key);
    BindBytes(find, 2, FoldedBlob(part));
    const int stepped = sqlite3_step(find);
    if (stepped != SQLITE_ROW) {
      if (stepped != SQLITE_DONE)
        Failed();
      return std::nullopt;
    }
    key = sqlite3_column_int64(find, 0);
  }
  return key;
}

std::optional<std::int64_t> SettingsDatabase::FindOrCreateKey(std::string_view key_path) {
  const auto parts = SplitKeyPath(key_path);
  if (!parts)
    return std::nullopt;
  sqlite3_stmt* find = Prepare(kFindKey);
  sqlite3_stmt* insert = Prepare(kInsertKey);
  if (find == nullptr || insert == nullptr)
    return std::nullopt;
  std::int64_t key = kRootKey;
  for (const std::string_view part : *parts) {
    const std::string folded = FoldedBlob(part);
    {
      const StatementUse use(find);
      sqlite3_bind_int64(find, 1, key);
      BindBytes(find, 2, folded);
      const int stepped = sqlite3_step(find);
      if (stepped == SQLITE_ROW) {
        key = sqlite3_column_int64(find, 0);
        continue;
      }
      if (stepped != SQLITE_DONE) {
        Failed();
        return std::nullopt;
      }
    }
    const StatementUse use(insert);
    sqlite3_bind_int64(insert, 1, key);
    BindBytes(insert, 2, part);
    BindBytes(insert, 3, folded);
    if (sqlite3_step(insert) != SQLITE_DONE) {
      Failed();
      return std::nullopt;
    }
    key = sqlite3_last_insert_rowid(db_.get());
  }
  return key;
}

bool SettingsDatabase::WriteValue(std::int64_t key, const ValueWrite& write) {
  const bool remove = std::holds_alternative<std::monostate>(write.value);
  sqlite3_stmt* statement = Prepare(remove ? kDeleteValue : kWriteValue);
  if (statement == nullptr)
    return false;
  const StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, key);
  if (remove) {
    BindBytes(statement, 2, FoldedBlob(write.name));
  } else {
    BindBytes(statement, 2, write.name);
    BindBytes(statement, 3, FoldedBlob(write.name));
    if (const auto* text = std::get_if<std::string_view>(&write.value)) {
      sqlite3_bind_int(statement, 4, kTextType);
      BindBytes(statement, 5, *text);
    } else {
      sqlite3_bind_int(statement, 4, kIntegerType);
      sqlite3_bind_int(statement, 5, std::get<std::int32_t>(write.value));
    }
  }
  if (sqlite3_step(statement) != SQLITE_DONE) {
    Failed();
    return false;
  }
  return true;
}

std::optional<std::variant<std::string, std::int64_t>> SettingsDatabase::ReadValue(
    std::string_view key_path, std::string_view name) {
  if (Connection(Access::kRead) == nullptr)
    return std::nullopt;
  const auto key = FindKey(key_path);
  if (!key)
    return std::nullopt;
  sqlite3_stmt* statement = Prepare(kReadValue);
  if (statement == nullptr)
    return std::nullopt;
  const StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, *key);
  BindBytes(statement, 2, FoldedBlob(name));
  const int stepped = sqlite3_step(statement);
  if (stepped != SQLITE_ROW) {
    if (stepped != SQLITE_DONE)
      Failed();
    return std::nullopt;
  }
  if (sqlite3_column_int(statement, 0) == kIntegerType)
    return sqlite3_column_int64(statement, 1);
  return ColumnBytes(statement, 1);
}

std::optional<std::string> SettingsDatabase::ReadText(std::string_view key_path,
                                                      std::string_view name) {
  auto value = ReadValue(key_path, name);
  if (!value)
    return std::nullopt;
  if (const auto* number = std::get_if<std::int64_t>(&*value))
    return std::to_string(*number);
  return std::get<std::string>(std::move(*value));
}

std::optional<std::int32_t> SettingsDatabase::ReadInt(std::string_view key_path,
                                                      std::string_view name) {
  const auto value = ReadValue(key_path, name);
  const auto* number = value ? std::get_if<std::int64_t>(&*value) : nullptr;
  if (number == nullptr || *number < INT32_MIN || *number > INT32_MAX)
    return std::nullopt;
  return static_cast<std::int32_t>(*number);
}

bool SettingsDatabase::KeyExists(std::string_view key_path) {
  if (Connection(Access::kRead) == nullptr)
    return false;
  return FindKey(key_path).has_value();
}

std::optional<std::vector<std::string>> SettingsDatabase::SubkeyNames(std::string_view key_path) {
  if (Connection(Access::kRead) == nullptr)
    return std::nullopt;
  const auto key = FindKey(key_path);
  if (!key)
    return std::nullopt;
  sqlite3_stmt* statement = Prepare(kSubkeyNames);
  if (statement == nullptr)
    return std::nullopt;
  const StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, *key);
  std::vector<std::string> names;
  int stepped;
  while ((stepped = sqlite3_step(statement)) == SQLITE_ROW) {
    names.push_back(ColumnBytes(statement, 0));
  }
  if (stepped != SQLITE_DONE) {
    Failed();
    return std::nullopt;
  }
  return names;
}

bool SettingsDatabase::WriteValues(std::span<const ValueWrite> writes) {
  for (const ValueWrite& write : writes) {
    if (!ValidWrite(write))
      return false;
  }
  if (Connection(Access::kWrite) == nullptr)
    return false;
  Transaction transaction(*this);
  if (!transaction.begun())
    return false;
  for (const ValueWrite& write : writes) {
    if (std::holds_alternative<std::monostate>(write.value)) {
      // Removing a value creates no key; an absent key holds nothing to remove.
      const auto key = FindKey(write.key_path);
      if (!key && status_ != SettingsDatabaseStatus::kOk)
        return false;
      if (key && !WriteValue(*key, write))
        return false;
      continue;
    }
    const auto key = FindOrCreateKey(write.key_path);
    if (!key || !WriteValue(*key, write))
      return false;
  }
  return transaction.Commit();
}

bool SettingsDatabase::WriteText(std::string_view key_path, std::string_view name,
                                 std::string_view value) {
  const ValueWrite write{key_path, name, value};
  return WriteValues({&write, 1});
}

bool SettingsDatabase::WriteInt(std::string_view key_path, std::string_view name,
                                std::int32_t value) {
  const ValueWrite write{key_path, name, value};
  return WriteValues({&write, 1});
}

std::optional<std::string> SettingsDatabase::ReadOrWriteText(std::string_view key_path,
                                                             std::string_view name,
                                                             std::string_view value) {
  const ValueWrite write{key_path, name, value};
  if (!ValidWrite(write) || Connection(Access::kWrite) == nullptr)
    return std::nullopt;
  Transaction transaction(*this);
  if (!transaction.begun())
    return std::nullopt;
  if (auto stored = ReadValue(key_path, name)) {
    if (const auto* number = std::get_if<std::int64_t>(&*stored))
      return std::to_string(*number);
    return std::get<std::string>(std::move(*stored));
  }
  if (status_ != SettingsDatabaseStatus::kOk)
    return std::nullopt;
  const auto key = FindOrCreateKey(key_path);
  if (!key || !WriteValue(*key, write) || !transaction.Commit())
    return std::nullopt;
  return std::string(value);
}

DeleteKeyResult SettingsDatabase::DeleteKey(std::string_view key_path) {
  const auto parts = SplitKeyPath(key_path);
  if (!parts || parts->empty())
    return DeleteKeyResult::kFailed;
  // Opened as for a read: with no database yet there is nothing to delete, and no file is made.
  if (Connection(Access::kRead) == nullptr) {
    return status_ == SettingsDatabaseStatus::kOk ? DeleteKeyResult::kAbsent
                                                  : DeleteKeyResult::kFailed;
  }
  Transaction transaction(*this);
  if (!transaction.begun())
    return DeleteKeyResult::kFailed;
  const auto key = FindKey(key_path);
  if (!key) {
    return status_ == SettingsDatabaseStatus::kOk ? DeleteKeyResult::kAbsent
                                                  : DeleteKeyResult::kFailed;
  }

  sqlite3_stmt* has_subkey = Prepare(kHasSubkey);
  sqlite3_stmt* delete_values = Prepare(kDeleteValues);
  sqlite3_stmt* delete_key = Prepare(kDeleteKey);
  if (has_subkey == nullptr || delete_values == nullptr || delete_key == nullptr) {
    return DeleteKeyResult::kFailed;
  }
  {
    const StatementUse use(has_subkey);
    sqlite3_bind_int64(has_subkey, 1, *key);
    const int stepped = sqlite3_step(has_subkey);
    if (stepped == SQLITE_ROW)
      return DeleteKeyResult::kHasSubkeys;
    if (stepped != SQLITE_DONE) {
      Failed();
      return DeleteKeyResult::kFailed;
    }
  }
  for (sqlite3_stmt* statement : {delete_values, delete_key}) {
    const StatementUse use(statement);
    sqlite3_bind_int64(statement, 1, *key);
    if (sqlite3_step(statement) != SQLITE_DONE) {
      Failed();
      return DeleteKeyResult::kFailed;
    }
  }
  return transaction.Commit() ? DeleteKeyResult::kDeleted : DeleteKeyResult::kFailed;
}

}  // namespace velkorant
