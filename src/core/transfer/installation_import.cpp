// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/installation_import.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <set>
#include <system_error>
#include <variant>

#include "mailbox/message_receiver.h"
#include "platform/ansi_text.h"
#include "platform/file_lock.h"
#include "platform/ini_file.h"
#include "settings/password_profiles.h"
#include "transfer/windows_settings.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUserNameEntry = "NombreUsuario";

std::string LineError(std::size_t line, std::string_view what) {
  return Ansi("línea ") + std::to_string(line) + ": " + Ansi(what);
}

std::string Quoted(std::string_view text) {
  return Ansi("«") + std::string(text) + Ansi("»");
}

std::string FileName(bool enviado) {
  return std::string(enviado ? kSentMessagesFile : kReceivedMessagesFile);
}

// A section's values but its number, keyed by the upper-cased name: the same message whatever
// the order or the letter case of its keys.
std::string Signature(const IniDocument& document, std::size_t section) {
  auto entries = document.Entries(section);
  std::vector<std::pair<std::u16string, std::string_view>> keyed;
  keyed.reserve(entries.size());
  for (const auto& [name, value] : entries)
    keyed.emplace_back(UpperCaseName(name), value);
  // The first of two keys of one name is the one read.
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string signature;
  const std::u16string* previous = nullptr;
  for (const auto& [name, value] : keyed) {
    if (previous != nullptr && *previous == name)
      continue;
    previous = &name;
    signature += AnsiToUtf8(Utf16ToAnsi(name));
    signature += '\0';
    signature += std::to_string(value.size());
    signature += ':';
    signature += value;
  }
  return signature;
}

const SnapshotSection* FindSection(const SettingsSnapshot& snapshot, std::string_view path) {
  for (const SnapshotSection& section : snapshot.sections) {
    if (NamesEqualIgnoringCase(section.path, path))
      return &section;
  }
  return nullptr;
}

const SnapshotValue* FindValue(const SnapshotSection* section, std::string_view name) {
  if (section == nullptr)
    return nullptr;
  for (const auto& [value_name, value] : section->values) {
    if (NamesEqualIgnoringCase(value_name, name))
      return &value;
  }
  return nullptr;
}

// The profile name of a path below "PerfilPass\\", or nothing for any other path.
std::optional<std::string> ProfileName(std::string_view path) {
  if (SectionKind(path) != KnownSection::kProfile)
    return std::nullopt;
  return std::string(path.substr(kProfilesSection.size() + 1));
}

std::string Shown(const std::variant<std::string, std::int32_t>& value) {
  if (const auto* number = std::get_if<std::int32_t>(&value))
    return std::to_string(*number);
  return Quoted(std::get<std::string>(value));
}

// "mensajes_enviados-2026-12-07.ini", or with "-2", "-3"... when that name is taken.
fs::path SetAsideName(const fs::path& folder, bool enviado, std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  char day[16];
  std::strftime(day, sizeof day, "%Y-%m-%d", &local);
  const std::string stem = fs::path(FileName(enviado)).stem().string() + "-" + day;
  std::error_code error;
  fs::path candidate = folder / (stem + ".ini");
  for (int n = 2; fs::symlink_status(candidate, error).type() != fs::file_type::not_found; ++n)
    candidate = folder / (stem + "-" + std::to_string(n) + ".ini");
  return candidate;
}

}  // namespace

