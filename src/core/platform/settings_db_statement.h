// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the settings database's two source files share: SQLite statements as both use them.

#include <sqlite3.h>

#include <string>

namespace velkorant::settings_db {

inline std::string ColumnBytes(sqlite3_stmt* statement, int column) {
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

}  // namespace velkorant::settings_db
