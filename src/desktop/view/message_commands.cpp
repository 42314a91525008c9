// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/message_commands.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "common/ui_services.h"
#include "dialogs/dialog_fields.h"
#include "mailbox/mailbox_client.h"
#include "mailbox/message_actions.h"
#include "platform/ansi_text.h"
#include "settings/password_profiles.h"
#include "settings/settings_store.h"
#include "store/message.h"
#include "store/message_id.h"
#include "store/message_store.h"
#include "ui/dialog_runner.h"
#include "ui/qt_text.h"
#include "view/command_context.h"
#include "view/flow_runner.h"
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
  presets.reply = command == kIdReply;
  if (current == nullptr || command == kIdCompose)
    return presets;
  switch (command) {
    case kIdReply:
      presets.receiver = current->usuario_emisor_msj;
      presets.subject = ReplySubject(current->asunto_msj);
      break;
    case kIdNewToSender:
      presets.receiver = current->usuario_emisor_msj;
      break;
    case kIdForward:
    case kIdEdit:
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

void OnMessageCommand(CommandContext& context, int command) {
  DialogRunner& runner = context.dialogs;
  UserState& user = context.user;
  if (!user.RequireProfiles())
    return;
  if (const auto refused = CheckComposePreconditions(user.settings(), user.passwords())) {
    runner.ShowMessageBox(context.window(), ToQString(refused->text), ToQString(refused->caption),
                          kBoxOkQuestion);
    return;
  }

  // The message shown now; the store is reloaded below, so its values are kept, not a pointer.
  std::optional<Message> current;
  if (const Message* shown = context.list.current_message())
    current = *shown;

  CDialog_redactar_msj dialog(user.profile_names(), user.passwords(), runner,
                              MessageCommandPresets(command, current ? &*current : nullptr,
                                                    user.settings(), user.passwords()),
                              context.window());
  // The copy is stored before the dialog closes, as not sent: nothing typed is lost when it
  // cannot be, and a send that fails or is cut short leaves it to edit and send again.
  auto stored = std::make_shared<Message>();
  auto abandoned = std::make_shared<std::atomic<bool>>(false);
  dialog.SetStoreStep(
      [&context, &dialog, command, current, stored,
       abandoned](std::function<void(std::optional<QString>)> finished) {
        *stored = NewSentMessage(context.user.settings(), dialog.receiver(), dialog.subject(),
                                 dialog.body(), dialog.password(), command == kIdReply);
        // An edit rewrites the stored message in place.
        if (command == kIdEdit && current)
          stored->numero = current->numero;
        const std::optional<Message> replied_to =
            command == kIdReply ? current : std::optional<Message>();
        auto saved = std::make_shared<SavedMessage>();
        context.local.Start(
            context.user.settings(), FlowRunner::WhenBusy::kQueue,
            [record = *stored, replied_to, saved, abandoned](FlowRunner::Flow& flow) {
              flow.store.SetLockWait(kComposeStoreWait);
              flow.store.lock().SetCancelCheck(
                  [&flow, abandoned] { return flow.cancelled || *abandoned; });
              *saved = flow.store.SaveMessage(record);
              // Answered only once the answer is kept.
              if (saved->numero != 0 && replied_to) {
                flow.store.WriteMessageKey(replied_to->enviado, replied_to->numero,
                                           "flag_msj_respondido", "1");
              }
            },
            [stored, saved, finished = std::move(finished)](FlowRunner::Flow&) {
              stored->numero = saved->numero;
              finished(saved->numero != 0 ? std::nullopt
                                          : std::optional(ToQString(saved->outcome.error)));
            });
      },
      [abandoned] { *abandoned = true; });
  const int result = runner.RunModal(dialog);
  if ((result != kDialogOk && result != kComposeSaveOnly) || stored->numero == 0)
    return;

  const auto show = [&list = context.list, id = MessageId{true, stored->numero}] {
    list.ReloadMessages();
    list.SelectMessage(id);
  };
  if (result == kComposeSaveOnly) {
    show();
    return;
  }
  show();
  // Queued behind the flow under way (a receive run, another send): the message is never lost.
  if (context.flows.busy())
    context.flows.gui().LogTerminal(
        Utf8ToAnsi("El envío espera a que termine la operación en curso."));
  context.flows.Start(
      user.settings(), FlowRunner::WhenBusy::kQueue,
      [record = *stored](FlowRunner::Flow& flow) {
        SendStoredMessage(flow.client, flow.store, record);
      },
      [show](FlowRunner::Flow&) { show(); });
}

void DeleteCurrentMessage(CommandContext& context) {
  const Message* current = context.list.current_message();
  if (current == nullptr)
    return;
  // The list may be reloaded while the question is open (a receive run): keep the messages'
  // identities, not pointers into the list.
  std::vector<MessageId> targets = context.list.SelectedIds();
  const bool several = targets.size() > 1;
  if (!several)
    targets = {MessageId::Of(*current)};
  const QString question =
      several
          ? QStringLiteral("¿ Eliminar estos %1 mensajes ?").arg(targets.size())
          : QStringLiteral("¿ Eliminar este mensaje ?\n\n%1").arg(ToQString(current->asunto_msj));
  const QString caption =
      several ? QStringLiteral("Eliminar mensajes") : QStringLiteral("Eliminar mensaje");
  if (context.dialogs.ShowMessageBox(context.window(), question, caption,
                                     kBoxYesNoQuestion | kBoxDefaultSecond) != kAnswerYes) {
    return;
  }
  // On the local worker: the window never waits for the folder's lock. One write for them all;
  // a message already gone fails the whole batch, so then one by one: only what really could
  // not go is left and named.
  auto failures = std::make_shared<std::vector<std::pair<MessageId, std::string>>>();
  context.local.Start(
      context.user.settings(), FlowRunner::WhenBusy::kQueue,
      [targets, failures](FlowRunner::Flow& flow) {
        MessageStore& store = flow.store;
        const FileOutcome began = store.BeginBatch();
        if (!began) {  // the folder stayed busy: nothing went
          for (const MessageId& id : targets)
            failures->emplace_back(id, began.error);
          return;
        }
        for (const MessageId& id : targets)
          store.DeleteMessage(id.enviado, id.numero);
        if (store.EndBatch())
          return;
        for (const MessageId& id : targets) {
          const FileOutcome deleted = store.DeleteMessage(id.enviado, id.numero);
          // One deleted meanwhile by another process is gone, as asked.
          if (!deleted && store.file(id.enviado)
                                  .Read()
                                  .FindSection(MessageStore::SectionName(id.enviado, id.numero)) !=
                              IniDocument::npos) {
            failures->emplace_back(id, deleted.error);
          }
        }
      },
      [&context, failures, several, caption](FlowRunner::Flow&) {
        context.list.ClearCurrentMessage();
        context.list.ReloadMessages();
        if (failures->empty())
          return;
        QString text;
        if (several) {
          QStringList codes;
          for (const auto& [id, error] : *failures)
            codes << QString::fromStdString(id.Code());
          text = QStringLiteral("No se han podido eliminar estos mensajes: %1.\n\nMotivo: %2")
                     .arg(codes.join(QStringLiteral(", ")), ToQString(failures->back().second));
        } else {
          text = QStringLiteral("No se ha podido eliminar el mensaje.\n\nMotivo: %1")
                     .arg(ToQString(failures->front().second));
        }
        context.dialogs.ShowMessageBox(context.window(), text, caption, kBoxOkQuestion);
      });
}

}  // namespace velkorant
