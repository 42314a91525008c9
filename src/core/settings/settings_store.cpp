// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings_store.h"

#include <cstdio>
#include <random>

#include "platform/ansi_text.h"

namespace velkorant {
namespace {

constexpr std::string_view kUserName = "NombreUsuario";
constexpr std::string_view kUserComment = "ComentarioUsuario";
constexpr std::string_view kServerName = "NombreServidor";
constexpr std::string_view kServerDescription = "DescripcionServidor";
constexpr std::string_view kReceiveAtStartup = "AutoMsjInicio";
constexpr std::string_view kReceiveEvery30Minutes = "AutoMsjTiempo";
constexpr std::string_view kPlaySounds = "ReproSonidos";
constexpr std::string_view kReceivedCounter = kReceivedCounterEntry;
constexpr std::string_view kFirstRun = kFirstRunEntry;

// The installation identifier has a key of its own beside "Opciones" and "PerfilPass": their
// values and subkeys are the Windows program's, and a registry import brings them over, while
// the identifier must stay this installation's. Nothing under PerfilPass can meet it either.
constexpr std::string_view kInstallationSection = "Instalacion";
constexpr std::string_view kInstallationIdEntry = "Identificador";

// 128 random bits as hexadecimal: a name for the installation, no secret.
std::string NewInstallationId() {
  std::random_device random;
  std::string id;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08X", static_cast<unsigned>(random()));
    id += part;
  }
  return id;
}

// Reads in order until the first one fails: a locked store would otherwise make each of them
// wait out the lock.
class Reader {
 public:
  explicit Reader(SettingsStore& store) : store_(store) {}
  Reader& Text(std::string_view entry, std::string& into, std::string_view default_value = {}) {
    if (ok_) {
      auto value = store_.ReadText(kOptionsSection, entry, default_value);
      ok_ = value.has_value();
      into = std::move(value).value_or(std::string());
    }
    return *this;
  }
  template <typename Number>
  Reader& Int(std::string_view entry, Number& into, std::int32_t default_value) {
    if (ok_) {
      const auto value = store_.ReadInt(kOptionsSection, entry, default_value);
      ok_ = value.has_value();
      into = static_cast<Number>(value.value_or(default_value));
    }
    return *this;
  }
  bool ok() const { return ok_; }

 private:
  SettingsStore& store_;
  bool ok_ = true;
};

}  // namespace

SettingsStore::SettingsStore() : SettingsStore(SettingsDatabase::DefaultPath()) {}

SettingsStore::SettingsStore(std::filesystem::path database_path)
    : database_(std::move(database_path)),
      keyring_(database_.path().string(), [this](bool create) { return InstallationId(create); }) {}

SettingsStore::SettingsStore(std::filesystem::path database_path,
                             std::chrono::milliseconds busy_timeout)
    : database_(std::move(database_path), busy_timeout),
      keyring_(database_.path().string(), [this](bool create) { return InstallationId(create); }) {}

std::optional<std::string> SettingsStore::InstallationId(bool create) {
  auto id = create ? database_.ReadOrWriteText(kInstallationSection, kInstallationIdEntry,
                                               NewInstallationId())
                   : database_.ReadText(kInstallationSection, kInstallationIdEntry);
  if (id && id->empty())
    id.reset();
  return id;
}

std::optional<std::string> SettingsStore::ReadText(std::string_view section, std::string_view entry,
                                                   std::string_view default_value) {
  auto value = database_.ReadText(section, entry);
  if (!value && !ok())
    return std::nullopt;
  return value ? std::move(*value) : std::string(default_value);
}

std::optional<std::int32_t> SettingsStore::ReadInt(std::string_view section, std::string_view entry,
                                                   std::int32_t default_value) {
  const auto value = database_.ReadInt(section, entry);
  if (!value && !ok())
    return std::nullopt;
  return value.value_or(default_value);
}

bool SettingsStore::WriteText(std::string_view section, std::string_view entry,
                              std::string_view value) {
  return database_.WriteText(section, entry, value);
}

bool SettingsStore::WriteInt(std::string_view section, std::string_view entry, std::int32_t value) {
  return database_.WriteInt(section, entry, value);
}

bool SettingsStore::WriteValues(std::string_view section, std::span<const Entry> entries) {
  std::vector<ValueWrite> writes;
  writes.reserve(entries.size());
  for (const Entry& entry : entries)
    writes.push_back({section, entry.name, entry.value});
  return database_.WriteValues(writes);
}

std::optional<std::vector<std::string>> SettingsStore::ListSubsections(std::string_view section) {
  auto names = database_.SubkeyNames(section);
  if (!names && ok())
    names.emplace();
  return names;
}

