// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/message_actions.h"

#include "platform/ansi_text.h"
#include "settings/preferences_rules.h"
#include "store/message_text.h"

namespace velkorant {
namespace {

BoxText Box(std::string_view text, std::string_view caption) {
  return {Ansi(text), Ansi(caption)};
}

}  // namespace

std::optional<BoxText> CheckComposePreconditions(const Settings& settings,
                                                 const PasswordList& passwords) {
  if (settings.user_name.size() < kMinimumUserNameLength) {
    return Box(
        "No has definido tu nombre de usuario.\nNo puedes redactar mensajes sin tu nombre de "
        "usuario remitente.\nUsa la opción 'Configuración/Preferencias' de la barra de menú.",
        "Falta tu nombre de usuario");
  }
  if (settings.server_name.empty()) {
    return Box(
        "No has definido el nombre del servidor que almacena los mensajes.\nUsa la opción "
        "'Configuración/Preferencias' de la barra de menú.",
        "Falta el nombre del servidor");
  }
  if (passwords.empty()) {
    return Box(
        "No hay definido ningún perfil de contraseña. No puedes redactar mensajes sin disponer "
        "de contraseñas de encriptación.\nUsa la sección 'Perfiles de contraseñas' para añadir "
        "contraseñas.",
        "No existen perfiles de contraseñas");
  }
  return std::nullopt;
}

std::optional<BoxText> ValidateMessage(std::string_view receiver, std::string_view own_user_name,
                                       std::string_view subject, std::string_view body,
                                       std::string_view password) {
  if (receiver.empty()) {
    return Box(
        "Campo 'Usuario receptor' vacío.\nDebes introducir el nombre de usuario al que deseas "
        "enviar el mensaje.",
        "Falta el nombre de usuario");
  }
  if (receiver == own_user_name) {
    return Box(
        "No puedes enviarte mensajes a ti mismo.\nEn el campo 'Usuario receptor' debes "
        "introducir el nombre de usuario al que deseas enviar el mensaje.",
        "Auto-mensaje");
  }
  if (subject.empty()) {
    return Box(
        "Campo 'Asunto' vacío.\nDebes introducir un texto breve a modo de título del mensaje.",
        "Falta el asunto del mensaje");
  }
  if (body.empty()) {
    return Box("Campo 'Mensaje' vacío.\nIntroduce el texto del mensaje que deseas enviar.",
               "Falta el texto del mensaje");
  }
  if (password.empty()) {
    return Box(
        "Campo 'Contraseña' vacío.\nDebes seleccionar el perfil de contraseña que se usará para "
        "encriptar el mensaje.",
        "Selecciona un perfil de contraseña");
  }
  return std::nullopt;
}

std::string ReplySubject(std::string_view subject) {
  if (subject.find("Re: ") != std::string_view::npos)
    return std::string(subject);
  return "Re: " + std::string(subject);
}

Message NewSentMessage(const Settings& settings, std::string receiver, std::string subject,
                       std::string body, std::string password, bool reply) {
  Message record;
  record.fecha_msj = MessageTimestamp();
  record.usuario_emisor_msj = settings.user_name;
  record.usuario_receptor_msj = std::move(receiver);
  record.asunto_msj = std::move(subject);
  record.cuerpo_msj = std::move(body);
  record.password_msj = std::move(password);
  record.enviado = true;
  record.flag_msj_leido = true;
  record.flag_msj_desencriptado = true;
  record.flag_msj_respondido = reply;
  return record;
}

bool SendStoredMessage(MailboxClient& client, MessageStore& store, const Message& record) {
  MailboxClient::BusyGuard busy(client);
  if (!client.MailboxExists(record.usuario_receptor_msj))
    return false;
  if (!client.SendEncryptedMessage(record)) {
    client.ui().ShowMessageBox(Ansi("Error. No se ha podido enviar el mensaje.\nConsulta el "
                                    "terminal para más información."),
                               Ansi("Error. No se ha podido enviar el mensaje"), kBoxOkQuestion);
    return false;
  }
  if (const FileOutcome marked =
          store.WriteMessageKey(true, record.numero, "flag_msj_enviado_srv", "1");
      !marked) {
    client.ui().LogTerminal(
        Ansi("El mensaje se ha enviado, pero no se ha podido marcar como enviado: ") +
        marked.error);
  }
  return true;
}

SendOutcome StoreAndSend(MailboxClient& client, MessageStore& store, Message record, bool send) {
  MailboxClient::BusyGuard busy(client);
  SendOutcome outcome;
  const SavedMessage saved = store.SaveMessage(record);
  outcome.numero = saved.numero;
  if (outcome.numero == 0) {
    // A message is never on the server without its copy here: the user could not see, edit or
    // forward it, nor tell that it went out.
    client.ui().ShowMessageBox(
        Ansi("No se ha podido guardar el mensaje, así que no se ha enviado.\n\nMotivo: ") +
            saved.outcome.error,
        Ansi("Error. No se ha podido guardar el mensaje"), kBoxOkQuestion);
    return outcome;
  }
  record.numero = outcome.numero;
  outcome.sent = send && SendStoredMessage(client, store, record);
  return outcome;
}

}  // namespace velkorant
