// SPDX-License-Identifier: GPL-3.0-or-later
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
#include "support/installation.h"
#include "support/scratch_mount.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using testing::Installation;

Message Sample(bool enviado) {
  Message m;
  m.fecha_msj = "2024-03-07 09:05:00";
  m.asunto_msj = "A\xF1o nuevo";
  m.cuerpo_msj = "uno\r\ndos";
  m.password_msj = "abc";
  m.enviado = enviado;
  return m;
}

// " e1 e2 r1": the kind and number of each message, in list order.
std::string Numbers(const std::vector<Message>& messages) {
  std::string numbers;
  for (const Message& m : messages)
    numbers += (m.enviado ? " e" : " r") + std::to_string(m.numero);
  return numbers;
}

const fs::path kData = fs::path(VELKORANT_SOURCE_DIR) / "tests/data/store";

// The bytes expected are in tests/data/store/guardado.
TEST(MessageStore, SavesEditsAndDeletesGiveExactBytes) {
  const Installation folder;
  MessageStore store(".");
  ASSERT_EQ(store.SaveMessage(Sample(true)).numero + store.SaveMessage(Sample(true)).numero, 3u);
  // An edit rewrites a message's lines in place; a value that would not read back as written
  // gets an extra pair of quotes.
  Message edited = Sample(true);
  edited.numero = 2;
  edited.asunto_msj = "\"Hola\"";
  edited.password_msj = "";
  ASSERT_EQ(store.SaveMessage(edited).numero, 2u);
  ASSERT_TRUE(store.WriteMessageKey(true, 2, "flag_msj_enviado_srv", "1"));
  ASSERT_TRUE(store.DeleteMessage(true, 1));
  // Saved again once its section is gone (another process deleted it), a message comes back at
  // the end with the blank line a new one gets; saved once more, it gets no second one.
  Message again = Sample(true);
  again.numero = 1;
  ASSERT_EQ(store.SaveMessage(again).numero + store.SaveMessage(again).numero, 2u);
  EXPECT_EQ(Installation::Bytes(kSentMessagesFile),
            Installation::Bytes(kData / "guardado" / kSentMessagesFile));
  // Messages are private: readable by their owner only.
  EXPECT_EQ(fs::status(kSentMessagesFile).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST(MessageStore, LoadRules) {
  const auto load = [](const char* fixture) {
    MessageStore store(kData / fixture);
    EXPECT_TRUE(store.LoadMessageStore());
    return store.messages();
  };
  const auto hand = load("a_mano"), broken = load("roto"), large = load("valor_largo");
  // " SLDR": sent to the server, read, decrypted, answered, each 0 or 1.
  const auto flags = [&hand](std::size_t i) {
    const Message& m = hand.at(i);
    return std::string{' ', "01"[m.flag_msj_enviado_srv], "01"[m.flag_msj_leido],
                       "01"[m.flag_msj_desencriptado], "01"[m.flag_msj_respondido]};
  };
  struct Case {
    const char* rule;
    std::string loaded, expected;
  } const cases[] = {
      // 3 has no date, 4 an empty one; the second [mensaje_enviado_2] and 07 are never read.
      {"sent, then received, each by number", Numbers(hand), " e1 e2 e400 e6000 r1"},
      {"UTF-8", hand.at(0).asunto_msj + "|" + hand.at(4).asunto_msj, "A\xF1o nuevo|Caf\xE9 \x80"},
      {"retfld", hand.at(0).cuerpo_msj + "|" + hand.at(4).cuerpo_msj,
       "uno\r\ndos|l\xEDnea 1\r\nl\xEDnea 2"},
      {"missing keys",
       hand.at(1).usuario_emisor_msj + hand.at(2).usuario_receptor_msj + hand.at(2).asunto_msj +
           hand.at(2).cuerpo_msj + hand.at(2).password_msj,
       "error_env_dato2error_env_dato3error_env_dato4error_env_dato5error_env_dato5b"},
      // "1", "01", "yes" and none; a message's own flags only.
      {"flags written 1, 01, yes; a received message's", flags(0) + flags(1) + flags(2) + flags(4),
       " 1000 0000 0000 0010"},
      // Numbers with a sign, a space, or past the highest are no message's.
      {"broken headers, odd numbers, lone CRs", Numbers(broken) + "|" + broken.at(0).fecha_msj,
       " r5|solo CR"},
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
  MessageStore store(".");
  for (std::uint32_t numero = 1; numero <= 6; ++numero)
    ASSERT_EQ(store.SaveMessage(Sample(true)).numero, numero);
  EXPECT_FALSE(fs::exists(".mensajes_enviados.ini.tmp-AbC123")) << "a killed writer's leftover";
  ASSERT_TRUE(store.DeleteMessage(true, 3) && store.DeleteMessage(true, 4));
  EXPECT_FALSE(store.WriteMessageKey(true, 3, "flag_msj_leido", "1")) << "a deleted one came back";
  ASSERT_TRUE(store.DeleteMessage(true, 6) && store.LoadMessageStore());
  EXPECT_EQ(Numbers(store.messages()) + " " + std::to_string(store.NextMessageNumber(true)),
            " e1 e2 e5 6");
  // A section the list does not show (no date) counts; so does a listed one gone from the file.
  ASSERT_TRUE(store.file(true).WriteString("mensaje_enviado_40", "asunto_msj", "sin fecha"));
  EXPECT_EQ(store.NextMessageNumber(true), 41u);
  fs::remove(kSentMessagesFile);
  EXPECT_EQ(store.NextMessageNumber(true), 6u);
  // Past the highest number there is none left, rather than one wrapped round.
  ASSERT_TRUE(store.file(true).WriteString("mensaje_enviado_2147483647", "fecha_msj", "x"));
  EXPECT_EQ(store.SaveMessage(Sample(true)).numero, 0u);
}

// On a small disk of its own, holding one message and a long comment: a change that cannot be
// written says which file and why, and leaves the file and the folder as they were.
TEST(MessageStore, AFailedSaveChangesNothing) {
  using Disk = testing::ScratchMount;
  const auto save = [](MessageStore& store) { return store.SaveMessage(Sample(true)).outcome; };
  const auto batch = [](MessageStore& store) {
    store.SetLockWait(std::chrono::milliseconds(50));
    if (FileOutcome begun = store.BeginBatch(); !begun)
      return begun;
    store.SaveMessage(Sample(true));
    store.SaveMessage(Sample(true));
    return store.EndBatch();
  };
  std::optional<FileLock> other;  // another process's hold on the folder
  const std::string file = std::string(kSentMessagesFile) + ": ";
  struct Case {
    const char* name;
    std::function<void(const Disk&)> spoil;
    std::function<FileOutcome(MessageStore&)> change;
    std::string error;
  } const cases[] = {
      {"full disk, one save", [](const Disk&) {}, save, file + "el disco est\xE1 lleno"},
      {"full disk, a batch", [](const Disk&) {}, batch, file + "el disco est\xE1 lleno"},
      {"read-only file",
       [](const Disk& disk) {
         fs::permissions(disk.path() / kSentMessagesFile, fs::perms::owner_read);
       },
       save, file + "es de s\xF3lo lectura"},
      {"read-only disk", [](const Disk& disk) { disk.MakeReadOnly(); }, save,
       file + "el disco es de s\xF3lo lectura"},
      {"folder locked by another process",
       [&other](const Disk& disk) { other.emplace(disk.path()).Acquire({}); }, batch,
       "otro proceso de Velkorant lleva demasiado tiempo cambiando los mensajes de esta carpeta"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Disk disk(256 * 1024);
    if (!disk.ok())
      GTEST_SKIP() << disk.SkipReason();
    const std::string before = Installation::Bytes(kData / "guardado" / kSentMessagesFile) + ";" +
                               std::string(150'000, 'x');
    std::ofstream(disk.path() / kSentMessagesFile) << before;
    MessageStore store(disk.path());
    c.spoil(disk);
    const FileOutcome outcome = c.change(store);
    EXPECT_EQ(std::tuple(outcome.ok, outcome.error), std::tuple(false, c.error));
    EXPECT_EQ(Installation::Bytes(disk.path() / kSentMessagesFile), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(disk.path()), {}), 1);
    other.reset();
  }
}

// Saves messages into the working folder until killed, each known by its index alone and with a
// body of a length of its own (rewrites end at different offsets), reporting "e|r NUMBER DATE"
// on `fd` as soon as its save has returned.
[[noreturn]] void SaveUntilKilled(std::uint64_t index, int fd) {
  for (MessageStore store(".");; ++index) {
    Message m = Sample(index % 3 != 0);
    m.fecha_msj += " " + std::to_string(index);
    m.cuerpo_msj += std::string(index % 997, 'x');
    const std::uint32_t numero = store.SaveMessage(m).numero;
    const std::string line =
        (m.enviado ? "e " : "r ") + std::to_string(numero) + " " + m.fecha_msj + "\n";
    if (numero == 0 || ::write(fd, line.data(), line.size()) < 0)
      ::_exit(1);
  }
}

// Two writers save into one folder and are killed at random moments. After every round the store
// loads and holds every message whose save had returned, whole, under the number that save
// returned: none was lost, torn or given a number handed out twice.
TEST(MessageStore, WritersKilledMidSaveNeitherLoseNorTearNorShare) {
  const Installation folder;
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::map<std::string, std::string> saved;  // "e12" -> its date
  for (std::uint64_t round = 1; round <= 10; ++round) {
    std::pair<pid_t, int> writers[2];
    for (std::uint64_t w = 0; w < 2; ++w) {
      int pipe[2];
      ASSERT_EQ(::pipe(pipe), 0);
      if ((writers[w] = {::fork(), pipe[0]}).first == 0)
        SaveUntilKilled((2 * round + w) * 1'000'000, pipe[1]);
      ::close(pipe[1]);
    }
    // Some reports of the first writer; the kills then land somewhere in later saves.
    std::string output[2];
    char buffer[4096];
    ssize_t got = 0;
    for (const auto wanted = static_cast<std::ptrdiff_t>(random() % 8);
         std::count(output[0].begin(), output[0].end(), '\n') < wanted &&
         (got = ::read(writers[0].second, buffer, sizeof buffer)) > 0;)
      output[0].append(buffer, static_cast<std::size_t>(got));
    for (int w = 0; w < 2; ++w) {
      int status = 0;
      ::kill(writers[w].first, SIGKILL);
      EXPECT_TRUE(::waitpid(writers[w].first, &status, 0) > 0 && WIFSIGNALED(status))
          << "a save failed";
      while ((got = ::read(writers[w].second, buffer, sizeof buffer)) > 0)
        output[w].append(buffer, static_cast<std::size_t>(got));
      ::close(writers[w].second);
      std::istringstream lines(output[w]);
      for (std::string kind, numero, date; lines >> kind >> numero && std::getline(lines, date);)
        EXPECT_TRUE(saved.emplace(kind + numero, date.substr(1)).second)
            << "twice: " << kind << numero;
    }
    MessageStore store(".");
    ASSERT_TRUE(store.LoadMessageStore());
    std::map<std::string, std::string> loaded;
    for (const Message& m : store.messages()) {
      const std::uint64_t index = std::stoull(m.fecha_msj.substr(20));
      Message whole = Sample(index % 3 != 0);
      whole.numero = m.numero;
      whole.fecha_msj = m.fecha_msj;
      whole.cuerpo_msj += std::string(index % 997, 'x');
      whole.password_msj = "C2412435";
      EXPECT_EQ(m, whole) << "torn";
      loaded[(m.enviado ? "e" : "r") + std::to_string(m.numero)] = m.fecha_msj;
    }
    for (const auto& [key, message] : saved)
      ASSERT_EQ(loaded[key], message) << "lost " << key;
  }
  EXPECT_GT(saved.size(), 20u);
}

}  // namespace
}  // namespace velkorant
