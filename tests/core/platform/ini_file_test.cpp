#include "platform/ini_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string Edited(const std::string& before, const std::function<void(IniDocument&)>& edit) {
  IniDocument document = IniDocument::Parse(before);
  edit(document);
  return document.Serialize();
}

// The write / delete-key / delete-section sequence of Windows' own profile tests.
TEST(IniDocument, WritesAndDeletesGiveWindowsBytes) {
  IniDocument d = IniDocument::Parse("");
  ASSERT_TRUE(d.WriteString("App1", "key1", "val1"));
  EXPECT_EQ(d.Serialize(), "[App1]\r\nkey1=val1\r\n");
  ASSERT_TRUE(d.WriteString("App1", "key2", ""));
  ASSERT_TRUE(d.WriteString("App2", "key1", "x"));
  EXPECT_EQ(d.Serialize(), "[App1]\r\nkey1=val1\r\nkey2=\r\n[App2]\r\nkey1=x\r\n");
  // Names match without regard to case and keep the spelling they have in the file.
  ASSERT_TRUE(d.WriteString(" app1 ", "KEY1", "nuevo"));
  EXPECT_EQ(d.Serialize(), "[App1]\r\nkey1=nuevo\r\nkey2=\r\n[App2]\r\nkey1=x\r\n");
  ASSERT_TRUE(d.DeleteKey("APP2", "Key1"));
  EXPECT_EQ(d.Serialize(), "[App1]\r\nkey1=nuevo\r\nkey2=\r\n[App2]\r\n");
  ASSERT_TRUE(d.DeleteKey("App2", "missing"));
  ASSERT_TRUE(d.DeleteSection("nothing"));
  EXPECT_EQ(d.Serialize(), "[App1]\r\nkey1=nuevo\r\nkey2=\r\n[App2]\r\n");
  ASSERT_TRUE(d.DeleteSection("app1"));
  EXPECT_EQ(d.Serialize(), "[App2]\r\n");
}

TEST(IniDocument, WhereNewLinesGo) {
  // A missing final line end is added before a new section.
  EXPECT_EQ(Edited("[s]\r\nk=v", [](auto& d) { d.WriteString("t", "a", "b"); }),
            "[s]\r\nk=v\r\n[t]\r\na=b\r\n");
  // A new key follows the section's last entry, ahead of the blank line that closes it.
  EXPECT_EQ(
      Edited("[s]\r\nk=v\r\n\r\n[t]\r\nx=1\r\n", [](auto& d) { d.WriteString("s", "n", "1"); }),
      "[s]\r\nk=v\r\nn=1\r\n\r\n[t]\r\nx=1\r\n");
  EXPECT_EQ(Edited("[s]", [](auto& d) { d.WriteString("s", "n", "1"); }), "[s]\r\nn=1\r\n");
  EXPECT_EQ(Edited("[s]\r\n; nota\r\n", [](auto& d) { d.WriteString("s", "n", "1"); }),
            "[s]\r\nn=1\r\n; nota\r\n");
  // Appending a line end: ends an unfinished line, else makes an empty one.
  EXPECT_EQ(Edited("[s]\r\nk=v", [](auto& d) { d.AppendLineEnd(); }), "[s]\r\nk=v\r\n");
  EXPECT_EQ(Edited("[s]\r\nk=v\r\n", [](auto& d) { d.AppendLineEnd(); }), "[s]\r\nk=v\r\n\r\n");
  // Deleting a section takes everything up to the next header, comments and blanks included.
  EXPECT_EQ(Edited("x=0\r\n[a]\r\nk=1\r\n; c\r\n\r\n[b]\r\nk=2\r\n",
                   [](auto& d) { d.DeleteSection("a"); }),
            "x=0\r\n[b]\r\nk=2\r\n");
}

TEST(IniDocument, UntouchedBytesSurvive) {
  const std::string before = "\0junk\n; comment\r\n[s]\n  a = 1 \n\n#x\r[t]\r\nb=2"s;
  EXPECT_EQ(Edited(before, [](auto&) {}), before);
  EXPECT_EQ(Edited(before, [](auto& d) { d.WriteString("t", "b", "3"); }),
            "\0junk\n; comment\r\n[s]\n  a = 1 \n\n#x\r[t]\r\nb=3"s);
  EXPECT_EQ(Edited(before, [](auto& d) { d.WriteString("S", "A", "9"); }),
            "\0junk\n; comment\r\n[s]\na=9\n\n#x\r[t]\r\nb=2"s);
}

