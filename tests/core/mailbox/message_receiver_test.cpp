#include "mailbox/message_receiver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "crypto/digests.h"
#include "platform/ansi_text.h"
#include "store/message_text.h"
#include "support/mailbox_server.h"
#include "support/recording_ui.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using velkorant::testing::HostileServer;
using velkorant::testing::RandomFolder;
using velkorant::testing::RecordingUi;
using velkorant::testing::ScopedCaBundle;

constexpr const char* kRightPassword = "clave compartida";
constexpr const char* kOtherPassword = "otra clave distinta";

// One installation: its working folder, settings database, stores and receive flow, pointed at
// the local mailbox server, with a registered user of its own.
class ReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = testing::LocalMailboxServer();
    ASSERT_FALSE(server_.server.empty()) << "the mailbox_server fixture did not run";
    ca_ = std::make_unique<ScopedCaBundle>(server_.ca);
    dir_ = fs::temp_directory_path() / ("velkorant-receiver-" + RandomFolder());
    fs::create_directories(dir_);
    settings_store_ = std::make_unique<SettingsStore>(dir_ / "settings.sqlite3");
    settings_.server_name = server_.server;
    settings_.user_name = "receptor_" + RandomFolder();
    store_ = std::make_unique<MessageStore>(dir_);
    client_ = std::make_unique<MailboxClient>(settings_, ui_, downloader_);
    receiver_ = std::make_unique<MessageReceiver>(*client_, settings_, *settings_store_, *store_,
                                                  passwords_);
    ASSERT_TRUE(client_->CreateMailbox(settings_.user_name));
    ui_.Clear();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void AddProfile(const std::string& name, const std::string& password) {
    PasswordProfile profile;
    profile.name = name;
    profile.password = password;
    WriteProfile(*settings_store_, name, profile);
    passwords_.LoadPasswordList(*settings_store_);
  }

  // Posts message i ("mensaje i") to the own mailbox, encrypted with `password`.
  void Post(int i, const std::string& password) {
    RecordingUi quiet;
    MailboxClient sender(settings_, quiet, downloader_);
    Message record;
    record.fecha_msj =
        "2024-03-07 09:05:" + std::string(i < 10 ? "0" : "") + std::to_string(i % 60);
    record.usuario_emisor_msj = "Hannah_desert";
    record.usuario_receptor_msj = settings_.user_name;
    record.asunto_msj = "asunto " + std::to_string(i);
    record.cuerpo_msj = "mensaje " + std::to_string(i) + "\r\nsegunda l\xEDnea";
    record.password_msj = password;
    ASSERT_TRUE(sender.SendEncryptedMessage(record));
  }

  fs::path MailboxFolder() const {
    return fs::path(VELKORANT_BINARY_DIR) / "mailbox-server-state/data" /
           MailboxFolderName(settings_.user_name);
  }

  std::vector<Message> Received() {
    store_->LoadMessageStore();
    std::vector<Message> received;
    for (const Message& m : store_->messages()) {
      if (!m.enviado)
        received.push_back(m);
    }
    return received;
  }

  std::int32_t StoredCounter() {
    SettingsStore fresh(dir_ / "settings.sqlite3");
    return LoadSettings(fresh).value().received_counter;
  }

  testing::ServerAddress server_;
  std::unique_ptr<ScopedCaBundle> ca_;
  fs::path dir_;
  std::unique_ptr<SettingsStore> settings_store_;
  Settings settings_;
  RecordingUi ui_;
  UrlDownloader downloader_;
  PasswordList passwords_;
  std::unique_ptr<MessageStore> store_;
  std::unique_ptr<MailboxClient> client_;
  std::unique_ptr<MessageReceiver> receiver_;
};

