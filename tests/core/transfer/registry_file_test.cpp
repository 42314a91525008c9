// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/registry_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "platform/ansi_text.h"
#include "settings/password_profiles.h"
#include "support/installation.h"
#include "transfer/windows_settings.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using testing::Installation;

const fs::path kData = fs::path(VELKORANT_SOURCE_DIR) / "tests/data/windows";

// The snapshot as UTF-8 lines, control characters as \xNN, so that a difference reads plainly.
std::string Dump(const SettingsSnapshot& snapshot) {
  std::string out;
  const auto text = [&out](std::string_view ansi) {
    for (const char c : AnsiToUtf8(ansi)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
      out += static_cast<unsigned char>(c) < 0x20 ? hex : std::string(1, c);
    }
  };
  for (const std::string& deleted : snapshot.deleted_sections)
    out += "deleted [", text(deleted), out += "]\n";
  for (const SnapshotSection& section : snapshot.sections) {
    out += "[", text(section.path), out += "]\n";
    for (const auto& [name, value] : section.values) {
      out += name + "=";
      if (const auto* number = std::get_if<std::int32_t>(&value))
        out += std::to_string(*number);
      else if (const auto* value_text = std::get_if<std::string>(&value))
        out += '"', text(*value_text), out += '"';
      else
        out += "-";
      out += "\n";
    }
  }
  for (const std::string& problem : snapshot.problems)
    out += "problem ", text(problem), out += "\n";
  return out;
}

SettingsSnapshot Read(const std::string& bytes, bool wine = false) {
  const RegistryParse parse = wine ? ParseWineRegistry(bytes) : ParseRegeditFile(bytes);
  EXPECT_TRUE(parse.ok()) << AnsiToUtf8(parse.error);
  return SnapshotFromRegistry(parse.ops);
}

// Hand-written files and the ones Wine 8.0 wrote (reg add, regedit /E, its user.reg), each
// against the snapshot its .expected file spells out.
TEST(RegistryFile, FilesGiveTheirSnapshots) {
  for (const fs::path file : {"regedit5.reg", "regedit4.reg", "wine-user.reg",
                              "wine/regedit-export.reg", "wine/user.reg"}) {
    SCOPED_TRACE(file);
    const SettingsSnapshot snapshot =
        Read(Installation::Bytes(kData / file), file.filename().string().ends_with("user.reg"));
    EXPECT_EQ(Dump(snapshot),
              Installation::Bytes(kData / fs::path(file).replace_extension(".expected")));
  }
  // The hand-written export as an editor here saves it, in UTF-8 with its mark and without.
  const std::string utf16 = Installation::Bytes(kData / "regedit5.reg");
  std::string utf8;
  for (const char16_t unit : FromUtf16Le(utf16.substr(2)))
    AppendUtf8(utf8, unit);
  for (const std::string& bytes : {utf8, "\xEF\xBB\xBF" + utf8})
    EXPECT_EQ(Dump(Read(bytes)), Installation::Bytes(kData / "regedit5.expected"));
  // Read and written again, Wine's export comes out byte for byte.
  const std::string wine = Installation::Bytes(kData / "wine/regedit-clean.reg");
  EXPECT_EQ(WriteRegeditFile(Read(wine)), wine);
}

