// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/windows_settings.h"

#include <algorithm>
#include <utility>

#include "platform/ansi_text.h"
#include "settings/password_profiles.h"

namespace velkorant {
namespace {

constexpr std::string_view kPasswordValue = "Password";
constexpr std::string_view kInKeyring = "PasswordEnLlavero";

// Whether `path` is `ancestor` or lies below it; "" is above every path.
bool IsAtOrBelow(std::string_view path, std::string_view ancestor) {
  if (ancestor.empty())
    return true;
  return path.size() >= ancestor.size() &&
         NamesEqualIgnoringCase(path.substr(0, ancestor.size()), ancestor) &&
         (path.size() == ancestor.size() || path[ancestor.size()] == '\\');
}

// Where a registry key lies against the application's key.
struct Place {
  enum Where { kElsewhere, kAbove, kBelow, kUnnamed } where = kElsewhere;
  std::string path;  // below the application's key ("" for the key itself), as written
};

Place Locate(std::u16string_view key) {
  constexpr std::array<std::string_view, 4> kRoot = {"HKEY_CURRENT_USER", "Software", kCompanyKey,
                                                     kApplicationKey};
  Place place;
  std::size_t depth = 0;
  for (std::size_t start = 0; start <= key.size();) {
    std::size_t end = std::min(key.find(u'\\', start), key.size());
    const std::u16string_view part = key.substr(start, end - start);
    start = end + 1;
    if (part.empty())
      continue;
    const auto name = Utf16ToAnsiExact(part);
    if (depth < kRoot.size()) {
      if (!name || !(NamesEqualIgnoringCase(*name, kRoot[depth]) ||
                     (depth == 0 && NamesEqualIgnoringCase(*name, "HKCU"))))
        return {};
    } else if (!name || name->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
      // A line end in a key's name (Wine writes one) could not go into a regedit file again.
      return {Place::kUnnamed, {}};
    } else {
      place.path += (place.path.empty() ? "" : "\\") + *name;
    }
    ++depth;
  }
  place.where = depth == 0             ? Place::kElsewhere
                : depth < kRoot.size() ? Place::kAbove
                                       : Place::kBelow;
  return place;
}

std::string TypeName(std::uint32_t type) {
  constexpr std::array<std::string_view, 8> kNames = {
      "REG_NONE", "REG_SZ",      "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD", "REG_DWORD_BIG_ENDIAN",
      "REG_LINK", "REG_MULTI_SZ"};
  return type < kNames.size() ? std::string(kNames[type]) : "hex(" + std::to_string(type) + ")";
}

// "WHERE es TYPE y el programa lo guarda como ...; se omite."
std::string WrongType(std::string_view where, std::string_view type, const KnownValue& known) {
  return std::string(where) + " es " + std::string(type) + " y el programa lo guarda como " +
         (known.is_integer ? "REG_DWORD" : "REG_SZ") + "; se omite.";
}

// The registry value as the program keeps it, or nullopt with the reason in `problem`.
std::optional<SnapshotValue> Convert(const KnownValue& known, const RegistryOp& op,
                                     const std::string& where, std::string& problem) {
  const std::string_view data = op.data;
  // The Windows program reads an expandable text as it reads any other.
  const bool right_type =
      known.is_integer ? op.type == kRegDword : op.type == kRegSz || op.type == kRegExpandSz;
  if (known.is_integer && right_type && data.size() == 4) {
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
      bits = bits << 8 | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(bits);
  }
  if (!known.is_integer && right_type && data.size() % 2 == 0) {
    std::u16string text = FromUtf16Le(data);
    while (!text.empty() && text.back() == u'\0')
      text.pop_back();
    if (auto ansi = Utf16ToAnsiExact(text))
      return SnapshotValue(std::move(*ansi));
    problem = where + Ansi(" tiene un carácter que Windows-1252 no puede representar; se omite.");
    return std::nullopt;
  }
  std::string type = TypeName(op.type);
  // The right type with the wrong size: say so, or the message would contradict itself.
  if (right_type)
    type += " de " + std::to_string(data.size()) + " bytes";
  problem = WrongType(where, type, known);
  return std::nullopt;
}

SnapshotSection& SectionFor(SettingsSnapshot& snapshot, std::string_view path) {
  const auto found = std::find_if(snapshot.sections.begin(), snapshot.sections.end(),
                                  [path](const SnapshotSection& section) {
                                    return NamesEqualIgnoringCase(section.path, path);
                                  });
  if (found != snapshot.sections.end())
    return *found;
  return snapshot.sections.emplace_back(SnapshotSection{std::string(path), {}});
}

void Put(SnapshotSection& section, std::string_view name, SnapshotValue value) {
  for (auto& [existing, old] : section.values) {
    if (NamesEqualIgnoringCase(existing, name)) {
      old = std::move(value);
      return;
    }
  }
  section.values.emplace_back(std::string(name), std::move(value));
}

void TakeValue(SettingsSnapshot& snapshot, const std::string& path, const RegistryOp& op) {
  const std::string prefix = Ansi("línea ") + std::to_string(op.line) + ": ";
  const auto name = Utf16ToAnsiExact(op.name);
  const std::string where = (path.empty() ? "" : path + '\\') + (op.name.empty() ? "@"
                                                                 : name          ? *name
                                                                        : Utf16ToAnsi(op.name));
  const auto kind = SectionKind(path);
  const KnownValue* known = kind && name ? FindKnownValue(*kind, *name) : nullptr;
  if (known == nullptr) {
    // Removing a value the program does not keep changes nothing here.
    if (op.kind == RegistryOpKind::kValue)
      snapshot.problems.push_back(prefix + where +
                                  Ansi(": el programa no usa este valor; se omite."));
    return;
  }
  SnapshotValue value;
  if (op.kind == RegistryOpKind::kValue) {
    std::string problem;
    auto converted = Convert(*known, op, where, problem);
    if (!converted) {
      snapshot.problems.push_back(prefix + problem);
      return;
    }
    value = std::move(*converted);
  }
  Put(SectionFor(snapshot, path), known->name, std::move(value));
}

// One value as the store holds it; false when the store cannot be read.
bool ReadStored(SettingsDatabase& database, SnapshotSection& section, const KnownValue& known,
                std::vector<std::string>& problems) {
  const auto number = database.ReadInt(section.path, known.name);
  if (database.status() != SettingsDatabaseStatus::kOk)
    return false;
  std::optional<std::string> text;
  if (!number) {
    text = database.ReadText(section.path, known.name);
    if (database.status() != SettingsDatabaseStatus::kOk)
      return false;
    if (!text)
      return true;
  }
  if (number.has_value() != known.is_integer) {
    problems.push_back(WrongType(section.path + '\\' + std::string(known.name),
                                 number ? "REG_DWORD" : "REG_SZ", known));
  } else {
    section.values.emplace_back(std::string(known.name),
                                number ? SnapshotValue(*number) : SnapshotValue(std::move(*text)));
  }
  return true;
}

// The profiles below `parent` (relative to "PerfilPass"), each followed by those below it.
bool ReadProfiles(SettingsStore& store, const std::string& parent, bool with_passwords,
                  SettingsSnapshot& snapshot, ProfileOutcome& outcome) {
  SettingsDatabase& database = store.database();
  const auto names = store.ListSubsections(parent.empty() ? std::string(kProfilesSection)
                                                          : ProfileSection(parent));
  if (!names)
    return false;
  for (const std::string& name : *names) {
    const std::string profile = parent.empty() ? name : parent + '\\' + name;
    SnapshotSection section{ProfileSection(profile), {}};
    for (const KnownValue& known : kKnownValues) {
      if (known.section != KnownSection::kProfile)
        continue;
      if (known.name == kPasswordValue) {
        if (!with_passwords)
          continue;
        const auto in_keyring = database.ReadInt(section.path, kInKeyring);
        if (database.status() != SettingsDatabaseStatus::kOk)
          return false;
        if (in_keyring.value_or(0) != 0) {
          ProfileRead read = ReadProfile(store, profile);
          if (!read.profile) {
            outcome = read.outcome;
            return false;
          }
          section.values.emplace_back(std::string(known.name), std::move(read.profile->password));
          continue;
        }
      }
      if (!ReadStored(database, section, known, snapshot.problems))
        return false;
    }
    snapshot.sections.push_back(std::move(section));
    if (!ReadProfiles(store, profile, with_passwords, snapshot, outcome))
      return false;
  }
  return true;
}

}  // namespace

std::optional<KnownSection> SectionKind(std::string_view path) {
  if (NamesEqualIgnoringCase(path, kOptionsSection))
    return KnownSection::kOptions;
  if (path.size() > kProfilesSection.size() && IsAtOrBelow(path, kProfilesSection))
    return KnownSection::kProfile;
  return std::nullopt;
}

const KnownValue* FindKnownValue(KnownSection section, std::string_view name) {
  for (const KnownValue& known : kKnownValues) {
    if (known.section == section && NamesEqualIgnoringCase(known.name, name))
      return &known;
  }
  return nullptr;
}

SettingsSnapshot SnapshotFromRegistry(const std::vector<RegistryOp>& ops) {
  SettingsSnapshot snapshot;
  for (const RegistryOp& op : ops) {
    const Place place = Locate(op.key);
    if (place.where == Place::kElsewhere)
      continue;
    if (place.where == Place::kUnnamed) {
      if (op.kind == RegistryOpKind::kKey) {
        snapshot.problems.push_back(
            Ansi("línea ") + std::to_string(op.line) + ": " + Utf16ToAnsi(op.key) +
            Ansi(": el nombre de la clave tiene un carácter que el programa no puede guardar; se "
                 "omite con sus valores."));
      }
      continue;
    }
    if (op.kind == RegistryOpKind::kDeleteKey) {
      const std::string deleted = place.where == Place::kAbove ? std::string() : place.path;
      std::erase_if(snapshot.sections, [&deleted](const SnapshotSection& section) {
        return IsAtOrBelow(section.path, deleted);
      });
      snapshot.deleted_sections.push_back(deleted);
    } else if (place.where != Place::kBelow) {
      continue;
    } else if (op.kind == RegistryOpKind::kKey) {
      // "PerfilPass" itself is kept: it is where the profiles' keys go.
      if (SectionKind(place.path) || NamesEqualIgnoringCase(place.path, kProfilesSection))
        SectionFor(snapshot, place.path);
    } else {
      TakeValue(snapshot, place.path, op);
    }
  }
  return snapshot;
}

std::optional<SettingsSnapshot> SnapshotFromStore(SettingsStore& store, bool with_passwords,
                                                  ProfileOutcome* outcome) {
  SettingsSnapshot snapshot;
  ProfileOutcome result;
  const auto read = [&] {
    for (const std::string_view path : {kOptionsSection, kProfilesSection}) {
      const bool exists = store.SectionExists(path);
      if (!store.ok())
        return false;
      if (!exists)
        continue;
      snapshot.sections.push_back({std::string(path), {}});
      if (path == kProfilesSection)
        return ReadProfiles(store, {}, with_passwords, snapshot, result);
      for (const KnownValue& known : kKnownValues) {
        if (known.section == KnownSection::kOptions &&
            !ReadStored(store.database(), snapshot.sections.back(), known, snapshot.problems))
          return false;
      }
    }
    return true;
  };
  const bool ok = read();
  if (!ok && result.ok)
    result = ProfileOutcome::Failed();
  if (outcome != nullptr)
    *outcome = result;
  if (!ok)
    return std::nullopt;
  return snapshot;
}

}  // namespace velkorant
