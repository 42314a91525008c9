// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/transfer_commands.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "common/ui_services.h"
#include "dialogs/dialog_fields.h"
#include "dialogs/passphrase_dialog.h"
#include "platform/ansi_text.h"
#include "transfer/installation_import.h"
#include "transfer/transfer_files.h"
#include "ui/dialog_runner.h"
#include "view/command_context.h"
#include "view/flow_runner.h"
#include "view/message_list_panel.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;

// Captions, UTF-8.
constexpr const char* kImportCaption = "Importar desde Windows";
constexpr const char* kExportCaption = "Exportar para Windows";
constexpr const char* kBackupCaption = "Copia de seguridad";
constexpr const char* kRestoreCaption = "Restaurar copia de seguridad";

std::string Shown(const fs::path& path) {
  return Utf8ToAnsi(path.string());
}

// A file, or with no `filter` a folder, chosen in the program's own chooser, which the runner
// shows as it shows every dialog. Saving over a file asks first.
std::optional<fs::path> Choose(CommandContext& context, const char* caption,
                               QFileDialog::AcceptMode mode, const QString& filter = {},
                               const QString& suffix = {}) {
  QFileDialog chooser(context.window(), QString::fromUtf8(caption), QDir::homePath(), filter);
  chooser.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
  chooser.setAcceptMode(mode);
  chooser.setDefaultSuffix(suffix);
  if (filter.isEmpty()) {
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
  } else if (mode == QFileDialog::AcceptOpen) {
    chooser.setFileMode(QFileDialog::ExistingFile);
  }
  if (context.dialogs.RunModal(chooser) != QDialog::Accepted || chooser.selectedFiles().isEmpty())
    return std::nullopt;
  const QString chosen = chooser.selectedFiles().front();
  if (mode == QFileDialog::AcceptSave && QFileInfo::exists(chosen) &&
      context.dialogs.ShowMessageBox(
          context.window(), QStringLiteral("%1 ya existe.\n\n¿ Reemplazarlo ?").arg(chosen),
          QString::fromUtf8(caption), kBoxYesNoQuestion | kBoxDefaultSecond) != kAnswerYes) {
    return std::nullopt;
  }
  return fs::path(chosen.toStdString());
}

// A move waits for the server flow under way, as a send does: the receive runs must not move the
// counter or the message files under it.
void StartMove(CommandContext& context, FlowRunner::Step work, FlowRunner::Step done = {}) {
  if (context.flows.busy())
    context.flows.gui().LogTerminal(Ansi("Se hará cuando termine la operación en curso."));
  context.flows.Start(context.user.settings(), FlowRunner::WhenBusy::kQueue, std::move(work),
                      std::move(done));
}

// On the worker: a failure also in a box, since the user is waiting for the answer.
void Tell(FlowRunner::Flow& flow, const char* caption, const FileOutcome& outcome,
          std::string_view done) {
  LogOutcome(flow.ui, outcome ? done : outcome.error);
  if (!outcome)
    flow.ui.ShowMessageBox(outcome.error, Ansi(caption), kBoxOkQuestion);
}

// "\nTitle:\n· line\n· line\n", or nothing without lines.
std::string Listed(std::string_view title, const std::vector<std::string>& lines) {
  std::string text = lines.empty() ? "" : "\n" + std::string(title) + "\n";
  for (const std::string& line : lines)
    text += Ansi("· ") + line + "\n";
  return text;
}

// On the worker: what the source would change, asked about, and made; the same for an import and
// a restore.
void BringIn(FlowRunner::Flow& flow, const SourceRead& read, const char* caption) {
  const std::string title = Ansi(caption);
  const std::string unchanged = Ansi("No se ha cambiado nada.");
  if (!read.source)
    return Tell(flow, caption, FileOutcome::Failed(read.error), {});
  InstallationImport import(flow.settings_store, flow.store);
  ImportOptions options;
  InstallationImport::Plan plan = import.MakePlan(*read.source, options);
  if (plan.other_user) {
    const std::string question =
        *plan.refusal + Ansi(
                            "\n\n¿ Reemplazar a ese usuario ? Sus mensajes se apartan con la "
                            "fecha en el nombre; no se borran ni se mezclan.");
    if (flow.ui.ShowMessageBox(question, title, kBoxYesNoQuestion | kBoxDefaultSecond) !=
        kAnswerYes)
      return LogOutcome(flow.ui, unchanged);
    options.replace_user = true;
    plan = import.MakePlan(*read.source, options);
  }
  if (!plan.ok())
    return Tell(flow, caption, FileOutcome::Failed(*plan.refusal), {});
  std::string text;
  for (const std::string& line : read.found)
    text += line + "\n";
  text += Listed("Cambios:", plan.changes) + Listed("Se deja fuera:", plan.problems);
  if (plan.changes.empty()) {
    const std::string nothing = Ansi("No hay nada que cambiar.");
    flow.ui.ShowMessageBox(text + "\n" + nothing, title, kBoxOkQuestion);
    return LogOutcome(flow.ui, nothing);
  }
  if (flow.ui.ShowMessageBox(text + Ansi("\n¿ Hacer estos cambios ?"), title,
                             kBoxYesNoQuestion | kBoxDefaultSecond) != kAnswerYes)
    return LogOutcome(flow.ui, unchanged);
  Tell(flow, caption, import.Apply(*read.source, options, plan),
       title + Ansi(": hecho (") + std::to_string(plan.changes.size()) + Ansi(" cambios)."));
}