std::optional<std::string> CheckMessageFile(std::string_view bytes, bool enviado) {
  if (bytes.starts_with("\xFF\xFE"))
    return LineError(1, "no es un archivo de mensajes (está en UTF-16)");
  if (bytes.starts_with("\xEF\xBB\xBF"))
    bytes.remove_prefix(3);
  std::set<std::uint32_t> numbers;
  std::optional<std::size_t> section_line;  // the header of the section being read
  std::set<std::string> keys;               // its keys the program writes, as found
  const auto section_complete = [&keys]() {
    return std::all_of(kMessageKeys.begin(), kMessageKeys.end(),
                       [&keys](std::string_view key) { return keys.contains(std::string(key)); });
  };
  std::size_t line_number = 0;
  std::size_t start = 0;
  while (start < bytes.size()) {
    ++line_number;
    const std::size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos)
      return LineError(line_number, "el archivo se corta a media línea");
    std::string_view line = bytes.substr(start, end - start);
    start = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    if (line.find('\0') != std::string_view::npos)
      return LineError(line_number, "tiene bytes nulos: el archivo está dañado");
    // Read as the INI layer reads it, so that every entry checked here is one a merge can copy.
    const std::string_view trimmed = TrimIniBlanks(line);
    if (trimmed.empty() || trimmed.front() == ';')
      continue;
    const std::size_t close = trimmed.rfind(']');
    if (trimmed.front() == '[' && close != std::string_view::npos) {
      const auto number =
          MessageStore::SectionNumber(TrimIniBlanks(trimmed.substr(1, close - 1)), enviado);
      if (!number)
        return LineError(line_number, "no es la cabecera de un mensaje de este archivo");
      if (section_line && !section_complete())
        return LineError(*section_line, "al mensaje le faltan datos");
      if (!numbers.insert(*number).second)
        return LineError(line_number, "el mensaje está dos veces");
      section_line = line_number;
      keys.clear();
      continue;
    }
    const std::size_t equals = trimmed.find('=');
    const std::string_view key =
        equals == std::string_view::npos ? "" : TrimIniBlanks(trimmed.substr(0, equals));
    if (!section_line || key.empty() || key.front() == '[')
      return LineError(line_number, "no se puede leer");
    for (std::string_view known : kMessageKeys) {
      if (EqualsIgnoringCase(key, known))
        keys.insert(std::string(known));
    }
  }
  if (section_line && !section_complete())
    return LineError(*section_line, "el mensaje se corta: le faltan datos");
  return std::nullopt;
}

std::optional<MessageMerge> MergeMessageFiles(std::string_view ours, std::string_view theirs,
                                              bool enviado) {
  IniDocument document = IniDocument::Parse(std::string(ours));
  const IniDocument source = IniDocument::Parse(std::string(theirs));
  std::set<std::string> present;
  std::uint32_t highest = 0;
  for (std::size_t i = 0; i < document.SectionCount(); ++i) {
    if (const auto number = MessageStore::SectionNumber(document.SectionName(i), enviado)) {
      highest = std::max(highest, *number);
      present.insert(Signature(document, i));
    }
  }
  MessageMerge merge;
  for (std::size_t i = 0; i < source.SectionCount(); ++i) {
    if (!MessageStore::SectionNumber(source.SectionName(i), enviado))
      continue;
    if (!present.insert(Signature(source, i)).second) {
      ++merge.already_here;
      continue;
    }
    if (highest >= MessageStore::kHighestNumero)
      return std::nullopt;
    const std::string name = MessageStore::SectionName(enviado, ++highest);
    // A key written twice would replace the value read (the first) by the later one.
    std::set<std::u16string> written;
    for (const auto& [key, value] : source.Entries(i)) {
      if (written.insert(UpperCaseName(key)).second)
        document.WriteString(name, key, value);
    }
    document.AppendLineEnd();
    ++merge.added;
  }
  merge.bytes = merge.added > 0 ? document.Serialize() : std::string(ours);
  return merge;
}

// Everything Apply does, worked out by the plan.
struct InstallationImport::Work {
  struct FileStep {
    enum class Action { kNone, kCopy, kMerge } action = Action::kNone;
    std::string bytes;
    fs::path set_aside_as;  // the user's own file goes there first (replace_user)
  };
  FileStep files[2];                          // received, sent
  std::vector<std::string> deleted_profiles;  // deepest first
  std::vector<std::pair<std::string, PasswordProfile>> profiles;
  std::vector<std::pair<std::string, std::variant<std::string, std::int32_t>>> options;
};

InstallationImport::InstallationImport(SettingsStore& settings, MessageStore& messages)
    : settings_(settings), messages_(messages) {}

InstallationImport::Plan InstallationImport::MakePlan(const ImportSource& source,
                                                      const ImportOptions& options) {
  Work work;
  return Prepare(source, options, work);
}

