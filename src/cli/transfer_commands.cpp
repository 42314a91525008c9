// SPDX-License-Identifier: GPL-3.0-or-later
// import-windows, export-windows, backup, restore: moving settings, profiles and messages in from
// the Windows program, back to it, and into and out of a backup.

#include <cctype>
#include <istream>
#include <ostream>

#include "cli.h"
#include "cli_support.h"
#include "platform/ansi_text.h"
#include "settings/settings_store.h"
#include "store/message_store.h"
#include "transfer/installation_import.h"
#include "transfer/transfer_files.h"

namespace velkorant::cli {
namespace {

int Problem(Streams& io, std::string_view ansi) {
  return Fail(io, AnsiToUtf8(ansi));
}

bool Agrees(Streams& io) {
  io.out << "¿Hacer estos cambios? [s/N] " << std::flush;
  std::string answer;
  if (!std::getline(io.in, answer))
    return false;
  for (char& c : answer)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return answer == "s" || answer == "si" || answer == "sí" || answer == "y" || answer == "yes";
}

// The list of what would change, the question, and the changes: the same for an import and a
// restore.
int BringIn(const SourceRead& read, const Arguments& arguments, Streams& io) {
  if (!read.source)
    return Problem(io, read.error);
  for (const std::string& line : read.found)
    io.out << Printable(AnsiToUtf8(line)) << '\n';
  SettingsStore settings;
  MovePasswords(settings, io);
  MessageStore messages;
  InstallationImport import(settings, messages);
  const ImportOptions options{arguments.Option("replace-user").has_value()};
  const InstallationImport::Plan plan = import.MakePlan(*read.source, options);
  for (const std::string& line : plan.problems)
    io.out << "Se deja fuera: " << Printable(AnsiToUtf8(line)) << '\n';
  if (!plan.ok()) {
    if (plan.other_user)
      return Problem(io, *plan.refusal + Ansi(" (--replace-user)"));
    return Problem(io, *plan.refusal);
  }
  if (plan.changes.empty()) {
    io.out << "No hay nada que cambiar.\n";
    return kExitOk;
  }
  io.out << "Cambios:\n";
  for (const std::string& line : plan.changes)
    io.out << "  - " << Printable(AnsiToUtf8(line)) << '\n';
  if (arguments.Option("dry-run")) {
    io.out << "No se ha cambiado nada (--dry-run).\n";
    return kExitOk;
  }
  if (!arguments.Option("yes") && !Agrees(io))
    return Fail(io, "no se ha cambiado nada");
  if (const FileOutcome done = import.Apply(*read.source, options, plan); !done)
    return Problem(io, done.error);
  io.out << "Hecho.\n";
  return kExitOk;
}

// The passphrase from the file --passphrase-file names, if any, at least kMinPassphraseLength
// characters long; false (said on standard error) when the file cannot be used.
bool ReadPassphrase(const Arguments& arguments, Streams& io,
                    std::optional<std::string>& passphrase) {
  const auto file = arguments.Option("passphrase-file");
  if (!file)
    return true;
  passphrase = ReadPasswordFile(*file, io);
  if (passphrase && passphrase->size() < kMinPassphraseLength) {
    Fail(io, "la frase de paso tiene que tener al menos 8 caracteres");
    return false;
  }
  return passphrase.has_value();
}

int ImportWindows(const std::vector<std::string>& args, Streams& io) {
  const Arguments arguments(args, {}, {}, {"dry-run", "yes", "replace-user"});
  if (!arguments.ok())
    return Fail(io, arguments.error(), kExitUsage);
  if (arguments.positional().size() != 1)
    return Usage(io, "import-windows ORIGEN [--dry-run] [--yes] [--replace-user]");
  return BringIn(ReadWindowsSource(arguments.positional().front()), arguments, io);
}

int Restore(const std::vector<std::string>& args, Streams& io) {
  const Arguments arguments(args, {"passphrase-file"}, {}, {"dry-run", "yes", "replace-user"});
  if (!arguments.ok())
    return Fail(io, arguments.error(), kExitUsage);
  if (arguments.positional().size() != 1) {
    return Usage(io, "restore ARCHIVO [--dry-run] [--yes] [--replace-user] [--passphrase-file F]");
  }
  std::optional<std::string> passphrase;
  if (!ReadPassphrase(arguments, io, passphrase))
    return kExitFailure;
  return BringIn(ReadBackup(arguments.positional().front(), passphrase), arguments, io);
}

int ExportWindowsCommand(const std::vector<std::string>& args, Streams& io) {
  const Arguments arguments(args, {}, {}, {"with-passwords"});
  if (!arguments.ok())
    return Fail(io, arguments.error(), kExitUsage);
  if (arguments.positional().size() != 1)
    return Usage(io, "export-windows DESTINO.reg [--with-passwords]");
  const bool with_passwords = arguments.Option("with-passwords").has_value();
  if (with_passwords) {
    io.err << "velkorant-cli: aviso: el archivo lleva las contraseñas en claro, como las guarda el "
              "programa de Windows; guárdalo donde nadie más pueda leerlo y bórralo después de "
              "importarlo\n";
  }
  SettingsStore settings;
  MovePasswords(settings, io);
  if (const FileOutcome written =
          ExportWindows(settings, arguments.positional().front(), with_passwords);
      !written)
    return Problem(io, written.error);
  return kExitOk;
}

int Backup(const std::vector<std::string>& args, Streams& io) {
  const Arguments arguments(args, {"passphrase-file"}, {}, {"with-passwords"});
  if (!arguments.ok())
    return Fail(io, arguments.error(), kExitUsage);
  const bool with_passwords = arguments.Option("with-passwords").has_value();
  if (arguments.positional().size() != 1 ||
      with_passwords != arguments.Option("passphrase-file").has_value())
    return Usage(io, "backup ARCHIVO [--with-passwords --passphrase-file F]");
  std::optional<std::string> passphrase;
  if (!ReadPassphrase(arguments, io, passphrase))
    return kExitFailure;
  SettingsStore settings;
  MovePasswords(settings, io);
  if (const FileOutcome written =
          WriteBackup(settings, ".", arguments.positional().front(), passphrase);
      !written)
    return Problem(io, written.error);
  return kExitOk;
}

constexpr Command kCommands[] = {
    {"import-windows", "ORIGEN [--dry-run] [--yes] [--replace-user]",
     "trae la configuración, los perfiles y los mensajes del programa de Windows: una "
     "exportación del registro (.reg), el user.reg de Wine o una carpeta con ella y los archivos "
     "de mensajes; antes dice qué cambiaría y lo pregunta",
     &ImportWindows},
    {"export-windows", "DESTINO.reg [--with-passwords]",
     "escribe la configuración y los perfiles como un archivo .reg que el registro de Windows "
     "importa; las contraseñas solo con --with-passwords",
     &ExportWindowsCommand},
    {"backup", "ARCHIVO [--with-passwords --passphrase-file F]",
     "guarda los mensajes, la configuración y, cifradas con la frase de paso, las contraseñas en "
     "un archivo tar",
     &Backup},
    {"restore", "ARCHIVO [--dry-run] [--yes] [--replace-user] [--passphrase-file F]",
     "trae lo que guarda una copia de seguridad, con el mismo cuidado que import-windows",
     &Restore},
};

}  // namespace

std::span<const Command> TransferCommands() {
  return kCommands;
}

}  // namespace velkorant::cli