// What the window shows comes again from the stores the import may have changed.
void StartBringIn(CommandContext& context, const char* caption, std::function<SourceRead()> read) {
  StartMove(
      context,
      [caption, read = std::move(read)](FlowRunner::Flow& flow) { BringIn(flow, read(), caption); },
      [&context](FlowRunner::Flow&) {
        if (!context.user.ReloadSettings())
          ShowSettingsFailure(context.dialogs, context.window(), context.settings_store, true);
        context.user.LoadProfiles();
        context.list.ReloadMessages();
      });
}

}  // namespace

void OnImportWindows(CommandContext& context) {
  if (!context.user.RequireSettings())
    return;
  const auto folder = Choose(context, kImportCaption, QFileDialog::AcceptOpen);
  if (folder)
    StartBringIn(context, kImportCaption, [folder = *folder] { return ReadWindowsSource(folder); });
}

void OnRestore(CommandContext& context) {
  if (!context.user.RequireSettings())
    return;
  const auto archive = Choose(context, kRestoreCaption, QFileDialog::AcceptOpen,
                              QStringLiteral("Copia de seguridad (*.tar)"));
  if (!archive)
    return;
  PassphraseDialog dialog(PassphraseDialog::Purpose::kRestore, context.dialogs, context.window());
  if (context.dialogs.RunModal(dialog) != kDialogOk)
    return;
  StartBringIn(context, kRestoreCaption, [archive = *archive, passphrase = dialog.passphrase()] {
    return ReadBackup(archive, passphrase);
  });
}

void OnExportWindows(CommandContext& context) {
  if (!context.user.RequireSettings())
    return;
  const auto file = Choose(context, kExportCaption, QFileDialog::AcceptSave,
                           QStringLiteral("Exportación del registro (*.reg)"), "reg");
  if (!file)
    return;
  const bool with_passwords =
      context.dialogs.ShowMessageBox(
          context.window(),
          QStringLiteral("¿ Incluir también las contraseñas de los perfiles ?\n\nAviso: el "
                         "archivo las lleva en claro, como las guarda el programa de Windows. "
                         "Guárdalo donde nadie más pueda leerlo y bórralo después de importarlo."),
          QString::fromUtf8(kExportCaption), kBoxYesNoQuestion | kBoxDefaultSecond) == kAnswerYes;
  StartMove(context, [file = *file, with_passwords](FlowRunner::Flow& flow) {
    Tell(flow, kExportCaption, ExportWindows(flow.settings_store, file, with_passwords),
         Ansi("Configuración exportada para Windows en ") + Shown(file));
  });
}

void OnBackup(CommandContext& context) {
  if (!context.user.RequireSettings())
    return;
  const auto archive = Choose(context, kBackupCaption, QFileDialog::AcceptSave,
                              QStringLiteral("Copia de seguridad (*.tar)"), "tar");
  if (!archive)
    return;
  std::optional<std::string> passphrase;
  if (context.dialogs.ShowMessageBox(
          context.window(),
          QStringLiteral("¿ Guardar también las contraseñas de los perfiles ?\n\nVan cifradas con "
                         "una frase de paso que escribes ahora; sin ella no se pueden recuperar."),
          QString::fromUtf8(kBackupCaption), kBoxYesNoQuestion) == kAnswerYes) {
    PassphraseDialog dialog(PassphraseDialog::Purpose::kBackup, context.dialogs, context.window());
    if (context.dialogs.RunModal(dialog) != kDialogOk)
      return;
    passphrase = dialog.passphrase();
  }
  StartMove(context, [archive = *archive, passphrase](FlowRunner::Flow& flow) {
    Tell(flow, kBackupCaption,
         WriteBackup(flow.settings_store, flow.store.folder(), archive, passphrase),
         Ansi("Copia de seguridad guardada en ") + Shown(archive));
  });
}

}  // namespace velkorant
