// SPDX-License-Identifier: GPL-3.0-or-later
// The settings database's connection: where the file is, opening it (and creating it private),
// the checks that find it damaged or newer, the schema, and what a failure of SQLite means.

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "platform/settings_db.h"
#include "platform/settings_db_statement.h"
#include "platform/unique_fd.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using settings_db::ColumnBytes;
using settings_db::StatementUse;

constexpr int kSchemaVersion = 1;

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

// Every table, index, view and trigger of the database, as one text; nullopt when it cannot be
// read.
std::optional<std::string> SchemaText(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v2(db, "SELECT type, name, tbl_name, sql FROM sqlite_schema ORDER BY type, name",
                     -1, &raw, nullptr);
  const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(raw,
                                                                             &sqlite3_finalize);
  if (!statement)
    return std::nullopt;
  std::string text;
  int stepped;
  while ((stepped = sqlite3_step(raw)) == SQLITE_ROW) {
    for (int column = 0; column < 4; ++column)
      text += ColumnBytes(raw, column) + '\n';
  }
  if (stepped != SQLITE_DONE)
    return std::nullopt;
  return text;
}

// Whether the schema is the one kSchema makes (or, with `or_none`, there is none yet): tables of
// another shape, or triggers, would keep what is written from reading back.
std::optional<bool> SchemaIsOurs(sqlite3* db, bool or_none) {
  static const std::string ours = [] {
    sqlite3* raw = nullptr;
    sqlite3_open(":memory:", &raw);
    const std::unique_ptr<sqlite3, decltype(&sqlite3_close)> memory(raw, &sqlite3_close);
    sqlite3_exec(raw, kSchema, nullptr, nullptr, nullptr);
    return SchemaText(raw).value_or(std::string());
  }();
  const std::optional<std::string> text = SchemaText(db);
  if (!text)
    return std::nullopt;
  return *text == ours || (or_none && text->empty());
}

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

// close_v2 waits for statements still alive instead of failing and leaking the connection.
void SettingsDatabase::ConnectionCloser::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

void SettingsDatabase::StatementFinalizer::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
}

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
  // is written to it. The full check, as the file is small: the quick one misses an index out of
  // step with its table, where a look-up misses values that are there.
  std::optional<std::string> verdict;
  {
    sqlite3_stmt* raw_check = nullptr;
    sqlite3_prepare_v2(db_.get(), "PRAGMA integrity_check", -1, &raw_check, nullptr);
    const Statement check(raw_check);
    if (check && sqlite3_step(check.get()) == SQLITE_ROW)
      verdict = ColumnBytes(check.get(), 0);
  }
  const int check_error = sqlite3_errcode(db_.get()) & 0xFF;
  if (!verdict && (check_error == SQLITE_ERROR || check_error == SQLITE_NOMEM)) {
    // "Unsupported file format", or sizes that ask for more memory than there is: a header or
    // page SQLite cannot read is a damaged file.
    MarkUnusable(SettingsProblem::kDamaged);
  } else if (!verdict) {
    Failed();
  } else if (*verdict != "ok") {
    MarkUnusable(SettingsProblem::kDamaged);
  }
  // A header that forbids writing (a file format newer than any SQLite writes) is no file of
  // ours; a file SQLite could not open for writing, on a read-only disk, is.
  if (verdict == "ok" && !read_only && sqlite3_db_readonly(db_.get(), "main") == 1 &&
      ::access(path_.c_str(), W_OK) == 0) {
    MarkUnusable(SettingsProblem::kDamaged);
  }
  if (verdict != "ok" || status_ == SettingsDatabaseStatus::kCorrupt) {
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
  if (version == kSchemaVersion) {
    const std::optional<bool> ours = SchemaIsOurs(db_.get(), false);
    if (!ours) {
      Failed();
      return false;
    }
    if (!*ours) {
      MarkUnusable(SettingsProblem::kDamaged);
      Close();
      return false;
    }
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
      const std::optional<bool> ours = SchemaIsOurs(db_.get(), true);
      if (ours == false) {
        sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        MarkUnusable(SettingsProblem::kDamaged);
        return nullptr;
      }
      if (!ours || sqlite3_exec(db_.get(), kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
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
    // Our statements are fixed: only tables that are not ours keep one from compiling.
    if ((sqlite3_errcode(db_.get()) & 0xFF) == SQLITE_ERROR) {
      MarkUnusable(SettingsProblem::kDamaged);
    } else {
      Failed();
    }
    return nullptr;
  }
  return statements_.emplace(sql, Statement(raw)).first->second.get();
}

}  // namespace velkorant