TEST(IniDocument, ReadRules) {
  const IniDocument d = IniDocument::Parse(
      "orphan=1\r\n"
      "[ s1 ]\r\n"
      "  Key A  =  spaced value \t\r\n"
      "q1=\"quoted \"\r\n"
      "q2='x'\r\n"
      "q3=\"\"twice\"\"\r\n"
      "q4=\"unbalanced'\r\n"
      "q5=\"\r\n"
      "eq=a=b\r\n"
      "tail=v ;not a comment\r\n"
      "; k=comment\r\n"
      "#hash=ordinary\r\n"
      "no equals here\r\n"
      "dup=first\r\n"
      "DUP=second\r\n"
      "empty=\r\n"
      "[S1]\r\n"
      "later=hidden\r\n"
      "[cr]\rk=cr only\r[lf]\nk=lf only\n[broken\nk2=after broken header\n");
  const auto value = [&d](std::string_view section, std::string_view key) {
    return d.GetString(section, key, "DEF");
  };
  EXPECT_EQ(value("s1", "orphan"), "DEF");  // lines before the first section belong to none
  EXPECT_EQ(value("S1", "key a"), "spaced value");
  EXPECT_EQ(value("s1", "q1"), "quoted ");
  EXPECT_EQ(value("s1", "q2"), "x");
  EXPECT_EQ(value("s1", "q3"), "\"twice\"");
  EXPECT_EQ(value("s1", "q4"), "\"unbalanced'");
  EXPECT_EQ(value("s1", "q5"), "\"");
  EXPECT_EQ(value("s1", "eq"), "a=b");
  EXPECT_EQ(value("s1", "tail"), "v ;not a comment");
  EXPECT_EQ(value("s1", "; k"), "DEF");
  EXPECT_EQ(value("s1", "#hash"), "ordinary");
  EXPECT_EQ(value("s1", "no equals here"), "DEF");
  EXPECT_EQ(value("s1", "dup"), "first");
  EXPECT_EQ(value("s1", "empty"), "");
  EXPECT_EQ(value("s1", "later"), "DEF");  // only the first of duplicate sections is searched
  EXPECT_EQ(value("cr", "k"), "cr only");
  EXPECT_EQ(value("lf", "k"), "lf only");
  EXPECT_EQ(value("lf", "k2"), "after broken header");  // "[broken" is no header
  EXPECT_EQ(value("", "k"), "DEF");
  EXPECT_EQ(value("s1", ""), "DEF");
  EXPECT_EQ(d.GetString("none", "k", "one two  "), "one two");
  EXPECT_FALSE(d.FindValue("s1", "missing").has_value());

  ASSERT_EQ(d.SectionCount(), 4u);
  EXPECT_EQ(d.SectionName(0), "s1");
  EXPECT_EQ(d.SectionName(1), "S1");
  EXPECT_EQ(d.FindSection("S1"), 0u);
  EXPECT_EQ(d.FindSection("lf"), 3u);
  EXPECT_EQ(d.FindSection("broken"), IniDocument::npos);
}

TEST(IniDocument, EveryValueReadsBackAsWritten) {
  const std::string values[] = {"\"Hola\"", " leading", "trailing ", "\ttab",  "'x'",
                                "\"",       "''",       "\"a'",      "a\"b\"", "",
                                "= sign",   "; x",      "[x]",       "\x1A"};
  for (const std::string& value : values) {
    IniDocument d = IniDocument::Parse("");
    ASSERT_TRUE(d.WriteString("s", "k", value));
    EXPECT_EQ(IniDocument::Parse(d.Serialize()).GetString("s", "k", "DEF"), value) << value;
  }
  // Only the values that need it get the extra quotes.
  EXPECT_EQ(Edited("", [](auto& d) { d.WriteString("s", "k", "\"Hola\""); }),
            "[s]\r\nk=\"\"Hola\"\"\r\n");
  EXPECT_EQ(Edited("", [](auto& d) { d.WriteString("s", "k", "fin "); }), "[s]\r\nk=\"fin \"\r\n");
  EXPECT_EQ(Edited("", [](auto& d) { d.WriteString("s", "k", "a \"b\" c"); }),
            "[s]\r\nk=a \"b\" c\r\n");
}

