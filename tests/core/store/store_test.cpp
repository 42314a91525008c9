#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "store/message_store.h"
#include "store/message_text.h"
#include "support/installation.h"
#include "support/scratch_mount.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using testing::Installation;

Message Sample(bool enviado) {
  return {.fecha_msj = "2024-03-07 09:05:00",
          .usuario_emisor_msj = "Hannah_desert",
          .usuario_receptor_msj = "John Sala",
          .asunto_msj = "A\xF1o nuevo",
          .cuerpo_msj = "uno\r\ndos",
          .password_msj = "abc",
          .enviado = enviado};
}

// " e1 e2 r1": the kind and number of each message, in list order.
std::string Numbers(const std::vector<Message>& messages) {
  std::string numbers;
  for (const Message& m : messages)
    numbers += (m.enviado ? " e" : " r") + std::to_string(m.numero);
  return numbers;
}

std::string Replaced(std::string text, const std::map<std::string, std::string>& edits) {
  for (const auto& [from, to] : edits)
    text.replace(text.find(from), from.size(), to);
  return text;
}

const std::string kSent1 =
    "[mensaje_enviado_1]\r\nfecha_msj=2024-03-07 09:05:00\r\nusuario_receptor_msj=John Sala\r\n"
    "usuario_emisor_msj=Hannah_desert\r\nasunto_msj=A\xC3\xB1o nuevo\r\ncuerpo_msj=unoretflddos\r\n"
    "password_hash=C2412435\r\nflag_msj_enviado_srv=0\r\nflag_msj_leido=0\r\n"
    "flag_msj_desencriptado=0\r\nflag_msj_respondido=0\r\n\r\n";

TEST(MessageStore, SavesEditsAndDeletesGiveExactBytes) {
  const Installation folder;
  MessageStore store(".");
  ASSERT_EQ(store.SaveMessage(Sample(true)), 1u);
  EXPECT_EQ(Installation::Bytes(kSentMessagesFile), kSent1);
  EXPECT_FALSE(fs::exists(kReceivedMessagesFile));
  ASSERT_EQ(store.SaveMessage(Sample(true)), 2u);
  // An edit rewrites the message's lines in place; a value that would not read back as written
  // gets an extra pair of quotes.
  Message edited = Sample(true);
  edited.numero = 1;
  edited.asunto_msj = "\"Hola\"";
  edited.password_msj = "";
  edited.flag_msj_enviado_srv = true;
  ASSERT_EQ(store.SaveMessage(edited), 1u);
  ASSERT_TRUE(store.WriteMessageKey(true, 1, "flag_msj_leido", "1"));
  const std::string sent2 = Replaced(kSent1, {{"_1]", "_2]"}});
  EXPECT_EQ(Installation::Bytes(kSentMessagesFile),
            Replaced(kSent1, {{"A\xC3\xB1o nuevo", "\"\"Hola\"\""},
                              {"C2412435", "00000000"},
                              {"srv=0", "srv=1"},
                              {"leido=0", "leido=1"}}) +
                sent2);
  ASSERT_TRUE(store.DeleteMessage(true, 1));
  EXPECT_EQ(Installation::Bytes(kSentMessagesFile), sent2);

  Message received = Sample(false);
  received.flag_msj_desencriptado = received.flag_msj_respondido = true;
  ASSERT_EQ(store.SaveMessage(received), 1u);
  EXPECT_EQ(Installation::Bytes(kReceivedMessagesFile),
            Replaced(kSent1, {{"enviado_1", "recibido_1"},
                              {"desencriptado=0", "desencriptado=1"},
                              {"respondido=0", "respondido=1"}}));
}

std::string Flags(const Message& m) {
  return std::string() + "01"[m.flag_msj_enviado_srv] + "01"[m.flag_msj_leido] +
         "01"[m.flag_msj_desencriptado] + "01"[m.flag_msj_respondido];
}

