#include "mailbox/message_receiver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <limits>
#include <thread>

#include "crypto/digests.h"
#include "support/cli_runner.h"
#include "support/installation.h"
#include "support/mailbox_server.h"
#include "support/recording_ui.h"
#include "support/scratch_mount.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
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
  }
  void AddProfile(const std::string& name, const std::string& password) {
    ASSERT_TRUE(WriteProfile(settings_store_, name, {name, password, "", "", "", ""}));
    passwords_.LoadPasswordList(settings_store_);
  }
  // Puts message n ("asunto n") into the own mailbox, as a sender's request would.
  void Post(int n, const std::string& password = "clave compartida") {
    const std::string text = "VER:v1.1a\nFEC:2024-03-07 09:05:00\nASU:asunto " + std::to_string(n);
    std::ofstream(Mailbox() / ("msj_" + std::to_string(n) + "_datos.cry"))
        << EncryptText(text + "\n", password);
  }
  fs::path Mailbox() const { return testing::ServerDataRoot() / MailboxFolderName(user_); }
  // The subjects of the stored messages, from the disk.
  static std::vector<std::string> Subjects() {
    MessageStore disk(".");
    disk.LoadMessageStore();
    std::vector<std::string> subjects;
    std::ranges::transform(disk.messages(), std::back_inserter(subjects), &Message::asunto_msj);
    return subjects;
  }
  std::int32_t Counter() {
    return settings_store_.ReadInt(kOptionsSection, kReceivedCounterEntry, -100).value();
  }
  struct Outcome {
    std::string file;  // the received messages, as stored
    std::int32_t counter;
    std::vector<std::string> lines;
    bool operator==(const Outcome&) const = default;
    friend void PrintTo(const Outcome& o, std::ostream* out) {
      *out << "counter " << o.counter << ", lines " << ::testing::PrintToString(o.lines);
    }
  };
  // A run of a receiver of its own, fetching at most `window` numbers at once.
  Outcome Receive(int window, testing::RecordingUi& ui, UrlDownloader& downloader) {
    MailboxClient client(settings_, ui, downloader);
    MessageStore store(".");
    MessageReceiver receiver(client, settings_, settings_store_, store, passwords_);
    receiver.SetFetchWindowLimit(window);
    receiver.ReceiveMessages();
    std::ifstream file(std::string(kReceivedMessagesFile), std::ios::binary);
    return {{std::istreambuf_iterator<char>(file), {}}, Counter(), ui.lines};
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
  SettingsStore settings_store_;
  Settings settings_;
  testing::RecordingUi ui_;
  UrlDownloader downloader_;
  PasswordList passwords_;
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
  std::ofstream(Mailbox() / "msj_3_datos.cry") << std::string(64'001, 'A');
  Post(4);
  Post(6);  // after a missing number: not fetched
  ui_.Clear();
  EXPECT_TRUE(receiver_.ReceiveMessages());
  EXPECT_THAT(ui_.lines,
              ElementsAre("Comprobando mensajes para " + user_,
                          "Mensaje 3 descartado: es más largo que cualquier mensaje válido",
                          "3 nuevos mensajes, 1 sin desencriptar"));  // only what was stored
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kNewMessages));
  EXPECT_THAT(ui_.icons, ElementsAre(StatusIcon::kNewMessages));
  EXPECT_EQ(ui_.filters_reset + ui_.reloads + ui_.brought_to_front, 3);
  EXPECT_EQ(receiver_.last_run().derivations, 1);
  EXPECT_THAT(Subjects(), ElementsAre("asunto 1", "<sin desencriptar>", "asunto 4"));
  EXPECT_EQ(Counter(), 4);
  EXPECT_EQ(settings_store_.ReadText(kOptionsSection, "RecepcionPendiente", "-"), "-");

  ui_.Clear();
  EXPECT_TRUE(receiver_.ReceiveMessages());
  EXPECT_THAT(ui_.lines,
              ElementsAre("Comprobando mensajes para " + user_, "No hay nuevos mensajes"));
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kNoNewMessages));
  EXPECT_THAT(ui_.icons, ElementsAre(StatusIcon::kNoNewMessages));
  EXPECT_EQ(Counter(), 4);

  ui_.Clear();
  store_.LoadMessageStore();  // as the message list does when told to reload
  AddProfile("Otra", "otra clave distinta");
  EXPECT_TRUE(receiver_.RetryUndecryptedMessages());
  EXPECT_THAT(ui_.lines, ElementsAre("1 nuevos mensajes desencriptados"));
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kPendingDecrypted));
  EXPECT_EQ(ui_.reloads, 1);
  EXPECT_THAT(Subjects(), ElementsAre("asunto 1", "asunto 2", "asunto 4"));

  // A run killed before it moved the counter left a marker: the next run fetches its messages
  // again when they never reached the disk, and skips them when they did.
  Post(5);
  ASSERT_TRUE(settings_store_.WriteText(kOptionsSection, "RecepcionPendiente", "5 4 4"));
  EXPECT_TRUE(receiver_.ReceiveMessages());
  Post(7);
  MessageStore other(".");
  other.LoadMessageStore();
  Message seventh;
  seventh.fecha_msj = "2024-03-07 09:05:00";
  seventh.asunto_msj = "asunto 7";
  ASSERT_EQ(other.SaveMessage(seventh), 6u);
  ASSERT_TRUE(settings_store_.WriteText(kOptionsSection, "RecepcionPendiente", "7 6 6"));
  EXPECT_TRUE(receiver_.ReceiveMessages());
  EXPECT_EQ(Counter(), 7);
  EXPECT_THAT(Subjects(),
              ElementsAre("asunto 1", "asunto 2", "asunto 4", "asunto 5", "asunto 6", "asunto 7"));
}

