#include "cli/cli.h"

#include <ostream>

#include "cli/cli_support.h"

namespace velkorant::cli {
namespace {

std::vector<std::span<const Command>> AllCommandGroups() {
  return {CipherCommands(), SettingsCommands(), StoreCommands(), NetworkCommands()};
}

void PrintHelp(std::ostream& out) {
  out << "Usage: velkorant-cli COMMAND [ARGUMENTS]\n\n"
         "The command-line companion of Velkorant: it reads and writes the same message\n"
         "stores and settings as the desktop program. Text is UTF-8 on the terminal.\n"
         "Passwords are read from files (--password-file F: the file's content, without a\n"
         "trailing line feed), never from the command line.\n\nCommands:\n";
  for (const auto& group : AllCommandGroups()) {
    for (const Command& command : group) {
      std::string head = "  " + std::string(command.name);
      if (!command.usage.empty())
        head += " " + std::string(command.usage);
      out << head << "\n      " << command.summary << '\n';
    }
  }
  out << "  --help\n      print this help\n";
}

}  // namespace

int RunCli(const std::vector<std::string>& args, Streams& io) {
  if (args.empty()) {
    PrintHelp(io.err);
    return kExitUsage;
  }
  if (args.front() == "--help" || args.front() == "-h" || args.front() == "help") {
    PrintHelp(io.out);
    return kExitOk;
  }
  for (const auto& group : AllCommandGroups()) {
    for (const Command& command : group) {
      if (command.name == args.front()) {
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        return command.run(rest, io);
      }
    }
  }
  return Fail(io, "unknown command " + args.front() + " (see velkorant-cli --help)", kExitUsage);
}

}  // namespace velkorant::cli