TEST(MessageStore, LoadRules) {
  const auto load = [](const char* fixture) {
    MessageStore store(fs::path(VELKORANT_SOURCE_DIR) / "tests/data/store" / fixture);
    EXPECT_TRUE(store.LoadMessageStore());
    return store.messages();
  };
  const auto hand = load("a_mano"), broken = load("roto"), large = load("valor_largo");
  struct Case {
    const char* rule;
    std::string loaded, expected;
  } const cases[] = {
      // 3 has no date, 4 an empty one; the second [mensaje_enviado_2] and 07 are never read.
      {"sent, then received, each by number", Numbers(hand), " e1 e2 e400 e6000 r1"},
      {"blanks", hand.at(0).fecha_msj + "|" + hand.at(0).usuario_receptor_msj,
       "2024-03-07 09:05:00|John Sala"},
      {"quotes", hand.at(3).asunto_msj, "  entre comillas  "},
      {"UTF-8", hand.at(0).asunto_msj + "|" + hand.at(4).asunto_msj, "A\xF1o nuevo|Caf\xE9 \x80"},
      {"retfld", hand.at(0).cuerpo_msj + "|" + hand.at(4).cuerpo_msj,
       "uno\r\ndos|l\xEDnea 1\r\nl\xEDnea 2"},
      {"missing keys",
       hand.at(1).usuario_emisor_msj + hand.at(2).usuario_receptor_msj + hand.at(2).asunto_msj +
           hand.at(2).cuerpo_msj + hand.at(2).password_msj,
       "error_env_dato2error_env_dato3error_env_dato4error_env_dato5error_env_dato5b"},
      {"flags are \"1\" only, of a message's own kind",  // "1", "01", "yes" and none
       Flags(hand.at(0)) + Flags(hand.at(1)) + Flags(hand.at(2)) + Flags(hand.at(4)),
       "1000000000000010"},
      {"broken headers and lone CRs", Numbers(broken) + "|" + broken.at(0).fecha_msj,
       " r5|solo CR"},
      {"malformed UTF-8", broken.at(0).asunto_msj, "?? mal?"},
      {"a decrypted body is cut", large.at(0).cuerpo_msj, std::string(4095, 'x')},
      {"the cut counts UTF-8 bytes", large.at(1).asunto_msj, std::string(4094, 'a') + "?"},
      {"an undecrypted body is whole", std::to_string(large.at(2).cuerpo_msj.size()), "5184"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    EXPECT_EQ(c.loaded, c.expected);
  }
}

TEST(MessageStore, NumbersAreNeverHandedOutTwice) {
  const Installation folder;
  std::ofstream(".mensajes_enviados.ini.tmp-AbC123") << "[mensaje_enviado_9]\r\nfecha_msj=a medias";
  std::ofstream("notas.txt") << "del usuario";
  MessageStore store(".");
  for (std::uint32_t numero = 1; numero <= 5; ++numero)
    ASSERT_EQ(store.SaveMessage(Sample(true)), numero);
  EXPECT_FALSE(fs::exists(".mensajes_enviados.ini.tmp-AbC123")) << "a killed writer's leftover";
  EXPECT_TRUE(fs::exists("notas.txt"));
  ASSERT_TRUE(store.DeleteMessage(true, 3) && store.DeleteMessage(true, 4));
  EXPECT_FALSE(store.WriteMessageKey(true, 3, "flag_msj_leido", "1")) << "a deleted one came back";
  store.LoadMessageStore();
  EXPECT_EQ(Numbers(store.messages()), " e1 e2 e5");
  EXPECT_EQ(store.SaveMessage(Sample(true)), 6u);
  ASSERT_TRUE(store.DeleteMessage(true, 6));
  store.LoadMessageStore();
  EXPECT_EQ(store.NextMessageNumber(true), 6u);
  // A section the list does not show (no date) counts; so does a listed one gone from the file.
  ASSERT_TRUE(store.file(true).WriteString("mensaje_enviado_40", "asunto_msj", "sin fecha"));
  EXPECT_EQ(store.NextMessageNumber(true), 41u);
  EXPECT_EQ(store.NextMessageNumber(false), 1u);
  fs::remove(kSentMessagesFile);
  EXPECT_EQ(store.NextMessageNumber(true), 6u);
  // A batch is held until its end, then written.
  ASSERT_TRUE(store.BeginBatch());
  EXPECT_EQ(store.SaveMessage(Sample(true)) + store.SaveMessage(Sample(false)), 7u);
  EXPECT_FALSE(fs::exists(kSentMessagesFile));
  ASSERT_TRUE(store.EndBatch());
  store.LoadMessageStore();
  EXPECT_EQ(Numbers(store.messages()), " e6 r1");
  // Past the highest number there is none left, rather than one wrapped round.
  ASSERT_TRUE(store.file(true).WriteString("mensaje_enviado_2147483647", "fecha_msj", "x"));
  EXPECT_EQ(store.SaveMessage(Sample(true)), 0u);
}

// On a small disk of its own, holding one message and a long comment: a change that cannot be
// written says which file and why, and leaves the file, the folder and the list as they were.
TEST(MessageStore, AFailedSaveChangesNothing) {
  using Hold = std::shared_ptr<void>;
  using Disk = testing::ScratchMount;
  const auto save = [](MessageStore& store) { return store.SaveMessage(Sample(true)) != 0; };
  const auto batch = [](MessageStore& store) {
    return store.BeginBatch(std::chrono::milliseconds(50)) && store.SaveMessage(Sample(true)) &&
           store.SaveMessage(Sample(true)) && store.EndBatch();
  };
  const auto nothing = [](const Disk&) { return Hold(); };
  const std::string full = "mensajes_enviados.ini: el disco est\xE1 lleno";
  struct Case {
    const char* name;
    std::function<Hold(const Disk&)> spoil;
    std::function<bool(MessageStore&)> change;
    std::string error;
  } const cases[] = {
      {"disk full", nothing, save, full},
      {"disk full at the end of a batch", nothing, batch, full},
      {"read-only file",
       [](const Disk& disk) {
         return fs::permissions(disk.path() / kSentMessagesFile, fs::perms::owner_read), Hold();
       },
       save, "mensajes_enviados.ini: es de s\xF3lo lectura"},
      {"read-only disk", [](const Disk& disk) { return disk.MakeReadOnly(), Hold(); }, save,
       "mensajes_enviados.ini: el disco es de s\xF3lo lectura"},
      {"another process changing the folder",
       [](const Disk& disk) {
         auto lock = std::make_shared<FolderLock>(disk.path());
         return lock->Acquire(std::chrono::milliseconds(0)) ? lock : nullptr;
       },
       batch,
       "otro proceso de Velkorant lleva demasiado tiempo cambiando los mensajes de esta carpeta"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Disk disk(256 * 1024);
    if (!disk.ok())
      GTEST_SKIP() << disk.SkipReason();
    const std::string before = kSent1 + "; " + std::string(150'000, 'x') + "\r\n";
    std::ofstream(disk.path() / kSentMessagesFile) << before;
    MessageStore store(disk.path());
    const Hold hold = c.spoil(disk);
    EXPECT_FALSE(c.change(store));
    EXPECT_EQ(store.last_error(), c.error);
    EXPECT_EQ(Installation::Bytes(disk.path() / kSentMessagesFile), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(disk.path()), {}), 1);
    store.LoadMessageStore();
    EXPECT_EQ(Numbers(store.messages()), " e1");
  }
}

// A message known by its index alone, with a body of a length of its own so that rewrites end at
// different offsets: a loaded one is told whole or torn.
Message Numbered(std::uint64_t index) {
  Message m = Sample(index % 3 != 0);
  m.fecha_msj += " " + std::to_string(index);
  m.cuerpo_msj += std::string(index % 997, 'x');
  return m;
}

// Saves messages into the working folder until killed, reporting "e|r NUMERO INDEX" on `fd` as
// soon as each save has returned.
[[noreturn]] void SaveUntilKilled(std::uint64_t index, int fd) {
  MessageStore store(".");
  for (;; ++index) {
    const Message m = Numbered(index);
    const std::uint32_t numero = store.SaveMessage(m);
    const std::string line =
        (m.enviado ? "e " : "r ") + std::to_string(numero) + " " + std::to_string(index) + "\n";
    if (numero == 0 || ::write(fd, line.data(), line.size()) < 0)
      ::_exit(1);
  }
}

// Two writers save into one folder and are killed at random moments. After every round the store
// loads, and holds every message whose save had returned, whole, under the number that save
// returned: none was lost, torn or given a number handed out twice.
TEST(MessageStore, WritersKilledMidSaveNeitherLoseNorTearNorShare) {
  const Installation folder;
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::string reports;
  for (std::uint64_t round = 1; round <= 12; ++round) {
    std::pair<pid_t, int> writers[2];
    for (std::uint64_t w = 0; w < 2; ++w) {
      int pipe[2];
      ASSERT_EQ(::pipe(pipe), 0);
      writers[w] = {::fork(), pipe[0]};
      if (writers[w].first == 0)
        SaveUntilKilled((2 * round + w) * 1'000'000, pipe[1]);
      ::close(pipe[1]);
    }
    for (const auto& [pid, fd] : writers) {
      // Some reports first; the kill then lands somewhere in a later save.
      std::string output;
      char buffer[4096];
      for (const auto wanted = static_cast<std::ptrdiff_t>(random() % 8);
           std::count(output.begin(), output.end(), '\n') < wanted;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        ASSERT_GT(got, 0) << "a save failed";
        output.append(buffer, static_cast<std::size_t>(got));
      }
      ::kill(pid, SIGKILL);
      int status = 0;
      ::waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status)) << "a save failed";
      for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(got));
      ::close(fd);
      reports += output;
    }
    MessageStore store(".");
    ASSERT_TRUE(store.LoadMessageStore());
    std::map<std::pair<bool, std::uint32_t>, std::string> loaded;
    for (const Message& m : store.messages()) {
      Message whole = Numbered(std::stoull(m.fecha_msj.substr(20)));
      whole.numero = m.numero;
      whole.password_msj = "C2412435";
      ASSERT_EQ(m, whole) << "torn";
      loaded[{m.enviado, m.numero}] = m.fecha_msj;
    }
    std::istringstream lines(reports);
    std::uint32_t numero;
    std::uint64_t index;
    for (std::string kind; lines >> kind >> numero >> index;)
      ASSERT_EQ(loaded[std::pair(kind == "e", numero)], Numbered(index).fecha_msj)
          << kind << numero;
  }
  EXPECT_GT(std::count(reports.begin(), reports.end(), '\n'), 24);
}

