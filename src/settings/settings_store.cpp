#include "settings/settings_store.h"

namespace velkorant {
namespace {

constexpr std::string_view kUserName = "NombreUsuario";
constexpr std::string_view kUserComment = "ComentarioUsuario";
constexpr std::string_view kServerName = "NombreServidor";
constexpr std::string_view kServerDescription = "DescripcionServidor";
constexpr std::string_view kReceiveAtStartup = "AutoMsjInicio";
constexpr std::string_view kReceiveEvery30Minutes = "AutoMsjTiempo";
constexpr std::string_view kPlaySounds = "ReproSonidos";
constexpr std::string_view kReceivedCounter = "MsjsRecibidos";
constexpr std::string_view kFirstRun = "EjecPrimVez";

}  // namespace

SettingsStore::SettingsStore() : database_(SettingsDatabase::DefaultPath()) {}

SettingsStore::SettingsStore(std::filesystem::path database_path)
    : database_(std::move(database_path)) {}

std::string SettingsStore::ReadText(std::string_view section, std::string_view entry,
                                    std::string_view default_value) {
  auto value = database_.ReadText(section, entry);
  return value ? std::move(*value) : std::string(default_value);
}

std::int32_t SettingsStore::ReadInt(std::string_view section, std::string_view entry,
                                    std::int32_t default_value) {
  return database_.ReadInt(section, entry).value_or(default_value);
}

bool SettingsStore::WriteText(std::string_view section, std::string_view entry,
                              std::string_view value) {
  return database_.WriteText(section, entry, value);
}

bool SettingsStore::WriteInt(std::string_view section, std::string_view entry, std::int32_t value) {
  return database_.WriteInt(section, entry, value);
}

bool SettingsStore::WriteValues(std::string_view section, std::initializer_list<Entry> entries) {
  std::vector<ValueWrite> writes;
  writes.reserve(entries.size());
  for (const Entry& entry : entries)
    writes.push_back({section, entry.name, entry.value});
  return database_.WriteValues(writes);
}

std::optional<std::vector<std::string>> SettingsStore::ListSubsections(std::string_view section) {
  return database_.SubkeyNames(section);
}

bool SettingsStore::SectionExists(std::string_view section) {
  return database_.KeyExists(section);
}

DeleteKeyResult SettingsStore::DeleteSection(std::string_view section) {
  return database_.DeleteKey(section);
}

Settings LoadSettings(SettingsStore& store) {
  Settings settings;
  settings.user_name = store.ReadText(kOptionsSection, kUserName);
  settings.server_name = store.ReadText(kOptionsSection, kServerName, kDefaultServerAddress);
  settings.receive_at_startup = store.ReadInt(kOptionsSection, kReceiveAtStartup, 0) != 0;
  settings.receive_every_30_minutes =
      store.ReadInt(kOptionsSection, kReceiveEvery30Minutes, 0) != 0;
  settings.play_sounds = store.ReadInt(kOptionsSection, kPlaySounds, 1) != 0;
  settings.received_counter = store.ReadInt(kOptionsSection, kReceivedCounter, 0);
  settings.first_run = store.ReadInt(kOptionsSection, kFirstRun, 1);
  return settings;
}

bool SaveCounters(SettingsStore& store, const Settings& settings) {
  return store.WriteValues(kOptionsSection, {{kReceivedCounter, settings.received_counter},
                                             {kFirstRun, settings.first_run}});
}

Preferences LoadPreferences(SettingsStore& store) {
  Preferences preferences;
  preferences.user_name = store.ReadText(kOptionsSection, kUserName);
  preferences.user_comment = store.ReadText(kOptionsSection, kUserComment);
  preferences.server_name = store.ReadText(kOptionsSection, kServerName, kDefaultServerAddress);
  preferences.server_description = store.ReadText(kOptionsSection, kServerDescription);
  preferences.receive_at_startup = store.ReadInt(kOptionsSection, kReceiveAtStartup, 0);
  preferences.receive_every_30_minutes = store.ReadInt(kOptionsSection, kReceiveEvery30Minutes, 0);
  preferences.play_sounds = store.ReadInt(kOptionsSection, kPlaySounds, 1);
  return preferences;
}

bool SavePreferences(SettingsStore& store, const Preferences& preferences) {
  return store.WriteValues(kOptionsSection,
                           {{kUserName, preferences.user_name},
                            {kUserComment, preferences.user_comment},
                            {kServerName, preferences.server_name},
                            {kServerDescription, preferences.server_description},
                            {kReceiveAtStartup, preferences.receive_at_startup},
                            {kReceiveEvery30Minutes, preferences.receive_every_30_minutes},
                            {kPlaySounds, preferences.play_sounds}});
}

}  // namespace velkorant
