// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/transfer_files.h"

#include <cerrno>
#include <system_error>

#include "platform/ansi_text.h"
#include "settings/password_profiles.h"
#include "transfer/backup_archive.h"
#include "transfer/registry_file.h"
#include "transfer/windows_settings.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;

// A registry export of a few settings is some kilobytes; Wine's user.reg of a prefix in long use
// some megabytes.
constexpr std::int64_t kMaxRegistryFileSize = std::int64_t{256} << 20;
// Two message files at their largest and the settings.
constexpr std::int64_t kMaxBackupSize = 3 * IniFile::kMaxFileSize;

std::string Shown(const fs::path& path) {
  return Utf8ToAnsi(path.string());
}

// The whole file, or why not.
std::optional<std::string> ReadWhole(const fs::path& path, std::int64_t limit, std::string& error) {
  const FileStatus status = StatFile(path);
  if (status.state == FileState::kPresent && status.stamp.size > limit) {
    error = Shown(path) + Ansi(": es demasiado grande para ser lo que se espera.");
    return std::nullopt;
  }
  FileContent content = ReadFileContent(path);
  if (content.state != FileState::kPresent) {
    const int reason = content.state == FileState::kMissing ? ENOENT : errno;
    error = Shown(path) + ": " + DescribeFileError(reason);
    return std::nullopt;
  }
  return std::move(content.bytes);
}

// A file of the folder whose name matches without regard to letter case, as on Windows.
std::optional<fs::path> FindInFolder(const fs::path& folder, std::string_view name) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (EqualsIgnoringCase(entry.path().filename().string(), name))
      return entry.path();
  }
  return std::nullopt;
}

SourceRead Failed(std::string error) {
  SourceRead read;
  read.error = std::move(error);
  return read;
}

}  // namespace

SourceRead ReadWindowsSource(const fs::path& origin) {
  SourceRead read;
  std::error_code error;
  fs::path registry = origin;
  std::optional<fs::path> messages_folder;
  if (fs::is_directory(origin, error)) {
    messages_folder = origin;
    if (const auto user_reg = FindInFolder(origin, "user.reg")) {
      registry = *user_reg;
    } else {
      std::vector<fs::path> exports;
      for (const auto& entry : fs::directory_iterator(origin, error)) {
        if (EqualsIgnoringCase(entry.path().extension().string(), ".reg") &&
            entry.is_regular_file(error))
          exports.push_back(entry.path());
      }
      if (exports.size() != 1) {
        return Failed(Shown(origin) +
                      (exports.empty()
                           ? Ansi(": no hay ninguna exportación del registro (.reg) ni el "
                                  "user.reg de Wine.")
                           : Ansi(": hay varias exportaciones del registro (.reg); indica cuál.")));
      }
      registry = exports.front();
    }
  } else if (error || !fs::exists(origin, error)) {
    return Failed(Shown(origin) + ": " + DescribeFileError(error ? error.value() : ENOENT));
  }

  std::string problem;
  const auto bytes = ReadWhole(registry, kMaxRegistryFileSize, problem);
  if (!bytes)
    return Failed(problem);
  const bool wine = std::string_view(*bytes).starts_with("WINE REGISTRY");
  const RegistryParse parse = wine ? ParseWineRegistry(*bytes) : ParseRegeditFile(*bytes);
  if (!parse.ok())
    return Failed(Shown(registry) + ", " + parse.error + Ansi(". No se cambia nada."));
  ImportSource source;
  source.settings = SnapshotFromRegistry(parse.ops);
  read.found.push_back(Ansi("Configuración: ") + Shown(registry) +
                       (wine ? Ansi(" (registro de Wine)") : Ansi(" (exportación del registro)")));

  if (messages_folder) {
    for (const bool enviado : {false, true}) {
      const auto file =
          FindInFolder(*messages_folder, enviado ? kSentMessagesFile : kReceivedMessagesFile);
      if (!file)
        continue;
      auto messages = ReadWhole(*file, IniFile::kMaxFileSize, problem);
      if (!messages)
        return Failed(problem);
      source.message_files[enviado ? 1 : 0] = std::move(*messages);
      read.found.push_back(Ansi("Mensajes: ") + Shown(*file));
    }
  }
  read.source = std::move(source);
  return read;
}

