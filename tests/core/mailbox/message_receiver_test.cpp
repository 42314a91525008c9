// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/message_receiver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <limits>
#include <map>
#include <thread>

#include "crypto/digests.h"
#include "support/child_process.h"
#include "support/cli_runner.h"
#include "support/installation.h"
#include "support/mailbox_server.h"
#include "support/recording_ui.h"
#include "support/scratch_mount.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::Installation;
using testing::RunCliCommand;

// An installation registered on the local server, receiving in-process or through velkorant-cli.
class ReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(local_.address.server.empty()) << "the mailbox_server fixture did not run";
    ASSERT_EQ(RunCliCommand({"server", local_.address.server}).status, 0);
    ASSERT_EQ(RunCliCommand({"register", user_}).status, 0);
    settings_ = LoadSettings(settings_store_).value();
    AddProfile("Amigo", "clave compartida");
    fs::create_directory(served_);
  }
  void AddProfile(const std::string& name, const std::string& password) {
    ASSERT_TRUE(WriteProfile(settings_store_, name, {name, password, "", "", "", ""}));
    passwords_.LoadPasswordList(settings_store_);
  }
  // Puts file n into `folder` (the own mailbox), as a sender's request would.
  void Put(int n, const std::string& bytes, fs::path folder = {}) {
    std::ofstream((folder.empty() ? testing::ServerDataRoot() / MailboxFolderName(user_) : folder) /
                  ("msj_" + std::to_string(n) + "_datos.cry"))
        << bytes;
  }
  // Puts message n ("asunto n"), each password's key derived once: as quick as a mailbox of
  // thousands needs.
  void Post(int n, const std::string& password = "clave compartida", fs::path folder = {},
            const std::string& date = "FEC:2024-03-07 09:05:00\n") {
    if (!keys_.contains(password))
      keys_.emplace(password, DeriveKeyAndIv(password));
    const std::string text = "VER:v1.1a\nEMI:Ana_1\n" + date + "ASU:asunto " + std::to_string(n);
    Put(n, EncryptTextWithKey(text + "\n", keys_.at(password)), folder);
  }
  // Puts messages 1 to `last`.
  void PostUpTo(int last, const fs::path& folder = {}) {
    for (int n = 1; n <= last; ++n)
      Post(n, "clave compartida", folder);
  }
  // The subjects of the messages stored in the folder, from the disk.
  static std::vector<std::string> Subjects(const fs::path& folder = ".") {
    MessageStore disk(folder);
    disk.LoadMessageStore();
    std::vector<std::string> subjects;
    std::ranges::transform(disk.messages(), std::back_inserter(subjects), &Message::asunto_msj);
    return subjects;
  }
  std::int32_t Counter() {
    return settings_store_.ReadInt(kOptionsSection, kReceivedCounterEntry, -100).value();
  }
  // The received messages' file (its digest), the counter and the terminal's lines.
  using Outcome = std::tuple<std::string, std::int32_t, std::vector<std::string>>;
  // A run of a receiver of its own, with the settings read as another process reads them: in
  // `folder`, fetching at most `window` numbers at once, its lines in `ui` when given.
  bool Run(const fs::path& folder = ".", testing::RecordingUi* ui = nullptr, bool ask = false,
           int window = MessageReceiver::kMaxFetchWindow, UrlDownloader* downloader = nullptr) {
    testing::RecordingUi unseen;
    UrlDownloader own;
    SettingsStore settings_store;
    Settings settings = LoadSettings(settings_store).value();
    MailboxClient client(settings, ui ? *ui : unseen, downloader ? *downloader : own);
    MessageStore store(folder);
    MessageReceiver receiver(client, settings, settings_store, store, passwords_);
    receiver.SetFetchWindowLimit(window);
    receiver.SetAskBeforeAnotherFolder(ask);
    return receiver.ReceiveMessages();
  }
  static std::vector<std::string> SubjectsUpTo(int last) {
    std::vector<std::string> subjects;
    for (int n = 1; n <= last; ++n)
      subjects.push_back("asunto " + std::to_string(n));
    return subjects;
  }

  testing::LocalServer local_;
  testing::Installation installation_{"receiver"};
  const std::string user_ = "receptor_" + testing::RandomFolder();
  const fs::path served_ = fs::current_path() / "served";  // by a misbehaving server
  SettingsStore settings_store_;
  Settings settings_;
  testing::RecordingUi ui_;
  UrlDownloader downloader_;
  PasswordList passwords_;
  std::map<std::string, DerivedKey> keys_;
  MessageStore store_{"."};
  MailboxClient client_{settings_, ui_, downloader_};
  MessageReceiver receiver_{client_, settings_, settings_store_, store_, passwords_};
};

