// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Work that may wait runs on a worker thread, one flow after the other, so the window keeps
// answering: the server flows (receive runs, retries, sends, the server check, registration)
// wait on the network; the local jobs (the keyring's passwords, and every change of the message
// stores) wait on the desktop's keyring and on other processes' short writes. The program keeps
// one runner for each, so that a store change never waits behind a download. The GUI thread
// calls neither the keyring nor takes the folder's lock.
//
// Each flow has objects of its own for the working folder: a connection to the settings
// database, a copy of the settings, the password list (read on the worker, by the flows that
// need it), its own message store and downloader. The worker touches nothing of the window's.
// What a flow tells the user reaches the GUI thread in its order; a message box is shown there
// and the flow waits for its answer. What a flow changed is handed back by its `done` step, run
// on the GUI thread. Stop() cancels every wait of a flow (downloads, boxes, the keyring, the
// folder's lock), so quitting never waits for a server, a keyring or another process.
// Where work crosses (Start, the work step, Finish and done, Stop, and the boxes a flow waits
// for) the thread is checked in every build; a call on the wrong one ends the program at once,
// naming it.

#include <QObject>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "common/ui_services.h"
#include "mailbox/mailbox_client.h"
#include "mailbox/message_receiver.h"
#include "platform/url_download.h"
#include "settings/password_profiles.h"
#include "settings/settings_store.h"
#include "store/message_store.h"

namespace velkorant {

// A flow's UiServices: each call is posted to `gui` on the thread of `target`; a box waits for
// its answer, or until the flow is cancelled (then it takes the box's safe answer: No or OK).
class ForwardingUi final : public UiServices {
 public:
  ForwardingUi(QObject& target, UiServices& gui);

  void LogTerminal(std::string_view text, std::string_view suffix = {}) override;
  void SetStatusIcon(StatusIcon state) override;
  void PlayEventSound(EventSound sound) override;
  int ShowMessageBox(std::string_view text, std::string_view caption, unsigned type) override;
  void BringToFront() override;
  void ResetFilters() override;
  void ReloadMessages() override;
  void ShowReceiveProgress(int fetched) override;
  // Kept for the flow's end: its outcome, or else its last terminal line.
  void ShowOutcome(std::string_view text) override;
  // Once the flow's work has returned.
  const std::string& outcome() const { return outcome_.empty() ? last_line_ : outcome_; }

  // From the GUI thread: boxes asked for from now on, and the one waited for, are not shown.
  void Cancel();

 private:
  template <typename Call>
  void Post(Call call);

  // Shared with the box's posted call, which may run after the flow has gone.
  struct Box {
    std::mutex mutex;
    std::condition_variable answered;
    bool cancelled = false;
    int answer = 0;
  };
  QObject& target_;
  UiServices& gui_;
  std::shared_ptr<Box> box_ = std::make_shared<Box>();
  // Written by the worker only, read once the work returned.
  std::string outcome_;
  std::string last_line_;
};

class FlowRunner final : public QObject {
  Q_OBJECT

 public:
  // One flow's objects. Made on the GUI thread, used by the worker until the flow's work
  // returns, then by the GUI thread again (done) and destroyed there.
  struct Flow {
    Flow(QObject& target, UiServices& gui, const std::filesystem::path& settings_database,
         Settings settings);
    // Reads the password list on the worker; false, said in the terminal, when the settings or
    // the keyring cannot give it: a receive run without the passwords would store every message
    // undecrypted.
    bool LoadPasswords();

    std::atomic<bool> cancelled = false;
    SettingsStore settings_store;
    Settings settings;
    PasswordList passwords;
    MessageStore store{"."};
    UrlDownloader downloader;
    ForwardingUi ui;
    MailboxClient client{settings, ui, downloader};
    MessageReceiver receiver{client, settings, settings_store, store, passwords};
  };
  using Step = std::function<void(Flow&)>;

  // kOneAtATime: the flows run on one worker, in the order they were asked for (the server
  // flows: a send never overlaps a receive run). kAtOnce: each on a thread of its own as soon as
  // it is asked for, so that one waiting for a lock or the keyring holds up no other (the local
  // jobs; the folder's lock still puts their writes in order).
  enum class Order { kOneAtATime, kAtOnce };
  // `gui` receives the flows' calls on the GUI thread.
  FlowRunner(UiServices& gui, std::filesystem::path settings_database,
             Order order = Order::kOneAtATime, QObject* parent = nullptr);
  ~FlowRunner() override;

  // Runs `work` on the worker with a flow made from a copy of `settings`, then `done` here. When
  // a flow runs already, one that must not be lost (what the user confirmed in a dialog opened
  // before) runs after it; any other is skipped (false).
  enum class WhenBusy { kSkip, kQueue };
  bool Start(const Settings& settings, WhenBusy when_busy, Step work, Step done = {});
  bool busy() const { return !flows_.empty(); }
  // Ends the flow that runs now as Stop would (what it stored stays), and only that one: the
  // flows asked for after it still run, and later ones start as usual.
  void CancelRunning();
  // Where the flows' calls go; for a word from the caller among them.
  UiServices& gui() { return gui_; }
  // Ends every flow soon (its downloads fail, its boxes take their safe answer), waits for them
  // and runs their done steps. For a program that quits: later flows are skipped, or (what the
  // user confirmed in a dialog still open) run at once the same way, and Stop waits for them
  // again.
  void Stop();

 signals:
  // When the first flow starts and when the last one has ended.
  void busyChanged(bool busy);
  // As each flow ends, before its done step: what it said last (ShowOutcome), and whether it was
  // cancelled.
  void flowEnded(const std::string& outcome, bool cancelled);

 private:
  struct Queued {
    std::unique_ptr<Flow> flow;
    Step done;
    std::thread thread;  // kAtOnce
  };
  void Finish(Flow* flow);
  static void Cancel(Flow& flow);

  UiServices& gui_;
  std::filesystem::path settings_database_;
  Order order_;
  QThread thread_;
  QObject* worker_;  // lives on thread_; deleted there when it ends
  std::deque<Queued> flows_;
  bool stopped_ = false;
};

}  // namespace velkorant
