#include "view/message_commands.h"

#include <optional>

#include "dialogs/dialog_fields.h"
#include "mailbox/mailbox_client.h"
#include "mailbox/message_actions.h"
#include "mailbox/ui_services.h"
#include "settings/password_profiles.h"
#include "settings/settings_store.h"
#include "store/message.h"
#include "store/message_store.h"
#include "ui/dialog_runner.h"
#include "ui/qt_text.h"
#include "view/main_view.h"
#include "view/message_list_panel.h"

namespace velkorant {
namespace {

// The listed profile whose password has the message's fingerprint. By name, not by position:
// a listed name without a password of its own (the first part of a nested profile) has no entry
// in the password list, so the two lists' positions part after it.
std::optional<std::string> ProfileByFingerprint(const Message& message,
                                                const PasswordList& passwords) {
  const int index = passwords.FindProfileByFingerprint(message.password_msj);
  if (index < 0)
    return std::nullopt;
  return passwords.entries()[static_cast<std::size_t>(index)].profile_name;
}

}  // namespace

ComposePresets MessageCommandPresets(int command, const Message* current, const Settings& settings,
                                     const PasswordList& passwords) {
  ComposePresets presets;
  presets.own_user_name = settings.user_name;
  presets.reply = command == kCommandReply;
  if (current == nullptr || command == kCommandCompose)
    return presets;
  switch (command) {
    case kCommandReply:
      presets.receiver = current->usuario_emisor_msj;
      presets.subject = ReplySubject(current->asunto_msj);
      break;
    case kCommandNewToSender:
      presets.receiver = current->usuario_emisor_msj;
      break;
    case kCommandForward:
    case kCommandEdit:
      presets.receiver = current->usuario_receptor_msj;
      presets.subject = current->asunto_msj;
      presets.body = current->cuerpo_msj;
      break;
    default:
      return presets;
  }
  presets.profile_name = ProfileByFingerprint(*current, passwords);
  return presets;
}

void OnMessageCommand(CMainView& view, int command) {
  DialogRunner& runner = view.dialog_runner();
  if (!view.RequireSettings())
    return;
  if (const auto refused = CheckComposePreconditions(view.settings(), view.passwords())) {
    runner.ShowMessageBox(view.TopWindow(), ToQString(refused->text), ToQString(refused->caption),
                          kBoxOkQuestion);
    return;
  }

  // The message shown now; the store is reloaded below, so its values are kept, not a pointer.
  std::optional<Message> current;
  if (const Message* shown = view.list().current_message())
    current = *shown;
  const QString current_code = view.list().current_code();

  CDialog_redactar_msj dialog(view.settings_store(), runner,
                              MessageCommandPresets(command, current ? &*current : nullptr,
                                                    view.settings(), view.passwords()),
                              view.TopWindow());
  if (!dialog.opened()) {
    ShowSettingsFailure(runner, view.TopWindow(), view.settings_store(), true);
    return;
  }
  const int result = runner.RunModal(dialog);
  if (result != kDialogOk && result != kComposeSaveOnly)
    return;

  Message record = NewSentMessage(view.settings(), dialog.receiver(), dialog.subject(),
                                  dialog.body(), dialog.password(), command == kCommandReply);
  // An edit rewrites the stored message in place.
  if (command == kCommandEdit && current)
    record.numero = current->numero;
  if (command == kCommandReply && current) {
    view.message_store().WriteMessageKey(current->enviado, current->numero, "flag_msj_respondido",
                                         "1");
  }
  const SendOutcome outcome = StoreAndSend(view.mailbox_client(), view.message_store(),
                                           std::move(record), result == kDialogOk);
  view.ReloadMessages();
  const QString code =
      command == kCommandEdit && current ? current_code : QStringLiteral("e%1").arg(outcome.numero);
  if (!code.isEmpty())
    view.list().SelectMessageByCode(code);
}

void DeleteCurrentMessage(CMainView& view) {
  const Message* current = view.list().current_message();
  if (current == nullptr)
    return;
  // The list may be reloaded while the question is open (a receive run): keep the message's
  // identity, not a pointer into the list.
  const bool enviado = current->enviado;
  const std::uint32_t numero = current->numero;
  const QString question =
      QStringLiteral("¿ Eliminar este mensaje ?\n\n%1").arg(ToQString(current->asunto_msj));
  if (view.dialog_runner().ShowMessageBox(view.TopWindow(), question,
                                          QStringLiteral("Eliminar mensaje"),
                                          kBoxYesNoQuestion | kBoxDefaultSecond) != kAnswerYes) {
    return;
  }
  if (!view.message_store().DeleteMessage(enviado, numero)) {
    view.dialog_runner().ShowMessageBox(
        view.TopWindow(),
        QStringLiteral("No se ha podido eliminar el mensaje.\n\nMotivo: %1")
            .arg(ToQString(view.message_store().last_error())),
        QStringLiteral("Eliminar mensaje"), kBoxOkQuestion);
    return;
  }
  view.list().ClearCurrentMessage();
  view.ReloadMessages();
}

}  // namespace velkorant
