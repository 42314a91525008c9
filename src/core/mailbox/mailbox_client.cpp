// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/mailbox_client.h"

#include <algorithm>
#include <iterator>

#include "crypto/digests.h"
#include "crypto/message_cipher.h"
#include "platform/ansi_text.h"
#include "store/message_text.h"

namespace velkorant {
namespace {

bool StartsWith(const std::optional<std::string>& text, std::string_view prefix) {
  return text && text->starts_with(prefix);
}

// An answer as a text file reads: CR LF as LF, up to the first NUL byte.
std::string AnswerText(std::string_view raw) {
  raw = raw.substr(0, raw.find('\0'));
  std::string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\r' || i + 1 == raw.size() || raw[i + 1] != '\n')
      text += raw[i];
  }
  return text;
}

}  // namespace

ResultClass ClassifyResult(ResultCode code) {
  if (code >= 0 || code == kDownloadFailure)
    return ResultClass::kReached;
  if (code == kResourceNotFound)
    return ResultClass::kConnectionFailure;
  if (code == kObjectNotFound)
    return ResultClass::kNotFound;
  return ResultClass::kCodedFailure;
}

std::string FailureReason(const UrlDownloader& downloader) {
  return FailureReason(downloader.last_failure(), downloader.last_http_status());
}

std::string FailureReason(DownloadFailure failure, long http_status) {
  switch (failure) {
    case DownloadFailure::kNone:
      return {};
    case DownloadFailure::kInvalidAddress:
      return Ansi("la dirección del servidor no es válida");
    case DownloadFailure::kTransfer:
      return Ansi("se ha cortado la comunicación con el servidor");
    case DownloadFailure::kHostNotFound:
      return Ansi("no se encuentra ningún servidor con ese nombre");
    case DownloadFailure::kProxyNotFound:
      return Ansi("no se encuentra el proxy");
    case DownloadFailure::kRefused:
      return Ansi("el servidor no acepta la conexión");
    case DownloadFailure::kHttpNotFound:
      return Ansi("el servidor no encuentra lo pedido: HTTP 404");
    case DownloadFailure::kHttpStatus:
      if (http_status == 429)
        return Ansi("el servidor recibe demasiadas peticiones: HTTP 429; espera un poco");
      return Ansi("el servidor responde con el código HTTP ") + std::to_string(http_status);
    case DownloadFailure::kTimeout:
      return Ansi("el servidor no responde a tiempo");
    case DownloadFailure::kTls:
      return Ansi("no se ha podido establecer la conexión segura (TLS)");
    case DownloadFailure::kTooLong:
      return Ansi("la respuesta del servidor es demasiado larga");
    case DownloadFailure::kUntrustedCertificate:
      return Ansi("el certificado del servidor no es de confianza");
  }
  return {};
}

std::string FailureText(RequestKind kind, ResultCode code, std::string_view reason) {
  const bool send = kind == RequestKind::kSend;
  std::string text;
  switch (ClassifyResult(code)) {
    case ResultClass::kReached:
      return {};
    case ResultClass::kConnectionFailure:
      text = Ansi("Error de conexión. Comprueba tu conexión de Internet y tu cortafuegos");
      break;
    case ResultClass::kNotFound:
      if (kind == RequestKind::kMessageFile)
        return {};
      text = send ? Ansi("No se ha podido enviar el mensaje") : Ansi("Error de conexión.");
      break;
    case ResultClass::kCodedFailure:
      text = (send ? Ansi("No se ha podido enviar el mensaje.") : Ansi("Error de conexión.")) +
             Ansi(" Código de error: ") + FormatResultCode(code);
      break;
  }
  if (!reason.empty())
    text.append(" (").append(reason).append(")");
  return text;
}

MailboxClient::MailboxClient(const Settings& settings, UiServices& ui, UrlDownloader& downloader)
    : settings_(settings), ui_(ui), downloader_(downloader) {}

std::string MailboxClient::Url(std::string_view rest) const {
  // The address is used exactly as stored: no "/" added, nothing escaped.
  std::string url = "https://";
  url.append(settings_.server_name).append(rest);
  return url;
}

MailboxClient::Answer MailboxClient::Request(std::string_view script_and_query) {
  Answer answer;
  std::string body;
  answer.code = downloader_.FetchToMemory(Url(script_and_query), body);
  answer.reached = ClassifyResult(answer.code) == ResultClass::kReached;
  if (answer.code == kResultOk) {
    answer.text = AnswerText(body);
  } else {
    answer.refusal = AnswerText(body);
  }
  return answer;
}

void MailboxClient::ReportFailure(RequestKind kind, ResultCode code) {
  const std::string text = FailureText(kind, code, FailureReason(downloader_));
  if (kind == RequestKind::kMailbox) {
    ui_.ShowMessageBox(text, Ansi("Error de conexión."), kBoxOkQuestion);
  }
  LogOutcome(ui_, text);
  ui_.SetStatusIcon(StatusIcon::kError);
}

