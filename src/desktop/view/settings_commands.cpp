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
#include "view/flow_runner.h"
#include "view/main_view.h"

namespace velkorant {

namespace {

// Opens a dialog that read the store itself, unless that failed.
template <typename Dialog>
int RunSettingsDialog(CMainView& view, Dialog& dialog) {
  if (!dialog.opened()) {
    ShowSettingsFailure(view.dialog_runner(), view.TopWindow(), view.settings_store(), true);
    return kDialogCancel;
  }
  return view.dialog_runner().RunModal(dialog);
}

// Writes what the profiles dialog confirmed, on the local worker: the keyring may take its time.
ProfileChanger ChangeOnWorker(CMainView& view) {
  return [&view](ProfileChange change, std::function<void(ProfileChangeOutcome)> finished) {
    auto outcome = std::make_shared<ProfileChangeOutcome>();
    view.local().Start(
        view.settings(), FlowRunner::WhenBusy::kQueue,
        [change = std::move(change), outcome](FlowRunner::Flow& flow) {
          *outcome = ApplyProfileChange(flow.settings_store, change);
        },
        [finished = std::move(finished), outcome](FlowRunner::Flow&) { finished(*outcome); });
  };
}

void RunProfilesDialog(CMainView& view, StoredProfiles profiles) {
  CFtpConnect dialog(std::move(profiles), ChangeOnWorker(view), view.dialog_runner(),
                     view.TopWindow());
  const int result = view.dialog_runner().RunModal(dialog);
  if (result == kDialogOk) {
    view.LoadProfiles();
    view.flows().Start(view.settings(), FlowRunner::WhenBusy::kQueue, [](FlowRunner::Flow& flow) {
      if (!flow.LoadPasswords())
        return;
      flow.store.LoadMessageStore();
      flow.receiver.RetryUndecryptedMessages();
    });
  } else if (dialog.profile_deleted()) {
    view.LoadProfiles();
  }
}

}  // namespace

void OnPasswordProfiles(CMainView& view) {
  if (!view.RequireSettings() || view.profiles_dialog_pending())
    return;
  // Read on the local worker, the passwords perhaps from the keyring; the dialog opens after.
  view.set_profiles_dialog_pending(true);
  struct Read {
    std::optional<StoredProfiles> profiles;
    std::string problem;
  };
  auto read = std::make_shared<Read>();
  view.local().Start(
      view.settings(), FlowRunner::WhenBusy::kQueue,
      [read](FlowRunner::Flow& flow) {
        read->profiles = StoredProfiles::Read(flow.settings_store);
        if (!read->profiles)
          read->problem = flow.settings_store.DescribeProblem();
      },
      [&view, read](FlowRunner::Flow&) {
        // Not inside the runner's step: the dialog's own loop runs on its own turn.
        QTimer::singleShot(0, &view, [&view, read] {
          view.set_profiles_dialog_pending(false);
          if (!read->profiles) {
            ShowSettingsFailure(view.dialog_runner(), view.TopWindow(), read->problem, true);
            return;
          }
          RunProfilesDialog(view, std::move(*read->profiles));
        });
      });
}

void OnPreferences(CMainView& view) {
  if (!view.RequireSettings())
    return;
  const bool had_user = !view.settings().user_name.empty();
  CDialog_preferencias dialog(
      view.settings_store(), view.dialog_runner(), [&view](int id) { view.sounds().Play(id); },
      view.TopWindow());
  if (RunSettingsDialog(view, dialog) != kDialogOk)
    return;
  if (had_user) {
    if (!view.ReloadSettings())
      ShowSettingsFailure(view.dialog_runner(), view.TopWindow(), view.settings_store(), true);
    return;
  }
  // The dialog stored the name with its counter at 0. The registration goes to the server just
  // confirmed, not to the one set before.
  const Preferences edited = dialog.edited();
  Settings settings = view.settings();
  settings.user_name = edited.user_name;
  settings.server_name = edited.server_name;
  settings.received_counter = 0;
  auto created = std::make_shared<MailboxClient::Creation>();
  view.flows().Start(
      settings, FlowRunner::WhenBusy::kQueue,
      [created, name = edited.user_name](FlowRunner::Flow& flow) {
        *created = flow.client.CreateMailbox(name);
      },
      [&view, created, edited](FlowRunner::Flow&) {
        if (*created == MailboxClient::Creation::kNotCreated) {
          Preferences kept = edited;
          kept.user_name.clear();
          if (!SavePreferences(view.settings_store(), kept)) {
            // Kept here, a name the server refused would fetch another user's mailbox.
            view.dialog_runner().ShowMessageBox(
                view.TopWindow(),
                QStringLiteral("El servidor no ha registrado el nombre de usuario %1, pero no se "
                               "ha podido quitar de la configuración.\n\n%2\n\nQuítalo con "
                               "\"Eliminar este usuario\" en Preferencias en cuanto se pueda.")
                    .arg(ToQString(edited.user_name),
                         ToQString(view.settings_store().DescribeProblem())),
                QStringLiteral("No se ha podido guardar la configuración"), kBoxOkQuestion);
          }
        }
        if (!view.ReloadSettings())
          ShowSettingsFailure(view.dialog_runner(), view.TopWindow(), view.settings_store(), true);
      });
}

}  // namespace velkorant
