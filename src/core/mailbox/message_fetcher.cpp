// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/message_fetcher.h"

#include <algorithm>
#include <limits>
#include <thread>

#include "crypto/message_cipher.h"

namespace velkorant {

FileAnswer ClassifyFileAnswer(DownloadFailure failure, long http_status, std::string_view body) {
  switch (failure) {
    case DownloadFailure::kNone:
      return CanBeTransportText(body) ? FileAnswer::kMessage : FileAnswer::kJunk;
    case DownloadFailure::kTooLong:
      // Only a file (2xx) is ever too long; an error page is an error whatever its size.
      return FileAnswer::kJunk;
    case DownloadFailure::kHttpNotFound:
      return FileAnswer::kAbsent;
    case DownloadFailure::kHttpStatus:
      return http_status == 503 || http_status == 429 ? FileAnswer::kBusy : FileAnswer::kFailed;
    case DownloadFailure::kRefused:
      return FileAnswer::kBusy;
    case DownloadFailure::kTransfer:
    case DownloadFailure::kTls:
      return FileAnswer::kLost;
    case DownloadFailure::kInvalidAddress:
    case DownloadFailure::kHostNotFound:
    case DownloadFailure::kProxyNotFound:
    case DownloadFailure::kTimeout:
    case DownloadFailure::kUntrustedCertificate:
      break;
  }
  return FileAnswer::kFailed;
}

MessageFetcher::MessageFetcher(UrlDownloader& downloader, std::string url_prefix,
                               std::int32_t after, int count, Limits limits, std::size_t max_bytes)
    : downloader_(downloader),
      url_prefix_(std::move(url_prefix)),
      limits_(limits),
      max_bytes_(max_bytes),
      taken_(after),
      asked_(after),
      last_(static_cast<std::int32_t>(std::min<std::int64_t>(
          std::int64_t{after} + std::max(count, 0), std::numeric_limits<std::int32_t>::max()))),
      window_(std::clamp(limits.first_window, 1, std::max(1, limits.max_window))),
      pause_(std::max(limits.first_pause, std::chrono::milliseconds(10))) {
  limits_.first_pause = pause_;
}

MessageFetcher::~MessageFetcher() {
  // The window under way uses the downloader, which outlives this object only as the caller's.
  Stop();
}

void MessageFetcher::Stop() {
  if (next_.valid()) {
    next_.wait();
    next_ = {};
  }
  ahead_.clear();
}

void MessageFetcher::Ask() {
  const auto count = std::min<std::int64_t>(window_, std::int64_t{last_} - asked_);
  if (count <= 0)
    return;
  std::vector<std::string> urls;
  urls.reserve(static_cast<std::size_t>(count));
  for (std::int64_t i = 1; i <= count; ++i)
    urls.push_back(url_prefix_ + std::to_string(asked_ + i) + "_datos.cry");
  asked_ = static_cast<std::int32_t>(asked_ + count);
  // Kept in memory: a run reads hundreds of these, and a file per message would cost more than
  // fetching it.
  next_ =
      std::async(std::launch::async, [&downloader = downloader_, urls = std::move(urls),
                                      max = max_bytes_] { return downloader.FetchAll(urls, max); });
}

void MessageFetcher::TakeWindow() {
  const auto start = std::chrono::steady_clock::now();
  std::vector<UrlDownloader::FetchResult> answers = next_.get();
  waited_ += std::chrono::steady_clock::now() - start;
  std::int32_t number = ahead_.empty() ? taken_ : ahead_.back().number;
  bool only_files = true;
  for (UrlDownloader::FetchResult& answer : answers) {
    const FileAnswer kind = ClassifyFileAnswer(answer.failure, answer.http_status, answer.body);
    only_files = only_files && (kind == FileAnswer::kMessage || kind == FileAnswer::kJunk);
    ahead_.push_back({++number, kind, std::move(answer)});
  }
  // While the caller decrypts and stores these, the next window is on its way; after any other
  // answer the caller stops or asks again, so nothing is asked beyond it.
  if (only_files && !downloader_.cancelled()) {
    window_ = std::min(2 * window_, limits_.max_window);
    Ask();
  }
}

void MessageFetcher::AskAgainFrom(std::int32_t number) {
  Stop();
  asked_ = number - 1;
}

bool MessageFetcher::PauseForBusyServer(const UrlDownloader::FetchResult& answer) {
  using std::chrono::milliseconds;
  milliseconds pause = pause_;
  if (answer.retry_after.count() > 0) {
    pause = std::chrono::duration_cast<milliseconds>(answer.retry_after);
  } else {
    pause_ = std::min(2 * pause_, limits_.longest_pause);
  }
  pause = std::min(pause, limits_.longest_pause);
  if (paused_ + pause > limits_.busy_total)
    return false;
  paused_ += pause;
  // In short steps, so a cancel (the program quits) ends the pause at once.
  const auto end = std::chrono::steady_clock::now() + pause;
  while (std::chrono::steady_clock::now() < end && !downloader_.cancelled())
    std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(
        milliseconds(50), end - std::chrono::steady_clock::now()));
  return true;
}

MessageFetcher::Item MessageFetcher::Next() {
  for (;;) {
    if (ahead_.empty()) {
      if (downloader_.cancelled())
        Stop();  // asked before the cancel: left for the next run, like the rest
      if (!next_.valid())
        Ask();
      TakeWindow();
    }
    Item& front = ahead_.front();
    if (front.kind == FileAnswer::kLost && lost_again_ != front.number) {
      lost_again_ = front.number;
      AskAgainFrom(front.number);
      continue;
    }
    if (front.kind == FileAnswer::kBusy) {
      if (PauseForBusyServer(front.answer)) {
        AskAgainFrom(front.number);
        continue;
      }
    } else {
      pause_ = limits_.first_pause;
    }
    if (front.kind == FileAnswer::kBusy || front.kind == FileAnswer::kLost)
      front.kind = FileAnswer::kFailed;
    Item item = std::move(front);
    ahead_.pop_front();
    taken_ = item.number;
    return item;
  }
}

bool MessageFetcher::MessageFollows(int numbers) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(numbers, 0)); ++i) {
    if (i == ahead_.size()) {
      if (!next_.valid() || downloader_.cancelled())
        return false;
      TakeWindow();
      if (i == ahead_.size())
        return false;
    }
    if (ahead_[i].kind != FileAnswer::kJunk)
      return ahead_[i].kind == FileAnswer::kMessage;
  }
  return false;
}

}  // namespace velkorant