TEST(MessageText, SixTaggedLinesAndTheirFields) {
  const Message m{.fecha_msj = "2024-03-07 09:05:00",
                  .usuario_emisor_msj = "Eve ASU:falso",
                  .usuario_receptor_msj = "John Sala",
                  .asunto_msj = "A\xF1o nuevo",
                  .cuerpo_msj = "uno\r\ndos\nlejos",
                  .password_msj = "no viaja"};
  const std::string text = BuildMessageText(m);
  EXPECT_EQ(text,
            "VER:v1.1a\nFEC:2024-03-07 09:05:00\nEMI:Eve ASU:falso\nREC:John Sala\n"
            "ASU:A\xF1o nuevo\nMSJ:unoretflddos\nlejos\n");
  const Message fields = MessageFromText(text);
  // A tag's first occurrence counts, wherever it is; a lone line feed ends the body.
  EXPECT_EQ(fields.fecha_msj + "|" + fields.usuario_emisor_msj + "|" + fields.usuario_receptor_msj +
                "|" + fields.asunto_msj + "|" + fields.cuerpo_msj,
            "2024-03-07 09:05:00|Eve ASU:falso|John Sala|falso|unoretflddos");
  EXPECT_EQ(EncodeLineBreaks("a\r\nb\r\r\nc\n\rd"), "aretfldb\rretfldc\n\rd");
  // A text is a message with more than 30 characters and a version.
  EXPECT_TRUE(IsAcceptableMessageText("VER:x\n" + std::string(25, '.')));
  EXPECT_FALSE(IsAcceptableMessageText("VER:x\n" + std::string(24, '.')));
  EXPECT_FALSE(IsAcceptableMessageText("VER:\nFEC:\nEMI:\nREC:\nASU:\nMSJ:something long\n"));
  ::setenv("TZ", "CET-1", 1);
  ::tzset();
  EXPECT_EQ(MessageTimestamp(1709802300), "2024-03-07 10:05:00");  // local time
}

}  // namespace
}  // namespace velkorant