TEST(IniDocument, ValuesCannotBreakTheLineStructure) {
  IniDocument d = IniDocument::Parse("[s]\r\n");
  ASSERT_TRUE(d.WriteString("s", "k", "a\r\n[t]\rk2=v\n\0z"s));
  EXPECT_EQ(d.Serialize(), "[s]\r\nk=a  [t] k2=v  z\r\n");

  // Names that cannot be written refuse and change nothing.
  for (const auto& [section, key] :
       std::vector<std::pair<std::string, std::string>>{{"", "k"},
                                                        {"s", ""},
                                                        {"  ", "k"},
                                                        {"s", "a=b"},
                                                        {"s", ";k"},
                                                        {"s", "[k]"},
                                                        {"a\nb", "k"},
                                                        {"s", "k\rx"}}) {
    IniDocument e = IniDocument::Parse("[s]\r\n");
    EXPECT_FALSE(e.WriteString(section, key, "v")) << section << "/" << key;
    EXPECT_FALSE(e.changed());
    EXPECT_EQ(e.Serialize(), "[s]\r\n");
  }
}

TEST(IniDocument, ByteOrderMarks) {
  // A UTF-8 mark does not hide the first header and stays when that section goes.
  IniDocument d = IniDocument::Parse("\xEF\xBB\xBF[s]\nk=v\n");
  EXPECT_EQ(d.GetString("s", "k", ""), "v");
  d.DeleteSection("s");
  d.WriteString("t", "k", "w");
  EXPECT_EQ(d.Serialize(), "\xEF\xBB\xBF[t]\r\nk=w\r\n");

  // UTF-16LE stays UTF-16LE.
  const auto utf16 = [](std::string_view ascii_or_latin1) {
    std::string bytes = "\xFF\xFE";
    for (const char c : ascii_or_latin1) {
      bytes.push_back(c);
      bytes.push_back('\0');
    }
    return bytes;
  };
  IniDocument wide = IniDocument::Parse(utf16("[s]\r\nk=\xF1\r\n"));
  EXPECT_EQ(wide.GetString("s", "k", ""), "\xF1");
  wide.WriteString("s", "n", "\xE9");
  EXPECT_EQ(wide.Serialize(), utf16("[s]\r\nk=\xF1\r\nn=\xE9\r\n"));
  IniDocument just_mark = IniDocument::Parse("\xFF\xFE");
  just_mark.WriteString("a", "b", "c");
  EXPECT_EQ(just_mark.Serialize(), utf16("[a]\r\nb=c\r\n"));
}

TEST(IniDocument, LetterCaseFollowsWindows1252) {
  const IniDocument d = IniDocument::Parse("[A\xD1O \x8A]\r\n\xC9T\xC9=1\r\n[\xD7]\r\nk=2\r\n");
  EXPECT_EQ(d.GetString("a\xF1o \x9A", "\xE9t\xE9", ""), "1");
  EXPECT_EQ(d.FindSection("\xF7"), IniDocument::npos);  // × and ÷ are not a case pair
  EXPECT_TRUE(EqualsIgnoringCase("Mensaje_Enviado_1", "MENSAJE_enviado_1"));
  EXPECT_FALSE(EqualsIgnoringCase("a_b", "a^b"));
}

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("velkorant-ini-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = dir_ / "f.ini";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Bytes() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  void Put(const std::string& bytes) const { std::ofstream(path_, std::ios::binary) << bytes; }
  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }
  static unsigned Mode(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
  }

  fs::path dir_;
  fs::path path_;
};