TEST_F(ReceiverTest, ReceivesFromTheMailboxAndRetries) {
  {
    // A run that starts while a request waits (in a message box) is skipped without a word.
    MailboxClient::BusyGuard busy(client_);
    EXPECT_FALSE(receiver_.ReceiveMessages());
  }
  settings_.user_name = "nadie_" + testing::RandomFolder();
  EXPECT_FALSE(receiver_.ReceiveMessages());
  EXPECT_THAT(ui_.lines, ElementsAre("Error. No existe el usuario " + settings_.user_name));
  EXPECT_EQ(ui_.filters_reset, 0);
  settings_.user_name = user_;

  Post(1);
  Post(2, "otra clave distinta");
  // Anyone may post anything: a file longer than any message is skipped and never stored.
  Put(3, std::string(64'001, 'A'));
  Post(4, "clave compartida", {}, "");  // no date line: listed all the same
  Post(6);                              // after a missing number: not fetched
  ui_.Clear();
  EXPECT_TRUE(receiver_.ReceiveMessages());
  EXPECT_THAT(ui_.lines,
              ElementsAre("Comprobando mensajes para " + user_,
                          "Mensaje 3 descartado: es más largo que cualquier mensaje válido",
                          "3 nuevos mensajes, 1 sin desencriptar"));  // only what was stored
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kNewMessages));
  EXPECT_EQ(ui_.filters_reset + ui_.reloads + ui_.brought_to_front, 3);
  EXPECT_EQ(receiver_.last_run().derivations, 1);
  EXPECT_THAT(Subjects(), ElementsAre("asunto 1", "<sin desencriptar>", "asunto 4"));
  EXPECT_EQ(Counter(), 4);
  EXPECT_EQ(settings_store_.ReadText(kOptionsSection, "RecepcionPendiente", "-"), "-");

  ui_.Clear();
  EXPECT_TRUE(receiver_.ReceiveMessages());
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kNoNewMessages));
  EXPECT_THAT(ui_.icons, ElementsAre(StatusIcon::kNoNewMessages));
  EXPECT_EQ(Counter(), 4);

  ui_.Clear();
  store_.LoadMessageStore();  // as the message list does when told to reload
  AddProfile("Otra", "otra clave distinta");
  EXPECT_TRUE(receiver_.RetryUndecryptedMessages());
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kPendingDecrypted));
  EXPECT_EQ(ui_.reloads, 1);

  // A run killed before it moved the counter left a marker: the next run fetches its messages
  // again when they never reached the disk. (That it skips those that did, the kill test shows.)
  Post(5);
  ASSERT_TRUE(settings_store_.WriteText(kOptionsSection, "RecepcionPendiente", "5 4 4"));
  EXPECT_TRUE(receiver_.ReceiveMessages());
  EXPECT_EQ(Counter(), 6);
  EXPECT_THAT(Subjects(), ElementsAre("asunto 1", "asunto 2", "asunto 4", "asunto 5", "asunto 6"));
}

