#include "mailbox/message_receiver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

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

// A counter that says nothing of what is stored, or that cannot be written, stops receiving: any
// run would store the same messages again. Nobody is registered who could not be kept.
TEST_F(ReceiverTest, ReceivingNeedsACounterToTrust) {
  for (int n = 1; n <= 3; ++n)
    Post(n);
  ASSERT_TRUE(settings_store_.WriteInt(kOptionsSection, kReceivedCounterEntry, -3));
  const testing::CliResult blocked = RunCliCommand({"receive"});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_TRUE(blocked.out.npos !=
              blocked.out.find(" - Error. El contador de mensajes recibidos (MsjsRecibidos) "
                               "vale -3, que no es válido; no se reciben mensajes.\n"))
      << blocked.out;
  EXPECT_TRUE(blocked.out.ends_with(" servidor: velkorant-cli received-counter NÚMERO\n"));
  EXPECT_EQ(RunCliCommand({"received-counter"}).out, "-3\n");
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
