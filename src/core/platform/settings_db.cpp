#include "platform/settings_db.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/ansi_text.h"
#include "platform/unique_fd.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;

// The registry's limits on names, and a bound on values well above anything this program keeps.
constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxValueName = 16383;
constexpr std::size_t kMaxTextValue = 1 << 20;

constexpr int kSchemaVersion = 1;
constexpr std::int64_t kRootKey = 1;
// The registry's type numbers, so that a look into the file explains itself.
constexpr int kTextType = 1;     // REG_SZ
constexpr int kIntegerType = 4;  // REG_DWORD

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY,"
    "  parent INTEGER REFERENCES keys(id),"
    "  name BLOB NOT NULL,"
    "  folded BLOB NOT NULL,"
    "  UNIQUE(parent, folded));"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL REFERENCES keys(id),"
    "  name BLOB NOT NULL,"
    "  folded BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data,"
    "  PRIMARY KEY(key, folded)) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES(1, NULL, x'', x'');"
    "PRAGMA user_version = 1;";

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

std::string ColumnBytes(sqlite3_stmt* statement, int column) {
  const void* data = sqlite3_column_blob(statement, column);
  const int size = sqlite3_column_bytes(statement, column);
  if (data == nullptr || size <= 0)
    return {};
  return std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

// Leaves the statement ready for its next use, whatever happened to this one.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
  ~StatementUse() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

 private:
  sqlite3_stmt* statement_;
};

SettingsProblem ProblemOfErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return SettingsProblem::kNoAccess;
    case ENOSPC:
    case EDQUOT:
      return SettingsProblem::kDiskFull;
    default:
      return SettingsProblem::kOther;
  }
}

SettingsProblem ProblemOfSqlite(int code) {
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return SettingsProblem::kLocked;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return SettingsProblem::kDamaged;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH:
      return SettingsProblem::kNoAccess;
    case SQLITE_FULL:
      return SettingsProblem::kDiskFull;
    default:
      return SettingsProblem::kOther;
  }
}

// Creates the missing folders of `folder` with mode 0700; false with errno set.
bool CreatePrivateFolders(const fs::path& folder) {
  fs::path prefix;
  for (const fs::path& part : folder) {
    prefix /= part;
    if (::mkdir(prefix.c_str(), 0700) == 0) {
      ::chmod(prefix.c_str(), 0700);  // whatever the umask
    } else if (errno != EEXIST) {
      return false;
    }
  }
  return true;
}

// An empty file is an empty SQLite database; creating it ourselves fixes its mode, and SQLite
// gives its journal the same mode. False with errno set.
bool CreatePrivateFile(const fs::path& path) {
  if (!CreatePrivateFolders(path.parent_path()))
    return false;
  const UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) {
    if (errno == EEXIST)
      return true;  // another process was quicker
    return false;
  }
  ::fchmod(fd.get(), 0600);
  return true;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
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

// close_v2 waits for statements still alive instead of failing and leaking the connection.
void SettingsDatabase::ConnectionCloser::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

void SettingsDatabase::StatementFinalizer::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
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

fs::path SettingsDatabase::DefaultPath() {
  fs::path base;
  const char* config_home = std::getenv("XDG_CONFIG_HOME");
  if (config_home != nullptr && *config_home != '\0' && fs::path(config_home).is_absolute()) {
    base = config_home;
  } else {
    const std::string home = HomeFolder();
    if (home.empty())
      return {};
    base = fs::path(home) / ".config";
  }
  return base / "KRWTN_Software" / "VLKRNTS" / "settings.sqlite3";
}

SettingsDatabase::SettingsDatabase(fs::path path, std::chrono::milliseconds busy_timeout)
    : path_(std::move(path)), busy_timeout_(busy_timeout) {}

SettingsDatabase::~SettingsDatabase() {
  Close();
}

void SettingsDatabase::Close() {
  statements_.clear();
  db_.reset();
  schema_ready_ = false;
}

void SettingsDatabase::Succeeded() {
  if (status_ == SettingsDatabaseStatus::kCorrupt)
    return;
  status_ = SettingsDatabaseStatus::kOk;
  problem_ = SettingsProblem::kNone;
}

void SettingsDatabase::Failed(SettingsProblem without_connection) {
  if (status_ == SettingsDatabaseStatus::kCorrupt)
    return;
  problem_ = without_connection;
  if (db_) {
    problem_ = ProblemOfSqlite(sqlite3_errcode(db_.get()));
    if (problem_ == SettingsProblem::kDamaged) {
      // Closed by the next Connection(): callers may still hold statements of this one.
      status_ = SettingsDatabaseStatus::kCorrupt;
      corrupt_file_ = StatFile(path_).stamp;
      return;
    }
  }
  status_ = SettingsDatabaseStatus::kUnavailable;
}