// The counter never runs ahead of what is on disk, and the summary counts only stored messages;
// a mailbox with more messages than a run takes ends the run at its bound.
TEST_F(ReceiverTest, RunsEndAtTheFirstBatchThatCannotBeWritten) {
  for (int n = 1; n <= 2 * MessageReceiver::kMaxMessagesPerRun; ++n)
    Put(n, std::string(64, '0'));
  int writes = 0;  // of the received store that succeed
  store_.file(false).writer().SetWriteCall([&writes](int fd, const char* data, std::size_t size) {
    if (writes-- > 0)
      return ::write(fd, data, size);
    errno = ENOSPC;
    return ssize_t{-1};
  });
  for (const int allowed : {0, 1, 1000}) {
    SCOPED_TRACE(allowed);
    const auto before = static_cast<std::int32_t>(Subjects().size());
    writes = allowed;
    ui_.Clear();
    EXPECT_EQ(receiver_.ReceiveMessages(), allowed > 1);
    const auto stored = static_cast<std::int32_t>(Subjects().size()) - before;
    EXPECT_EQ(Counter(), before + stored);
    EXPECT_EQ(stored > 0, allowed > 0);
    EXPECT_EQ(stored == MessageReceiver::kMaxMessagesPerRun, allowed > 1);
    EXPECT_LE(stored, receiver_.last_run().fetched - (allowed == 1));
    const std::string count = std::to_string(stored);
    EXPECT_EQ(ui_.lines.size(), allowed == 1 ? 3u : 2u);  // a failed batch says so
    EXPECT_EQ(ui_.lines.back() == count + " nuevos mensajes, " + count + " sin desencriptar",
              stored > 0);
  }
}