TEST_F(ReceiverTest, FetchesFromTheCounterOnAndStoresDecrypted) {
  AddProfile("Amigo", kRightPassword);
  for (int i = 1; i <= 7; ++i)
    Post(i, kRightPassword);
  settings_.received_counter = 5;

  receiver_->ReceiveMessages();
  EXPECT_THAT(ui_.lines,
              ElementsAre("Comprobando mensajes para " + settings_.user_name, "2 nuevos mensajes"));
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kNewMessages));
  EXPECT_THAT(ui_.icons, ElementsAre(StatusIcon::kNewMessages));
  EXPECT_EQ(ui_.filters_reset, 1);
  EXPECT_EQ(ui_.reloads, 1);
  EXPECT_EQ(ui_.brought_to_front, 1);
  EXPECT_EQ(settings_.received_counter, 7);
  EXPECT_EQ(StoredCounter(), 7);
  EXPECT_EQ(receiver_->last_run().derivations, 1);

  const auto received = Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].numero, 1u);
  EXPECT_EQ(received[0].asunto_msj, "asunto 6");
  EXPECT_EQ(received[1].cuerpo_msj, "mensaje 7\r\nsegunda l\xEDnea");
  EXPECT_EQ(received[1].usuario_emisor_msj, "Hannah_desert");
  EXPECT_EQ(received[1].usuario_receptor_msj, settings_.user_name);
  EXPECT_EQ(received[1].password_msj, Crc32Hex(kRightPassword));
  EXPECT_TRUE(received[1].flag_msj_desencriptado);
  EXPECT_FALSE(received[1].flag_msj_leido);

  // Nothing new: the counter stays and nothing is stored.
  ui_.Clear();
  receiver_->ReceiveMessages();
  EXPECT_THAT(ui_.lines, ElementsAre("Comprobando mensajes para " + settings_.user_name,
                                     "No hay nuevos mensajes"));
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kNoNewMessages));
  EXPECT_THAT(ui_.icons, ElementsAre(StatusIcon::kNoNewMessages));
  EXPECT_EQ(ui_.reloads, 0);
  EXPECT_EQ(StoredCounter(), 7);
  EXPECT_EQ(Received().size(), 2u);
}

TEST_F(ReceiverTest, StopsAtAGap) {
  AddProfile("Amigo", kRightPassword);
  for (int i = 1; i <= 3; ++i)
    Post(i, kRightPassword);
  // Message 5 without a message 4 (only possible by hand on the server).
  fs::copy_file(MailboxFolder() / "msj_3_datos.cry", MailboxFolder() / "msj_5_datos.cry");
  receiver_->ReceiveMessages();
  EXPECT_EQ(ui_.lines.back(), "3 nuevos mensajes");
  EXPECT_EQ(StoredCounter(), 3);
  EXPECT_EQ(Received().size(), 3u);
}

TEST_F(ReceiverTest, UndecryptedMessagesAreKeptAndRetriedLater) {
  AddProfile("Amigo", kRightPassword);
  Post(1, kRightPassword);
  Post(2, kOtherPassword);
  receiver_->ReceiveMessages();
  EXPECT_EQ(ui_.lines.back(), "2 nuevos mensajes, 1 sin desencriptar");

  auto received = Received();
  ASSERT_EQ(received.size(), 2u);
  const Message& undecrypted = received[1];
  EXPECT_EQ(undecrypted.numero, 2u);
  EXPECT_EQ(undecrypted.asunto_msj, "<sin desencriptar>");
  EXPECT_EQ(undecrypted.fecha_msj, "?");
  EXPECT_EQ(undecrypted.usuario_emisor_msj, "?");
  EXPECT_EQ(undecrypted.usuario_receptor_msj, "?");
  EXPECT_EQ(undecrypted.password_msj, Crc32Hex("?"));
  EXPECT_TRUE(undecrypted.flag_msj_leido);
  EXPECT_FALSE(undecrypted.flag_msj_desencriptado);
  std::ifstream posted(MailboxFolder() / "msj_2_datos.cry", std::ios::binary);
  EXPECT_EQ(undecrypted.cuerpo_msj, std::string(std::istreambuf_iterator<char>(posted), {}));

  // Retrying with the same profiles decrypts nothing and says nothing.
  ui_.Clear();
  EXPECT_FALSE(receiver_->RetryUndecryptedMessages());
  EXPECT_TRUE(ui_.lines.empty());
  EXPECT_TRUE(ui_.sounds.empty());

  AddProfile("Otra", kOtherPassword);
  EXPECT_TRUE(receiver_->RetryUndecryptedMessages());
  EXPECT_THAT(ui_.lines, ElementsAre("1 nuevos mensajes desencriptados"));
  EXPECT_THAT(ui_.sounds, ElementsAre(EventSound::kPendingDecrypted));
  EXPECT_EQ(ui_.reloads, 1);
  EXPECT_LE(receiver_->last_run().derivations, 2);
  received = Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].numero, 2u);
  EXPECT_EQ(received[1].asunto_msj, "asunto 2");
  EXPECT_TRUE(received[1].flag_msj_desencriptado);
  EXPECT_FALSE(received[1].flag_msj_leido) << "a message decrypted now is new to the user";
}

