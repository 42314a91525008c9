#include "store/message_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "cli/cli.h"
#include "support/cli_runner.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const fs::path kFixtures = fs::path(VELKORANT_SOURCE_DIR) / "tests" / "data" / "ini";

Message Sample(bool enviado) {
  Message m;
  m.enviado = enviado;
  m.fecha_msj = "2024-03-07 09:05:00";
  m.usuario_emisor_msj = "Hannah_desert";
  m.usuario_receptor_msj = "John Sala";
  m.asunto_msj = "A\xF1o nuevo";
  m.cuerpo_msj = "uno\r\ndos";
  m.password_msj = "abc";  // fingerprint C2412435
  return m;
}

class MessageStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("velkorant-store-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path File(bool enviado) const {
    return dir_ / (enviado ? kSentMessagesFile : kReceivedMessagesFile);
  }
  std::string Bytes(bool enviado) const {
    std::ifstream in(File(enviado), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  void Put(bool enviado, const std::string& bytes) const {
    std::ofstream(File(enviado), std::ios::binary) << bytes;
  }
  void UseFixture(bool enviado, const std::string& name) const {
    fs::copy_file(kFixtures / name, File(enviado));
  }
  std::vector<Message> Loaded() const {
    MessageStore store(dir_);
    store.LoadMessageStore();
    return store.messages();
  }
  static std::vector<std::uint32_t> Numbers(const std::vector<Message>& messages) {
    std::vector<std::uint32_t> numbers;
    for (const Message& m : messages)
      numbers.push_back(m.numero);
    return numbers;
  }

  fs::path dir_;
};

constexpr std::string_view kSentSection1 =
    "[mensaje_enviado_1]\r\n"
    "fecha_msj=2024-03-07 09:05:00\r\n"
    "usuario_receptor_msj=John Sala\r\n"
    "usuario_emisor_msj=Hannah_desert\r\n"
    "asunto_msj=A\xC3\xB1o nuevo\r\n"
    "cuerpo_msj=unoretflddos\r\n"
    "password_hash=C2412435\r\n"
    "flag_msj_enviado_srv=0\r\n"
    "flag_msj_leido=0\r\n"
    "flag_msj_desencriptado=0\r\n"
    "flag_msj_respondido=0\r\n"
    "\r\n";

TEST_F(MessageStoreTest, SavesFlagWritesAndDeletesGiveExactBytes) {
  MessageStore store(dir_);
  ASSERT_EQ(store.SaveMessage(Sample(true)), 1u);
  EXPECT_EQ(Bytes(true), kSentSection1);
  EXPECT_FALSE(fs::exists(File(false)));

  Message second = Sample(true);
  second.asunto_msj = "Otro";
  second.cuerpo_msj = "";
  second.password_msj = "";
  second.flag_msj_enviado_srv = true;
  ASSERT_EQ(store.SaveMessage(second), 2u);
  const std::string section2 =
      "[mensaje_enviado_2]\r\n"
      "fecha_msj=2024-03-07 09:05:00\r\n"
      "usuario_receptor_msj=John Sala\r\n"
      "usuario_emisor_msj=Hannah_desert\r\n"
      "asunto_msj=Otro\r\n"
      "cuerpo_msj=\r\n"
      "password_hash=00000000\r\n"
      "flag_msj_enviado_srv=1\r\n"
      "flag_msj_leido=0\r\n"
      "flag_msj_desencriptado=0\r\n"
      "flag_msj_respondido=0\r\n"
      "\r\n";
  EXPECT_EQ(Bytes(true), std::string(kSentSection1) + section2);

  ASSERT_TRUE(store.WriteMessageKey(true, 1, "flag_msj_enviado_srv", "1"));
  std::string section1(kSentSection1);
  section1.replace(section1.find("srv=0"), 5, "srv=1");
  EXPECT_EQ(Bytes(true), section1 + section2);

  // Overwriting an existing message rewrites its values in place and adds no empty line; a
  // subject in quotes gets one extra pair so that it reads back with them.
  Message edited = Sample(true);
  edited.numero = 1;
  edited.asunto_msj = "\"Hola\"";
  edited.flag_msj_enviado_srv = true;
  ASSERT_EQ(store.SaveMessage(edited), 1u);
  section1.replace(section1.find("A\xC3\xB1o nuevo"), 10, "\"\"Hola\"\"");
  EXPECT_EQ(Bytes(true), section1 + section2);

  ASSERT_TRUE(store.DeleteMessage(true, 1));
  EXPECT_EQ(Bytes(true), section2);

  Message received = Sample(false);
  received.flag_msj_leido = true;
  received.flag_msj_desencriptado = true;
  ASSERT_EQ(store.SaveMessage(received), 1u);
  EXPECT_EQ(Bytes(false),
            "[mensaje_recibido_1]\r\n"
            "fecha_msj=2024-03-07 09:05:00\r\n"
            "usuario_receptor_msj=John Sala\r\n"
            "usuario_emisor_msj=Hannah_desert\r\n"
            "asunto_msj=A\xC3\xB1o nuevo\r\n"
            "cuerpo_msj=unoretflddos\r\n"
            "password_hash=C2412435\r\n"
            "flag_msj_enviado_srv=0\r\n"
            "flag_msj_leido=1\r\n"
            "flag_msj_desencriptado=1\r\n"
            "flag_msj_respondido=0\r\n"
            "\r\n");
}

TEST_F(MessageStoreTest, LoadGivesBackWhatWasSaved) {
  MessageStore store(dir_);
  store.LoadMessageStore();
  EXPECT_TRUE(store.messages().empty());

  Message received = Sample(false);
  received.usuario_emisor_msj = " Eve";  // edge blanks and control characters from a stranger
  received.asunto_msj = "'cita' ";
  received.cuerpo_msj = "l\xEDnea retfld\r\n\x80 final ";
  received.flag_msj_respondido = true;
  received.flag_msj_enviado_srv = true;  // not loaded for a received message
  Message sent = Sample(true);
  sent.flag_msj_enviado_srv = true;
  sent.flag_msj_leido = true;  // not loaded for a sent message
  ASSERT_EQ(store.SaveMessage(received), 1u);
  ASSERT_EQ(store.SaveMessage(received), 2u);
  ASSERT_EQ(store.SaveMessage(sent), 1u);

  store.LoadMessageStore();
  ASSERT_EQ(store.messages().size(), 3u);
  Message expected_sent = sent;
  expected_sent.numero = 1;
  expected_sent.password_msj = "C2412435";
  expected_sent.flag_msj_leido = false;
  EXPECT_EQ(store.messages()[0], expected_sent);
  Message expected_received = received;
  expected_received.numero = 2;
  expected_received.password_msj = "C2412435";
  expected_received.flag_msj_enviado_srv = false;
  // A body holding the marker itself comes back with a line break in its place.
  expected_received.cuerpo_msj = "l\xEDnea \r\n\r\n\x80 final ";
  EXPECT_EQ(store.messages()[2], expected_received);
  EXPECT_EQ(store.messages()[1].numero, 1u);
  EXPECT_FALSE(store.messages()[1].enviado);
}

TEST_F(MessageStoreTest, ForeignTextsCannotInjectKeysOrSections) {
  MessageStore store(dir_);
  Message evil = Sample(false);
  evil.usuario_emisor_msj = "Eve\r\n[mensaje_recibido_7]\r\nfecha_msj=2000-01-01 00:00:00";
  evil.asunto_msj = "x\nflag_msj_leido=1";
  evil.cuerpo_msj = "a\rb\nc\0d\r\n"s;
  ASSERT_EQ(store.SaveMessage(evil), 1u);
  store.LoadMessageStore();
  ASSERT_EQ(store.messages().size(), 1u);
  const Message& m = store.messages()[0];
  EXPECT_EQ(m.usuario_emisor_msj, "Eve  [mensaje_recibido_7]  fecha_msj=2000-01-01 00:00:00");
  EXPECT_EQ(m.asunto_msj, "x flag_msj_leido=1");
  EXPECT_FALSE(m.flag_msj_leido);
  EXPECT_EQ(m.cuerpo_msj, "a b c d\r\n");
  EXPECT_EQ(store.NextMessageNumber(false), 2u);
}

TEST_F(MessageStoreTest, NumbersAreNeverHandedOutTwice) {
  MessageStore store(dir_);
  EXPECT_EQ(store.NextMessageNumber(true), 1u);
  for (int i = 0; i < 5; ++i)
    store.SaveMessage(Sample(true));
  store.DeleteMessage(true, 3);
  store.DeleteMessage(true, 4);
  store.LoadMessageStore();
  ASSERT_EQ(Numbers(store.messages()), (std::vector<std::uint32_t>{1, 2, 5}));
  EXPECT_EQ(store.SaveMessage(Sample(true)), 6u);

  // Deleting the highest number and reloading frees it again.
  ASSERT_TRUE(store.DeleteMessage(true, 6));
  store.LoadMessageStore();
  EXPECT_EQ(store.NextMessageNumber(true), 6u);

  // Saves without a reload in between, and sections the load does not show (no date), still
  // count: nothing already in the file is overwritten.
  EXPECT_EQ(store.SaveMessage(Sample(true)), 6u);
  EXPECT_EQ(store.SaveMessage(Sample(true)), 7u);
  ASSERT_TRUE(store.file(true).WriteString("mensaje_enviado_40", "asunto_msj", "sin fecha"));
  store.LoadMessageStore();
  EXPECT_EQ(Numbers(store.messages()), (std::vector<std::uint32_t>{1, 2, 5, 6, 7}));
  EXPECT_EQ(store.NextMessageNumber(true), 41u);
  EXPECT_EQ(store.NextMessageNumber(false), 1u);

  // The list counts too: a message loaded before its file vanished keeps its number taken.
  fs::remove(File(true));
  EXPECT_EQ(store.NextMessageNumber(true), 8u);
}

TEST_F(MessageStoreTest, ProcessesSavingAtOnceNeverShareANumber) {
  // The desktop program and velkorant-cli may write one folder's stores at the same time.
  constexpr int kProcesses = 4;
  constexpr int kEach = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      MessageStore store(dir_);
      bool ok = true;
      for (int i = 0; i < kEach; ++i) {
        Message m = Sample(true);
        m.asunto_msj = "p" + std::to_string(p) + "-" + std::to_string(i);
        ok = ok && store.SaveMessage(m) != 0;
      }
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  MessageStore store(dir_);
  store.LoadMessageStore();
  std::set<std::string> subjects;
  for (const Message& m : store.messages())
    subjects.insert(m.asunto_msj);
  EXPECT_EQ(store.messages().size(), static_cast<std::size_t>(kProcesses * kEach));
  EXPECT_EQ(subjects.size(), static_cast<std::size_t>(kProcesses * kEach));
}

TEST_F(MessageStoreTest, LeftoversOfAKilledWriterAreRemoved) {
  const fs::path leftover = dir_ / ".mensajes_enviados.ini.tmp-AbC123";
  std::ofstream(leftover) << "[mensaje_enviado_1]\r\nfecha_msj=medio";
  const fs::path unrelated = dir_ / "notas.txt";
  std::ofstream(unrelated) << "mine";
  MessageStore store(dir_);
  ASSERT_EQ(store.SaveMessage(Sample(true)), 1u);
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_TRUE(fs::exists(unrelated));
}

TEST_F(MessageStoreTest, EverySectionLoadsWhateverTheGaps) {
  std::string file;
  for (const int n : {2, 1, 503, 400, 70000, 502}) {
    file += "[mensaje_recibido_" + std::to_string(n) + "]\r\nfecha_msj=f" + std::to_string(n) +
            "\r\n\r\n";
  }
  Put(false, file);
  const std::vector<Message> messages = Loaded();
  EXPECT_EQ(Numbers(messages), (std::vector<std::uint32_t>{1, 2, 400, 502, 503, 70000}));
  EXPECT_EQ(messages.back().fecha_msj, "f70000");
  EXPECT_EQ(MessageStore(dir_).NextMessageNumber(false), 70001u);

  // A file full up to the highest number refuses new messages instead of wrapping.
  Put(true, "[mensaje_enviado_2147483647]\r\nfecha_msj=x\r\n");
  MessageStore full(dir_);
  EXPECT_EQ(full.NextMessageNumber(true), 0u);
  EXPECT_EQ(full.SaveMessage(Sample(true)), 0u);
  EXPECT_EQ(Bytes(true), "[mensaje_enviado_2147483647]\r\nfecha_msj=x\r\n");
}

TEST_F(MessageStoreTest, FailedWritesLeaveTheFileAsItWas) {
  MessageStore store(dir_);
  ASSERT_EQ(store.SaveMessage(Sample(true)), 1u);
  ASSERT_EQ(store.SaveMessage(Sample(true)), 2u);
  const std::string before = Bytes(true);
  std::size_t budget = 400;  // the disk fills up in the middle of the next rewrite
  store.file(true).writer().SetWriteCall([&budget](int fd, const char* data, std::size_t size) {
    if (budget == 0) {
      errno = ENOSPC;
      return static_cast<ssize_t>(-1);
    }
    const std::size_t take = std::min(size, budget);
    budget -= take;
    return ::write(fd, data, take);
  });
  EXPECT_EQ(store.SaveMessage(Sample(true)), 0u);
  EXPECT_FALSE(store.WriteMessageKey(true, 1, "flag_msj_leido", "1"));
  EXPECT_FALSE(store.DeleteMessage(true, 1));
  EXPECT_EQ(Bytes(true), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);

  // A batch holds its changes and writes them at its end: a failure there drops all of them.
  store.BeginBatch();
  EXPECT_EQ(store.SaveMessage(Sample(true)), 3u);
  EXPECT_EQ(store.SaveMessage(Sample(true)), 4u);
  EXPECT_EQ(Bytes(true), before) << "nothing reaches the file before the batch ends";
  EXPECT_FALSE(store.EndBatch());
  EXPECT_EQ(Bytes(true), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
  store.file(true).writer().SetWriteCall(
      [](int fd, const char* data, std::size_t size) { return ::write(fd, data, size); });
  store.BeginBatch();
  EXPECT_EQ(store.SaveMessage(Sample(true)), 3u);
  EXPECT_EQ(store.SaveMessage(Sample(false)), 1u);
  EXPECT_TRUE(store.EndBatch());
  store.LoadMessageStore();
  EXPECT_EQ(store.messages().size(), 4u);
}

TEST_F(MessageStoreTest, KeysAreOnlyWrittenIntoMessagesThatExist) {
  MessageStore store(dir_);
  ASSERT_EQ(store.SaveMessage(Sample(false)), 1u);
  const std::string before = Bytes(false);
  EXPECT_FALSE(store.WriteMessageKey(false, 2, "flag_msj_leido", "1"));
  EXPECT_FALSE(store.WriteMessageKey(false, 0, "flag_msj_leido", "1"));
  EXPECT_FALSE(store.DeleteMessage(false, 0));
  EXPECT_EQ(Bytes(false), before);
  ASSERT_TRUE(store.WriteMessageKey(false, 1, "flag_msj_leido", "1"));
  store.LoadMessageStore();
  EXPECT_TRUE(store.messages().at(0).flag_msj_leido);
}

TEST_F(MessageStoreTest, ReadsAFileEditedByHand) {
  UseFixture(true, "enviados_editado_a_mano.ini");
  MessageStore store(dir_);
  store.LoadMessageStore();
  const std::vector<Message>& m = store.messages();
  // 3 has no date and 4 an empty one; the second [mensaje_enviado_2] and the leading zero of 07
  // are never read.
  ASSERT_EQ(Numbers(m), (std::vector<std::uint32_t>{1, 2, 400, 6000}));
  EXPECT_EQ(m[0].fecha_msj, "2024-03-07 09:05:00");
  EXPECT_EQ(m[0].usuario_receptor_msj, "John Sala");
  EXPECT_EQ(m[0].asunto_msj, "A\xF1o nuevo");
  EXPECT_EQ(m[0].cuerpo_msj, "uno\r\ndos");
  EXPECT_TRUE(m[0].flag_msj_enviado_srv);
  EXPECT_EQ(m[1].usuario_emisor_msj, "error_env_dato2");
  EXPECT_EQ(m[1].asunto_msj, "Sin emisor");
  EXPECT_FALSE(m[1].flag_msj_enviado_srv);  // "01"
  EXPECT_EQ(m[2].fecha_msj, "2024-03-09 11:00:00");
  EXPECT_EQ(m[2].usuario_emisor_msj, "error_env_dato2");
  EXPECT_EQ(m[2].usuario_receptor_msj, "error_env_dato3");
  EXPECT_EQ(m[2].asunto_msj, "error_env_dato4");
  EXPECT_EQ(m[2].cuerpo_msj, "error_env_dato5");
  EXPECT_EQ(m[2].password_msj, "error_env_dato5b");
  EXPECT_FALSE(m[2].flag_msj_enviado_srv);  // "yes"
  EXPECT_EQ(m[3].asunto_msj, "  entre comillas  ");
  EXPECT_EQ(store.NextMessageNumber(true), 6001u);

  // Marking one message touches its line only.
  std::string expected = Bytes(true);
  ASSERT_TRUE(store.WriteMessageKey(true, 2, "flag_msj_enviado_srv", "1"));
  expected.replace(expected.find("flag_msj_enviado_srv=01"), 23, "flag_msj_enviado_srv=1");
  EXPECT_EQ(Bytes(true), expected);
}

TEST_F(MessageStoreTest, ReadsAByteOrderMarkAndLineFeedsOnly) {
  UseFixture(false, "recibidos_bom_lf.ini");
  const std::vector<Message> m = Loaded();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].usuario_emisor_msj, "Jos\xE9");
  EXPECT_EQ(m[0].asunto_msj, "Caf\xE9 \x80");
  EXPECT_EQ(m[0].cuerpo_msj, "l\xEDnea 1\r\nl\xEDnea 2");
  EXPECT_EQ(m[0].password_msj, "ABCDEF01");
  EXPECT_FALSE(m[0].flag_msj_leido);  // "yes"
  EXPECT_TRUE(m[0].flag_msj_desencriptado);
  EXPECT_FALSE(m[0].flag_msj_respondido);  // "01"

  // A new message follows in the program's own format; the old lines keep their bytes.
  const std::string before = Bytes(false);
  MessageStore store(dir_);
  ASSERT_EQ(store.SaveMessage(Sample(false)), 2u);
  EXPECT_EQ(Bytes(false).substr(0, before.size()), before);
  EXPECT_EQ(Bytes(false).substr(before.size(), 22), "[mensaje_recibido_2]\r\n");
  EXPECT_EQ(Loaded().size(), 2u);
}