void SettingsDatabase::MarkUnusable(SettingsProblem problem) {
  status_ = SettingsDatabaseStatus::kCorrupt;
  corrupt_file_ = StatFile(path_).stamp;
  problem_ = problem;
}

bool SettingsDatabase::Open(bool create) {
  if (path_.empty()) {
    Failed();
    return false;
  }
  std::error_code error;
  // A link at its name is not followed: the settings would be written into whatever it names.
  const fs::file_status status = fs::symlink_status(path_, error);
  const bool exists = fs::exists(status);
  if (error && status.type() != fs::file_type::not_found) {
    Failed(ProblemOfErrno(error.value()));
    return false;
  }
  if (exists && !fs::is_regular_file(status)) {
    Failed(SettingsProblem::kNotAFile);
    return false;
  }
  // A file its owner made read-only is read, never written (not even by root).
  const bool read_only =
      exists && (status.permissions() & fs::perms::owner_write) == fs::perms::none;
  if (!exists) {
    if (!create)
      return false;  // nothing stored yet, which is no failure
    if (!CreatePrivateFile(path_)) {
      Failed(ProblemOfErrno(errno));
      return false;
    }
  }

  sqlite3* raw = nullptr;
  // (No SQLITE_OPEN_NOFOLLOW: it refuses a link anywhere in the path, and a configuration
  // folder linked elsewhere is common.)
  const int opened = sqlite3_open_v2(
      path_.c_str(), &raw, read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, nullptr);
  db_.reset(raw);  // a failed open still hands out a handle to close
  if (opened != SQLITE_OK) {
    Failed();
    Close();
    return false;
  }
  sqlite3_busy_timeout(db_.get(), static_cast<int>(busy_timeout_.count()));

  // Reading the header and checking the pages finds a damaged or foreign file before anything
  // is written to it.
  std::optional<std::string> verdict;
  {
    sqlite3_stmt* raw_check = nullptr;
    sqlite3_prepare_v2(db_.get(), "PRAGMA quick_check", -1, &raw_check, nullptr);
    const Statement check(raw_check);
    if (check && sqlite3_step(check.get()) == SQLITE_ROW)
      verdict = ColumnBytes(check.get(), 0);
  }
  if (!verdict) {
    Failed();
  } else if (*verdict != "ok") {
    MarkUnusable(SettingsProblem::kDamaged);
  }
  if (verdict != "ok") {
    Close();
    return false;
  }
  return true;
}

// Version 0 is a file without our tables yet (we create the file empty); a later version is a
// newer program's, which this one must not write into.
bool SettingsDatabase::EnsureSchema() {
  sqlite3_stmt* version_statement = Prepare("PRAGMA user_version");
  if (version_statement == nullptr)
    return false;
  int version = -1;
  {
    const StatementUse use(version_statement);
    if (sqlite3_step(version_statement) != SQLITE_ROW) {
      Failed();
      return false;
    }
    version = sqlite3_column_int(version_statement, 0);
  }
  if (version > kSchemaVersion) {
    MarkUnusable(SettingsProblem::kNewerVersion);
    Close();
    return false;
  }
  schema_ready_ = version == kSchemaVersion;
  return true;
}

// Every public operation starts here, so the status tells of the latest one.
sqlite3* SettingsDatabase::Connection(Access access) {
  if (status_ == SettingsDatabaseStatus::kCorrupt) {
    Close();
    // Left alone until the file is another: restored from a backup, or moved away.
    if (StatFile(path_).stamp == corrupt_file_)
      return nullptr;
    status_ = SettingsDatabaseStatus::kOk;
  }
  Succeeded();
  if (!db_ && !Open(access == Access::kWrite))
    return nullptr;
  if (!schema_ready_) {
    if (!EnsureSchema())
      return nullptr;
    if (!schema_ready_) {
      if (access == Access::kRead)
        return nullptr;  // an empty file: nothing stored yet
      if (sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        Failed();
        return nullptr;
      }
      if (sqlite3_exec(db_.get(), kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
          sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        Failed();
        if (db_)
          sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        return nullptr;
      }
      schema_ready_ = true;
    }
  }
  return db_.get();
}

sqlite3_stmt* SettingsDatabase::Prepare(const char* sql) {
  if (const auto cached = statements_.find(sql); cached != statements_.end()) {
    return cached->second.get();
  }
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v3(db_.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(raw);
    Failed();
    return nullptr;
  }
  return statements_.emplace(sql, Statement(raw)).first->second.get();
}

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
