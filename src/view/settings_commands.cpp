#include "view/settings_commands.h"

#include "server/mailbox_client.h"
#include "server/message_receiver.h"
#include "settings/preferences_dialog.h"
#include "settings/profiles_dialog.h"
#include "settings/settings_store.h"
#include "ui/dialog_runner.h"
#include "ui/event_sound_player.h"
#include "view/main_view.h"

namespace velkorant {

void OnPasswordProfiles(CMainView& view) {
  CFtpConnect dialog(view.settings_store(), view.dialog_runner(), view.TopWindow());
  const int result = view.dialog_runner().RunModal(dialog);
  if (result == kDialogOk) {
    view.passwords().LoadPasswordList(view.settings_store());
    view.receiver().RetryUndecryptedMessages();
  } else if (dialog.profile_deleted()) {
    view.passwords().LoadPasswordList(view.settings_store());
  }
}

void OnPreferences(CMainView& view) {
  const bool had_user = !view.settings().user_name.empty();
  CDialog_preferencias dialog(
      view.settings_store(), view.dialog_runner(), [&view](int id) { view.sounds().Play(id); },
      view.TopWindow());
  if (view.dialog_runner().RunModal(dialog) != kDialogOk)
    return;
  if (!had_user) {
    // The registration goes to the server just confirmed, not to the one set before.
    view.ReloadSettings();
    Preferences edited = dialog.edited();
    if (!view.mailbox_client().CreateMailbox(edited.user_name)) {
      edited.user_name.clear();
      SavePreferences(view.settings_store(), edited);
    }
    view.settings().received_counter = 0;
    SaveCounters(view.settings_store(), view.settings());
  }
  view.ReloadSettings();
}

}  // namespace velkorant
