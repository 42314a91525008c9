// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the main view's commands (message_commands, settings_commands) work with, handed to them
// in place of the view: the runner of their dialogs and boxes, the two workers, the message
// list, the sounds, and the view's settings and password profiles behind the calls that read
// them. The view's widgets, timers and start-up are none of their business.

#include <QWidget>
#include <string>
#include <vector>

namespace velkorant {

class DialogRunner;
class EventSoundPlayer;
class FlowRunner;
class MessageListPanel;
class PasswordList;
class SettingsStore;
struct Settings;

// The settings and password profiles the window runs on; the main view keeps them.
class UserState {
 public:
  virtual const Settings& settings() const = 0;
  // Whether the settings could be read; reads them again when they could not, and says why not.
  virtual bool RequireSettings() = 0;
  // Reads them again (the preferences changed them); false when the store cannot be read.
  virtual bool ReloadSettings() = 0;
  // The settings and the password list, for the commands that write messages; says why not.
  virtual bool RequireProfiles() = 0;
  virtual const PasswordList& passwords() const = 0;
  virtual const std::vector<std::string>& profile_names() const = 0;
  // Reads the password profiles again, on the local worker.
  virtual void LoadProfiles() = 0;

 protected:
  ~UserState() = default;
};

struct CommandContext {
  QWidget& view;  // its window parents the commands' dialogs and boxes
  DialogRunner& dialogs;
  UserState& user;
  SettingsStore& settings_store;
  FlowRunner& flows;  // the server flows
  FlowRunner& local;  // the local jobs: the keyring, the message stores' changes
  MessageListPanel& list;
  EventSoundPlayer& sounds;
  // Set while the profiles dialog's profiles are read: one click opens one dialog.
  bool profiles_dialog_pending = false;

  QWidget* window() const { return view.window(); }
};

}  // namespace velkorant