TEST_F(IniFileTest, BatchIsOneRewriteAndNewFilesAre0600) {
  IniFile file(path_);
  EXPECT_EQ(file.GetString("s", "k", "none"), "none");
  EXPECT_FALSE(fs::exists(path_));
  // Deleting in a missing file changes nothing and creates nothing.
  EXPECT_TRUE(file.DeleteSection("s"));
  EXPECT_FALSE(fs::exists(path_));

  const mode_t old_mask = ::umask(0);
  ASSERT_TRUE(file.Modify(
      [](IniDocument& d) { return d.WriteString("s", "a", "1") && d.WriteString("s", "b", "2"); }));
  ::umask(old_mask);
  EXPECT_EQ(Bytes(), "[s]\r\na=1\r\nb=2\r\n");
  EXPECT_EQ(Mode(path_), 0600u);
  EXPECT_EQ(FilesInFolder(), 1u);

  // An existing file keeps its mode.
  fs::permissions(path_, static_cast<fs::perms>(0640));
  ASSERT_TRUE(file.WriteString("s", "a", "3"));
  EXPECT_EQ(Mode(path_), 0640u);

  // A refused edit writes nothing and leaves no trace in the cache.
  EXPECT_FALSE(file.Modify([](IniDocument& d) {
    d.WriteString("s", "c", "x");
    return d.WriteString("", "k", "v");
  }));
  EXPECT_EQ(Bytes(), "[s]\r\na=3\r\nb=2\r\n");
  EXPECT_EQ(file.GetString("s", "c", "none"), "none");
}

TEST_F(IniFileTest, OtherProgramsEditsShowAtTheNextRead) {
  IniFile file(path_);
  Put("[s]\r\nk=1\r\n");
  EXPECT_EQ(file.GetString("s", "k", ""), "1");
  Put("[s]\r\nk=2\r\n");  // same size: the modification time or identity tells
  EXPECT_EQ(file.GetString("s", "k", ""), "2");
  fs::remove(path_);
  EXPECT_EQ(file.GetString("s", "k", "gone"), "gone");
  Put("[s]\r\nk=3\r\n");
  ASSERT_TRUE(file.WriteString("s", "n", "4"));
  EXPECT_EQ(Bytes(), "[s]\r\nk=3\r\nn=4\r\n");
}

TEST_F(IniFileTest, FullDiskLeavesTheOldFileIntact) {
  const std::string before = "[s]\r\nk=old\r\n" + std::string(3000, ';') + "\r\n";
  Put(before);
  for (const std::size_t capacity : {0u, 1u, 100u, 3010u}) {
    IniFile file(path_);
    std::size_t used = 0;
    file.writer().SetWriteCall([&used, capacity](int fd, const char* data, std::size_t size) {
      if (used >= capacity) {
        errno = ENOSPC;
        return static_cast<ssize_t>(-1);
      }
      const std::size_t take = std::min(size, capacity - used);
      used += take;
      return ::write(fd, data, take);
    });
    EXPECT_FALSE(file.WriteString("s", "k", "new")) << capacity;
    EXPECT_EQ(Bytes(), before);
    EXPECT_EQ(file.GetString("s", "k", ""), "old");  // the failed edit is not kept in memory
    EXPECT_EQ(FilesInFolder(), 1u) << "temporary file left behind";
  }
}

TEST_F(IniFileTest, AFileThatCannotBeReadIsNeverOverwritten) {
  fs::create_directory(path_);  // unreadable as a file, even for root
  IniFile file(path_);
  EXPECT_EQ(file.GetString("s", "k", "def"), "def");
  EXPECT_FALSE(file.WriteString("s", "k", "v"));
  EXPECT_TRUE(fs::is_directory(path_));
}

// A link, a read-only file or a folder at the file's name is the user's doing: it is reported and
// left exactly as it is, never written through or replaced.
TEST_F(IniFileTest, RefusesToReplaceWhatIsNotAPlainWritableFile) {
  const fs::path real = dir_ / "real.ini";
  const std::string content = "[s]\r\nk=1\r\n";
  const struct {
    const char* name;
    std::function<void()> make;
    const char* reason;
  } cases[] = {
      {"link", [&] { fs::create_symlink(real, path_); }, "enlace"},
      {"read-only",
       [&] {
         std::ofstream(path_, std::ios::binary) << content;
         fs::permissions(path_, fs::perms::owner_read);
       },
       "lectura"},
      {"folder", [&] { fs::create_directory(path_); }, "no se puede leer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(path_);
    std::ofstream(real, std::ios::binary) << content;
    c.make();
    IniFile file(path_);
    EXPECT_FALSE(file.WriteString("s", "k", "2"));
    EXPECT_THAT(file.last_error(), ::testing::HasSubstr(c.reason));
    std::ifstream in(real, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
    EXPECT_EQ(fs::is_regular_file(fs::symlink_status(path_)), std::string(c.name) == "read-only");
  }
}

}  // namespace
}  // namespace velkorant
