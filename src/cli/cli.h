// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// velkorant-cli: the command-line companion. It reads and writes the same stores as the desktop
// program; text on the terminal is UTF-8 and becomes Windows-1252 for the core.

#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velkorant::cli {

struct Streams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  // Where a message's own text may hold terminal controls that must not reach a terminal.
  bool out_is_terminal = false;
};

// Exit statuses: 0 success, 1 the operation failed, 2 the command line was wrong.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Command {
  std::string_view name;
  std::string_view usage;  // arguments after the name
  std::string_view summary;
  int (*run)(const std::vector<std::string>& args, Streams& io);
};

// Each group of commands lives in its own file and exports its table.
std::span<const Command> CipherCommands();
std::span<const Command> SettingsCommands();
std::span<const Command> StoreCommands();
std::span<const Command> NetworkCommands();
std::span<const Command> TransferCommands();

int RunCli(const std::vector<std::string>& args, Streams& io);

}  // namespace velkorant::cli