TEST_F(ReceiverTest, WithoutProfilesEverythingIsUndecrypted) {
  Post(1, kRightPassword);
  Post(2, kRightPassword);
  receiver_->ReceiveMessages();
  EXPECT_EQ(ui_.lines.back(), "2 nuevos mensajes, 2 sin desencriptar");
  EXPECT_EQ(receiver_->last_run().derivations, 0);
  for (const Message& m : Received())
    EXPECT_FALSE(m.flag_msj_desencriptado);
}

TEST_F(ReceiverTest, MissingMailboxOrBusyClientStopsTheRun) {
  settings_.user_name = "nadie_" + RandomFolder();
  receiver_->ReceiveMessages();
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, "No existe el usuario");
  EXPECT_THAT(ui_.lines, ElementsAre("Error. No existe el usuario " + settings_.user_name));
  EXPECT_EQ(ui_.filters_reset, 0);

  // A run that starts while another request waits (in a message box) is skipped entirely.
  ui_.Clear();
  MailboxClient::BusyGuard busy(*client_);
  receiver_->ReceiveMessages();
  EXPECT_TRUE(ui_.lines.empty());
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(ReceiverTest, InterruptedBatchIsRecognisedByTheNextRun) {
  AddProfile("Amigo", kRightPassword);
  for (int i = 1; i <= 3; ++i)
    Post(i, kRightPassword);
  receiver_->ReceiveMessages();
  ASSERT_EQ(StoredCounter(), 3);
  for (int i = 4; i <= 5; ++i)
    Post(i, kRightPassword);

  // As if a run had stored messages 4 and 5 (sections 4 and 5) and died before moving the
  // counter: the marker it leaves lets the next run skip them instead of storing them twice.
  {
    MessageStore other(dir_);
    other.LoadMessageStore();
    for (int i = 4; i <= 5; ++i) {
      Message m;
      m.fecha_msj = "2024-01-01 00:00:00";
      m.asunto_msj = "asunto " + std::to_string(i);
      ASSERT_EQ(other.SaveMessage(m), static_cast<std::uint32_t>(i));
    }
  }
  settings_store_->WriteText("Opciones", "RecepcionPendiente", "5 4 5");
  ui_.Clear();
  receiver_->ReceiveMessages();
  EXPECT_EQ(ui_.lines.back(), "No hay nuevos mensajes");
  EXPECT_EQ(StoredCounter(), 5);
  EXPECT_EQ(Received().size(), 5u);

  // A marker whose messages never reached the disk leaves the counter where it was.
  Post(6, kRightPassword);
  settings_store_->WriteText("Opciones", "RecepcionPendiente", "6 6 6");
  ui_.Clear();
  receiver_->ReceiveMessages();
  EXPECT_EQ(ui_.lines.back(), "1 nuevos mensajes");
  EXPECT_EQ(StoredCounter(), 6);
  EXPECT_EQ(Received().size(), 6u);
}

TEST_F(ReceiverTest, HostileServersLeaveTheStoresIntact) {
  AddProfile("Amigo", kRightPassword);
  Post(1, kRightPassword);
  receiver_->ReceiveMessages();
  ASSERT_EQ(Received().size(), 1u);
  const auto before = StoredCounter();

  {
    HostileServer huge("huge");
    ScopedCaBundle ca(huge.address().ca);
    settings_.server_name = huge.address().server;
    ui_.Clear();
    receiver_->ReceiveMessages();
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, "Error de conexión. Código de error: 800C000F");
    EXPECT_EQ(Received().size(), 1u);
    EXPECT_EQ(StoredCounter(), before);
  }
  {
    // A server with a message at every number: the run ends at its bound.
    HostileServer every("every");
    ScopedCaBundle ca(every.address().ca);
    settings_.server_name = every.address().server;
    ui_.Clear();
    const auto start = std::chrono::steady_clock::now();
    receiver_->ReceiveMessages();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(ui_.lines.back(), "1000 nuevos mensajes, 1000 sin desencriptar");
    EXPECT_EQ(StoredCounter(), before + MessageReceiver::kMaxMessagesPerRun);
    EXPECT_EQ(Received().size(), 1001u);
  }
}

}  // namespace
}  // namespace velkorant