TEST_F(MessageStoreTest, LongValuesAreCutAt4095Characters) {
  UseFixture(false, "recibidos_valor_largo.ini");
  const std::vector<Message> m = Loaded();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].cuerpo_msj, std::string(4095, 'x'));
  // The cut counts stored UTF-8 bytes: a character split by it is unreadable.
  EXPECT_EQ(m[1].asunto_msj, std::string(4094, 'a') + "?");
  // An undecrypted message keeps its whole transport text, which a later retry needs.
  EXPECT_EQ(m[2].cuerpo_msj.size(), 5184u);
}

TEST_F(MessageStoreTest, DamagedFilesLoadWhatIsReadable) {
  UseFixture(false, "recibidos_roto.ini");
  MessageStore store(dir_);
  store.LoadMessageStore();
  ASSERT_EQ(Numbers(store.messages()), std::vector<std::uint32_t>{5});
  EXPECT_EQ(store.messages()[0].fecha_msj, "solo CR");
  EXPECT_EQ(store.messages()[0].asunto_msj, "?? mal?");
  EXPECT_EQ(store.SaveMessage(Sample(false)), 6u);
  store.LoadMessageStore();
  EXPECT_EQ(Numbers(store.messages()), (std::vector<std::uint32_t>{5, 6}));
  EXPECT_EQ(store.messages()[0].asunto_msj, "?? mal?");
}

