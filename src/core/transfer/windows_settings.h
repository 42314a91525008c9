// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The settings the Windows program keeps in its registry key, as a snapshot: read from a
// registry file's operations, or from this installation's own store in the same shape.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "settings/settings_store.h"
#include "transfer/registry_file.h"
#include "transfer/settings_snapshot.h"

namespace velkorant {

enum class KnownSection {
  kOptions,  // "Opciones"
  kProfile,  // every section below "PerfilPass", "Seleccion" and nested ones included
};

// A value the program keeps: a text (REG_SZ) or a 32-bit integer (REG_DWORD).
struct KnownValue {
  KnownSection section;
  std::string_view name;
  bool is_integer;
  std::string_view default_text;
  std::int32_t default_integer;
};

inline constexpr std::array<KnownValue, 15> kKnownValues = {{
    {KnownSection::kOptions, "NombreUsuario", false, "", 0},
    {KnownSection::kOptions, "ComentarioUsuario", false, "", 0},
    {KnownSection::kOptions, "NombreServidor", false, kDefaultServerAddress, 0},
    {KnownSection::kOptions, "DescripcionServidor", false, "", 0},
    {KnownSection::kOptions, "AutoMsjInicio", true, "", 0},
    {KnownSection::kOptions, "AutoMsjTiempo", true, "", 0},
    {KnownSection::kOptions, "ReproSonidos", true, "", 1},
    {KnownSection::kOptions, "MsjsRecibidos", true, "", 0},
    {KnownSection::kOptions, "EjecPrimVez", true, "", 1},
    {KnownSection::kProfile, "PerfilNombre", false, "", 0},
    {KnownSection::kProfile, "Password", false, "", 0},
    {KnownSection::kProfile, "Comentario1", false, "", 0},
    {KnownSection::kProfile, "Comentario2", false, "", 0},
    {KnownSection::kProfile, "Comentario3", false, "", 0},
    {KnownSection::kProfile, "Comentario4", false, "", 0},
}};

// The kind of a section below the application's key, or nullopt for one the program does not
// keep values in ("PerfilPass" itself holds only its profiles).
std::optional<KnownSection> SectionKind(std::string_view path);
// The value of that name, matched without regard to letter case, or nullptr.
const KnownValue* FindKnownValue(KnownSection section, std::string_view name);

// The operations below HKEY_CURRENT_USER\Software\KRWTN_Software\VLKRNTS (also written HKCU),
// replayed in order; the rest of the file is ignored. Values the program does not keep as they
// are go to `problems`, each with its line, key and name.
SettingsSnapshot SnapshotFromRegistry(const std::vector<RegistryOp>& ops);

// The store's "Opciones" and "PerfilPass" sections, with the values present. Passwords are read
// (from the keyring where the profile keeps its password there) only with `with_passwords`;
// without it the keyring is never asked. nullopt when the store or the keyring cannot be read,
// with the reason in *outcome.
std::optional<SettingsSnapshot> SnapshotFromStore(SettingsStore& store, bool with_passwords,
                                                  ProfileOutcome* outcome = nullptr);

}  // namespace velkorant
