// profile add/list/remove, settings: the password profiles and settings on the terminal. They
// go through the same store operations as the desktop program, so each sees what the other
// wrote.

#include <ostream>

#include "cli/cli.h"
#include "cli/cli_support.h"
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

// A database that cannot be used reads as empty; say so rather than let that pass for the truth.
int ReportStoreProblem(SettingsStore& store, Streams& io) {
  const SettingsDatabase& database = store.database();
  if (database.status() == SettingsDatabaseStatus::kOk)
    return kExitOk;
  return Fail(io, database.status_message());
}

std::string TooLong(std::string_view what, std::size_t limit) {
  return std::string(what) + " longer than " + std::to_string(limit) + " characters";
}

int AddProfile(const std::vector<std::string>& args, Streams& io) {
  const Arguments arguments(args, {"password-file", "comment"});
  if (!arguments.ok())
    return Fail(io, arguments.error(), kExitUsage);
  if (arguments.positional().size() != 1) {
    return Fail(io, "usage: velkorant-cli profile add NAME --password-file F [--comment TEXT]...",
                kExitUsage);
  }
  const auto password_file = arguments.Option("password-file");
  if (!password_file) {
    return Fail(io, "--password-file is required (passwords are never taken on the command line)",
                kExitUsage);
  }
  const std::vector<std::string> comments = arguments.Options("comment");
  if (comments.size() > kCommentLines)
    return Fail(io, "at most 4 comment lines", kExitUsage);

  PasswordProfile profile;
  profile.name = Utf8ToAnsi(arguments.positional().front());
  // The dialog's checks, in its order: the name first, whatever the password.
  if (profile.name.empty())
    return Fail(io, "Introduce un nombre de perfil");
  if (profile.name.size() > kMaxProfileNameLength) {
    return Fail(io, TooLong("profile name", kMaxProfileNameLength));
  }
  auto password = ReadPasswordFile(*password_file, io);
  if (!password)
    return kExitFailure;
  profile.password = std::move(*password);
  if (profile.password.size() < kMinPasswordLength) {
    return Fail(io, "Introduce una contraseña de al menos 8 caracteres");
  }
  if (profile.password.size() > kMaxPasswordLength) {
    return Fail(io, TooLong("password", kMaxPasswordLength));
  }
  std::string* const lines[] = {&profile.comment1, &profile.comment2, &profile.comment3,
                                &profile.comment4};
  for (std::size_t i = 0; i < comments.size(); ++i) {
    *lines[i] = Utf8ToAnsi(comments[i]);
    if (lines[i]->size() > kMaxCommentLength) {
      return Fail(io, TooLong("comment", kMaxCommentLength));
    }
  }

  // As the profiles dialog's OK: the reserved copy first, then the profile itself.
  SettingsStore store;
  if (!WriteProfile(store, kReservedProfileName, profile) ||
      !WriteProfile(store, profile.name, profile)) {
    return Fail(io, "the profile was not saved: " + store.database().status_message());
  }
  return kExitOk;
}

int ListProfiles(const std::vector<std::string>& args, Streams& io) {
  if (!args.empty())
    return Fail(io, "usage: velkorant-cli profile list", kExitUsage);
  SettingsStore store;
  for (const std::string& name : EnumerateProfiles(store))
    io.out << AnsiToUtf8(name) << '\n';
  return ReportStoreProblem(store, io);
}

// A listed profile: its first component is in the list (only that shows of a nested name) and
// its own section exists.
bool IsListedProfile(SettingsStore& store, std::string_view name) {
  const std::string_view first = name.substr(0, name.find('\\'));
  for (const std::string& listed : EnumerateProfiles(store)) {
    if (NamesEqualIgnoringCase(listed, first))
      return store.SectionExists(ProfileSection(name));
  }
  return false;
}

int RemoveProfile(const std::vector<std::string>& args, Streams& io) {
  if (args.size() != 1)
    return Fail(io, "usage: velkorant-cli profile remove NAME", kExitUsage);
  const std::string name = Utf8ToAnsi(args.front());
  SettingsStore store;
  if (name.empty() || !IsListedProfile(store, name)) {
    if (ReportStoreProblem(store, io) != kExitOk)
      return kExitFailure;
    return Fail(io, "no profile named " + args.front());
  }
  if (!DeleteProfile(store, name)) {
    return Fail(io, "the profile was not removed: " + store.database().status_message());
  }
  // As the profiles dialog's delete: the reserved copy becomes six empty values.
  if (!WriteProfile(store, kReservedProfileName, PasswordProfile{})) {
    return Fail(io, "the reserved copy was not emptied: " + store.database().status_message());
  }
  // The store keeps a profile that has nested ones; the user has to hear that it is still there.
  if (store.SectionExists(ProfileSection(name))) {
    return Fail(io, "the profile " + args.front() +
                        " was not removed: remove the profiles nested below it first");
  }
  return ReportStoreProblem(store, io);
}

int Profile(const std::vector<std::string>& args, Streams& io) {
  const std::vector<std::string> rest(args.empty() ? args.end() : args.begin() + 1, args.end());
  if (!args.empty() && args.front() == "add")
    return AddProfile(rest, io);
  if (!args.empty() && args.front() == "list")
    return ListProfiles(rest, io);
  if (!args.empty() && args.front() == "remove")
    return RemoveProfile(rest, io);
  return Fail(io, "usage: velkorant-cli profile add|list|remove ...", kExitUsage);
}

int ShowSettings(const std::vector<std::string>& args, Streams& io) {
  if (!args.empty())
    return Fail(io, "usage: velkorant-cli settings", kExitUsage);
  SettingsStore store;
  const Settings settings = LoadSettings(store);
  io.out << "NombreUsuario: " << AnsiToUtf8(settings.user_name) << '\n'
         << "NombreServidor: " << AnsiToUtf8(settings.server_name) << '\n'
         << "AutoMsjInicio: " << int{settings.receive_at_startup} << '\n'
         << "AutoMsjTiempo: " << int{settings.receive_every_30_minutes} << '\n'
         << "ReproSonidos: " << int{settings.play_sounds} << '\n'
         << "MsjsRecibidos: " << settings.received_counter << '\n'
         << "EjecPrimVez: " << settings.first_run << '\n';
  return ReportStoreProblem(store, io);
}

constexpr Command kCommands[] = {
    {"profile", "add NAME --password-file F [--comment TEXT]...",
     "save a password profile (up to 4 comment lines), as the profiles dialog's OK does", &Profile},
    {"profile", "list", "print the password profiles' names, one per line", &Profile},
    {"profile", "remove NAME", "delete a password profile", &Profile},
    {"settings", "", "print the settings, one \"Name: value\" line each", &ShowSettings},
};

}  // namespace

std::span<const Command> SettingsCommands() {
  return kCommands;
}

}  // namespace velkorant::cli
