#include "settings/password_profiles.h"

#include <cryptopp/misc.h>

#include "crypto/digests.h"

namespace velkorant {
namespace {

constexpr std::string_view kProfileName = "PerfilNombre";
constexpr std::string_view kPassword = "Password";
constexpr std::string_view kComment1 = "Comentario1";
constexpr std::string_view kComment2 = "Comentario2";
constexpr std::string_view kComment3 = "Comentario3";
constexpr std::string_view kComment4 = "Comentario4";

// Names were read into a 50-byte buffer: one that did not fit ended the enumeration.
constexpr std::size_t kMaxListedNameLength = 49;

// Overwrites the whole buffer, spare capacity included, where a shorter earlier value may lie.
void Wipe(std::string& text) {
  text.resize(text.capacity());
  CryptoPP::SecureWipeBuffer(reinterpret_cast<CryptoPP::byte*>(text.data()), text.size());
  text.clear();
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

std::optional<PasswordProfile> ReadProfile(SettingsStore& store, std::string_view name) {
  const std::string section = ProfileSection(name);
  PasswordProfile profile;
  for (const auto& [entry, into] :
       {std::pair{kProfileName, &profile.name}, std::pair{kPassword, &profile.password},
        std::pair{kComment1, &profile.comment1}, std::pair{kComment2, &profile.comment2},
        std::pair{kComment3, &profile.comment3}, std::pair{kComment4, &profile.comment4}}) {
    auto value = store.ReadText(section, entry);
    if (!value)
      return std::nullopt;
    *into = std::move(*value);
  }
  return profile;
}

bool WriteProfile(SettingsStore& store, std::string_view name, const PasswordProfile& profile) {
  return store.WriteValues(ProfileSection(name), {{kProfileName, profile.name},
                                                  {kPassword, profile.password},
                                                  {kComment1, profile.comment1},
                                                  {kComment2, profile.comment2},
                                                  {kComment3, profile.comment3},
                                                  {kComment4, profile.comment4}});
}

bool DeleteProfile(SettingsStore& store, std::string_view name) {
  return store.DeleteSection(ProfileSection(name)) != DeleteKeyResult::kFailed;
}

PasswordList::~PasswordList() {
  Clear();
}

void PasswordList::Clear() {
  for (PasswordListEntry& entry : entries_)
    Wipe(entry.password);
  entries_.clear();
}

bool PasswordList::LoadPasswordList(SettingsStore& store) {
  Clear();
  const auto names = EnumerateProfiles(store);
  if (!names)
    return false;
  // Reserved up front: a reallocation would leave copies of short passwords behind.
  entries_.reserve(names->size());
  for (const std::string& name : *names) {
    std::optional<std::string> password = store.ReadText(ProfileSection(name), kPassword);
    if (!password) {
      Clear();
      return false;
    }
    if (!password->empty())
      entries_.push_back({*password, Crc32Hex(*password), name});
    Wipe(*password);
  }
  return true;
}

int PasswordList::FindProfileByFingerprint(std::string_view fingerprint) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].fingerprint == fingerprint)
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace velkorant
