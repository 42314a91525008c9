// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/settings_commands.h"

#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "dialogs/dialog_fields.h"
#include "dialogs/preferences_dialog.h"
#include "dialogs/profiles_dialog.h"
#include "settings/settings_store.h"
#include "ui/dialog_runner.h"
#include "ui/event_sound_player.h"
#include "ui/qt_text.h"
#include "view/command_context.h"
#include "view/flow_runner.h"

namespace velkorant {

namespace {

// Opens a dialog that read the store itself, unless that failed.
template <typename Dialog>
int RunSettingsDialog(CommandContext& context, Dialog& dialog) {
  if (!dialog.opened()) {
    ShowSettingsFailure(context.dialogs, context.window(), context.settings_store, true);
    return kDialogCancel;
  }
  return context.dialogs.RunModal(dialog);
}

// Writes what the profiles dialog confirmed, on the local worker: the keyring may take its time.
ProfileChanger ChangeOnWorker(CommandContext& context) {
  return [&context](ProfileChange change, std::function<void(ProfileChangeOutcome)> finished) {
    auto outcome = std::make_shared<ProfileChangeOutcome>();
    context.local.Start(
        context.user.settings(), FlowRunner::WhenBusy::kQueue,
        [change = std::move(change), outcome](FlowRunner::Flow& flow) {
          *outcome = ApplyProfileChange(flow.settings_store, change);
        },
        [finished = std::move(finished), outcome](FlowRunner::Flow&) { finished(*outcome); });
  };
}

void RunProfilesDialog(CommandContext& context, StoredProfiles profiles) {
  CFtpConnect dialog(std::move(profiles), ChangeOnWorker(context), context.dialogs,
                     context.window());
  const int result = context.dialogs.RunModal(dialog);
  if (result == kDialogOk) {
    context.user.LoadProfiles();
    context.flows.Start(context.user.settings(), FlowRunner::WhenBusy::kQueue,
                        [](FlowRunner::Flow& flow) {
                          if (!flow.LoadPasswords())
                            return;
                          flow.store.LoadMessageStore();
                          flow.receiver.RetryUndecryptedMessages();
                        });
  } else if (dialog.profile_deleted()) {
    context.user.LoadProfiles();
  }
}

}  // namespace

void OnPasswordProfiles(CommandContext& context) {
  if (!context.user.RequireSettings() || context.profiles_dialog_pending)
    return;
  // Read on the local worker, the passwords perhaps from the keyring; the dialog opens after.
  context.profiles_dialog_pending = true;
  struct Read {
    std::optional<StoredProfiles> profiles;
    std::string problem;
  };
  auto read = std::make_shared<Read>();
  context.local.Start(
      context.user.settings(), FlowRunner::WhenBusy::kQueue,
      [read](FlowRunner::Flow& flow) {
        read->profiles = StoredProfiles::Read(flow.settings_store, &read->problem);
      },
      [&context, read](FlowRunner::Flow&) {
        // Not inside the runner's step: the dialog's own loop runs on its own turn.
        QTimer::singleShot(0, &context.view, [&context, read] {
          context.profiles_dialog_pending = false;
          if (!read->profiles) {
            ShowSettingsFailure(context.dialogs, context.window(), read->problem, true);
            return;
          }
          RunProfilesDialog(context, std::move(*read->profiles));
        });
      });
}

void OnPreferences(CommandContext& context) {
  if (!context.user.RequireSettings())
    return;
  const bool had_user = !context.user.settings().user_name.empty();
  CDialog_preferencias dialog(
      context.settings_store, context.dialogs, [&context](int id) { context.sounds.Play(id); },
      context.window());
  if (RunSettingsDialog(context, dialog) != kDialogOk)
    return;
  if (had_user) {
    if (!context.user.ReloadSettings())
      ShowSettingsFailure(context.dialogs, context.window(), context.settings_store, true);
    return;
  }
  // The dialog stored the name with its counter at 0. The registration goes to the server just
  // confirmed, not to the one set before.
  const Preferences edited = dialog.edited();
  Settings settings = context.user.settings();
  settings.user_name = edited.user_name;
  settings.server_name = edited.server_name;
  settings.received_counter = 0;
  auto created = std::make_shared<MailboxClient::Creation>();
  context.flows.Start(
      settings, FlowRunner::WhenBusy::kQueue,
      [created, name = edited.user_name](FlowRunner::Flow& flow) {
        *created = flow.client.CreateMailbox(name);
      },
      [&context, created, edited](FlowRunner::Flow&) {
        if (*created == MailboxClient::Creation::kNotCreated) {
          Preferences kept = edited;
          kept.user_name.clear();
          if (!SavePreferences(context.settings_store, kept)) {
            // Kept here, a name the server refused would fetch another user's mailbox.
            context.dialogs.ShowMessageBox(
                context.window(),
                QStringLiteral("El servidor no ha registrado el nombre de usuario %1, pero no se "
                               "ha podido quitar de la configuración.\n\n%2\n\nQuítalo con "
                               "\"Eliminar este usuario\" en Preferencias en cuanto se pueda.")
                    .arg(ToQString(edited.user_name),
                         ToQString(context.settings_store.DescribeProblem())),
                QStringLiteral("No se ha podido guardar la configuración"), kBoxOkQuestion);
          }
        }
        if (!context.user.ReloadSettings())
          ShowSettingsFailure(context.dialogs, context.window(), context.settings_store, true);
      });
}

}  // namespace velkorant
