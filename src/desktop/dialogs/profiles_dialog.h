// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The password profiles dialog (template 130, "Perfiles de contraseñas"): choose, create, edit or
// delete a profile. It opens on the profile saved last (the reserved copy "Seleccion") and keeps
// that copy up to date.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/dialog_fields.h"
#include "settings/password_profiles.h"
#include "ui/control_ids.h"

class QCheckBox;
class QComboBox;

namespace velkorant {

class DialogRunner;
class SettingsStore;

// The profiles as the dialog opens with them: read beforehand on a worker, since their passwords
// may come from the desktop's keyring.
struct StoredProfiles {
  struct Entry {
    std::string name;  // as listed
    PasswordProfile profile;
    bool password_missing = false;  // the keyring has lost it: the user types it again
  };
  std::vector<Entry> entries;
  Entry last_saved;  // the reserved copy "Seleccion"

  // nullopt when the settings or the keyring cannot give them; `problem` (if given) then says why.
  static std::optional<StoredProfiles> Read(SettingsStore& store, std::string* problem = nullptr);
};

// A change the dialog confirmed, written on a worker; `finished` reports, on the GUI thread,
// whether it was made and, when something failed, the store's description of the problem.
struct ProfileChange {
  bool remove = false;
  PasswordProfile fields;
};
struct ProfileChangeOutcome {
  bool made = false;
  std::string problem;
};
using ProfileChanger =
    std::function<void(ProfileChange, std::function<void(ProfileChangeOutcome)> finished)>;
// What a change writes: the profile and the copy of the one saved last, or the profile's removal
// and an empty copy.
ProfileChangeOutcome ApplyProfileChange(SettingsStore& store, const ProfileChange& change);

class CFtpConnect : public TemplateDialog {
  Q_OBJECT

 public:
  CFtpConnect(StoredProfiles profiles, ProfileChanger changer, DialogRunner& runner,
              QWidget* parent = nullptr);

  // The fields as last taken from the controls.
  const PasswordProfile& fields() const { return fields_; }
  // "Eliminar perfil" was confirmed: the stored profiles may have changed although the dialog
  // ends cancelled.
  bool profile_deleted() const { return profile_deleted_; }

  virtual void OnOK();
  virtual void OnShowPassword();
  virtual void OnDeleteProfile();
  // Nothing is left while a change is written.
  void reject() override;

 private:
  void PutFields(const StoredProfiles::Entry& entry, bool with_name);
  // False after the too-long box: the dialog stays as it is.
  bool TakeFields();
  // The name and the password as the stores can keep them; false after the box that says why.
  bool CheckNameAndPassword();
  void OnProfileChosen(int index);
  void Change(ProfileChange change);
  void Finished(bool remove, ProfileChangeOutcome outcome);

  ProfileChanger changer_;
  DialogRunner& runner_;
  StoredProfiles stored_;
  PasswordProfile fields_;
  bool profile_deleted_ = false;

  QComboBox* name_box_;
  LimitedLineEdit* name_;
  LimitedLineEdit* password_;
  QCheckBox* show_password_;
  std::array<LimitedLineEdit*, 4> comments_;  // Comentario1..4, by number
};

}  // namespace velkorant