InstallationImport::Plan InstallationImport::Prepare(const ImportSource& source,
                                                     const ImportOptions& options, Work& work) {
  Plan plan;
  plan.problems = source.settings.problems;
  const auto store_problem = [this, &plan](const ProfileOutcome& outcome = {}) {
    plan.refusal = Ansi("No se puede usar la configuración: ") + settings_.DescribeProblem(outcome);
    return plan;
  };

  // Who the source is, against who is here.
  const SnapshotSection* options_section = FindSection(source.settings, kOptionsSection);
  const auto current_user = settings_.ReadText(kOptionsSection, kUserNameEntry);
  const auto current_counter = settings_.ReadInt(kOptionsSection, kReceivedCounterEntry, 0);
  if (!current_user || !current_counter)
    return store_problem();
  std::string user;
  if (const SnapshotValue* value = FindValue(options_section, kUserNameEntry)) {
    if (const auto* text = std::get_if<std::string>(value))
      user = *text;
  }
  const bool same_user = user == *current_user;
  const bool replacing = !same_user && !current_user->empty();
  if (replacing && !options.replace_user) {
    plan.other_user = true;
    plan.refusal = Ansi("Lo que se quiere traer es del usuario ") + Quoted(user) +
                   Ansi(", y aquí está el usuario ") + Quoted(*current_user) +
                   Ansi(
                       ": no se cambia nada. Para reemplazarlo (sus mensajes se apartan con la "
                       "fecha en el nombre), hay que pedirlo expresamente.");
    return plan;
  }

  // The message files first: a damaged one stops everything.
  for (const bool enviado : {false, true}) {
    const auto& theirs = source.message_files[enviado ? 1 : 0];
    Work::FileStep& step = work.files[enviado ? 1 : 0];
    const fs::path ours_path = messages_.folder() / FileName(enviado);
    const FileContent ours = ReadFileContent(ours_path);
    if (ours.state == FileState::kUnreadable) {
      plan.refusal = FileName(enviado) + Ansi(": no se puede leer: ") + DescribeFileError(errno) +
                     Ansi(" No se cambia nada.");
      return plan;
    }
    const bool ours_present = ours.state == FileState::kPresent;
    if (replacing && ours_present) {
      step.set_aside_as = SetAsideName(messages_.folder(), enviado, options.now);
      plan.changes.push_back(FileName(enviado) + Ansi(" de ") + Quoted(*current_user) +
                             Ansi(" se aparta como ") + step.set_aside_as.filename().string());
    }
    if (!theirs)
      continue;
    if (const auto damage = CheckMessageFile(*theirs, enviado)) {
      plan.refusal =
          FileName(enviado) + Ansi(" de origen, ") + *damage + Ansi(". No se cambia nada.");
      return plan;
    }
    const auto merge = MergeMessageFiles("", *theirs, enviado);
    const int count = merge ? merge->added : 0;
    if (!ours_present || replacing) {
      step.action = Work::FileStep::Action::kCopy;
      step.bytes = *theirs;
      plan.changes.push_back(FileName(enviado) + Ansi(": se copia tal cual, con ") +
                             std::to_string(count) + Ansi(" mensajes"));
      continue;
    }
    const auto merged = MergeMessageFiles(ours.bytes, *theirs, enviado);
    if (!merged) {
      plan.refusal =
          FileName(enviado) + Ansi(": no quedan números de mensaje libres. No se cambia nada.");
      return plan;
    }
    if (merged->added == 0) {
      plan.changes.push_back(FileName(enviado) + Ansi(": ya tiene los ") +
                             std::to_string(merged->already_here) + Ansi(" mensajes de origen"));
      continue;
    }
    step.action = Work::FileStep::Action::kMerge;
    step.bytes = merged->bytes;
    plan.changes.push_back(FileName(enviado) + Ansi(": se añaden ") +
                           std::to_string(merged->added) + Ansi(" mensajes con números nuevos (") +
                           std::to_string(merged->already_here) + Ansi(" ya estaban)"));
  }

  // Profiles the source deletes, with everything below them, as regedit would.
  std::set<std::u16string> deleted;
  const std::function<bool(const std::string&)> delete_tree = [&](const std::string& name) {
    const auto below = settings_.ListSubsections(ProfileSection(name));
    if (!below)
      return false;
    for (const std::string& child : *below) {
      if (!delete_tree(name + "\\" + child))
        return false;
    }
    if (deleted.insert(UpperCaseName(name)).second) {
      work.deleted_profiles.push_back(name);
      if (!NamesEqualIgnoringCase(name, kReservedProfileName))
        plan.changes.push_back(Ansi("Perfil eliminado: ") + name);
    }
    return true;
  };
  for (const std::string& path : source.settings.deleted_sections) {
    const bool all = path.empty() || NamesEqualIgnoringCase(path, kProfilesSection);
    const auto name = ProfileName(path);
    if (!all && !name)
      continue;
    const auto roots = all ? settings_.ListSubsections(kProfilesSection)
                           : std::optional(std::vector<std::string>{});
    if (!roots)
      return store_problem();
    if (name && settings_.SectionExists(ProfileSection(*name)) && !delete_tree(*name))
      return store_problem();
    for (const std::string& root : *roots) {
      if (!delete_tree(root))
        return store_problem();
    }
    if (!settings_.ok())
      return store_problem();
  }

  // Profiles the source holds: over what is here, unless the source deleted it first.
  for (const SnapshotSection& section : source.settings.sections) {
    const auto name = ProfileName(section.path);
    if (!name)
      continue;
    PasswordProfile profile;
    const bool exists =
        !deleted.contains(UpperCaseName(*name)) && settings_.SectionExists(ProfileSection(*name));
    if (!settings_.ok())
      return store_problem();
    std::optional<PasswordProfile> here;
    if (exists) {
      bool password_missing = false;
      ProfileRead read = ReadProfile(settings_, *name, &password_missing);
      if (!read.profile)
        return store_problem(read.outcome);
      here = read.profile;
      profile = *read.profile;
    }
    const auto take = [&section](std::string_view value_name, std::string& into) {
      if (const SnapshotValue* value = FindValue(&section, value_name)) {
        if (const auto* text = std::get_if<std::string>(value))
          into = *text;
        else if (std::holds_alternative<std::monostate>(*value))
          into.clear();
      }
    };
    take("PerfilNombre", profile.name);
    take("Password", profile.password);
    for (std::size_t i = 0; i < 4; ++i)
      take("Comentario" + std::to_string(i + 1), profile.comments[i]);
    if (const auto password = source.passwords.find(*name); password != source.passwords.end())
      profile.password = password->second;
    const bool reserved = NamesEqualIgnoringCase(*name, kReservedProfileName);
    if (!here)
      plan.changes.push_back(
          (reserved ? Ansi("Perfil guardado el último: ") : Ansi("Perfil nuevo: ")) + *name);
    else if (*here != profile)
      plan.changes.push_back(
          (reserved ? Ansi("Perfil guardado el último: ") : Ansi("Perfil cambiado: ")) + *name);
    work.profiles.emplace_back(*name, std::move(profile));
  }

  // The nine options, each the source's or its default; the counter never goes down for the
  // same user, since that would fetch again what is already stored.
  for (const KnownValue& known : kKnownValues) {
    if (known.section != KnownSection::kOptions)
      continue;
    std::variant<std::string, std::int32_t> value =
        known.is_integer ? std::variant<std::string, std::int32_t>(known.default_integer)
                         : std::string(known.default_text);
    if (const SnapshotValue* found = FindValue(options_section, known.name)) {
      if (const auto* text = std::get_if<std::string>(found); text && !known.is_integer)
        value = *text;
      else if (const auto* number = std::get_if<std::int32_t>(found); number && known.is_integer)
        value = *number;
    }
    std::optional<std::variant<std::string, std::int32_t>> current;
    if (known.is_integer) {
      const auto read = settings_.ReadInt(kOptionsSection, known.name, known.default_integer);
      if (read)
        current = *read;
    } else {
      const auto read = settings_.ReadText(kOptionsSection, known.name, known.default_text);
      if (read)
        current = *read;
    }
    if (!current)
      return store_problem();
    if (known.name == kReceivedCounterEntry && same_user &&
        std::get<std::int32_t>(value) < *current_counter) {
      plan.changes.push_back(std::string(kReceivedCounterEntry) + Ansi(": se queda en ") +
                             std::to_string(*current_counter) + Ansi(" (lo traído dice ") +
                             std::to_string(std::get<std::int32_t>(value)) +
                             Ansi("; los mensajes ya recibidos no se piden otra vez)"));
      value = *current_counter;
    } else if (value != *current) {
      // Windows-1252 has no arrow.
      plan.changes.push_back(std::string(known.name) + ": de " + Shown(*current) + " a " +
                             Shown(value));
    }
    work.options.emplace_back(std::string(known.name), std::move(value));
  }
  return plan;
}

