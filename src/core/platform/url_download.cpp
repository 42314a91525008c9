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

struct Transfer {
  std::string& body;
  std::size_t limit;
  bool too_large = false;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  if (transfer.body.size() + bytes > transfer.limit) {
    transfer.too_large = true;
    return 0;  // aborts the transfer
  }
  transfer.body.append(data, bytes);
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

struct UrlDownloader::Handle {
  std::unique_ptr<CURL, CurlDeleter> curl;
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
    : handle_(std::make_unique<Handle>()), limits_(limits) {
  GlobalInitOnce();
  handle_->curl.reset(curl_easy_init());
}

UrlDownloader::~UrlDownloader() = default;

DownloadFailure UrlDownloader::Perform(const std::string& url, std::string& body,
                                       std::size_t max_bytes) {
  last_http_status_ = 0;
  CURL* curl = handle_->curl.get();
  if (curl == nullptr || cancelled_)
    return DownloadFailure::kTransfer;
  Transfer transfer{body, max_bytes};

  // Options are set afresh for every request; the handle keeps connections and the CA cache.
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* bundle = std::getenv("CURL_CA_BUNDLE"); bundle != nullptr && *bundle != '\0') {
    curl_easy_setopt(curl, CURLOPT_CAINFO, bundle);
  }
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(limits_.connect_timeout.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits_.total_timeout.count()));
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                   std::max(1L, static_cast<long>(limits_.stall_timeout.count() / 1000)));
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(max_bytes));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Velkorant/1.1");
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CheckCancelled);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &cancelled_);

  const CURLcode code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &last_http_status_);

  if (transfer.too_large)
    return DownloadFailure::kTooLong;
  if (code != CURLE_OK)
    return FromCurl(code);
  if (last_http_status_ == 404)
    return DownloadFailure::kHttpNotFound;
  if (last_http_status_ < 200 || last_http_status_ >= 300)
    return DownloadFailure::kHttpStatus;
  return DownloadFailure::kNone;
}

ResultCode UrlDownloader::FetchToMemory(const std::string& url, std::string& body,
                                        std::size_t max_bytes) {
  body.clear();
  last_failure_ = Perform(url, body, max_bytes != 0 ? max_bytes : limits_.max_answer_bytes);
  const ResultCode code = ResultCodeOf(last_failure_);
  // An error status's body is the server's word on it; anything cut short is nobody's answer.
  if (code != kResultOk && code != kDataNotAvailable && code != kObjectNotFound)
    body.clear();
  return code;
}

}  // namespace velkorant