std::string SettingsStore::DescribeProblem(const ProfileOutcome& outcome,
                                           std::string_view between) const {
  std::string_view reason;
  std::string_view advice;
  switch (outcome.keyring) {
    case KeyringStatus::kOk:
      return DescribeProblem(between);
    case KeyringStatus::kMissing:
      // One piece: what the user has to do is in it.
      return Ansi("La contraseña del perfil ") + outcome.profile +
             Ansi(" no está en el llavero; vuelve a escribirla en Perfiles de contraseñas.");
    case KeyringStatus::kCancelled:
      reason =
          "Las contraseñas de los perfiles no están disponibles: se ha cancelado la consulta al "
          "llavero del escritorio.";
      advice = "Vuelve a intentarlo.";
      break;
    case KeyringStatus::kNoService:
      reason =
          "Las contraseñas de los perfiles no están disponibles: están en el llavero del "
          "escritorio, y no responde ningún llavero (servicio de secretos).";
      advice =
          "Entra en tu sesión de escritorio, o pon en marcha su llavero, y vuelve a intentarlo.";
      break;
    case KeyringStatus::kLocked:
      reason =
          "Las contraseñas de los perfiles no están disponibles: el llavero del escritorio sigue "
          "bloqueado.";
      advice = "Desbloquéalo cuando te lo pida y vuelve a intentarlo.";
      break;
    case KeyringStatus::kFailed:
      reason =
          "Las contraseñas de los perfiles no están disponibles: el llavero del escritorio ha "
          "respondido con un error.";
      advice = "Comprueba el llavero y vuelve a intentarlo.";
      break;
  }
  std::string text = Ansi(reason);
  if (!keyring_.error().empty())
    text += " (" + Utf8ToAnsi(keyring_.error()) + ")";
  return text + std::string(between) + Ansi(advice);
}

std::string SettingsStore::DescribeProblem(std::string_view between) const {
  std::string_view reason;
  std::string_view advice;
  switch (database_.problem()) {
    case SettingsProblem::kNone:
      return {};
    case SettingsProblem::kLocked:
      reason =
          "Otro programa lo tiene ocupado (otra copia de Velkorant, una copia de seguridad...).";
      advice = "Cierra ese programa y vuelve a intentarlo.";
      break;
    case SettingsProblem::kDamaged:
      reason = "El archivo está dañado o no es de Velkorant.";
      advice =
          "Recupéralo de una copia de seguridad, o apártalo a otra carpeta para empezar con una "
          "configuración nueva.";
      break;
    case SettingsProblem::kNewerVersion:
      reason = "Lo escribió una versión más reciente de Velkorant.";
      advice = "Usa esa versión.";
      break;
    case SettingsProblem::kNoAccess:
      reason = "No hay permiso para usarlo, o está en un disco de sólo lectura.";
      advice = "Da a tu usuario permiso de lectura y escritura sobre el archivo y su carpeta.";
      break;
    case SettingsProblem::kNotAFile:
      reason = "En su lugar hay una carpeta, un enlace, o algo que no es un archivo.";
      advice = "Apártalo a otro sitio y vuelve a intentarlo.";
      break;
    case SettingsProblem::kDiskFull:
      reason = "El disco está lleno.";
      advice = "Libera espacio en el disco y vuelve a intentarlo.";
      break;
    case SettingsProblem::kOther:
      reason = "No se puede usar el archivo.";
      advice = "Comprueba el archivo y el disco.";
      break;
  }
  return Utf8ToAnsi(database_.path().string()) + ": " + Ansi(reason) + std::string(between) +
         Ansi(advice);
}

bool SettingsStore::SectionExists(std::string_view section) {
  return database_.KeyExists(section);
}

DeleteKeyResult SettingsStore::DeleteSection(std::string_view section) {
  return database_.DeleteKey(section);
}

std::optional<Settings> LoadSettings(SettingsStore& store) {
  Settings settings;
  Reader reader(store);
  reader.Text(kUserName, settings.user_name)
      .Text(kServerName, settings.server_name, kDefaultServerAddress)
      .Int(kReceiveAtStartup, settings.receive_at_startup, 0)
      .Int(kReceiveEvery30Minutes, settings.receive_every_30_minutes, 0)
      .Int(kPlaySounds, settings.play_sounds, 1)
      .Int(kReceivedCounter, settings.received_counter, 0)
      .Int(kFirstRun, settings.first_run, 1);
  if (!reader.ok())
    return std::nullopt;
  return settings;
}

bool SaveCounters(SettingsStore& store, const Settings& settings) {
  return store.WriteValues(kOptionsSection, {{kReceivedCounter, settings.received_counter},
                                             {kFirstRun, settings.first_run}});
}

std::optional<Preferences> LoadPreferences(SettingsStore& store) {
  Preferences preferences;
  Reader reader(store);
  reader.Text(kUserName, preferences.user_name)
      .Text(kUserComment, preferences.user_comment)
      .Text(kServerName, preferences.server_name, kDefaultServerAddress)
      .Text(kServerDescription, preferences.server_description)
      .Int(kReceiveAtStartup, preferences.receive_at_startup, 0)
      .Int(kReceiveEvery30Minutes, preferences.receive_every_30_minutes, 0)
      .Int(kPlaySounds, preferences.play_sounds, 1);
  if (!reader.ok())
    return std::nullopt;
  return preferences;
}

bool SavePreferences(SettingsStore& store, const Preferences& preferences,
                     std::optional<std::int32_t> received_counter) {
  std::vector<SettingsStore::Entry> entries = {
      {kUserName, preferences.user_name},
      {kUserComment, preferences.user_comment},
      {kServerName, preferences.server_name},
      {kServerDescription, preferences.server_description},
      {kReceiveAtStartup, preferences.receive_at_startup},
      {kReceiveEvery30Minutes, preferences.receive_every_30_minutes},
      {kPlaySounds, preferences.play_sounds}};
  if (received_counter)
    entries.push_back({kReceivedCounter, *received_counter});
  return store.WriteValues(kOptionsSection, entries);
}

}  // namespace velkorant
