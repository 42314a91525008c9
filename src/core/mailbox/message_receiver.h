#pragma once

// Receiving: the messages of the own mailbox are taken one number after the other from the
// received counter on, up to the first number that is not there, tried with every password of
// the password list, and stored decrypted or, when no password fits, as undecrypted messages
// that a later retry may still open. The numbers are fetched ahead, many per round trip, in a
// window that grows while every answer is a message; the answers are still taken strictly in
// number order, and those beyond the first missing number are thrown away.
//
// A run is crash-safe: what it stores is written in batches, each made durable before the
// counter that skips its messages moves, with a marker in the settings store that tells a later
// run whether an interrupted batch reached the disk. So a message is never lost and never
// stored twice, and the counter lags the stored messages by one batch at most.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "crypto/message_cipher.h"
#include "mailbox/mailbox_client.h"
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
  // The server takes messages of up to 64 000 hexadecimal digits; a real one is far shorter.
  // Anything longer is no message of ours, and no store should have to hold it.
  static constexpr std::size_t kMaxMessageBytes = 64'000;
  // Numbers asked for at once: few at first, so an empty mailbox costs little, then doubling.
  static constexpr int kFirstFetchWindow = 4;
  static constexpr int kMaxFetchWindow = 64;

  // kDiscarded: a file that can be no message (too long); counted as fetched, never stored.
  enum class DownloadOutcome { kDownloaded, kAbsent, kFailed, kDiscarded };

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

  // One receive run; false when it was skipped or could not store or count what it fetched.
  // Skipped while another run or a request of this process is busy, and (saying so) while
  // another process receives into the same folder. Nothing is fetched unless the counter can be
  // read and written: otherwise every run would store the same messages again.
  bool ReceiveMessages();
  // At most this many numbers fetched at once (1: one per round trip), for measurements.
  void SetFetchWindowLimit(int limit) { window_limit_ = std::clamp(limit, 1, kMaxFetchWindow); }
  // Tries the passwords on the stored undecrypted messages; true when one was decrypted now.
  bool RetryUndecryptedMessages();

  const RunStatistics& last_run() const { return stats_; }

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

  // The record of the first password whose decryption is an acceptable message text.
  std::optional<Message> Decrypt(std::string_view transport, KeyCache& keys);
  // The answer for `number`, as the run takes it: kept for StoreDownloadedMessage, or said why
  // not in the terminal.
  DownloadOutcome TakeAnswer(std::int32_t number, UrlDownloader::FetchResult answer);
  Stored StoreDownloadedMessage(KeyCache& keys);
  // Makes the stored batch durable, then moves the counter past it; false (with the reason in
  // the terminal) when the messages or the counter could not be written.
  bool CommitBatch(std::int32_t counter);
  // Reads the counter, finishes the bookkeeping of a run that was killed between its two commit
  // steps, and proves that the counter can be written; false (said in the terminal) otherwise.
  bool PrepareRun();
  // The counters, as SaveCounters writes them, and no marker any more: one transaction.
  bool SaveCountersClearingMarker();
  void ReportSettingsProblem(std::string_view what);

  MailboxClient& client_;
  Settings& settings_;
  SettingsStore& settings_store_;
  MessageStore& store_;
  const PasswordList& passwords_;
  std::optional<std::string> downloaded_;  // the message of the last TakeAnswer
  int window_limit_ = kMaxFetchWindow;
  std::uint32_t batch_first_ = 0;
  std::uint32_t batch_last_ = 0;
  RunStatistics stats_;
};

}  // namespace velkorant
