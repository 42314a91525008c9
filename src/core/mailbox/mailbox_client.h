// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The requests of the program to its mailbox server: the server check, whether a mailbox
// exists, registering a mailbox and sending a message. Each is one HTTPS GET whose answer is
// read as text (CR LF as LF, up to the first NUL byte) and kept by the request that asked for it;
// progress and failures go to the terminal, the status envelope, message boxes and sounds.

#include <optional>
#include <string>
#include <string_view>

#include "common/ui_services.h"
#include "platform/url_download.h"
#include "settings/settings_store.h"
#include "store/message.h"

namespace velkorant {

// The kinds of request, which word their failures differently.
enum class RequestKind { kCheck, kMailbox, kSend, kMessageFile };

// How a result code is treated: reached (including 0x800C0008), or one of three failures.
enum class ResultClass { kReached, kConnectionFailure, kNotFound, kCodedFailure };
ResultClass ClassifyResult(ResultCode code);

// Why the downloader's last request failed, in the user's words ("el servidor no responde a
// tiempo"); empty after a success.
std::string FailureReason(const UrlDownloader& downloader);
std::string FailureReason(DownloadFailure failure, long http_status);

// The terminal (and message box) text of a failed request of this kind, with the reason in
// brackets after it when one is given; empty for a reached one and for a message file that is
// simply not there.
std::string FailureText(RequestKind kind, ResultCode code, std::string_view reason = {});

class MailboxClient {
 public:
  // `settings` is the program's live copy: the server address and user name are read at each
  // request, so a change in the preferences applies at once.
  MailboxClient(const Settings& settings, UiServices& ui, UrlDownloader& downloader);

  // True when the server answered as a mailbox server does.
  bool CheckServer();
  bool MailboxExists(std::string user_name);
  // kUnknown: no answer came, nor to the check made after it, so the server may have created the
  // mailbox: the name must stay with this installation, or it would be lost to its user.
  enum class Creation { kCreated, kNotCreated, kUnknown };
  Creation CreateMailbox(std::string user_name);
  // Lays the record out, encrypts it with its password_msj and posts it to the receiver's
  // mailbox; true when the server accepted the request.
  bool SendEncryptedMessage(Message record);

  // A request or a receive run holds the client while it waits, also inside a message box whose
  // event loop lets a timer fire; a second run started there must be skipped.
  class BusyGuard {
   public:
    explicit BusyGuard(MailboxClient& client) : client_(client) { ++client_.busy_; }
    ~BusyGuard() { --client_.busy_; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

   private:
    MailboxClient& client_;
  };
  bool busy() const { return busy_ > 0; }

  const Settings& settings() const { return settings_; }
  UiServices& ui() { return ui_; }
  UrlDownloader& downloader() { return downloader_; }

 private:
  struct Answer {
    ResultCode code = kResultOk;
    bool reached = true;
    std::optional<std::string> text;  // the server's answer, when the request succeeded
    std::string refusal;              // what the server said with an error status
  };
  Answer Request(std::string_view script_and_query);
  // Writes the failure of the last request (box for the mailbox requests, terminal, envelope 4).
  void ReportFailure(RequestKind kind, ResultCode code);
  std::string Url(std::string_view rest) const;

  const Settings& settings_;
  UiServices& ui_;
  UrlDownloader& downloader_;
  int busy_ = 0;
};

}  // namespace velkorant
