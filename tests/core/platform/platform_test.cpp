// SPDX-License-Identifier: GPL-3.0-or-later
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "platform/ansi_text.h"
#include "platform/ini_file.h"
#include "platform/settings_db.h"
#include "support/installation.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::Installation;
using Names = std::vector<std::string>;

std::string Bytes(const fs::path& file) {
  return fs::is_directory(file) ? "a folder" : Installation::Bytes(file);
}

// Every byte comes back. Utf8ToAnsi takes Windows' best fit, else '?'; Utf8ToAnsiExact (for
// passwords) refuses whatever would not come back as it was. Malformed: a lone lead byte, a cut
// sequence, an overlong '/', an encoded surrogate.
TEST(AnsiText, RoundTripBestFitAndExactConversion) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte)
    all += static_cast<char>(byte);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(Utf16ToAnsi(AnsiToUtf16(all)), all);
  EXPECT_EQ(Utf8ToAnsiExact(AnsiToUtf8(all)), all);
  struct Case {
    std::string utf8, best_fit;
    std::optional<std::string> exact;
  } const cases[] = {{"año 25 €", "a\xF1o 25 \x80", "a\xF1o 25 \x80"},
                     {"Łódź", "L\363dz", {}},
                     {"😀", "?", {}},
                     {"\xF1", "?", {}},
                     {"a\xC3", "a?", {}},
                     {"\xC0\xAF", "??", {}},
                     {"\xED\xA0\x80z", "???z", {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8ToAnsi(c.utf8), c.best_fit);
    EXPECT_EQ(Utf8ToAnsiExact(c.utf8), c.exact);
  }
  EXPECT_EQ(Utf16ToAnsi(std::u16string{0xD83D, 0xDE00, u'x', 0xD800, u'b'}), "?x?b");
}

// A Unicode profile file as Windows writes it: UTF-16LE after its byte-order mark.
std::string Utf16Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text)
    bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return bytes;
}

