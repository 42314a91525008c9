// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The message files of the own mailbox, fetched ahead: many numbers per round trip, in windows
// that grow while every answer is a file, handed out strictly in number order. What each answer
// means to a receive run is decided here, once: only a file that can be a transport text is a
// message; a missing number ends the mailbox; a busy server (503, 429, a refused connection) is
// waited out and asked again; a connection lost under a window is asked again once.
//
// The threads the core starts, all of them for a receive run, and each joined before the run
// returns:
// - The fetch ahead: while the run decrypts and stores one window, the next is fetched on a
//   thread of std::async (MessageFetcher::Ask), which alone uses the downloader until Next() or
//   MessageFollows() takes its answers. The run ends it with Stop(), which waits for the window
//   under way (a downloader Cancel() from the program that quits cuts that wait short); the
//   fetcher's destructor only stops a fetcher nobody stopped.
// - The key derivations: a run that needs a password's key derives the keys of the next few
//   passwords beside it, one std::thread each (MessageReceiver::KeyCache::Key), and joins them
//   before that key is used.
// Nothing else in the core starts a thread (the libraries' own, such as libcurl's resolver or
// GDBus's worker, aside); the programs call in from threads of their own.

#include <chrono>
#include <cstdint>
#include <deque>
#include <future>
#include <string>
#include <string_view>
#include <vector>

#include "platform/url_download.h"

namespace velkorant {

// What one answer to a message-file request means to a receive run.
enum class FileAnswer {
  kMessage,  // a 200 whose body can be a transport text
  kJunk,     // a 200 that cannot be a message: an empty, oversized or non-hexadecimal body
  kAbsent,   // 404: no message of that number yet
  kBusy,     // 503, 429 or a refused connection: wait and ask again
  kLost,     // the connection died under the request: asking again is harmless
  kFailed,   // any other failure: the run cannot tell what is there
};

// The decision on one answer: its failure cause (kNone for a 2xx), HTTP status and body.
FileAnswer ClassifyFileAnswer(DownloadFailure failure, long http_status, std::string_view body);

class MessageFetcher {
 public:
  struct Limits {
    int first_window = 4;  // few at first, so an empty mailbox costs little
    int max_window = 64;
    // A busy server is waited out this long in all, then the run gives up.
    std::chrono::milliseconds busy_total{std::chrono::minutes(2)};
    // The longest Retry-After honoured, and the cap of the growing pause without one.
    std::chrono::milliseconds longest_pause{std::chrono::seconds(30)};
    std::chrono::milliseconds first_pause{std::chrono::seconds(1)};
  };

  struct Item {
    std::int32_t number = 0;
    FileAnswer kind = FileAnswer::kFailed;
    UrlDownloader::FetchResult answer;
  };

  // Fetches "<url_prefix><n>_datos.cry" for n = after + 1 up to after + count (within int32).
  MessageFetcher(UrlDownloader& downloader, std::string url_prefix, std::int32_t after, int count,
                 Limits limits, std::size_t max_bytes);
  ~MessageFetcher();
  MessageFetcher(const MessageFetcher&) = delete;
  MessageFetcher& operator=(const MessageFetcher&) = delete;

  // Whether every number has been handed out.
  bool done() const { return taken_ >= last_; }
  // The answer for the next number. Never kBusy nor kLost: those are asked again, and given up
  // as kFailed once the server stays busy past `busy_total` or a connection is lost twice.
  Item Next();
  // Whether a message comes after the number Next() gave last, with only junk between, among the
  // next `numbers` numbers (as far as they were fetched, or are asked ahead already).
  bool MessageFollows(int numbers);

  // Waits for the window asked ahead, if any; its answers are dropped and asked again by the next
  // run. Next() must not be called after it.
  void Stop();

  // Time spent waiting for answers (not for a busy server), for the run's statistics.
  std::chrono::nanoseconds waited() const { return waited_; }

 private:
  void Ask();
  // Takes the window under way into ahead_, and asks the next one when it held only files.
  void TakeWindow();
  // Drops what was fetched from `number` on, so that it is asked again.
  void AskAgainFrom(std::int32_t number);
  // Pauses before asking a busy server again; false when the run should give up instead.
  bool PauseForBusyServer(const UrlDownloader::FetchResult& answer);

  UrlDownloader& downloader_;
  std::string url_prefix_;
  Limits limits_;
  std::size_t max_bytes_;
  std::int32_t taken_;
  std::int32_t asked_;  // the last number asked for
  std::int32_t last_;
  int window_;
  std::deque<Item> ahead_;
  std::future<std::vector<UrlDownloader::FetchResult>> next_;
  std::int32_t lost_again_ = 0;  // the number asked again after a lost connection
  std::chrono::milliseconds pause_{0};
  std::chrono::milliseconds paused_{0};
  std::chrono::nanoseconds waited_{0};
};

}  // namespace velkorant
