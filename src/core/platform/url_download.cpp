// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/url_download.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace velkorant {
namespace {

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// One request of a FetchAll; leaves the pool when it goes, so its handle is never freed while the
// pool still holds it.
struct Request {
  CURLM* multi = nullptr;
  std::unique_ptr<CURL, CurlDeleter> easy;
  std::string body;
  std::size_t limit = 0;
  bool too_large = false;
  bool done = false;
  CURLcode code = CURLE_OK;

  Request() = default;
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  ~Request() {
    if (multi != nullptr && easy)
      curl_multi_remove_handle(multi, easy.get());
  }
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& request = *static_cast<Request*>(user);
  const std::size_t bytes = size * count;
  if (request.body.size() + bytes > request.limit) {
    request.too_large = true;
    return 0;  // aborts the transfer
  }
  request.body.append(data, bytes);
  return bytes;
}

// Called by libcurl at least once a second, also while nothing arrives.
int CheckCancelled(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(cancelled)->load() ? 1 : 0;
}

DownloadFailure FromCurl(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return DownloadFailure::kNone;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return DownloadFailure::kInvalidAddress;
    case CURLE_COULDNT_RESOLVE_PROXY:
      return DownloadFailure::kProxyNotFound;
    case CURLE_COULDNT_RESOLVE_HOST:
      return DownloadFailure::kHostNotFound;
    case CURLE_COULDNT_CONNECT:
      return DownloadFailure::kRefused;
    case CURLE_OPERATION_TIMEDOUT:
      return DownloadFailure::kTimeout;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return DownloadFailure::kUntrustedCertificate;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED:
      return DownloadFailure::kTls;
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_WRITE_ERROR:
      return DownloadFailure::kTooLong;
    default:
      return DownloadFailure::kTransfer;
  }
}

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

struct UrlDownloader::Pool {
  std::unique_ptr<CURLM, MultiDeleter> multi;
};

ResultCode ResultCodeOf(DownloadFailure failure) {
  switch (failure) {
    case DownloadFailure::kNone:
      return kResultOk;
    case DownloadFailure::kInvalidAddress:
      return kInvalidUrl;
    case DownloadFailure::kTransfer:
      return kCannotConnect;
    case DownloadFailure::kHostNotFound:
    case DownloadFailure::kProxyNotFound:
    case DownloadFailure::kRefused:
      return kResourceNotFound;
    case DownloadFailure::kHttpNotFound:
      return kObjectNotFound;
    case DownloadFailure::kHttpStatus:
      return kDataNotAvailable;
    case DownloadFailure::kTimeout:
      return kConnectionTimeout;
    case DownloadFailure::kTls:
      return kSecurityProblem;
    case DownloadFailure::kTooLong:
      return kCannotLoadData;
    case DownloadFailure::kUntrustedCertificate:
      return kInvalidCertificate;
  }
  return kCannotConnect;
}

std::string FormatResultCode(ResultCode code) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(code));
  return text;
}

UrlDownloader::UrlDownloader(DownloadLimits limits)
    : pool_(std::make_unique<Pool>()), limits_(limits) {
  GlobalInitOnce();
  pool_->multi.reset(curl_multi_init());
  if (CURLM* multi = pool_->multi.get()) {
    curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, kMaxHostConnections);
    // Kept open between calls: the next request, or the next receive run, needs no handshake.
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, kMaxHostConnections + 2);
  }
}

UrlDownloader::~UrlDownloader() = default;

namespace {

// Sets one request up as every request of the program is made.
// `ca_bundle`: the CA file to trust instead of the system's, or null.
void Configure(CURL* curl, Request& request, const std::string& url, const DownloadLimits& limits,
               std::size_t max_bytes, std::atomic<bool>& cancelled, const char* ca_bundle) {
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PRIVATE, &request);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (ca_bundle != nullptr)
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca_bundle);
  // Many requests on one TLS connection; each waits for the first to learn whether the server
  // multiplexes rather than opening a connection of its own.
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  curl_easy_setopt(curl, CURLOPT_PIPEWAIT, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(limits.connect_timeout.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total_timeout.count()));
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                   std::max(1L, static_cast<long>(limits.stall_timeout.count() / 1000)));
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(max_bytes));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &request);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Velkorant/1.1");
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CheckCancelled);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &cancelled);
}

