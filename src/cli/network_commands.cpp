// SPDX-License-Identifier: GPL-3.0-or-later
// server, check-server, register, send, receive, retry: the mailbox server's flows on the
// terminal, on the same settings and message stores as the desktop program.

#include <optional>
#include <ostream>

#include "cli.h"
#include "cli_support.h"
#include "cli_ui.h"
#include "mailbox/mailbox_client.h"
#include "mailbox/message_actions.h"
#include "mailbox/message_receiver.h"
#include "platform/ansi_text.h"
#include "settings/password_profiles.h"
#include "settings/preferences_rules.h"
#include "settings/settings_store.h"
#include "store/message_store.h"

namespace velkorant::cli {
namespace {

// Everything one network command works with, as the desktop program holds it. Check ok()
// first: with settings that cannot be read, nothing may act on defaults in their place.
struct Session {
  explicit Session(Streams& io)
      : ui(io),
        client(settings, ui, downloader),
        receiver(client, settings, settings_store, store, passwords) {
    if (const auto loaded = LoadSettings(settings_store)) {
      MovePasswords(settings_store, io);
      passwords_loaded_ = passwords.LoadPasswordList(settings_store);
      loaded_ = passwords_loaded_.ok;
      settings = *loaded;
    }
    store.LoadMessageStore();
    ui.set_reload([this] { store.LoadMessageStore(); });
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool ok() const { return loaded_; }
  int SettingsFailure(Streams& io) {
    return Fail(io, "no se puede leer la configuración: " +
                        AnsiToUtf8(settings_store.DescribeProblem(passwords_loaded_)));
  }

  int Box(const BoxText& box) {
    ui.ShowMessageBox(box.text, box.caption, kBoxOkQuestion);
    return kExitFailure;
  }

  CliUi ui;
  SettingsStore settings_store;
  Settings settings;
  MessageStore store{"."};
  PasswordList passwords;
  UrlDownloader downloader;
  MailboxClient client;
  MessageReceiver receiver;

 private:
  bool loaded_ = false;
  ProfileOutcome passwords_loaded_;
};

bool NoArguments(const std::vector<std::string>& args, Streams& io) {
  if (args.empty())
    return true;
  Fail(io, "argumento de más: " + args.front(), kExitUsage);
  return false;
}

int Server(const std::vector<std::string>& args, Streams& io) {
  if (args.size() > 1)
    return Usage(io, "server [DIRECCIÓN]");
  SettingsStore store;
  auto preferences = LoadPreferences(store);
  if (!preferences)
    return Fail(io, "no se puede leer la configuración: " + AnsiToUtf8(store.DescribeProblem()));
  if (args.empty()) {
    io.out << Printable(AnsiToUtf8(preferences->server_name)) << '\n';
    return kExitOk;
  }
  preferences->server_name = Utf8ToAnsi(args.front());
  if (preferences->server_name.empty())
    return Fail(io, "la dirección del servidor no puede estar vacía");
  // The dialog's limits: a longer value would lock the preferences dialog on its next opening.
  if (const auto refused = CheckPreferencesLengths(*preferences)) {
    CliUi(io).ShowMessageBox(refused->text, refused->caption, kBoxOkQuestion);
    return kExitFailure;
  }
  if (!SavePreferences(store, *preferences))
    return Fail(io,
                "no se ha podido guardar la configuración: " + AnsiToUtf8(store.DescribeProblem()));
  return kExitOk;
}

int CheckServer(const std::vector<std::string>& args, Streams& io) {
  if (!NoArguments(args, io))
    return kExitUsage;
  Session session(io);
  if (!session.ok())
    return session.SettingsFailure(io);
  return session.client.CheckServer() ? kExitOk : kExitFailure;
}

int Register(const std::vector<std::string>& args, Streams& io) {
  if (args.size() != 1)
    return Usage(io, "register NOMBRE");
  Session session(io);
  auto preferences = LoadPreferences(session.settings_store);
  if (!session.ok() || !preferences)
    return session.SettingsFailure(io);
  if (!session.settings.user_name.empty()) {
    return Fail(io, "esta instalación ya tiene el nombre de usuario " +
                        Printable(AnsiToUtf8(session.settings.user_name)) +
                        "; bórralo en las preferencias del programa para elegir otro");
  }
  preferences->user_name = Utf8ToAnsi(args.front());
  if (auto refused = CheckPreferencesLengths(*preferences);
      refused || (refused = ValidatePreferences(*preferences)))
    return session.Box(*refused);

  // The name is stored, with the counter that starts over for it, before the server hears of
  // it: a mailbox created on the server for a name this installation could not keep would be
  // lost to its user for ever.
  if (!SavePreferences(session.settings_store, *preferences, 0)) {
    return Fail(io, "no se ha podido guardar el nombre de usuario, así que no se ha registrado: " +
                        AnsiToUtf8(session.settings_store.DescribeProblem()));
  }
  session.settings.user_name = preferences->user_name;
  switch (session.client.CreateMailbox(preferences->user_name)) {
    case MailboxClient::Creation::kCreated:
      return kExitOk;
    case MailboxClient::Creation::kUnknown:  // kept; said in the terminal
      return kExitFailure;
    case MailboxClient::Creation::kNotCreated:
      break;
  }
  // A name the server did not register must not stay as this user's name.
  preferences->user_name.clear();
  if (!SavePreferences(session.settings_store, *preferences)) {
    return Fail(io, "el servidor no ha registrado " + args.front() +
                        ", pero no se ha podido quitar de la configuración: " +
                        AnsiToUtf8(session.settings_store.DescribeProblem()));
  }
  return kExitFailure;
}

// The body as the compose dialog holds it: line breaks are CR LF; the line end that closes
// standard input is not part of it.
std::string BodyFromInput(std::string text) {
  if (!text.empty() && text.back() == '\n')
    text.pop_back();
  if (!text.empty() && text.back() == '\r')
    text.pop_back();
  std::string body;
  body.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      continue;
    if (text[i] == '\n')
      body += '\r';
    body += text[i];
  }
  return body;
}

int Send(const std::vector<std::string>& args, Streams& io) {
  const Arguments arguments(args, {"to", "subject", "profile"});
  if (!arguments.ok())
    return Fail(io, arguments.error(), kExitUsage);
  if (!arguments.positional().empty() || !arguments.Option("to") || !arguments.Option("subject") ||
      !arguments.Option("profile")) {
    return Usage(io, "send --to NOMBRE --subject TEXTO --profile PERFIL");
  }
  Session session(io);
  if (!session.ok())
    return session.SettingsFailure(io);
  if (const auto refused = CheckComposePreconditions(session.settings, session.passwords)) {
    return session.Box(*refused);
  }
  const std::string receiver = Utf8ToAnsi(*arguments.Option("to"));
  const std::string subject = Utf8ToAnsi(*arguments.Option("subject"));
  const std::string body = BodyFromInput(Utf8ToAnsi(ReadAll(io.in)));
  // Only a listed profile can be chosen, as in the compose dialog's list.
  const std::string profile = Utf8ToAnsi(*arguments.Option("profile"));
  std::optional<std::string> password;
  for (const PasswordListEntry& entry : session.passwords.entries()) {
    if (NamesEqualIgnoringCase(entry.profile_name, profile)) {
      password = entry.password;
      break;
    }
  }
  if (!password)
    return Fail(io, NoSuchProfile(*arguments.Option("profile")));
  for (const auto& [label, text, limit] :
       {std::tuple{"Usuario receptor", &receiver, kReceiverLimit},
        std::tuple{"Asunto", &subject, kSubjectLimit}, std::tuple{"Mensaje", &body, kBodyLimit}}) {
    if (const auto refused = CheckFieldLength(Ansi(label), *text, limit)) {
      return session.Box(*refused);
    }
  }
  if (const auto refused =
          ValidateMessage(receiver, session.settings.user_name, subject, body, *password)) {
    return session.Box(*refused);
  }
  const SendOutcome outcome = StoreAndSend(
      session.client, session.store,
      NewSentMessage(session.settings, receiver, subject, body, *password, false), true);
  if (outcome.numero != 0)
    io.err << "velkorant-cli: guardado como e" << outcome.numero << '\n';
  return outcome.sent ? kExitOk : kExitFailure;
}

int Receive(const std::vector<std::string>& args, Streams& io) {
  if (!NoArguments(args, io))
    return kExitUsage;
  Session session(io);
  if (!session.ok())
    return session.SettingsFailure(io);
  return session.receiver.ReceiveMessages() ? kExitOk : kExitFailure;
}

int Retry(const std::vector<std::string>& args, Streams& io) {
  if (!NoArguments(args, io))
    return kExitUsage;
  Session session(io);
  if (!session.ok())
    return session.SettingsFailure(io);
  session.receiver.RetryUndecryptedMessages();
  return kExitOk;
}

constexpr Command kCommands[] = {
    {"server", "[DIRECCIÓN]", "muestra o cambia la dirección del servidor de buzones", &Server},
    {"check-server", "", "comprueba la conexión con el servidor de buzones", &CheckServer},
    {"register", "NOMBRE", "elige un nombre de usuario y registra su buzón en el servidor",
     &Register},
    {"send", "--to NOMBRE --subject TEXTO --profile PERFIL",
     "guarda y envía un mensaje; el cuerpo se lee de la entrada estándar", &Send},
    {"receive", "", "recibe los mensajes nuevos del buzón propio", &Receive},
    {"retry", "", "vuelve a probar los perfiles de contraseña con los mensajes sin desencriptar",
     &Retry},
};

}  // namespace

std::span<const Command> NetworkCommands() {
  return kCommands;
}

}  // namespace velkorant::cli