// Cut short or with a byte changed, a file gives nothing but the line it could not read.
TEST(RegistryFile, DamagedFilesNameTheLine) {
  constexpr std::string_view kCut = "\x01", kCutOdd = "\x02";  // cut after `find` (and a byte)
  struct Case {
    const char* file;
    std::string_view find, replace;
    int line;
  } const cases[] = {
      {"regedit5.reg", "Version 5.00", "Version 5.01", 1},
      {"regedit5.reg", "\"Begoña", kCut, 10},
      {"regedit5.reg", "6e,\\\n", kCut, 13},
      {"regedit5.reg", "25,00,48", "25,00;48", 13},
      {"regedit5.reg", "  00,00,00", "", 14},
      {"regedit5.reg", "\"AutoMsjInicio\"", "AutoMsjInicio\"", 15},
      {"regedit5.reg", "dword:0000a1", kCut, 18},
      {"regedit5.reg", "\"Amigos", kCutOdd, 32},
      {"regedit4.reg", "[HKEY_CURRENT_USER\\Software\\KRWTN", kCut, 3},
      {"regedit4.reg", "[HKEY_CURRENT_USER\\Software\\KRWTN_Software\\VLKRNTS\\Opciones]", ";", 4},
      {"regedit4.reg", "dword:7fffffff", "dword:7fffffff0", 8},
      {"regedit4.reg", "hex(4):01,00\r", "hex(4):01,0\r", 10},
      {"regedit4.reg", "Trabajo\"", "Trabajo", 14},
      {"wine-user.reg", "REGISTRY", "REGISTRO", 1},
      {"wine-user.reg", "Ni\\xf1o", "Ni\\xgo", 8},
      {"wine-user.reg", "\"Pe", "\"Pé", 8},
      {"wine-user.reg", "2f,00,\\\n", kCut, 11},
      {"wine-user.reg", "\\]]", "\\]", 23},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + ": " + std::string(c.find));
    std::string bytes = Installation::Bytes(kData / c.file);
    const bool utf16 = bytes.starts_with("\xFF\xFE");
    const auto encode = [utf16](std::string_view utf8) {
      const std::string ansi = Ansi(utf8);
      std::string out;
      for (const char16_t unit : AnsiToUtf16(ansi))
        out += utf16 ? std::string{static_cast<char>(unit), static_cast<char>(unit >> 8)}
                     : std::string(1, static_cast<char>(unit));
      return out;
    };
    const std::string find = encode(c.find);
    const std::size_t at = bytes.find(find);
    ASSERT_NE(at, std::string::npos);
    if (c.replace == kCut || c.replace == kCutOdd)
      bytes.resize(at + find.size() + (c.replace == kCutOdd));
    else
      bytes.replace(at, find.size(), encode(c.replace));
    const RegistryParse parse =
        c.file[0] == 'w' ? ParseWineRegistry(bytes) : ParseRegeditFile(bytes);
    EXPECT_TRUE(parse.ops.empty());
    EXPECT_EQ(parse.error_line, c.line);
    EXPECT_TRUE(parse.error.starts_with(Ansi("línea ") + std::to_string(c.line) + ": "))
        << AnsiToUtf8(parse.error);
  }
}

// Whatever texts and numbers the program keeps come back from its own file as they were.
TEST(RegistryFile, WrittenSnapshotsReadBackTheSame) {
  std::string high, low;
  for (int c = 0x01; c <= 0xFF; ++c)
    (c < 0x80 ? low : high) += static_cast<char>(c);
  const SettingsSnapshot snapshot{{{"Opciones",
                                    {{"ComentarioUsuario", high},
                                     {"DescripcionServidor", low},
                                     {"NombreServidor", std::string("a\0b\r\n", 5)}}}},
                                  {"", "PerfilPass\\Viejo"},
                                  {}};
  const std::string file = WriteRegeditFile(snapshot);
  EXPECT_EQ(Dump(Read(file)), Dump(snapshot));
  // Long hex values break where regedit breaks them: as in Wine's export of a value of that name.
  const auto continued_lines = [](const std::string& utf16) {
    const std::u16string text = FromUtf16Le(utf16.substr(2));
    std::set<std::size_t> lengths;
    for (std::size_t at = 0; (at = text.find(u",\\\r\n", at)) != text.npos; ++at)
      lengths.insert(at + 2 - (text.rfind(u'\n', at) + 1));  // up to the backslash
    return lengths;
  };
  EXPECT_EQ(continued_lines(file),
            continued_lines(Installation::Bytes(kData / "wine/regedit-export.reg")));
}

// An installation's settings, written for Windows and read back: the same, passwords only when
// asked for; a value of the wrong type is told, not written.
TEST(RegistryFile, StoreSettingsGoThroughAFileUnchanged) {
  const Installation installation;
  SettingsStore store;
  ASSERT_TRUE(SavePreferences(
      store, {Ansi("Begoña_1"), Ansi("Dice \"sí\"\r\n"), "b.es/", "", 1, 0, 1}, 77));
  for (const std::string name : {"Amigos", "Familia\\Primos", "Seleccion"})
    ASSERT_TRUE(WriteProfile(store, name, {name, "clave " + name, {Ansi("€"), "", "", Ansi("ñ")}}));
  ASSERT_TRUE(store.WriteText(kOptionsSection, "EjecPrimVez", "0"));
  ProfileOutcome outcome = ProfileOutcome::Failed();
  auto with = SnapshotFromStore(store, true, &outcome);
  ASSERT_TRUE(with && outcome);
  ASSERT_EQ(with->problems.size(), 1u);
  EXPECT_TRUE(with->problems[0].starts_with("Opciones\\EjecPrimVez es REG_SZ"));
  with->problems.clear();
  EXPECT_EQ(Dump(*with), Installation::Bytes(kData / "store.expected"));

  auto without = SnapshotFromStore(store, false).value();
  without.problems.clear();
  for (SnapshotSection& section : with->sections)
    std::erase_if(section.values, [](const auto& value) { return value.first == "Password"; });
  EXPECT_EQ(Dump(without), Dump(*with));

  fs::remove(installation.settings_file());
  fs::create_directory(installation.settings_file());
  SettingsStore unreadable;
  EXPECT_FALSE(SnapshotFromStore(unreadable, false, &outcome));
  EXPECT_FALSE(outcome);
}

}  // namespace
}  // namespace velkorant
