// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The main form: it owns the program's running state (settings, message list, password list,
// the runner of the server flows) and composes the terminal, the status envelope, the
// message list panel and the action buttons. Commands of the frame's menu arrive here.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/password_profiles.h"
#include "settings/settings_store.h"
#include "store/message_store.h"
#include "ui/dialog_units.h"
#include "ui/qt_ui_services.h"
#include "view/command_context.h"
#include "view/flow_runner.h"
#include "view/main_view_layout.h"
#include "view/status_envelope.h"
#include "view/terminal_log.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace velkorant {

class DialogRunner;
class EventSoundPlayer;
class MessageListPanel;

inline constexpr int kStartupTimerId = 100;
inline constexpr int kReceiveTimerId = 101;
inline constexpr int kStartupTimerPeriodMs = 500;
inline constexpr int kReceiveTimerPeriodMs = 1'800'000;

class CMainView : public QWidget, public ViewHooks, public UserState {
  Q_OBJECT

 public:
  CMainView(SettingsStore& settings_store, DialogRunner& runner, QWidget* parent = nullptr);
  ~CMainView() override;

  // The start-up steps, in their order; `progress_pane` is the status bar's pane that shows a
  // receive run's progress and the button that cancels it, `outcome_pane` the one that tells how
  // each server flow ended.
  void OnInitialUpdate(QWidget& progress_pane, QLabel& outcome_pane);
  // Ends every flow and local job soon, and waits for them: for a program that quits.
  void StopFlows();

  void LogTerminal(std::string_view text, std::string_view suffix = {}) override;
  void SetStatusIcon(int state) override;
  void ResetFilters() override;
  void ReloadMessages() override;
  QWidget* TopWindow() override;
  void ShowReceiveProgress(int fetched) override;

  // The message buttons follow the message chosen; they stay on while a server flow runs, whose
  // sends wait behind it.
  void UpdateActionButtons();

  // Until the settings can be read, the program writes no setting and makes no request: anything
  // it did would act on defaults, not on the user's values.
  const Settings& settings() const override { return settings_; }
  bool RequireSettings() override;
  // Also refreshes the buttons; the settings in memory stay as they were when the store cannot
  // be read.
  bool ReloadSettings() override;
  // The password profiles are read on the local worker (their passwords may wait on the
  // desktop's keyring and its unlock prompt): at start, and again after the profiles dialog.
  void LoadProfiles() override;
  bool RequireProfiles() override;
  const PasswordList& passwords() const override { return passwords_; }
  const std::vector<std::string>& profile_names() const override { return profile_names_; }
  void OnTimer(int id);

  // Commands.
  void OnCheckServer();
  void OnReceiveMessages();
  void OnShowEncryptionInfo();
  void OnShowLegalNotice();
  // What the commands of the buttons and the menu work with.
  CommandContext& commands() { return commands_; }

  // The live settings, changed in place by tests.
  Settings& settings() { return settings_; }
  MessageStore& message_store() { return store_; }
  SettingsStore& settings_store() { return settings_store_; }
  const MainViewControls& controls() const { return controls_; }
  MessageListPanel& list() { return *list_; }
  EventSoundPlayer& sounds() { return *sounds_; }
  UiServices& ui_services() { return ui_; }
  // The server flows, and the local jobs (keyring, store changes), each on its own worker.
  FlowRunner& flows() { return flows_; }
  FlowRunner& local() { return local_; }

 signals:
  // Every SetStatusIcon, with its state (the tray icon follows the envelope).
  void statusIconChanged(int state);
  // The start-up's text for the status bar's panes: the version.
  void statusPanesChanged(const QString& version_text);

 private:
  enum class Profiles { kLoading, kReady, kFailed };

  // `move_to_keyring` first moves the passwords still in clear into the keyring.
  void ReadProfiles(bool move_to_keyring);
  void StartReceive();
  void OnFlowsBusy(bool busy);
  void OnFlowEnded(const std::string& outcome, bool cancelled);
  // Turns a control off; the focus it had goes to the list first, never on to the next control
  // (which may be "Salir").
  void SetEnabledKeepingFocus(QWidget* control, bool enabled);
  void MarkRead(std::uint32_t numero);
  // "Velkorant", with the unread messages counted when there are any.
  void ShowUnreadInTitle();
  // What a new user does first, while there is no user or no password profile.
  void ShowFirstSteps();

  SettingsStore& settings_store_;
  DialogRunner& runner_;
  DialogUnits units_;
  MainViewControls controls_;
  Settings settings_;
  MessageStore store_;
  PasswordList passwords_;
  EventSoundPlayer* sounds_;
  TerminalLog terminal_;
  StatusEnvelope envelope_;
  MessageListPanel* list_;
  QtUiServices ui_;
  std::vector<std::string> profile_names_;
  Profiles profiles_ = Profiles::kLoading;
  std::string profiles_problem_;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QLabel* outcome_ = nullptr;
  // The control that had the focus when the server flows started: it has it again when they end.
  QPointer<QWidget> focus_before_flows_;
  // Set when the focus went to the list because its control was turned off.
  bool focus_parked_ = false;
  QTimer* startup_timer_;
  QTimer* receive_timer_;
  bool settings_readable_ = false;
  // Refers to the runners below, which it outlives.
  CommandContext commands_;
  // Last, so destroyed first: a flow's last steps and the calls it posted run while every member
  // above, the UI services among them, is still whole.
  FlowRunner flows_;
  FlowRunner local_;
};

}  // namespace velkorant