// What a finished (or never finished) request gives its caller.
UrlDownloader::FetchResult ResultOf(Request& request) {
  UrlDownloader::FetchResult result;
  if (request.done && request.easy) {
    curl_easy_getinfo(request.easy.get(), CURLINFO_RESPONSE_CODE, &result.http_status);
    curl_off_t retry_after = 0;
    if (curl_easy_getinfo(request.easy.get(), CURLINFO_RETRY_AFTER, &retry_after) == CURLE_OK &&
        retry_after > 0)
      result.retry_after = std::chrono::seconds(retry_after);
  }
  // The status line came, with an error status: that decides, however the body ended.
  const bool error_status = result.http_status >= 300 && result.http_status != 0;
  const bool cut = request.too_large || request.code == CURLE_FILESIZE_EXCEEDED;
  if (!request.done)
    result.failure = DownloadFailure::kTransfer;  // never started, or cancelled
  else if (error_status && cut)
    result.failure =
        result.http_status == 404 ? DownloadFailure::kHttpNotFound : DownloadFailure::kHttpStatus;
  else if (request.too_large)
    result.failure = DownloadFailure::kTooLong;
  else if (request.code != CURLE_OK)
    result.failure = FromCurl(request.code);
  else if (result.http_status == 404)
    result.failure = DownloadFailure::kHttpNotFound;
  else if (result.http_status < 200 || result.http_status >= 300)
    result.failure = DownloadFailure::kHttpStatus;
  result.code = ResultCodeOf(result.failure);
  // An error status's body is the server's word on it; anything cut short is nobody's answer.
  if (!cut && (result.code == kResultOk || result.code == kDataNotAvailable ||
               result.code == kObjectNotFound))
    result.body = std::move(request.body);
  return result;
}

}  // namespace

std::vector<UrlDownloader::FetchResult> UrlDownloader::FetchAll(
    const std::vector<std::string>& urls, std::size_t max_bytes) {
  if (max_bytes == 0)
    max_bytes = limits_.max_answer_bytes;
  CURLM* multi = pool_->multi.get();
  std::vector<Request> requests(urls.size());
  const char* ca_bundle = std::getenv("CURL_CA_BUNDLE");
  if (ca_bundle != nullptr && *ca_bundle == '\0')
    ca_bundle = nullptr;
  for (std::size_t i = 0; i < urls.size() && multi != nullptr && !cancelled_; ++i) {
    Request& request = requests[i];
    request.limit = max_bytes;
    request.easy.reset(curl_easy_init());
    CURL* curl = request.easy.get();
    if (curl == nullptr)
      continue;
    Configure(curl, request, urls[i], limits_, max_bytes, cancelled_, ca_bundle);
    if (curl_multi_add_handle(multi, curl) == CURLM_OK)
      request.multi = multi;
  }

  // Every transfer ends by its own time-outs; the short wait only lets a Cancel() be seen.
  for (int running = 1; running > 0 && !cancelled_;) {
    if (curl_multi_perform(multi, &running) != CURLM_OK)
      break;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg != CURLMSG_DONE)
        continue;
      Request* request = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &request);
      if (request != nullptr) {
        request->done = true;
        request->code = message->data.result;
      }
    }
    if (running > 0 && curl_multi_poll(multi, nullptr, 0, 100, nullptr) != CURLM_OK)
      break;
  }

  std::vector<FetchResult> results;
  results.reserve(urls.size());
  for (Request& request : requests)
    results.push_back(ResultOf(request));
  return results;
}

ResultCode UrlDownloader::FetchToMemory(const std::string& url, std::string& body,
                                        std::size_t max_bytes) {
  FetchResult result = std::move(FetchAll({url}, max_bytes).front());
  body = std::move(result.body);
  last_failure_ = result.failure;
  last_http_status_ = result.http_status;
  return result.code;
}

}  // namespace velkorant