// Fetching ahead stores what fetching one number per round trip stores, byte for byte, and says
// the same: answers beyond the first missing number count for nothing, and the run's bound holds.
TEST_F(ReceiverTest, FetchingAheadStoresWhatOneAtATimeStores) {
  // "si" to the mailbox check, then the messages, each only when asked again after a lost
  // connection.
  constexpr std::int32_t kLast = std::numeric_limits<std::int32_t>::max();
  for (std::int64_t n = kLast - 4; n <= kLast; ++n)
    Post(static_cast<int>(n), "clave compartida", served_);
  const testing::HostileServer top("drops", served_);
  // In the own mailbox, on the local server: a message that does not open, then one longer than
  // any message, which is skipped for the message after it.
  Post(1), Post(2), Post(3, "otra"), Post(4), Put(5, std::string(64'001, 'F'));
  Put(6, std::string(64, 'F'));
  struct Case {
    std::string name;
    testing::ServerAddress server;
    std::int32_t counter;
    std::int32_t start = 0;
  } const cases[] = {
      {"undecrypted, too long", local_.address, 6},
      // Numbers end before the run's bound does.
      {"answers near the last number", top.answering_yes(), kLast, kLast - 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::ScopedCaBundle ca(c.server.ca);
    ASSERT_TRUE(settings_store_.WriteText(kOptionsSection, "NombreServidor", c.server.server));
    std::vector<Outcome> outcomes;
    for (const int window : {1, MessageReceiver::kMaxFetchWindow}) {
      fs::remove(kReceivedMessagesFile);
      ASSERT_TRUE(settings_store_.WriteInt(kOptionsSection, kReceivedCounterEntry, c.start));
      testing::RecordingUi ui;
      Run(".", &ui, false, window);
      outcomes.emplace_back(Sha256Hex(Installation::Bytes(kReceivedMessagesFile)), Counter(),
                            ui.lines);
    }
    EXPECT_EQ(outcomes[0], outcomes[1]);
    EXPECT_EQ(std::get<1>(outcomes[1]), c.counter);
  }
}

// A cancel from another thread (the program quits) ends a run in full flow at once: what it
// stored stays, counted, and the next run goes on from there without losing or repeating a
// message. (A run waiting on a server that never answers is ended so by the window's test.)
TEST_F(ReceiverTest, CancelledRunsEndAtOnceAndLoseNothing) {
  PostUpTo(300);
  struct CancellingUi : testing::RecordingUi {
    UrlDownloader downloader;
    void ShowReceiveProgress(int fetched) override {
      if (fetched == 100)  // the window of 64 under way is still taken
        std::jthread([this] { downloader.Cancel(); }).join();
    }
  } ui;
  Run(".", &ui, false, MessageReceiver::kMaxFetchWindow, &ui.downloader);
  const std::int32_t stored = Counter();
  EXPECT_GE(stored, 100);  // what it had fetched
  EXPECT_LT(stored, 300);
  EXPECT_EQ(Subjects(), SubjectsUpTo(stored));
  EXPECT_THAT(ui.lines, ::testing::Contains(HasSubstr("se ha cortado la comunicación")));
  Run();
  EXPECT_EQ(Counter(), 300);
  EXPECT_EQ(Subjects(), SubjectsUpTo(300));
}

// velkorant-cli takes a full mailbox, as many messages as one run may, in that one run.
TEST_F(ReceiverTest, TheCliTakesAFullRunAtOnce) {
  PostUpTo(MessageReceiver::kMaxMessagesPerRun);
  const testing::CliResult run = RunCliCommand({"receive"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.out.ends_with(" - 1000 nuevos mensajes\n")) << run.out;
  EXPECT_EQ(Counter(), MessageReceiver::kMaxMessagesPerRun);
  EXPECT_EQ(Subjects(), SubjectsUpTo(MessageReceiver::kMaxMessagesPerRun));
}

// A counter that says nothing of what is stored, or that cannot be written, stops receiving: any
// run would store the same messages again. Nobody is registered who could not be kept.
TEST_F(ReceiverTest, ReceivingNeedsACounterToTrust) {
  PostUpTo(3);
  // A text read as a number would be the default 0: messages 1 to 3 again.
  for (const std::string counter : {"57", "-3"}) {
    ASSERT_TRUE(counter == "57"
                    ? settings_store_.WriteText(kOptionsSection, kReceivedCounterEntry, counter)
                    : settings_store_.WriteInt(kOptionsSection, kReceivedCounterEntry, -3));
    const testing::CliResult blocked = RunCliCommand({"receive"});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_THAT(blocked.out,
                HasSubstr(" - Error. El contador de mensajes recibidos (MsjsRecibidos) vale " +
                          counter + ", que no es válido; no se reciben mensajes.\n"));
    EXPECT_TRUE(blocked.out.ends_with(" servidor: velkorant-cli received-counter NÚMERO\n"));
    EXPECT_EQ(RunCliCommand({"received-counter"}).out, counter + "\n");
  }
  ASSERT_EQ(RunCliCommand({"received-counter", "1"}).status, 0);
  EXPECT_TRUE(RunCliCommand({"receive"}).out.ends_with(" - 2 nuevos mensajes\n"));
  EXPECT_THAT(Subjects(), ElementsAre("asunto 2", "asunto 3"));

  Post(4);
  testing::Installation fresh("fresh");
  ASSERT_EQ(RunCliCommand({"server", local_.address.server}).status, 0);
  const testing::ScratchMount disk;
  if (!disk.ok())
    GTEST_SKIP() << disk.SkipReason();
  for (testing::Installation* owner : {&installation_, &fresh}) {
    const fs::path folder = owner->config() / "KRWTN_Software";
    fs::copy(folder, disk.path() / owner->root().filename(), fs::copy_options::recursive);
    fs::remove_all(folder);
    fs::create_directory_symlink(disk.path() / owner->root().filename(), folder);
  }
  ASSERT_TRUE(disk.MakeReadOnly());
  const std::string other = "otro_" + testing::RandomFolder();
  const testing::CliResult refused = RunCliCommand({"register", other});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(
      refused.err.starts_with("velkorant-cli: no se ha podido guardar el nombre de usuario, así "
                              "que no se ha registrado: "));
  EXPECT_FALSE(fs::exists(testing::ServerDataRoot() / MailboxFolderName(other)));
  installation_.Use();
  for (int run = 0; run < 2; ++run) {
    const testing::CliResult result = RunCliCommand({"receive"});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.out, HasSubstr(" - Error. No se puede escribir en la configuración; no se "
                                      "reciben mensajes, para no guardar dos veces los mismos."));
    EXPECT_THAT(Subjects(), ElementsAre("asunto 2", "asunto 3"));
  }
}

// Only a file that can be a message moves the counter. A web host's error or maintenance page,
// whatever its status and size, never does; a file of the mailbox that is no message is skipped
// only with a message after it; a busy server is waited out, honouring Retry-After, and given up
// at its limit as a failure that moves nothing.
TEST_F(ReceiverTest, OnlyMessagesMoveTheCounter) {
  PostUpTo(3, served_);
  Put(1, "");  // in the own mailbox: no message, and a message after it
  Post(2);
  Put(3, "<html>" + std::string(58, 'A'));
  const std::string again = " otra vez en la próxima recepción.", none = "No hay nuevos mensajes";
  const std::string stopped = "La recepción se ha detenido en el mensaje 1; se pedirá" + again;
  const std::string busy =
      "Error de conexión. Código de error: 800C0007 (el servidor responde con el código HTTP 503)";
  struct Case {
    std::string mode;  // of the misbehaving server; "" for the mailbox of the local server
    std::vector<std::string> lines;
    std::int32_t counter = 0;
    bool ok = true;
  } const cases[] = {
      {"page404", {none}},
      {"page503", {busy, stopped}, 0, false},
      {"busyforever", {busy, stopped}, 0, false},
      {"busy", {"3 nuevos mensajes"}, 3},
      {"",
       {"Mensaje 1 descartado: no es un mensaje válido",
        "El servidor no da un mensaje válido en el número 3; se mirará" + again,
        "1 nuevos mensajes"},
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_TRUE(settings_store_.WriteInt(kOptionsSection, kReceivedCounterEntry, 0));
    std::optional<testing::HostileServer> hostile;
    if (!c.mode.empty())
      hostile.emplace(c.mode, served_);
    const testing::ServerAddress at = hostile ? hostile->answering_yes() : local_.address;
    const testing::ScopedCaBundle ca(at.ca);
    settings_.server_name = at.server;
    ui_.Clear();
    // Retry-After (1 s) is honoured once, and the second pause goes past the limit.
    receiver_.SetBusyServerLimits(std::chrono::milliseconds(1500), std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(receiver_.ReceiveMessages(), c.ok);
    if (c.mode.starts_with("busy")) {
      EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    }
    std::vector<std::string> lines(ui_.lines.begin() + 1, ui_.lines.end());
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(Counter(), c.counter);
    EXPECT_EQ(ui_.icons.back() == StatusIcon::kError, !c.ok);
  }
}

// Anyone may post to any mailbox: undecrypted messages past the store's bound are fetched and
// counted, but not stored, and the terminal says which and how to fetch them again.
TEST_F(ReceiverTest, UndecryptedMessagesCannotFillTheStore) {
  Message kept;
  kept.fecha_msj = kept.usuario_emisor_msj = kept.password_msj = "?";
  kept.cuerpo_msj = std::string(64, '0');
  ASSERT_TRUE(store_.BeginBatch());
  for (int n = 1; n < MessageReceiver::kMaxUndecrypted; ++n)
    ASSERT_NE(store_.SaveMessage(kept).numero, 0u);
  ASSERT_TRUE(store_.EndBatch());
  for (const int n : {1, 2, 4})
    Put(n, std::string(64, 'E'));
  Post(3);
  EXPECT_TRUE(receiver_.ReceiveMessages());
  EXPECT_THAT(ui_.lines,
              ElementsAre(::testing::_, "2 nuevos mensajes, 1 sin desencriptar",
                          "No se han guardado 2 mensajes sin desencriptar: ya hay 2000 mensajes "
                          "(o 32 MB) sin desencriptar guardados.",
                          "Números no guardados: 2, 4",
                          "Para pedirlos otra vez al servidor (con todos los que les siguen): "
                          "velkorant-cli received-counter 1"));
  EXPECT_EQ(Counter(), 4);
  EXPECT_EQ(Subjects().size(), MessageReceiver::kMaxUndecrypted + 1u);
}

// A receive run is one at a time per settings database, from any folder and process; it holds
// the folder's lock only to write, never across a download; and a receive from another folder
// than the last one says so, and asks where it can.
TEST_F(ReceiverTest, RunsWaitForEachOtherButNotForDownloads) {
  const fs::path other = fs::current_path().parent_path() / "other";
  fs::create_directory(other);
  // Held by another process: a run from any folder waits briefly, then says so.
  {
    testing::ChildProcess holder(
        {VELKORANT_PYTHON, "-c",
         "import fcntl,os,sys,time; f=os.open(sys.argv[1], os.O_RDWR|os.O_CREAT); "
         "fcntl.flock(f, fcntl.LOCK_EX); print('held=1', flush=True); time.sleep(60)",
         MessageReceiver::RunLockPath(installation_.settings_file()).string()});
    ASSERT_EQ(holder.ReadSettings(1).size(), 1u);
    testing::RecordingUi ui;
    EXPECT_FALSE(Run(other, &ui));
    EXPECT_THAT(ui.lines, ElementsAre("Otro proceso de Velkorant está recibiendo mensajes de este "
                                      "usuario; esta recepción no se hace."));
  }
  // Two folders at once, 1 200 messages waiting: each message is stored once, in one of them.
  PostUpTo(1200);
  {
    std::jthread here([&] { Run("."); });
    Run(other);
  }
  for (int tries = 0; tries < 3 && Counter() < 1200; ++tries)
    Run(".");
  EXPECT_EQ(Counter(), 1200);
  EXPECT_EQ(Subjects().size() + Subjects(other).size(), 1200u);

  // The last run was here: one from another folder says so, and goes ahead unless it can ask
  // and the answer is "No".
  Run(".");
  Post(1201);
  const std::string warning = "Aviso: la última recepción de este usuario fue en la carpeta " +
                              fs::current_path().string() + ", no en esta (" + other.string() +
                              ").";
  testing::RecordingUi asked, told;
  EXPECT_FALSE(Run(other, &asked, true));
  EXPECT_EQ(asked.boxes.at(0).caption, "Recibir en otra carpeta");
  EXPECT_EQ(asked.lines.at(0), warning);
  EXPECT_EQ(Counter(), 1200);
  EXPECT_TRUE(Run(other, &told));
  EXPECT_EQ(told.lines.at(0), warning);
  EXPECT_EQ(Counter(), 1201);

  // Waiting on a slow server, the run leaves the folder free: another process stores at once.
  const testing::HostileServer slow("slow", other);  // no file there: 404, 4 s late
  settings_store_.WriteText(kOptionsSection, "NombreServidor", slow.answering_yes().server);
  const testing::ScopedCaBundle ca(slow.address().ca);
  const auto begun = std::chrono::steady_clock::now();
  {
    std::jthread waiting([&] { Run(other); });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(std::system(("flock --nonblock " + other.string() + " true").c_str()), 0);
    fs::current_path(other);
    const auto sent = RunCliCommand(
        {"send", "--to", "Luis_1234", "--subject", "Hola", "--profile", "Amigo"}, "Hola");
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(3));
  }
  EXPECT_GE(std::chrono::steady_clock::now() - begun, std::chrono::seconds(4));
  installation_.Use();
}

}  // namespace
}  // namespace velkorant
