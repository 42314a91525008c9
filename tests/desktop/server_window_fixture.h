#pragma once

// A main window whose user has a mailbox of its own on the local mailbox server (the
// mailbox_server fixture), and messages posted to that mailbox as another user would send them.

#include <memory>
#include <string>

#include "main_window_fixture.h"
#include "mailbox/mailbox_client.h"
#include "settings/password_profiles.h"
#include "support/mailbox_server.h"
#include "support/recording_ui.h"

namespace velkorant::testing {

class ServerWindowTest : public MainWindowTest {
 protected:
  // Registers a fresh user named `prefix` and a random suffix.
  void RegisterUser(const std::string& prefix) {
    server_ = LocalMailboxServer();
    ASSERT_FALSE(server_.server.empty()) << "the mailbox_server fixture did not run";
    ca_ = std::make_unique<ScopedCaBundle>(server_.ca);
    settings_.user_name = prefix + RandomFolder();
    settings_.server_name = server_.server;
    RecordingUi quiet;
    MailboxClient client(settings_, quiet, downloader_);
    ASSERT_TRUE(client.CreateMailbox(settings_.user_name));
  }

  // The settings of that user, and one password profile "Amigos" holding `password`.
  void WriteUserSettings(const std::string& password) {
    SampleSettings sample;
    sample.user_name = settings_.user_name;
    sample.server = settings_.server_name;
    WriteSettings(sample);
    SettingsStore store;
    PasswordProfile profile;
    profile.name = "Amigos";
    profile.password = password;
    WriteProfile(store, profile.name, profile);
  }

  void Post(const std::string& subject, const std::string& password) {
    RecordingUi quiet;
    MailboxClient sender(settings_, quiet, downloader_);
    Message record = Received("Ana_garcia", subject, "2024-03-07 09:05:00", false);
    record.usuario_receptor_msj = settings_.user_name;
    record.password_msj = password;
    ASSERT_TRUE(sender.SendEncryptedMessage(record));
  }

  ServerAddress server_;
  std::unique_ptr<ScopedCaBundle> ca_;
  Settings settings_;
  UrlDownloader downloader_;
};

}  // namespace velkorant::testing
