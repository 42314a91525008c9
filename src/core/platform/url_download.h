// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Downloads a URL, reporting the outcome as a 32-bit result code in the form of the Windows URL
// download service, so that the program's failure classes and "%08X" texts hold. Only HTTPS;
// TLS is verified. Answers are kept in memory: no file is shared between requests, so two
// processes in one folder never read each other's answers.
//
// Result codes, and the finer cause the downloader remembers (DownloadFailure):
//   0            success (HTTP 2xx)                                     kNone
//   0x800C0005   host not found, proxy not found, connection refused    kHostNotFound,
//                (connection failure)                                   kProxyNotFound, kRefused
//   0x800C0006   HTTP 404 (not found)                                   kHttpNotFound
//   0x800C0002   malformed URL or a scheme other than https             kInvalidAddress
//   0x800C0007   any other HTTP error status (4xx, 5xx) or an           kHttpStatus
//                unfollowed redirect
// An error status decides whatever its answer's size: a long error page is an error, not an
// oversized answer.
//   0x800C000B   connection, stall or total time-out                    kTimeout
//   0x800C000E   TLS handshake failure                                  kTls
//   0x800C000F   answer over the size cap                               kTooLong
//   0x800C0019   the server's certificate could not be verified         kUntrustedCertificate
//   0x800C0004   any other transfer failure (connection reset,          kTransfer
//                truncated answer, ...)
// 0x800C0008 is never produced: callers treat it as "reached", and no failure of ours should
// read as success.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velkorant {

using ResultCode = std::int32_t;

constexpr ResultCode MakeResultCode(std::uint32_t value) {
  return static_cast<ResultCode>(value);
}

inline constexpr ResultCode kResultOk = 0;
inline constexpr ResultCode kInvalidUrl = MakeResultCode(0x800C0002);
inline constexpr ResultCode kCannotConnect = MakeResultCode(0x800C0004);
inline constexpr ResultCode kResourceNotFound = MakeResultCode(0x800C0005);
inline constexpr ResultCode kObjectNotFound = MakeResultCode(0x800C0006);
inline constexpr ResultCode kDataNotAvailable = MakeResultCode(0x800C0007);
inline constexpr ResultCode kDownloadFailure = MakeResultCode(0x800C0008);
inline constexpr ResultCode kConnectionTimeout = MakeResultCode(0x800C000B);
inline constexpr ResultCode kSecurityProblem = MakeResultCode(0x800C000E);
inline constexpr ResultCode kCannotLoadData = MakeResultCode(0x800C000F);
inline constexpr ResultCode kInvalidCertificate = MakeResultCode(0x800C0019);

enum class DownloadFailure {
  kNone,
  kInvalidAddress,
  kTransfer,
  kHostNotFound,
  kProxyNotFound,
  kRefused,
  kHttpNotFound,
  kHttpStatus,
  kTimeout,
  kTls,
  kTooLong,
  kUntrustedCertificate,
};

// The result code of a cause, as in the table above.
ResultCode ResultCodeOf(DownloadFailure failure);

// "%08X" of the code, as the terminal shows it.
std::string FormatResultCode(ResultCode code);

struct DownloadLimits {
  std::chrono::milliseconds connect_timeout{10'000};
  // A transfer that moves no byte for this long is abandoned.
  std::chrono::milliseconds stall_timeout{20'000};
  // Bounds an answer that trickles in forever.
  std::chrono::milliseconds total_timeout{60'000};
  std::size_t max_answer_bytes = 1 << 20;
};

// One connection pool for every request, kept between calls, so repeated requests to the server
// reuse the TLS connection and the loaded CA store. Requests made together share one HTTP/2
// connection where the server speaks it, else up to kMaxHostConnections HTTP/1.1 ones.
// CURL_CA_BUNDLE names a private CA (as for the curl tool); the usual proxy variables apply.
// Nothing is cached locally. One thread at a time fetches; Cancel() may come from any thread.
class UrlDownloader {
 public:
  static constexpr long kMaxHostConnections = 6;

  // One answer of FetchAll: what FetchToMemory, last_failure() and last_http_status() would
  // have given for it.
  struct FetchResult {
    ResultCode code = kResultOk;
    std::string body;
    DownloadFailure failure = DownloadFailure::kNone;
    long http_status = 0;
    // What the server's Retry-After asked for (0 when it sent none).
    std::chrono::seconds retry_after{0};
  };

  explicit UrlDownloader(DownloadLimits limits = {});
  ~UrlDownloader();
  UrlDownloader(const UrlDownloader&) = delete;
  UrlDownloader& operator=(const UrlDownloader&) = delete;

  // `body` receives the answer the server sent, whole, also with an error status (a refusal's
  // text); it is empty when no complete answer of at most `max_bytes` (0: the limits' cap) came.
  ResultCode FetchToMemory(const std::string& url, std::string& body, std::size_t max_bytes = 0);
  // All the URLs at once, the answers in the order of the URLs; each request is bounded by the
  // limits as if it were alone.
  std::vector<FetchResult> FetchAll(const std::vector<std::string>& urls,
                                    std::size_t max_bytes = 0);

  // The HTTP status of the last request (0 when none was received).
  long last_http_status() const { return last_http_status_; }
  // Why the last request failed; kNone after a success.
  DownloadFailure last_failure() const { return last_failure_; }

  // From any thread: the request under way ends within a second or so, and every later one fails
  // at once, as a transfer failure (kTransfer), until the downloader is gone. For a program that
  // quits while a flow waits on the network.
  void Cancel() { cancelled_ = true; }
  bool cancelled() const { return cancelled_; }

 private:
  struct Pool;
  std::unique_ptr<Pool> pool_;
  DownloadLimits limits_;
  long last_http_status_ = 0;
  DownloadFailure last_failure_ = DownloadFailure::kNone;
  std::atomic<bool> cancelled_ = false;
};

}  // namespace velkorant
