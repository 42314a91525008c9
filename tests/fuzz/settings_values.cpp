// SPDX-License-Identifier: GPL-3.0-or-later
// A settings database file of any bytes: the settings, preferences and password profiles read
// from it come back, or the database says it is damaged; reading never changes the file, nor
// does a write that fails; a write that works reads back.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz_check.h"
#include "settings/password_profiles.h"

using namespace velkorant;

namespace {

std::filesystem::path g_database;

std::string FileBytes() {
  std::ifstream in(g_database, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Profiles that keep their passwords in a keyring must not reach the desktop's.
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velkorant-fuzz-bus", 1);
  char folder[] = "/tmp/velkorant-fuzz-XXXXXX";
  FUZZ_CHECK(mkdtemp(folder) != nullptr);
  g_database = std::filesystem::path(folder) / "settings.sqlite3";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const char* suffix : {"", "-journal", "-wal", "-shm"})
    std::filesystem::remove(g_database.string() + suffix);
  std::ofstream(g_database, std::ios::binary) << bytes;
  {
    SettingsStore store(g_database, std::chrono::milliseconds(0));
    const auto profiles = EnumerateProfiles(store);
    for (const std::string& name : profiles.value_or(std::vector<std::string>()))
      ReadProfile(store, name);
    const bool read = LoadSettings(store) && LoadPreferences(store) && profiles;
    FUZZ_CHECK(read == (store.database().status() != SettingsDatabaseStatus::kCorrupt));
    FUZZ_CHECK(FileBytes() == bytes);
    if (!store.WriteText(kOptionsSection, "NombreUsuario", "ana")) {
      FUZZ_CHECK(store.database().status() == SettingsDatabaseStatus::kCorrupt);
      FUZZ_CHECK(FileBytes() == bytes);
      return 0;
    }
  }
  SettingsStore again(g_database, std::chrono::milliseconds(0));
  const auto settings = LoadSettings(again);
  FUZZ_CHECK(settings && settings->user_name == "ana");
  return 0;
}
