// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Receiving: the messages of the own mailbox are taken one number after the other from the
// received counter on, up to the first number that is not there, tried with every password of
// the password list, and stored decrypted or, when no password fits, as undecrypted messages
// that a later retry may still open. The counter moves only past what really was a message (or a
// file the mailbox holds that cannot be one, with a message after it): an error or maintenance
// page of the server's host never moves it. The numbers are fetched ahead (MessageFetcher).
//
// A run is crash-safe: what it stores is written in batches, each made durable before the
// counter that skips its messages moves, with a marker in the settings store that tells a later
// run whether an interrupted batch reached the disk. So a message is never lost and never
// stored twice, and the counter lags the stored messages by one batch at most.
//
// Locks: one run at a time per settings database (the counter lives there), from any folder or
// process, by a lock file beside the database; the folder's lock only while a batch is written.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "crypto/message_cipher.h"
#include "mailbox/mailbox_client.h"
#include "mailbox/message_fetcher.h"
#include "settings/password_profiles.h"
#include "settings/settings_store.h"
#include "store/message_store.h"

namespace velkorant {

class MessageReceiver {
 public:
  // A server that answered every number would otherwise keep a run going for ever; the next run
  // goes on from the counter.
  static constexpr int kMaxMessagesPerRun = 1000;
  // Messages stored per durable batch (a batch also ends after kBatchTime).
  static constexpr int kBatchSize = 250;
  static constexpr std::chrono::seconds kBatchTime{2};
  // A run that finds another process receiving waits this long, then is skipped.
  static constexpr std::chrono::seconds kRunLockWait{2};
  static constexpr std::size_t kMaxMessageBytes = kMaxTransportTextLength;
  static constexpr int kMaxFetchWindow = MessageFetcher::Limits{}.max_window;
  // A file that cannot be a message is skipped only when a message follows it this close.
  static constexpr int kJunkLookahead = kMaxFetchWindow;
  // Anyone may post to any mailbox: undecrypted messages are kept up to these bounds, and those
  // past them are fetched, counted and not stored.
  static constexpr int kMaxUndecrypted = 2000;
  static constexpr std::size_t kMaxUndecryptedBytes = 32 << 20;
  // The settings entry that remembers the folder of the last receive run.
  static constexpr std::string_view kReceiveFolderEntry = "CarpetaRecepcion";

  // Where one run's time went, and how many keys it derived.
  struct RunStatistics {
    int fetched = 0;
    int derivations = 0;
    std::chrono::nanoseconds download{0};
    std::chrono::nanoseconds derive{0};
    std::chrono::nanoseconds decrypt{0};
    std::chrono::nanoseconds store{0};
  };

  // `settings` is the program's live copy; its counter is advanced and saved by the run.
  MessageReceiver(MailboxClient& client, Settings& settings, SettingsStore& settings_store,
                  MessageStore& store, const PasswordList& passwords);

  // One receive run; false when it was skipped, or could not fetch, store or count what the
  // mailbox holds. Skipped while another run or a request of this process is busy, and (saying
  // so) while another process receives with the same settings. Nothing is fetched unless the
  // counter can be read and written: otherwise every run would store the same messages again.
  bool ReceiveMessages();
  // At most this many numbers fetched at once (1: one per round trip), for measurements.
  void SetFetchWindowLimit(int limit) {
    fetch_limits_.max_window = std::clamp(limit, 1, kMaxFetchWindow);
    fetch_limits_.first_window = std::min(fetch_limits_.first_window, fetch_limits_.max_window);
  }
  // How long a busy server is waited for (tests shorten it).
  void SetBusyServerLimits(std::chrono::milliseconds total, std::chrono::milliseconds first_pause) {
    fetch_limits_.busy_total = total;
    fetch_limits_.first_pause = first_pause;
  }
  // A program that can ask (the desktop) asks before it receives into a folder other than the
  // one these settings received into last; the others only say so.
  void SetAskBeforeAnotherFolder(bool ask) { ask_before_another_folder_ = ask; }
  // Tries the passwords on the stored undecrypted messages; true when one was decrypted now.
  bool RetryUndecryptedMessages();

  const RunStatistics& last_run() const { return stats_; }

  // The lock file of the receive runs of the settings database at `database`.
  static std::filesystem::path RunLockPath(const std::filesystem::path& database);

 private:
  enum class Stored { kDecrypted, kUndecrypted, kEmpty };

  // Each password's key is derived once per run, on first use, and wiped when the run ends.
  class KeyCache {
   public:
    KeyCache(const PasswordList& passwords, RunStatistics& stats);
    const DerivedKey& Key(std::size_t entry);

   private:
    const PasswordList& passwords_;
    RunStatistics& stats_;
    std::vector<std::optional<DerivedKey>> keys_;
  };

  // What a run fetched, counted as it went and as far as it reached the disk.
  struct Counts {
    int fetched = 0;  // numbers the counter moves past
    int messages = 0;
    int undecrypted = 0;
  };

  // How the loop over the mailbox ended.
  struct RunEnd {
    bool fetch_failed = false;
    bool store_failed = false;
  };

  // Fetches from the counter `start` on and stores in batches; `committed` is what reached the
  // disk with the counter moved past it.
  RunEnd FetchAndStore(std::int32_t start, Counts& committed);
  // One fetched number into the batch under way (or skipped, said in the terminal); false when
  // the run stops before it, which the next run then asks for again.
  bool TakeAnswer(MessageFetcher::Item& item, MessageFetcher& fetcher, KeyCache& keys,
                  Counts& fresh, RunEnd& end);
  void ReportRunNotLocked(const FileLock& run_lock);
  // The record of the first password whose decryption is an acceptable message text.
  std::optional<Message> Decrypt(std::string_view transport, KeyCache& keys);
  // Whether the store may take one more undecrypted message of this size.
  bool RoomForUndecrypted(std::size_t bytes);
  // Writes the batch and makes it durable, then moves the counter past it; false (with the
  // reason in the terminal) when the messages or the counter could not be written.
  bool CommitBatch(std::int32_t counter);
  // Reads the counter, finishes the bookkeeping of a run that was killed between its two commit
  // steps, tells of another folder, and proves that the counter can be written; false (said in
  // the terminal) otherwise.
  bool PrepareRun();
  void CountStoredUndecrypted();
  // Whether to go on when these settings received in another folder last.
  bool AcceptReceiveFolder(const std::string& last, const std::string& here);
  // The counters, as SaveCounters writes them, the receive folder, and no marker any more: one
  // transaction.
  bool SaveCountersClearingMarker();
  // The summary of a run, as the terminal, the sounds and the envelope tell it.
  void Report(const Counts& committed, bool fetch_failed, bool store_failed);
  void ReportSettingsProblem(std::string_view what);

  MailboxClient& client_;
  Settings& settings_;
  SettingsStore& settings_store_;
  MessageStore& store_;
  const PasswordList& passwords_;
  MessageFetcher::Limits fetch_limits_;
  bool ask_before_another_folder_ = false;
  std::string receive_folder_;             // this store's folder, as remembered
  std::vector<Message> batch_;             // taken, not written yet
  std::optional<int> undecrypted_stored_;  // once counted
  std::size_t undecrypted_bytes_ = 0;
  std::vector<std::int32_t> left_out_;  // undecrypted numbers past the bounds
  RunStatistics stats_;
};

}  // namespace velkorant
