#include "platform/settings_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace velkorant {
namespace {

namespace fs = std::filesystem;

using Names = std::vector<std::string>;

std::string FileBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

unsigned Mode(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 0777;
}

class SettingsDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velkorant-db-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ / "config" / "settings.sqlite3";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Raw SQL on the file, as another program would do it.
  void Sql(const std::string& statements) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  fs::path dir_;
  fs::path path_;
};

TEST_F(SettingsDatabaseTest, ReadsOfAFreshStoreFindNothingAndCreateNothing) {
  SettingsDatabase db(path_);
  EXPECT_EQ(db.ReadText("Opciones", "NombreUsuario"), std::nullopt);
  EXPECT_EQ(db.ReadInt("Opciones", "ReproSonidos"), std::nullopt);
  EXPECT_FALSE(db.KeyExists("Opciones"));
  EXPECT_EQ(db.SubkeyNames(""), std::nullopt);
  EXPECT_EQ(db.DeleteKey("PerfilPass\\Amigo"), DeleteKeyResult::kAbsent);
  EXPECT_EQ(db.status(), SettingsDatabaseStatus::kOk);
  EXPECT_FALSE(fs::exists(path_.parent_path()));

  // Nor do reads of an existing database add the keys they look for.
  ASSERT_TRUE(db.WriteInt("Opciones", "MsjsRecibidos", 3));
  EXPECT_EQ(db.ReadText("PerfilPass\\Amigo", "Password"), std::nullopt);
  EXPECT_EQ(db.SubkeyNames(""), Names{"Opciones"});
}

TEST_F(SettingsDatabaseTest, CreatesPrivateFoldersAndFile) {
  const mode_t old_umask = ::umask(0);  // the modes must not depend on it
  SettingsDatabase db(path_);
  const bool written = db.WriteText("Opciones", "NombreUsuario", "Hannah");
  ::umask(old_umask);
  ASSERT_TRUE(written);
  EXPECT_EQ(Mode(path_), 0600u);
  EXPECT_EQ(Mode(path_.parent_path()), 0700u);
}

