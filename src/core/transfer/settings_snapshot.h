// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The settings as another place holds them (a Windows registry export, Wine's registry, a
// backup's copy of the settings database), read into memory before anything here changes: the
// values below the application's key, and what that place deletes.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace velkorant {

// The application's key below the user's "Software" key, as the Windows program names it.
inline constexpr std::string_view kCompanyKey = "KRWTN_Software";
inline constexpr std::string_view kApplicationKey = "VLKRNTS";

// A value as found: text (Windows-1252 bytes) or a 32-bit integer. std::monostate: the source
// removes the value ("NAME"=- in a regedit file).
using SnapshotValue = std::variant<std::monostate, std::string, std::int32_t>;

struct SnapshotSection {
  // Below the application's key, in the letter case found: "Opciones", "PerfilPass\\Amigos".
  std::string path;
  // In the source's order, each name once (a later value of the same name, in any letter case,
  // replaces the earlier one in its place).
  std::vector<std::pair<std::string, SnapshotValue>> values;
};

struct SettingsSnapshot {
  // Every section below the application's key that the source holds, in order of first
  // appearance; only values the program keeps, of the type it keeps them as.
  std::vector<SnapshotSection> sections;
  // Sections the source deletes with everything below them ("[-KEY]"), in the source's order,
  // relative to the application's key ("" is the key itself). Applied before the values: a
  // section deleted and then written again in the source is in both lists.
  std::vector<std::string> deleted_sections;
  // What the source holds that could not be taken as it is, one line each for the user
  // (Windows-1252), naming the value and why: a type other than the program's, a character
  // Windows-1252 has no byte for. Nothing of these is in `sections`.
  std::vector<std::string> problems;
};

}  // namespace velkorant