SourceRead ReadBackup(const fs::path& archive, const std::optional<std::string>& passphrase) {
  std::string problem;
  const auto bytes = ReadWhole(archive, kMaxBackupSize, problem);
  if (!bytes)
    return Failed(problem);
  BackupOpen opened =
      OpenBackup(*bytes, passphrase ? std::optional<std::string_view>(*passphrase) : std::nullopt);
  if (!opened)
    return Failed(Shown(archive) + ": " + opened.error + Ansi(" No se cambia nada."));

  // The archived settings are read where nobody else looks: a private file of our own, gone
  // afterwards whatever happens.
  const PrivateFolder temporary;
  if (temporary.path().empty())
    return Failed(Ansi("No se puede abrir la copia: ") + DescribeFileError(errno));
  const fs::path& folder = temporary.path();
  AtomicFileWriter writer;
  if (const FileOutcome written = writer.Write(folder / kSettingsFile, opened.settings); !written)
    return Failed(Ansi("No se puede abrir la copia: ") + written.error);
  SettingsStore archived(folder / kSettingsFile);
  const auto snapshot = SnapshotFromStore(archived, false);
  if (!snapshot) {
    return Failed(Shown(archive) + Ansi(": la configuración que guarda no se puede leer: ") +
                  archived.DescribeProblem());
  }

  SourceRead read;
  ImportSource source;
  source.settings = *snapshot;
  for (ProfilePassword& entry : opened.passwords.entries)
    source.passwords[entry.profile] = entry.password;
  source.message_files[0] = std::move(opened.received_messages);
  source.message_files[1] = std::move(opened.sent_messages);
  read.found.push_back(Ansi("Copia de ") + opened.manifest.date + Ansi(", hecha con Velkorant ") +
                       opened.manifest.program_version);
  if (opened.has_passwords && !passphrase) {
    read.found.push_back(
        Ansi("La copia guarda contraseñas, cifradas: sin la frase de paso no se traen."));
  } else if (!opened.has_passwords) {
    read.found.push_back(Ansi("La copia no guarda contraseñas."));
  }
  read.source = std::move(source);
  return read;
}

FileOutcome ExportWindows(SettingsStore& settings, const fs::path& destination,
                          bool with_passwords) {
  ProfileOutcome outcome;
  const auto snapshot = SnapshotFromStore(settings, with_passwords, &outcome);
  if (!snapshot) {
    return FileOutcome::Failed(Ansi("No se puede leer la configuración: ") +
                               settings.DescribeProblem(outcome));
  }
  return AtomicFileWriter().Write(destination, WriteRegeditFile(*snapshot));
}

FileOutcome WriteBackup(SettingsStore& settings, const fs::path& folder,
                        const fs::path& destination, const std::optional<std::string>& passphrase) {
  ProfilePasswords passwords;
  if (passphrase) {
    ProfileOutcome outcome;
    const auto snapshot = SnapshotFromStore(settings, true, &outcome);
    if (!snapshot) {
      return FileOutcome::Failed(Ansi("No se pueden leer las contraseñas: ") +
                                 settings.DescribeProblem(outcome));
    }
    for (const SnapshotSection& section : snapshot->sections) {
      if (SectionKind(section.path) != KnownSection::kProfile)
        continue;
      for (const auto& [name, value] : section.values) {
        const auto* password = std::get_if<std::string>(&value);
        if (password && NamesEqualIgnoringCase(name, "Password"))
          passwords.entries.push_back(
              {section.path.substr(kProfilesSection.size() + 1), *password});
      }
    }
  }
  std::optional<PasswordSeal> seal;
  if (passphrase)
    seal.emplace(PasswordSeal{passwords, *passphrase});
  const BackupMake made = MakeBackup(settings, folder, seal);
  if (!made)
    return FileOutcome::Failed(made.error);
  return AtomicFileWriter().Write(destination, made.archive);
}

}  // namespace velkorant