TEST_F(SettingsDatabaseTest, DefaultPathFollowsXdgConfigHome) {
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = saved_xdg != nullptr ? saved_xdg : "";
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";

  ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
  EXPECT_EQ(SettingsDatabase::DefaultPath(), "/tmp/xdg/KRWTN_Software/VLKRNTS/settings.sqlite3");
  for (const char* unusable : {"", "relative/path"}) {
    ::setenv("XDG_CONFIG_HOME", unusable, 1);
    EXPECT_EQ(SettingsDatabase::DefaultPath(),
              fs::path(home) / ".config/KRWTN_Software/VLKRNTS/settings.sqlite3")
        << unusable;
  }
  if (saved_xdg != nullptr) {
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

TEST_F(SettingsDatabaseTest, NamesIgnoreCaseAndKeepTheFirstSpelling) {
  SettingsDatabase db(path_);
  ASSERT_TRUE(db.WriteText("PerfilPass\\Amigo", "Password", "primera"));
  ASSERT_TRUE(db.WriteText("PERFILPASS\\AMIGO", "PASSWORD", "segunda"));
  EXPECT_EQ(db.ReadText("perfilpass\\amigo", "password"), "segunda");
  EXPECT_EQ(db.SubkeyNames(""), Names{"PerfilPass"});
  EXPECT_EQ(db.SubkeyNames("PerfilPass"), Names{"Amigo"});

  // Windows-1252 letters beyond ASCII: Ñ/ñ, Ÿ (9F)/ÿ (FF), Š (8A)/š (9A).
  ASSERT_TRUE(
      db.WriteText("\xD1"
                   "and\xFA",
                   "\x8A", "1"));
  EXPECT_EQ(db.ReadText("\xF1"
                        "AND\xDA",
                        "\x9A"),
            "1");
  ASSERT_TRUE(db.WriteText("\x9F", "v", "2"));
  EXPECT_EQ(db.ReadText("\xFF", "V"), "2");
  EXPECT_TRUE(NamesEqualIgnoringCase("a\xE9z", "A\xC9Z"));
  EXPECT_FALSE(NamesEqualIgnoringCase("a", "a "));
  EXPECT_FALSE(NamesEqualIgnoringCase("\xF7", "\xD7"));  // ÷ and × are no case pair
}

TEST_F(SettingsDatabaseTest, BackslashNestsKeys) {
  SettingsDatabase db(path_);
  ASSERT_TRUE(db.WriteText("A\\B\\C", "v", "abajo"));
  EXPECT_EQ(db.SubkeyNames(""), Names{"A"});
  EXPECT_EQ(db.SubkeyNames("a"), Names{"B"});
  EXPECT_EQ(db.SubkeyNames("A\\B"), Names{"C"});
  EXPECT_EQ(db.ReadText("a\\b\\c", "V"), "abajo");
  EXPECT_EQ(db.ReadText("A\\B\\C\\", "v"), "abajo");  // one trailing separator is ignored
  EXPECT_EQ(db.ReadText("A", "v"), std::nullopt);

  // Value names are not paths.
  ASSERT_TRUE(db.WriteText("A", "x\\y", "literal"));
  EXPECT_EQ(db.ReadText("A", "x\\y"), "literal");
  EXPECT_EQ(db.SubkeyNames("A"), Names{"B"});

  for (const std::string& bad :
       std::vector<std::string>{"\\A", "A\\\\B", "A\\\\", "\\", std::string(256, 'k')}) {
    EXPECT_FALSE(db.WriteText(bad, "v", "x")) << bad;
  }
  EXPECT_TRUE(db.WriteText(std::string(255, 'k'), "v", "x"));
  EXPECT_EQ(db.SubkeyNames("")->size(), 2u);
}

TEST_F(SettingsDatabaseTest, SubkeysEnumerateByUpperCasedName) {
  SettingsDatabase db(path_);
  for (const char* name : {"b", "A_B", "zeta", "AB", "[x", "_x", "a", "\xF1u", "Nu", "\x80"}) {
    ASSERT_TRUE(db.WriteInt(std::string("K\\") + name, "v", 1)) << name;
  }
  // Upper-cased, "_" (5F) and "[" (5B) come after the letters; Ñ (D1) and € (U+20AC) after ASCII.
  EXPECT_EQ(db.SubkeyNames("K"),
            (Names{"a", "AB", "A_B", "b", "Nu", "zeta", "[x", "_x", "\xF1u", "\x80"}));
}

TEST_F(SettingsDatabaseTest, KeyWithSubkeysIsNotDeleted) {
  SettingsDatabase db(path_);
  ASSERT_TRUE(db.WriteText("PerfilPass\\Trabajo", "Password", "arriba"));
  ASSERT_TRUE(db.WriteText("PerfilPass\\Trabajo\\Ana", "Password", "abajo"));

  EXPECT_EQ(db.DeleteKey("PerfilPass\\trabajo"), DeleteKeyResult::kHasSubkeys);
  EXPECT_EQ(db.ReadText("PerfilPass\\Trabajo", "Password"), "arriba");
  EXPECT_EQ(db.ReadText("PerfilPass\\Trabajo\\Ana", "Password"), "abajo");

  EXPECT_EQ(db.DeleteKey("PerfilPass\\Trabajo\\ANA"), DeleteKeyResult::kDeleted);
  EXPECT_EQ(db.DeleteKey("PerfilPass\\Trabajo\\Ana"), DeleteKeyResult::kAbsent);
  EXPECT_EQ(db.DeleteKey("PerfilPass\\Trabajo"), DeleteKeyResult::kDeleted);
  EXPECT_EQ(db.SubkeyNames("PerfilPass"), Names{});
  EXPECT_EQ(db.DeleteKey(""), DeleteKeyResult::kFailed);  // never the root

  // A key made again under the old name starts empty, in its new spelling.
  ASSERT_TRUE(db.WriteText("PerfilPass\\TRABAJO", "Comentario1", "nuevo"));
  EXPECT_EQ(db.ReadText("PerfilPass\\Trabajo", "Password"), std::nullopt);
  EXPECT_EQ(db.SubkeyNames("PerfilPass"), Names{"TRABAJO"});
}

TEST_F(SettingsDatabaseTest, ValuesKeepTheirBytesAndTypes) {
  SettingsDatabase db(path_);
  std::string every_byte;
  for (int i = 0; i < 256; ++i)
    every_byte.push_back(static_cast<char>(i));
  ASSERT_TRUE(db.WriteText("T", "bytes", every_byte));
  ASSERT_TRUE(db.WriteText("T", "empty", ""));
  ASSERT_TRUE(db.WriteInt("T", "number", -5));
  ASSERT_TRUE(db.WriteInt("T", "big", INT32_MAX));
  ASSERT_TRUE(db.WriteText("T", "digits", "7"));

  EXPECT_EQ(db.ReadText("T", "bytes"), every_byte);
  EXPECT_EQ(db.ReadText("T", "empty"), "");  // present, not absent
  EXPECT_EQ(db.ReadInt("T", "number"), -5);
  EXPECT_EQ(db.ReadInt("T", "big"), INT32_MAX);
  EXPECT_EQ(db.ReadText("T", "number"), "-5");
  EXPECT_EQ(db.ReadInt("T", "digits"), std::nullopt);

  // A write replaces type and value.
  ASSERT_TRUE(db.WriteInt("T", "DIGITS", 8));
  EXPECT_EQ(db.ReadInt("T", "digits"), 8);
}

TEST_F(SettingsDatabaseTest, ValuesSurviveReopeningAndAreSharedBetweenConnections) {
  {
    SettingsDatabase db(path_);
    ASSERT_TRUE(db.WriteText("Opciones", "NombreUsuario", "Hannah"));
    ASSERT_TRUE(db.WriteInt("Opciones", "MsjsRecibidos", 41));
  }
  SettingsDatabase first(path_);
  SettingsDatabase second(path_);
  EXPECT_EQ(first.ReadText("Opciones", "NombreUsuario"), "Hannah");
  EXPECT_EQ(first.ReadInt("opciones", "msjsrecibidos"), 41);
  ASSERT_TRUE(second.WriteInt("Opciones", "MsjsRecibidos", 42));
  EXPECT_EQ(first.ReadInt("Opciones", "MsjsRecibidos"), 42);
  EXPECT_EQ(second.DeleteKey("Opciones"), DeleteKeyResult::kDeleted);
  EXPECT_FALSE(first.KeyExists("Opciones"));
}

TEST_F(SettingsDatabaseTest, BatchIsAllOrNothing) {
  SettingsDatabase db(path_);
  const ValueWrite writes[] = {{"A", "uno", std::int32_t{1}}, {"\\bad", "dos", "2"}};
  EXPECT_FALSE(db.WriteValues(writes));
  EXPECT_FALSE(db.KeyExists("A"));
  const ValueWrite good[] = {{"A", "uno", std::int32_t{1}}, {"A\\B", "dos", "2"}};
  EXPECT_TRUE(db.WriteValues(good));
  EXPECT_EQ(db.ReadInt("A", "uno"), 1);
  EXPECT_EQ(db.ReadText("A\\B", "dos"), "2");
}

TEST_F(SettingsDatabaseTest, DamagedFilesAreLeftAloneAndReadAsEmpty) {
  fs::create_directories(path_.parent_path());
  std::string garbage;
  for (int i = 0; i < 5000; ++i)
    garbage.push_back(static_cast<char>((i * 7919) % 251));
  const std::string cases[] = {
      garbage,
      "SQLite format 3" + garbage,  // a plausible magic with a broken header
  };
  for (const std::string& content : cases) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
    SettingsDatabase db(path_);
    EXPECT_EQ(db.ReadText("Opciones", "NombreUsuario"), std::nullopt);
    EXPECT_EQ(db.status(), SettingsDatabaseStatus::kCorrupt);
    EXPECT_FALSE(db.status_message().empty());
    EXPECT_FALSE(db.WriteText("Opciones", "NombreUsuario", "x"));
    EXPECT_FALSE(db.WriteInt("Opciones", "MsjsRecibidos", 1));
    EXPECT_EQ(db.DeleteKey("Opciones"), DeleteKeyResult::kFailed);
    EXPECT_EQ(db.SubkeyNames(""), std::nullopt);
    EXPECT_EQ(FileBytes(path_), content);
    // No journal or other file was left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(path_.parent_path()), {}), 1);
  }
}

TEST_F(SettingsDatabaseTest, DamagedPagesAreFoundBeforeAnyWrite) {
  {
    SettingsDatabase db(path_);
    for (int i = 0; i < 200; ++i) {
      ASSERT_TRUE(db.WriteText("K" + std::to_string(i), "v", std::string(100, 'x')));
    }
  }
  std::string bytes = FileBytes(path_);
  ASSERT_GT(bytes.size(), 3 * 4096u);
  // The last page: a leaf of the values, far from the pages a look-up of "K0" goes through.
  for (std::size_t i = bytes.size() - 4096; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(0xA5);
  std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;

  // Found at the first read, even of a value whose own pages are intact, so nothing is ever
  // written into the damaged file.
  SettingsDatabase db(path_);
  EXPECT_EQ(db.ReadText("K0", "v"), std::nullopt);
  EXPECT_EQ(db.status(), SettingsDatabaseStatus::kCorrupt);
  EXPECT_FALSE(db.WriteText("Opciones", "NombreUsuario", "x"));
  EXPECT_EQ(FileBytes(path_), bytes);
}

TEST_F(SettingsDatabaseTest, NewerFormatIsNotWrittenInto) {
  fs::create_directories(path_.parent_path());
  Sql("CREATE TABLE future(x); PRAGMA user_version = 2;");
  const std::string before = FileBytes(path_);
  SettingsDatabase db(path_);
  EXPECT_FALSE(db.WriteText("Opciones", "NombreUsuario", "x"));
  EXPECT_EQ(db.status(), SettingsDatabaseStatus::kCorrupt);
  EXPECT_EQ(FileBytes(path_), before);
}

TEST_F(SettingsDatabaseTest, EmptyFileIsAnEmptyStore) {
  fs::create_directories(path_.parent_path());
  std::ofstream(path_, std::ios::binary).flush();
  SettingsDatabase db(path_);
  EXPECT_EQ(db.ReadInt("Opciones", "EjecPrimVez"), std::nullopt);
  EXPECT_EQ(db.status(), SettingsDatabaseStatus::kOk);
  EXPECT_TRUE(db.WriteInt("Opciones", "EjecPrimVez", 0));
  EXPECT_EQ(db.ReadInt("Opciones", "EjecPrimVez"), 0);
}

TEST_F(SettingsDatabaseTest, LockedDatabaseFailsForTheMomentOnly) {
  SettingsDatabase db(path_, std::chrono::milliseconds(50));
  ASSERT_TRUE(db.WriteInt("Opciones", "MsjsRecibidos", 1));

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(db.WriteInt("Opciones", "MsjsRecibidos", 2));
  EXPECT_EQ(db.status(), SettingsDatabaseStatus::kUnavailable);
  EXPECT_EQ(db.ReadInt("Opciones", "MsjsRecibidos"), std::nullopt);
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);

  EXPECT_EQ(db.ReadInt("Opciones", "MsjsRecibidos"), 1);
  EXPECT_EQ(db.status(), SettingsDatabaseStatus::kOk);
  EXPECT_TRUE(db.WriteInt("Opciones", "MsjsRecibidos", 2));
  EXPECT_EQ(db.ReadInt("Opciones", "MsjsRecibidos"), 2);
}

TEST_F(SettingsDatabaseTest, ConcurrentProcessesLoseNoWrite) {
  constexpr int kProcesses = 3;
  constexpr int kWrites = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      {
        SettingsDatabase db(path_);
        for (int i = 0; i < kWrites; ++i) {
          if (!db.WriteInt("P" + std::to_string(p), "n" + std::to_string(i), i))
            ++failures;
        }
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  SettingsDatabase db(path_);
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kWrites; ++i) {
      EXPECT_EQ(db.ReadInt("P" + std::to_string(p), "n" + std::to_string(i)), i);
    }
  }
}

}  // namespace
}  // namespace velkorant
