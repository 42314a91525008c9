// SPDX-License-Identifier: GPL-3.0-or-later
// profile add/list/remove, settings: the password profiles and settings on the terminal. They
// go through the same store operations as the desktop program, so each sees what the other
// wrote.

#include <charconv>
#include <optional>
#include <ostream>

#include "cli.h"
#include "cli_support.h"
#include "platform/ansi_text.h"
#include "settings/password_profiles.h"
#include "settings/settings_store.h"

namespace velkorant::cli {
namespace {

// The profiles dialog's limits as typed: longer texts never reach the store through it, and a
// name of 50 characters or more would hide every profile listed after it.
constexpr std::size_t kMaxProfileNameLength = 40;
constexpr std::size_t kMaxPasswordLength = 40;
constexpr std::size_t kMaxCommentLength = 100;
constexpr std::size_t kMinPasswordLength = 8;
constexpr std::size_t kCommentLines = 4;

int StoreProblem(const SettingsStore& store, Streams& io, const ProfileOutcome& outcome = {}) {
  return Fail(io,
              "no se puede usar la configuración: " + AnsiToUtf8(store.DescribeProblem(outcome)));
}

std::string TooLong(std::string_view what, std::size_t limit) {
  return std::string(what) + " tiene más de " + std::to_string(limit) + " caracteres";
}

int AddProfile(const std::vector<std::string>& args, Streams& io) {
  const Arguments arguments(args, {"password-file", "comment"}, {"comment"});
  if (!arguments.ok())
    return Fail(io, arguments.error(), kExitUsage);
  if (arguments.positional().size() != 1) {
    return Usage(io, "profile add NOMBRE --password-file F [--comment TEXTO]...");
  }
  const auto password_file = arguments.Option("password-file");
  if (!password_file) {
    return Fail(io, kPasswordFileRequired, kExitUsage);
  }
  const std::vector<std::string> comments = arguments.Options("comment");
  if (comments.size() > kCommentLines)
    return Fail(io, "como máximo 4 líneas de comentario", kExitUsage);

  PasswordProfile profile;
  profile.name = Utf8ToAnsi(arguments.positional().front());
  // The dialog's checks, in its order: the name first, whatever the password.
  if (profile.name.empty())
    return Fail(io, "Introduce un nombre de perfil");
  if (profile.name.size() > kMaxProfileNameLength) {
    return Fail(io, TooLong("el nombre del perfil", kMaxProfileNameLength));
  }
  // Status 1, as the dialog's other refusals: the command line is right, but the stores would
  // keep this name as something other than a listed profile.
  if (const auto problem = ProfileNameProblem(profile.name))
    return Fail(io, AnsiToUtf8(*problem));
  auto password = ReadPasswordFile(*password_file, io);
  if (!password)
    return kExitFailure;
  profile.password = std::move(*password);
  if (profile.password.size() < kMinPasswordLength) {
    return Fail(io, "Introduce una contraseña de al menos 8 caracteres");
  }
  if (profile.password.size() > kMaxPasswordLength) {
    return Fail(io, TooLong("la contraseña", kMaxPasswordLength));
  }
  for (std::size_t i = 0; i < comments.size(); ++i) {
    profile.comments[i] = Utf8ToAnsi(comments[i]);
    if (profile.comments[i].size() > kMaxCommentLength) {
      return Fail(io, TooLong("el comentario", kMaxCommentLength));
    }
  }

  // As the profiles dialog's OK: the reserved copy first, then the profile itself.
  SettingsStore store;
  MovePasswords(store, io);
  ProfileOutcome written = WriteProfile(store, kReservedProfileName, profile);
  if (written)
    written = WriteProfile(store, profile.name, profile);
  if (!written)
    return Fail(io, "no se ha guardado el perfil: " + AnsiToUtf8(store.DescribeProblem(written)));
  return kExitOk;
}

int ListProfiles(const std::vector<std::string>& args, Streams& io) {
  if (!args.empty())
    return Usage(io, "profile list");
  SettingsStore store;
  const PasswordPlace place = MovePasswords(store, io);
  const auto names = EnumerateProfiles(store);
  // Every listed profile's password can be had: one the keyring lost is named here, and not
  // first when a message is sent or received.
  if (!names)
    return StoreProblem(store, io);
  if (const ProfileOutcome loaded = PasswordList().LoadPasswordList(store); !loaded)
    return StoreProblem(store, io, loaded);
  if (place == PasswordPlace::kDatabase)
    io.err << "velkorant-cli: " << AnsiToUtf8(PasswordsInDatabaseNotice(store)) << '\n';
  for (const std::string& name : *names)
    io.out << Printable(AnsiToUtf8(name)) << '\n';
  return kExitOk;
}

// A listed profile: its first component is in the list (only that shows of a nested name) and
// its own section exists. nullopt when the store cannot be read.
std::optional<bool> IsListedProfile(SettingsStore& store, std::string_view name) {
  const std::string_view first = name.substr(0, name.find('\\'));
  const auto names = EnumerateProfiles(store);
  if (!names)
    return std::nullopt;
  for (const std::string& listed : *names) {
    if (NamesEqualIgnoringCase(listed, first)) {
      const bool exists = store.SectionExists(ProfileSection(name));
      return store.ok() ? std::optional(exists) : std::nullopt;
    }
  }
  return false;
}

int RemoveProfile(const std::vector<std::string>& args, Streams& io) {
  if (args.size() != 1)
    return Usage(io, "profile remove NOMBRE");
  const std::string name = Utf8ToAnsi(args.front());
  SettingsStore store;
  MovePasswords(store, io);
  const auto listed = name.empty() ? std::optional(false) : IsListedProfile(store, name);
  if (!listed)
    return StoreProblem(store, io);
  if (!*listed)
    return Fail(io, NoSuchProfile(args.front()));
  // The store keeps a profile that has nested ones: refuse before anything changes.
  const auto nested = store.ListSubsections(ProfileSection(name));
  if (!nested)
    return StoreProblem(store, io);
  if (!nested->empty()) {
    return Fail(io, "no se ha eliminado el perfil " + args.front() +
                        ": elimina antes los perfiles que tiene dentro");
  }
  // As the profiles dialog's delete: the reserved copy becomes six empty values.
  ProfileOutcome removed = DeleteProfile(store, name);
  if (removed)
    removed = WriteProfile(store, kReservedProfileName, PasswordProfile{});
  if (!removed)
    return StoreProblem(store, io, removed);
  return kExitOk;
}

int Profile(const std::vector<std::string>& args, Streams& io) {
  const std::vector<std::string> rest(args.empty() ? args.end() : args.begin() + 1, args.end());
  if (!args.empty() && args.front() == "add")
    return AddProfile(rest, io);
  if (!args.empty() && args.front() == "list")
    return ListProfiles(rest, io);
  if (!args.empty() && args.front() == "remove")
    return RemoveProfile(rest, io);
  return Usage(io, "profile add|list|remove ...");
}

int ShowSettings(const std::vector<std::string>& args, Streams& io) {
  if (!args.empty())
    return Usage(io, "settings");
  SettingsStore store;
  const auto settings = LoadSettings(store);
  if (!settings)
    return StoreProblem(store, io);
  io.out << "NombreUsuario: " << Printable(AnsiToUtf8(settings->user_name)) << '\n'
         << "NombreServidor: " << Printable(AnsiToUtf8(settings->server_name)) << '\n'
         << "AutoMsjInicio: " << int{settings->receive_at_startup} << '\n'
         << "AutoMsjTiempo: " << int{settings->receive_every_30_minutes} << '\n'
         << "ReproSonidos: " << int{settings->play_sounds} << '\n'
         << "MsjsRecibidos: " << settings->received_counter << '\n'
         << "EjecPrimVez: " << settings->first_run << '\n';
  return kExitOk;
}

// The way out of a counter that no longer says which server messages are stored.
int ReceivedCounter(const std::vector<std::string>& args, Streams& io) {
  if (args.size() > 1)
    return Usage(io, "received-counter [NÚMERO]");
  SettingsStore store;
  // As stored, also when it is no number a run could go on from.
  const auto counter = store.ReadText(kOptionsSection, kReceivedCounterEntry, "0");
  if (!counter)
    return StoreProblem(store, io);
  if (args.empty()) {
    io.out << Printable(AnsiToUtf8(*counter)) << '\n';
    return kExitOk;
  }
  std::int32_t value = -1;
  const std::string& text = args.front();
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0)
    return Fail(io, "el contador tiene que ser un número de 0 en adelante", kExitUsage);
  if (!store.WriteInt(kOptionsSection, kReceivedCounterEntry, value))
    return StoreProblem(store, io);
  return kExitOk;
}

constexpr Command kCommands[] = {
    {"profile", "add NOMBRE --password-file F [--comment TEXTO]...",
     "guarda un perfil de contraseña (con hasta 4 líneas de comentario), como lo hace el OK del "
     "diálogo de perfiles",
     &Profile},
    {"profile", "list", "escribe los nombres de los perfiles de contraseña, uno por línea",
     &Profile},
    {"profile", "remove NOMBRE", "elimina un perfil de contraseña", &Profile},
    {"settings", "", "escribe la configuración, una línea \"Nombre: valor\" por dato",
     &ShowSettings},
    {"received-counter", "[NÚMERO]",
     "muestra o cambia el número del último mensaje recibido del buzón propio (la siguiente "
     "recepción pide el que le sigue)",
     &ReceivedCounter},
};

}  // namespace

std::span<const Command> SettingsCommands() {
  return kCommands;
}

}  // namespace velkorant::cli
