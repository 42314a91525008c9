#include "platform/url_download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <system_error>

namespace velkorant {
namespace {

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

// Owns the temporary file a body is written to; removes it unless it was committed.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target) {
    std::string pattern = target.string() + ".part-XXXXXX";
    fd_ = ::mkstemp(pattern.data());
    if (fd_ >= 0)
      path_ = pattern;
  }
  ~TemporaryFile() {
    Close();
    if (!path_.empty())
      std::filesystem::remove(path_, ignored_);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  bool Write(const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t written = ::write(fd_, data, size);
      if (written < 0) {
        if (errno == EINTR)
          continue;
        return false;
      }
      data += written;
      size -= static_cast<std::size_t>(written);
    }
    return true;
  }
  bool Commit(const std::filesystem::path& target) {
    if (Close() != 0)
      return false;
    std::filesystem::rename(path_, target, ignored_);
    if (ignored_)
      return false;
    path_.clear();
    return true;
  }

 private:
  int Close() {
    if (fd_ < 0)
      return 0;
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

  int fd_ = -1;
  std::filesystem::path path_;
  std::error_code ignored_;
};

struct Transfer {
  std::function<bool(const char*, std::size_t)> write;
  std::size_t received = 0;
  std::size_t limit;
  bool too_large = false;
  bool write_failed = false;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  transfer.received += bytes;
  if (transfer.received > transfer.limit) {
    transfer.too_large = true;
    return 0;  // aborts the transfer
  }
  if (!transfer.write(data, bytes)) {
    transfer.write_failed = true;
    return 0;
  }
  return bytes;
}

ResultCode FromCurl(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return kResultOk;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return kInvalidUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      return kResourceNotFound;
    case CURLE_OPERATION_TIMEDOUT:
      return kConnectionTimeout;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return kInvalidCertificate;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED:
      return kSecurityProblem;
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_WRITE_ERROR:
      return kCannotLoadData;
    default:
      return kCannotConnect;
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

ResultCode UrlDownloader::Perform(const std::string& url,
                                  const std::function<bool(const char*, std::size_t)>& write) {
  last_http_status_ = 0;
  CURL* curl = handle_->curl.get();
  if (curl == nullptr)
    return kCannotConnect;
  Transfer transfer{write, 0, limits_.max_answer_bytes};

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
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(limits_.max_answer_bytes));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Velkorant/1.1");

  const CURLcode code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &last_http_status_);

  if (transfer.too_large || transfer.write_failed)
    return kCannotLoadData;
  if (code != CURLE_OK)
    return FromCurl(code);
  if (last_http_status_ == 404)
    return kObjectNotFound;
  if (last_http_status_ < 200 || last_http_status_ >= 300)
    return kDataNotAvailable;
  return kResultOk;
}

ResultCode UrlDownloader::FetchToFile(const std::string& url,
                                      const std::filesystem::path& local_file) {
  TemporaryFile body(local_file);
  if (!body.ok())
    return kCannotLoadData;
  const ResultCode code =
      Perform(url, [&body](const char* data, std::size_t size) { return body.Write(data, size); });
  if (code != kResultOk)
    return code;
  return body.Commit(local_file) ? kResultOk : kCannotLoadData;
}

ResultCode UrlDownloader::FetchToMemory(const std::string& url, std::string& body) {
  body.clear();
  const ResultCode code = Perform(url, [&body](const char* data, std::size_t size) {
    body.append(data, size);
    return true;
  });
  if (code != kResultOk)
    body.clear();
  return code;
}

std::optional<std::string> ReadResultFile(const std::filesystem::path& file) {
  std::optional<std::string> text;
  {
    std::ifstream in(file, std::ios::binary);
    if (in) {
      const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::string cooked;
      cooked.reserve(raw.size());
      for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\0')
          break;
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
          continue;
        cooked += raw[i];
      }
      text = std::move(cooked);
    }
  }
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  return text;
}

}  // namespace velkorant