FileOutcome InstallationImport::Apply(const ImportSource& source, const ImportOptions& options,
                                      const Plan& agreed) {
  // A receive run of another process would move the counter and store messages under us.
  FileLock runs(MessageReceiver::RunLockPath(settings_.database().path()),
                FileLock::Target::kLockFile);
  // As long as a receive waits for another one: a run may take minutes, and the user would
  // rather hear so than wait.
  if (!runs.Acquire(
          std::min<std::chrono::milliseconds>(lock_wait_, MessageReceiver::kRunLockWait))) {
    return FileOutcome::Failed(Ansi(
        "Otro programa está recibiendo mensajes con esta configuración. No se ha cambiado nada; "
        "vuelve a intentarlo cuando acabe."));
  }
  FileLock::Guard folder(messages_.lock(), lock_wait_);
  if (!folder.ok()) {
    return FileOutcome::Failed(
        Ansi("La carpeta de los mensajes está ocupada por otro programa. No se ha cambiado nada; "
             "vuelve a intentarlo."));
  }
  Work work;
  const Plan plan = Prepare(source, options, work);
  if (!plan.ok())
    return FileOutcome::Failed(*plan.refusal);
  if (plan.changes != agreed.changes) {
    return FileOutcome::Failed(
        Ansi("Los mensajes o la configuración han cambiado desde que se hizo la lista. No se ha "
             "cambiado nada; vuelve a intentarlo."));
  }
  return Carry(work);
}

