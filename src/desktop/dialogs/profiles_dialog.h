#pragma once

// The password profiles dialog (template 130, "Perfiles de contraseñas"): choose, create, edit or
// delete a profile. It opens on the profile saved last (the reserved copy "Seleccion") and keeps
// that copy up to date.

#include <string>

#include "dialogs/dialog_fields.h"
#include "settings/password_profiles.h"

class QCheckBox;
class QComboBox;

namespace velkorant {

class DialogRunner;
class SettingsStore;

inline constexpr int kProfilesDialogId = 130;

class CFtpConnect : public TemplateDialog {
  Q_OBJECT

 public:
  CFtpConnect(SettingsStore& store, DialogRunner& runner, QWidget* parent = nullptr);

  // False when the profiles could not be read: the dialog must not be run.
  bool opened() const { return opened_; }
  // The fields as last taken from the controls.
  const PasswordProfile& fields() const { return fields_; }
  // "Eliminar perfil" was confirmed: the stored profiles may have changed although the dialog
  // ends cancelled.
  bool profile_deleted() const { return profile_deleted_; }

  virtual void OnOK();
  virtual void OnShowPassword();
  virtual void OnDeleteProfile();

 private:
  void PutFields(const PasswordProfile& profile);
  // False after the too-long box: the dialog stays as it is.
  bool TakeFields();
  void OnProfileChosen(int index);

  SettingsStore& store_;
  DialogRunner& runner_;
  PasswordProfile fields_;
  PasswordProfile stored_;
  std::vector<std::string> names_;
  bool opened_ = false;
  bool profile_deleted_ = false;

  QComboBox* name_box_;
  LimitedLineEdit* name_;
  LimitedLineEdit* password_;
  QCheckBox* show_password_;
  LimitedLineEdit* comment1_;
  LimitedLineEdit* comment2_;
  LimitedLineEdit* comment3_;
  LimitedLineEdit* comment4_;
};

}  // namespace velkorant