bool MailboxClient::CheckServer() {
  BusyGuard busy(*this);
  ui_.LogTerminal(Ansi("Conectando con servidor ") + settings_.server_name);
  const Answer answer = Request("comprobar_conexion_servidor.php");
  if (!answer.reached) {
    ReportFailure(RequestKind::kCheck, answer.code);
  } else {
    ui_.LogTerminal(Ansi("Conexión con servidor: OK"));
  }
  bool success = false;
  if (answer.text) {
    ui_.LogTerminal("SRV: " + *answer.text);
    if (answer.text->size() > 1 && answer.text->starts_with("OK")) {
      LogOutcome(ui_, "Servidor de mensajes: OK");
      ui_.SetStatusIcon(StatusIcon::kIdle);
      success = true;
    } else {
      LogOutcome(ui_, "Error. No se ha podido conectar con el servidor " + settings_.server_name);
      ui_.SetStatusIcon(StatusIcon::kError);
    }
  }
  ui_.PlayEventSound(success ? EventSound::kServerCheckOk : EventSound::kServerCheckFailed);
  return success;
}

bool MailboxClient::MailboxExists(std::string user_name) {
  BusyGuard busy(*this);
  const std::string folder = MailboxFolderName(user_name);
  if (folder.empty())
    return false;
  const Answer answer = Request("existe_buzon.php?folder=" + folder);
  if (!answer.reached)
    ReportFailure(RequestKind::kMailbox, answer.code);
  if (StartsWith(answer.text, "no")) {
    ui_.ShowMessageBox(Ansi("Error. No se ha podido enviar el mensaje\nNo existe el usuario ") +
                           user_name + " en el servidor.",
                       "No existe el usuario", kBoxOkQuestion);
    ui_.LogTerminal("Error. No existe el usuario " + user_name);
    return false;
  }
  return StartsWith(answer.text, "si");
}

MailboxClient::Creation MailboxClient::CreateMailbox(std::string user_name) {
  BusyGuard busy(*this);
  const std::string folder = MailboxFolderName(user_name);
  const Answer answer = Request("crear_buzon.php?folder=" + folder);
  if (!answer.reached) {
    ReportFailure(RequestKind::kMailbox, answer.code);
    // A refusal (too many requests, a full disk) says why; it is never "name taken".
    if (!answer.refusal.empty())
      ui_.LogTerminal("SRV: " + answer.refusal);
  } else {
    ui_.LogTerminal(Ansi("Creando buzón para usuario: ") + user_name);
  }
  // Failures that leave the request undelivered, or answered.
  static constexpr DownloadFailure kNeverDelivered[] = {DownloadFailure::kInvalidAddress,
                                                        DownloadFailure::kHostNotFound,
                                                        DownloadFailure::kProxyNotFound,
                                                        DownloadFailure::kRefused,
                                                        DownloadFailure::kTls,
                                                        DownloadFailure::kUntrustedCertificate,
                                                        DownloadFailure::kHttpNotFound};
  if (!answer.text && answer.refusal.empty() &&
      std::ranges::find(kNeverDelivered, downloader_.last_failure()) == std::end(kNeverDelivered)) {
    // The request may have reached the server before its answer was lost: ask whether the
    // mailbox is there now (a name taken before would have been answered as such).
    const Answer check = Request("existe_buzon.php?folder=" + folder);
    if (!check.text || !(StartsWith(check.text, "si") || StartsWith(check.text, "no"))) {
      ui_.LogTerminal(Ansi("No se sabe si el servidor ha creado el buzón; el nombre de usuario ") +
                      user_name +
                      Ansi(" se queda guardado, y la próxima recepción dirá si existe."));
      return Creation::kUnknown;
    }
    if (StartsWith(check.text, "no"))
      return Creation::kNotCreated;
  } else if (!answer.text) {
    return Creation::kNotCreated;
  } else if (answer.text->starts_with("Error")) {
    ui_.ShowMessageBox("No puedes usar el nombre de usuario: " + user_name + "\nYa existe.",
                       "Usuario ya existe", kBoxOkQuestion);
    ui_.LogTerminal("Error. Ya existe el nombre de usuario: " + user_name);
    return Creation::kNotCreated;
  }
  ui_.LogTerminal(Ansi("Buzón creado correctamente"));
  return Creation::kCreated;
}

bool MailboxClient::SendEncryptedMessage(Message record) {
  BusyGuard busy(*this);
  const std::string transport = EncryptText(BuildMessageText(record), record.password_msj);
  const std::string folder = MailboxFolderName(record.usuario_receptor_msj);
  if (transport.empty())
    return false;
  ui_.LogTerminal("Enviando mensaje ...");
  const Answer answer =
      Request("enviar_mensaje.php?name=datos&folder=" + folder + "&new=0&datacry=" + transport);
  bool sent = false;
  if (!answer.reached) {
    ReportFailure(RequestKind::kSend, answer.code);
  } else {
    LogOutcome(ui_, "Mensaje enviado correctamente");
    ui_.LogTerminal("Bytes enviados: " + std::to_string(transport.size()));
    ui_.PlayEventSound(EventSound::kMessageSent);
    sent = true;
  }
  if (answer.text || !answer.refusal.empty())
    ui_.LogTerminal("SRV: " + answer.text.value_or(answer.refusal));
  return sent;
}

}  // namespace velkorant