// velkorant-cli list and show run on the working directory.
class StoreCommandsTest : public MessageStoreTest {
 protected:
  void SetUp() override {
    MessageStoreTest::SetUp();
    old_dir_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_dir_);
    MessageStoreTest::TearDown();
  }
  static std::pair<int, std::string> Run(const std::vector<std::string>& args,
                                         std::string* err = nullptr) {
    const testing::CliResult result = testing::RunCliCommand(args);
    if (err != nullptr)
      *err = result.err;
    return {result.status, result.out};
  }

  fs::path old_dir_;
};

TEST_F(StoreCommandsTest, ListAndShow) {
  EXPECT_EQ(Run({"list"}), std::pair(0, ""s));
  MessageStore store(dir_);
  Message sent = Sample(true);
  sent.asunto_msj = "Tab\there";
  store.SaveMessage(sent);
  sent.flag_msj_enviado_srv = true;
  store.SaveMessage(sent);
  Message received = Sample(false);
  received.flag_msj_respondido = true;
  received.flag_msj_desencriptado = true;
  store.SaveMessage(received);

  EXPECT_EQ(Run({"list"}).second,
            "e1\tn\tTab here\tHannah_desert\tJohn Sala\t2024-03-07 09:05:00\n"
            "e2\t \tTab here\tHannah_desert\tJohn Sala\t2024-03-07 09:05:00\n"
            "r1\tR\tA\xC3\xB1o nuevo\tHannah_desert\tJohn Sala\t2024-03-07 09:05:00\n");
  EXPECT_EQ(Run({"show", "r1"}),
            std::pair(0,
                      "codigo: r1\nfecha_msj: 2024-03-07 09:05:00\n"
                      "usuario_emisor_msj: Hannah_desert\nusuario_receptor_msj: John Sala\n"
                      "asunto_msj: A\xC3\xB1o nuevo\npassword_hash: C2412435\n"
                      "flag_msj_leido: 0\nflag_msj_desencriptado: 1\n"
                      "flag_msj_respondido: 1\n\nuno\ndos\n"s));
  std::string err;
  for (const std::string code : {"r2", "x1", "e", "e01x", "e99999999999"}) {
    EXPECT_EQ(Run({"show", code}, &err).first, cli::kExitFailure) << code;
    EXPECT_NE(err.find("no message " + code), std::string::npos) << err;
  }
  EXPECT_EQ(Run({"show"}).first, cli::kExitUsage);
  EXPECT_EQ(Run({"list", "extra"}).first, cli::kExitUsage);
}

}  // namespace
}  // namespace velkorant
