// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"

#include <ostream>

#include "cli_support.h"

namespace velkorant::cli {
namespace {

std::vector<std::span<const Command>> AllCommandGroups() {
  return {CipherCommands(), SettingsCommands(), StoreCommands(), NetworkCommands(),
          TransferCommands()};
}

void PrintHelp(std::ostream& out) {
  out << "Uso: velkorant-cli ORDEN [ARGUMENTOS]\n\n"
         "El compañero de Velkorant en la línea de órdenes: lee y escribe los mismos archivos\n"
         "de mensajes y la misma configuración que el programa de escritorio. El texto en el\n"
         "terminal es UTF-8. Las contraseñas se leen de archivos (--password-file F: el\n"
         "contenido del archivo, sin el salto de línea final), nunca de la línea de órdenes.\n"
         "\nÓrdenes:\n";
  for (const auto& group : AllCommandGroups()) {
    for (const Command& command : group) {
      std::string head = "  " + std::string(command.name);
      if (!command.usage.empty())
        head += " " + std::string(command.usage);
      out << head << "\n      " << command.summary << '\n';
    }
  }
  out << "  --version\n      escribe la versión\n"
         "  --help\n      escribe esta ayuda\n";
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
  if (args.front() == "--version") {
    io.out << "velkorant-cli " << VELKORANT_VERSION << '\n';
    return kExitOk;
  }
  // Every value given here is one of the dialogs' single-line fields (a name, an address, a
  // receiver, a subject, a comment line): a line break would cut it where it is read back, and
  // in a user name or subject it would add lines of its own to every message text.
  for (const std::string& arg : args) {
    if (arg.find_first_of("\r\n") != std::string::npos)
      return Fail(io, "los argumentos tienen que ser de una sola línea", kExitUsage);
  }
  for (const auto& group : AllCommandGroups()) {
    for (const Command& command : group) {
      if (command.name == args.front()) {
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        return command.run(rest, io);
      }
    }
  }
  return Fail(io, "orden desconocida: " + args.front() + " (consulta velkorant-cli --help)",
              kExitUsage);
}

}  // namespace velkorant::cli