FileOutcome InstallationImport::Carry(const Work& work) {
  std::vector<std::string> done;
  const auto failed = [&done](std::string what) {
    if (done.empty())
      return FileOutcome::Failed(what + Ansi(" No se ha cambiado nada."));
    std::string text = what + Ansi(" Ya se había hecho: ");
    for (std::size_t i = 0; i < done.size(); ++i)
      text += (i == 0 ? "" : "; ") + done[i];
    return FileOutcome::Failed(text + ".");
  };

  AtomicFileWriter writer;
  for (const bool enviado : {false, true}) {
    const Work::FileStep& step = work.files[enviado ? 1 : 0];
    const fs::path path = messages_.folder() / FileName(enviado);
    if (!step.set_aside_as.empty()) {
      std::error_code error;
      fs::rename(path, step.set_aside_as, error);
      if (error) {
        return failed(FileName(enviado) + Ansi(": no se ha podido apartar: ") +
                      DescribeFileError(error.value()));
      }
      done.push_back(FileName(enviado) + Ansi(" apartado como ") +
                     step.set_aside_as.filename().string());
    }
    if (step.action == Work::FileStep::Action::kNone)
      continue;
    if (const FileOutcome written = writer.Write(path, step.bytes); !written)
      return failed(FileName(enviado) + ": " + written.error);
    done.push_back(FileName(enviado) + Ansi(" escrito"));
  }

  for (const std::string& name : work.deleted_profiles) {
    if (const ProfileOutcome removed = DeleteProfile(settings_, name); !removed) {
      return failed(Ansi("No se ha podido eliminar el perfil ") + name + ": " +
                    settings_.DescribeProblem(removed));
    }
  }
  if (!work.deleted_profiles.empty())
    done.push_back(Ansi("perfiles eliminados"));
  for (const auto& [name, profile] : work.profiles) {
    if (const ProfileOutcome written = WriteProfile(settings_, name, profile); !written) {
      return failed(Ansi("No se ha podido guardar el perfil ") + name + ": " +
                    settings_.DescribeProblem(written));
    }
  }
  if (!work.profiles.empty())
    done.push_back(Ansi("perfiles guardados"));

  std::vector<SettingsStore::Entry> entries;
  for (const auto& [name, value] : work.options) {
    if (const auto* number = std::get_if<std::int32_t>(&value))
      entries.push_back({name, *number});
    else
      entries.push_back({name, std::string_view(std::get<std::string>(value))});
  }
  if (!settings_.WriteValues(kOptionsSection, entries))
    return failed(Ansi("No se han podido guardar las opciones: ") + settings_.DescribeProblem());
  return {};
}

}  // namespace velkorant
