// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/password_profiles.h"

#include "crypto/digests.h"
#include "platform/ansi_text.h"
#include "platform/secure_text.h"

namespace velkorant {
namespace {

constexpr std::string_view kProfileName = "PerfilNombre";
constexpr std::string_view kPassword = "Password";
constexpr std::array<std::string_view, 4> kComments = {"Comentario1", "Comentario2", "Comentario3",
                                                       "Comentario4"};
constexpr std::string_view kInKeyring = "PasswordEnLlavero";

// Names were read into a 50-byte buffer: one that did not fit ended the enumeration.
constexpr std::size_t kMaxListedNameLength = 49;

using Value = decltype(SettingsStore::Entry::value);

// The keyring item's key: profile names match without regard to case, keyring attributes
// exactly, so the key is the name as the store compares it (upper-cased, in UTF-8).
std::string KeyringKey(std::string_view name) {
  std::string key;
  for (const char16_t unit : UpperCaseName(name))
    AppendUtf8(key, unit);
  return key;
}

std::string KeyringLabel(std::string_view name) {
  return "Velkorant: perfil " + AnsiToUtf8(name);
}

// The password of a profile's section from wherever it is kept; failed when it cannot be had.
// One the keyring should hold and does not is never taken for empty: it fails the read by the
// profile's name, or with `missing` reads as empty with *missing set.
ProfileOutcome ReadPassword(SettingsStore& store, std::string_view name, std::string& password,
                            bool* missing = nullptr) {
  const std::string section = ProfileSection(name);
  const auto in_keyring = store.ReadInt(section, kInKeyring, 0);
  if (!in_keyring)
    return ProfileOutcome::Failed();
  if (*in_keyring == 0) {
    auto value = store.ReadText(section, kPassword);
    if (!value)
      return ProfileOutcome::Failed();
    password.swap(*value);
    return {};
  }
  std::optional<std::string> secret;
  const KeyringStatus status = store.keyring().Lookup(KeyringKey(name), secret);
  if (status != KeyringStatus::kOk)
    return ProfileOutcome::Failed(status);
  if (!secret) {
    if (missing == nullptr)
      return ProfileOutcome::Failed(KeyringStatus::kMissing, std::string(name));
    *missing = true;
    return {};
  }
  password = Utf8ToAnsi(*secret);
  Wipe(*secret);
  return {};
}

// One section's clear password into the keyring, then out of the database.
ProfileOutcome MovePassword(SettingsStore& store, std::string_view name) {
  const std::string section = ProfileSection(name);
  auto password = store.ReadText(section, kPassword);
  if (!password)
    return ProfileOutcome::Failed();
  if (password->empty())
    return {};  // nothing secret: an empty password stays as it is
  std::string secret = AnsiToUtf8(*password);
  const KeyringStatus status = store.keyring().Store(KeyringKey(name), KeyringLabel(name), secret);
  Wipe(secret);
  if (status != KeyringStatus::kOk) {
    Wipe(*password);
    return ProfileOutcome::Failed(status);
  }
  // Another program without a keyring may have saved a new password meanwhile: that one stays
  // for the next move rather than be removed unseen.
  auto now = store.ReadText(section, kPassword);
  const bool unchanged = now && *now == *password;
  Wipe(*password);
  if (now)
    Wipe(*now);
  if (now &&
      (!unchanged || store.WriteValues(section, {{kPassword, std::monostate{}}, {kInKeyring, 1}})))
    return {};
  return ProfileOutcome::Failed();
}

}  // namespace

std::string ProfileSection(std::string_view name) {
  std::string section(kProfilesSection);
  section += '\\';
  section += name;
  return section;
}

std::optional<std::vector<std::string>> EnumerateProfiles(SettingsStore& store) {
  auto names = store.ListSubsections(kProfilesSection);
  if (!names)
    return std::nullopt;
  std::vector<std::string> profiles;
  for (std::string& name : *names) {
    if (name.size() > kMaxListedNameLength)
      break;
    if (name == kReservedProfileName)
      continue;
    profiles.push_back(std::move(name));
  }
  return profiles;
}

std::optional<std::string> ProfileNameProblem(std::string_view name) {
  if (NamesEqualIgnoringCase(name, kReservedProfileName)) {
    return Ansi(
        "El nombre Seleccion, en mayúsculas o en minúsculas, está reservado: elige otro nombre "
        "para el perfil.");
  }
  if (name.find('\\') != std::string_view::npos) {
    return Ansi(
        "El nombre del perfil no puede llevar barras inversas (\\): elige otro nombre para el "
        "perfil.");
  }
  return std::nullopt;
}

ProfileRead ReadProfile(SettingsStore& store, std::string_view name, bool* password_missing) {
  if (password_missing != nullptr)
    *password_missing = false;
  const std::string section = ProfileSection(name);
  ProfileRead result;
  PasswordProfile profile;
  const auto read = [&store, &section](std::string_view entry, std::string& into) {
    auto value = store.ReadText(section, entry);
    if (value)
      into = std::move(*value);
    return value.has_value();
  };
  if (!read(kProfileName, profile.name))
    return {std::nullopt, ProfileOutcome::Failed()};
  for (std::size_t i = 0; i < kComments.size(); ++i) {
    if (!read(kComments[i], profile.comments[i]))
      return {std::nullopt, ProfileOutcome::Failed()};
  }
  result.outcome = ReadPassword(store, name, profile.password, password_missing);
  if (result.outcome)
    result.profile = std::move(profile);
  return result;
}

ProfileOutcome WriteProfile(SettingsStore& store, std::string_view name,
                            const PasswordProfile& profile) {
  Keyring& keyring = store.keyring();
  const std::string key = KeyringKey(name);
  KeyringStatus status = keyring.Connect();
  const bool uses_keyring = status == KeyringStatus::kOk;
  const bool in_keyring = uses_keyring && !profile.password.empty();
  // What the keyring held, put back should the database fail: the caller then says that
  // nothing changed.
  std::optional<std::string> previous;
  if (uses_keyring) {
    status = keyring.Lookup(key, previous);
    // An empty password is no secret: it stays in the database, and no item is left behind.
    std::string secret = AnsiToUtf8(profile.password);
    if (status == KeyringStatus::kOk)
      status = in_keyring ? keyring.Store(key, KeyringLabel(name), secret) : keyring.Remove(key);
    Wipe(secret);
    if (status != KeyringStatus::kOk) {
      if (previous)
        Wipe(*previous);
      return ProfileOutcome::Failed(status);
    }
  }
  // In this order, as the profiles have always been written.
  std::vector<SettingsStore::Entry> values = {
      {kProfileName, profile.name},
      {kPassword,
       in_keyring ? Value(std::monostate{}) : Value(std::string_view(profile.password))}};
  for (std::size_t i = 0; i < kComments.size(); ++i)
    values.push_back({kComments[i], profile.comments[i]});
  values.push_back({kInKeyring, in_keyring ? Value(1) : Value(std::monostate{})});
  const bool written = store.WriteValues(ProfileSection(name), values);
  if (!written && uses_keyring)
    previous ? keyring.Store(key, KeyringLabel(name), *previous) : keyring.Remove(key);
  if (previous)
    Wipe(*previous);
  return written ? ProfileOutcome{} : ProfileOutcome::Failed();
}

ProfileOutcome DeleteProfile(SettingsStore& store, std::string_view name) {
  const std::string section = ProfileSection(name);
  const auto nested = store.ListSubsections(section);
  if (!nested)
    return ProfileOutcome::Failed();
  // A section with subsections is kept, and its password with it.
  if (nested->empty()) {
    const auto in_keyring = store.ReadInt(section, kInKeyring, 0);
    if (!in_keyring)
      return ProfileOutcome::Failed();
    KeyringStatus status = store.keyring().Connect();
    if (status == KeyringStatus::kOk)
      status = store.keyring().Remove(KeyringKey(name));
    // Without a keyring, a profile whose password is in one is kept until the keyring answers:
    // deleting it now would leave the password behind for good.
    if (status != KeyringStatus::kOk && (status != KeyringStatus::kNoService || *in_keyring))
      return ProfileOutcome::Failed(status);
  }
  if (store.DeleteSection(section) == DeleteKeyResult::kFailed)
    return ProfileOutcome::Failed();
  return {};
}

PasswordMove MovePasswordsToKeyring(SettingsStore& store) {
  if (store.keyring().Connect() != KeyringStatus::kOk)
    return {PasswordPlace::kDatabase, {}};
  // Every section below PerfilPass, by its path below it.
  std::vector<std::string> pending = {""};
  while (!pending.empty()) {
    const std::string name = std::move(pending.back());
    pending.pop_back();
    const auto nested =
        store.ListSubsections(name.empty() ? std::string(kProfilesSection) : ProfileSection(name));
    if (!nested)
      return {PasswordPlace::kUnavailable, ProfileOutcome::Failed()};
    for (const std::string& child : *nested)
      pending.push_back(name.empty() ? child : name + '\\' + child);
    if (name.empty())
      continue;
    ProfileOutcome moved = MovePassword(store, name);
    if (!moved)
      return {PasswordPlace::kUnavailable, std::move(moved)};
  }
  return {PasswordPlace::kKeyring, {}};
}

std::string PasswordsInDatabaseNotice(SettingsStore& store) {
  return Ansi("Las contraseñas de los perfiles se guardan en claro en ") +
         Utf8ToAnsi(store.database().path().string()) +
         Ansi(": no responde ningún llavero del escritorio (servicio de secretos).");
}

PasswordList::~PasswordList() {
  Clear();
}

void PasswordList::Clear() {
  for (PasswordListEntry& entry : entries_)
    Wipe(entry.password);
  entries_.clear();
}

ProfileOutcome PasswordList::LoadPasswordList(SettingsStore& store) {
  Clear();
  const auto names = EnumerateProfiles(store);
  if (!names)
    return ProfileOutcome::Failed();
  // Reserved up front: a reallocation would leave copies of short passwords behind.
  entries_.reserve(names->size());
  std::string password;
  for (const std::string& name : *names) {
    ProfileOutcome read = ReadPassword(store, name, password);
    if (!read) {
      Clear();
      return read;
    }
    if (!password.empty())
      entries_.push_back({password, Crc32Hex(password), name});
    Wipe(password);
  }
  return {};
}

int PasswordList::FindProfileByFingerprint(std::string_view fingerprint) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].fingerprint == fingerprint)
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace velkorant
