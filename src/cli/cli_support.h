// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Argument and input helpers shared by the CLI's commands.

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "settings/password_profiles.h"

namespace velkorant::cli {

// Options of the form "--name VALUE" or "--name=VALUE"; everything else is positional.
class Arguments {
 public:
  // `value_options` take a value; only the `repeatable` ones may appear more than once: a
  // second value of any other would silently win over the first. `flags` take none: Option()
  // gives them as "".
  Arguments(const std::vector<std::string>& args, std::vector<std::string_view> value_options,
            std::vector<std::string_view> repeatable = {},
            std::vector<std::string_view> flags = {});

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  std::optional<std::string> Option(std::string_view name) const;
  std::vector<std::string> Options(std::string_view name) const;
  const std::vector<std::string>& positional() const { return positional_; }

 private:
  std::vector<std::pair<std::string, std::string>> options_;
  std::vector<std::string> positional_;
  std::string error_;
};

// Prints "velkorant-cli: MESSAGE" on standard error and returns `status`. The messages are in
// Spanish, as the program's own.
int Fail(Streams& io, std::string_view message, int status = kExitFailure);
// A wrong command line: prints "velkorant-cli: uso: velkorant-cli " + `usage` and returns 2.
int Usage(Streams& io, std::string_view usage);

// As every start of the program: the passwords still in clear go into the desktop's keyring,
// where there is one. A move the keyring did not let finish is told on standard error; nothing
// stops.
PasswordPlace MovePasswords(SettingsStore& store, Streams& io);

// The line for a password profile that is not there.
std::string NoSuchProfile(std::string_view name);

// Why a password must come from a file.
inline constexpr std::string_view kPasswordFileRequired =
    "falta --password-file (las contraseñas nunca se toman de la línea de órdenes)";

// UTF-8 text as it may reach a terminal: control characters (C0 but tab and line feed, DEL, C1)
// come out as "\xHH" (or "\u{HHHH}" for C1), so a message or a server cannot drive the terminal.
std::string Printable(std::string_view utf8);

// The whole of standard input, as bytes.
std::string ReadAll(std::istream& in);

// The password kept in a file: its content without one trailing line end, as Windows-1252.
// nullopt (with a message on standard error) when the file cannot be read, is no regular file
// (a folder, a FIFO, a device: reading one would give nothing, wait, or never end), holds more
// than kMaxPasswordFileSize bytes, or holds anything but UTF-8 text of characters Windows-1252
// has: the password would silently become another.
inline constexpr std::size_t kMaxPasswordFileSize = 1024;
std::optional<std::string> ReadPasswordFile(const std::string& path, Streams& io);

}  // namespace velkorant::cli