// Edits change only their lines; names match without regard to case and keep their spelling.
TEST(IniDocument, EditsChangeOnlyTheirLines) {
  const auto write = [](std::string k, std::string v) -> std::function<void(IniDocument&)> {
    return [=](IniDocument& d) { ASSERT_TRUE(d.WriteString("s", k, v)); };
  };
  const std::string odd = "\0junk\n; c\r\n[s]\n  a = 1 \n\n#x\r[t]\r\nb=2"s;
  const std::u16string nota = u"; nota: 日本語 ü € 😀\r\n[s]\r\nk=ñ\r\n";
  struct Case {
    std::string before;
    std::function<void(IniDocument&)> edit;
    std::string after;
  } const cases[] = {
      {"", write("k", ""), "[s]\r\nk=\r\n"},
      {"[App1]\r\nkey1=val1\r\nkey2=\r\n[App2]\r\nkey1=x\r\n",
       [](IniDocument& d) {
         d.WriteString(" app1 ", "KEY1", "nuevo"), d.DeleteKey("APP2", "Key1");
       },
       "[App1]\r\nkey1=nuevo\r\nkey2=\r\n[App2]\r\n"},
      {odd, write("A", "9"), "\0junk\n; c\r\n[s]\na=9\n\n#x\r[t]\r\nb=2"s},
      {"[t]\r\nk=v", write("a", "b"), "[t]\r\nk=v\r\n[s]\r\na=b\r\n"},
      {"[s]\r\nk=v\r\n\r\n[t]\r\n", write("n", "1"), "[s]\r\nk=v\r\nn=1\r\n\r\n[t]\r\n"},
      {"x=0\r\n[s]\r\nk=1\r\n; c\r\n\r\n[b]\r\n", [](IniDocument& d) { d.DeleteSection("s"); },
       "x=0\r\n[b]\r\n"},
      {"\xEF\xBB\xBF[s]\nk=v\n",
       [](IniDocument& d) { d.DeleteSection("s"), d.WriteString("t", "k", "w"); },
       "\xEF\xBB\xBF[t]\r\nk=w\r\n"},
      {Utf16Le(nota), write("n", "\xE9"), Utf16Le(nota + u"n=é\r\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    IniDocument d = IniDocument::Parse(c.before);
    c.edit(d);
    EXPECT_EQ(d.Serialize(), c.after);
  }
}

TEST(IniDocument, ReadRules) {
  struct Case {
    std::string file, section, key, value;
  } const cases[] = {
      {"\xEF\xBB\xBF[ s ]\r\n  Key A  =  spaced value \t\r\n", "S", "key a", "spaced value"},
      {"[s]\r\n; k=comment\r\n", "s", "; k", "DEF"},
      {"[s]\r\n#k=ordinary\r\n", "s", "#k", "ordinary"},
      {"[s]\r\nk=first\r\nK=second\r\n", "s", "k", "first"},
      {"[s]\r\n[S]\r\nk=later\r\n", "s", "k", "DEF"},  // only the first of two sections is read
      {"[s]\n[broken\nk=after broken\n", "s", "k", "after broken"},
      {"[A\xD1O \x8A]\r\n\xC9=1\r\n", "a\xF1o \x9A", "\xE9", "1"},
      {"[s]\r\nk=" + std::string(5000, 'v'), "s", "k", std::string(4095, 'v')},  // Windows' buffer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.substr(0, 40));
    EXPECT_EQ(IniDocument::Parse(c.file).GetString(c.section, c.key, "DEF  "), c.value);
  }
}

// A link or a folder at the file's name is the user's doing, and a file this program could not
// read back must not be made: each is refused, reported and left as it was. (A read-only file is
// refused in the store's test.)
TEST(IniFile, RefusesWhatItMustNotReplace) {
  const Installation folder;
  const fs::path path = "f.ini", real = "real.ini";
  const auto put = [](const fs::path& file) { std::ofstream(file) << "[s]\r\nk=1\r\n"; };
  struct Case {
    const char* name;
    std::function<void()> make;
    std::int64_t limit;
    std::string value;
    const char* reason;  // nullptr: written
  } const cases[] = {
      {"a link", [&] { fs::create_symlink(real, path); }, IniFile::kMaxFileSize, "2", "enlace"},
      {"a folder", [&] { fs::create_directory(path); }, IniFile::kMaxFileSize, "2",
       "no se puede leer"},
      {"too big to read", [&] { put(path); }, 10, "2", "demasiado grande"},
      {"too big once written", [&] { put(path); }, 11, "22", "demasiado grande"},
      {"at the limit once written", [&] { put(path); }, 11, "2", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(path);
    put(real);
    c.make();
    const auto type = fs::symlink_status(path).type();
    const std::string before = Bytes(path);
    IniFile file(path, c.limit);
    const FileOutcome written = file.WriteString("s", "k", c.value);
    EXPECT_EQ(written.ok, c.reason == nullptr);
    EXPECT_THAT(written.error, ::testing::HasSubstr(c.reason ? c.reason : ""));
    EXPECT_EQ(std::tuple(fs::symlink_status(path).type(), Bytes(path), Bytes(real)),
              std::tuple(type, c.reason ? before : "[s]\r\nk=2\r\n", "[s]\r\nk=1\r\n"));
  }
}

// Reads create nothing, values keep their bytes and types, and keys and subkeys are named and
// sorted as on Windows.
TEST(SettingsDatabase, ValuesKeysAndSubkeys) {
  const Installation installation;
  const fs::path path = installation.root() / "private" / "settings.sqlite3";
  SettingsDatabase db{path};
  EXPECT_EQ(std::tuple(db.ReadText("T", "x"), db.DeleteKey("T"), db.status()),
            std::tuple(std::nullopt, DeleteKeyResult::kAbsent, SettingsDatabaseStatus::kOk));
  EXPECT_FALSE(fs::exists(path.parent_path()));
  const std::string bytes = "\0\x01\x7F\x80\xFF z"s;
  const ValueWrite writes[] = {
      {"T", "bytes", bytes}, {"T", "empty", ""}, {"T", "n", -5}, {"T", "digits", "7"}};
  const mode_t old_mask = ::umask(0);  // the modes must not depend on it
  EXPECT_TRUE(db.WriteValues(writes));
  ::umask(old_mask);
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(path.parent_path()).permissions(), fs::perms::owner_all);
  // An integer reads as its decimal text; a text of digits is no number to a reader.
  EXPECT_EQ(std::tuple(db.ReadText("T", "bytes"), db.ReadText("T", "empty"), db.ReadText("T", "n"),
                       db.ReadInt("T", "n"), db.ReadInt("T", "digits")),
            std::tuple(bytes, "", "-5", -5, std::nullopt));
  ASSERT_TRUE(db.WriteInt("T", "DIGITS", 8));
  EXPECT_EQ(db.ReadInt("T", "digits"), 8);
  // All or nothing; and neither reads nor removals create keys.
  const ValueWrite failing[] = {{"U", "uno", 1}, {"\\bad", "dos", "2"}};
  const std::monostate remove;
  const ValueWrite removals[] = {{"T", "n", remove}, {"T\\Sub", "x", remove}, {"U", "x", remove}};
  EXPECT_FALSE(db.WriteValues(failing));
  ASSERT_TRUE(db.WriteValues(removals));
  EXPECT_EQ(std::tuple(db.ReadText("T", "n"), db.ReadText("T", "empty"), db.ReadText("V", "")),
            std::tuple(std::nullopt, "", std::nullopt));
  EXPECT_EQ(std::tuple(db.SubkeyNames(""), db.SubkeyNames("T")), std::tuple(Names{"T"}, Names{}));

  // Windows-1252 letters too: Ñ/ñ, Š/š (8A/9A), Ÿ/ÿ (9F/FF).
  ASSERT_TRUE(db.WriteText("PerfilPass\\\xD1\x8A\x9F", "Password", "1") &&
              db.WriteText("PERFILPASS\\\xF1\x9A\xFF", "PASSWORD", "2"));
  EXPECT_EQ(db.ReadText("perfilpass\\\xF1\x8A\xFF", "password"), "2");
  EXPECT_EQ(db.SubkeyNames("PerfilPass"), Names{"\xD1\x8A\x9F"});
  for (const char* name : {"b", "A_B", "zeta", "AB", "[x", "_x", "a", "\xF1u", "Nu", "\x80"})
    ASSERT_TRUE(db.WriteInt(std::string("K\\") + name, "v", 1)) << name;
  // Upper-cased, "_" (5F) and "[" (5B) come after the letters; Ñ (D1) and € (U+20AC) after ASCII.
  EXPECT_EQ(db.SubkeyNames("K"),
            (Names{"a", "AB", "A_B", "b", "Nu", "zeta", "[x", "_x", "\xF1u", "\x80"}));

  ASSERT_TRUE(db.WriteText("A\\B\\C", "v", "abajo"));
  EXPECT_EQ(db.DeleteKey("a\\b"), DeleteKeyResult::kHasSubkeys);
  EXPECT_EQ(db.DeleteKey("A\\B\\c"), DeleteKeyResult::kDeleted);
  EXPECT_EQ(db.DeleteKey("A\\B\\C"), DeleteKeyResult::kAbsent);
  EXPECT_EQ(db.DeleteKey(""), DeleteKeyResult::kFailed);  // never the root
  // A key made again under an old name starts empty, in its new spelling.
  ASSERT_TRUE(db.WriteInt("A\\b\\c", "w", 1));
  EXPECT_EQ(std::tuple(db.ReadText("A\\B\\C", "v"), db.SubkeyNames("A\\B")),
            std::tuple(std::nullopt, Names{"c"}));
}

}  // namespace
}  // namespace velkorant