// The counter never runs ahead of what is on disk, and the summary counts only stored messages;
// a mailbox with more messages than a run takes ends the run at its bound.
TEST_F(ReceiverTest, RunsEndAtTheFirstBatchThatCannotBeWritten) {
  for (int n = 1; n <= 2 * MessageReceiver::kMaxMessagesPerRun; ++n)
    std::ofstream(Mailbox() / ("msj_" + std::to_string(n) + "_datos.cry")) << std::string(64, '0');
  SetCipherDiagnosticSink([](std::string_view) {});  // no password fits: no need to say so
  int writes = 0;                                    // of the received store that succeed
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
  SetCipherDiagnosticSink([](std::string_view) {});
  // "si" to the mailbox check, then garbage, each only when asked again after a lost connection
  const testing::HostileServer answers("drops");
  const auto garbage = [this](int first, int last, std::size_t size) {
    for (int n = first; n <= last; ++n)
      std::ofstream(Mailbox() / ("msj_" + std::to_string(n) + "_datos.cry"))
          << std::string(size, 'F');
  };
  constexpr std::int32_t kLast = std::numeric_limits<std::int32_t>::max();
  std::string answers_server = answers.address().server;
  answers_server.replace(answers_server.find("velkorant"), 9, "si");
  struct Case {
    std::string name;
    std::function<void()> add;  // to the mailbox of the rows before
    testing::ServerAddress server;
    std::int32_t counter;
    std::int32_t start = 0;
  };
  const Case cases[] = {
      {"empty", [] {}, local_.address, 0},
      {"gap", [&] { Post(1), Post(2), Post(4); }, local_.address, 2},
      {"undecrypted, too long", [&] { Post(3, "otra"), garbage(5, 5, 64'001), garbage(6, 6, 64); },
       local_.address, 6},
      {"more than a run takes", [&] { garbage(7, 1001, 64); }, local_.address, 1000},
      // Numbers end before the run's bound does.
      {"garbage answers", [] {}, {answers_server, answers.address().ca}, kLast, kLast - 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.add();
    const testing::ScopedCaBundle ca(c.server.ca);
    settings_.server_name = c.server.server;
    std::vector<Outcome> outcomes;
    for (const int window : {1, MessageReceiver::kMaxFetchWindow}) {
      fs::remove(kReceivedMessagesFile);
      ASSERT_TRUE(settings_store_.WriteInt(kOptionsSection, kReceivedCounterEntry, c.start));
      testing::RecordingUi ui;
      UrlDownloader downloader;
      outcomes.push_back(Receive(window, ui, downloader));
    }
    EXPECT_EQ(outcomes[0], outcomes[1]);
    EXPECT_EQ(outcomes[1].counter, c.counter);
  }
}

// A cancel from another thread (the program quits) ends a run in full flow at once: what it
// stored stays, counted, and the next run goes on from there without losing or repeating a
// message. (A run waiting on a server that never answers is ended so by the window's test.)
TEST_F(ReceiverTest, CancelledRunsEndAtOnceAndLoseNothing) {
  for (int n = 1; n <= 300; ++n)
    Post(n);
  UrlDownloader downloader;
  struct CancellingUi : testing::RecordingUi {
    UrlDownloader* downloader;
    void ShowReceiveProgress(int fetched) override {
      if (fetched == 100)  // the window of 64 under way is still taken
        std::jthread([this] { downloader->Cancel(); }).join();
    }
  } ui;
  ui.downloader = &downloader;
  const Outcome run = Receive(MessageReceiver::kMaxFetchWindow, ui, downloader);
  EXPECT_EQ(run.counter, 124);
  EXPECT_THAT(Subjects(), ::testing::ContainerEq(SubjectsUpTo(124)));
  EXPECT_THAT(run.lines,
              ::testing::Contains(::testing::HasSubstr("se ha cortado la comunicación")));
  testing::RecordingUi next;
  UrlDownloader fresh;
  EXPECT_EQ(Receive(MessageReceiver::kMaxFetchWindow, next, fresh).counter, 300);
  EXPECT_THAT(Subjects(), ::testing::ContainerEq(SubjectsUpTo(300)));
}

// A counter that says nothing of what is stored, or that cannot be written, stops receiving: any
// run would store the same messages again. Nobody is registered who could not be kept.
TEST_F(ReceiverTest, ReceivingNeedsACounterToTrust) {
  for (int n = 1; n <= 3; ++n)
    Post(n);
  // A text read as a number would be the default 0: messages 1 to 3 again.
  for (const std::string counter : {"57", "-3"}) {
    ASSERT_TRUE(counter == "57"
                    ? settings_store_.WriteText(kOptionsSection, kReceivedCounterEntry, counter)
                    : settings_store_.WriteInt(kOptionsSection, kReceivedCounterEntry, -3));
    const testing::CliResult blocked = RunCliCommand({"receive"});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_TRUE(blocked.out.npos !=
                blocked.out.find(" - Error. El contador de mensajes recibidos (MsjsRecibidos) "
                                 "vale " +
                                 counter + ", que no es válido; no se reciben mensajes.\n"))
        << blocked.out;
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
    EXPECT_TRUE(result.out.npos !=
                result.out.find(" - Error. No se puede escribir en la configuración; no se "
                                "reciben mensajes, para no guardar dos veces los mismos."))
        << result.out;
    EXPECT_THAT(Subjects(), ElementsAre("asunto 2", "asunto 3"));
  }
}

}  // namespace
}  // namespace velkorant
