// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/main_view.h"

#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QTimer>

#include "dialogs/about_dialogs.h"
#include "dialogs/dialog_fields.h"
#include "platform/ansi_text.h"
#include "ui/control_ids.h"
#include "ui/dialog_runner.h"
#include "ui/event_sound_player.h"
#include "ui/qt_text.h"
#include "view/flow_runner.h"
#include "view/message_commands.h"
#include "view/message_list_panel.h"
#include "view/settings_commands.h"

namespace velkorant {
namespace {

constexpr auto kVersionText = "Velkorant v1.1a";

// The form's font comes first: the dialog units and every control follow it.
DialogUnits PrepareForm(QWidget& form) {
  form.setFont(DialogFont());
  return DialogUnits(form.font());
}

}  // namespace

CMainView::CMainView(SettingsStore& settings_store, DialogRunner& runner, QWidget* parent)
    : QWidget(parent),
      settings_store_(settings_store),
      runner_(runner),
      units_(PrepareForm(*this)),
      controls_(BuildMainViewControls(*this, units_)),
      store_("."),
      sounds_(new EventSoundPlayer(this)),
      terminal_(*controls_.terminal),
      envelope_(controls_.envelope),
      list_(new MessageListPanel(controls_, store_, settings_, this)),
      ui_(*this, runner_, *sounds_, settings_),
      startup_timer_(new QTimer(this)),
      receive_timer_(new QTimer(this)),
      commands_{*this, runner_, *this, settings_store_, flows_, local_, *list_, *sounds_},
      flows_(ui_, settings_store_.database().path(), FlowRunner::Order::kOneAtATime),
      local_(ui_, settings_store_.database().path(), FlowRunner::Order::kAtOnce) {
  MakeFormResizable(*this, controls_, units_);
  // The form's own data exchange shows both kinds of message from the start.
  controls_.show_received->setChecked(true);
  controls_.show_sent->setChecked(true);

  startup_timer_->setObjectName(QString::number(kStartupTimerId));
  receive_timer_->setObjectName(QString::number(kReceiveTimerId));
  connect(startup_timer_, &QTimer::timeout, this, [this] { OnTimer(kStartupTimerId); });
  connect(receive_timer_, &QTimer::timeout, this, [this] { OnTimer(kReceiveTimerId); });

  connect(controls_.receive, &QPushButton::clicked, this, &CMainView::OnReceiveMessages);
  connect(controls_.exit, &QPushButton::clicked, this, [this] { TopWindow()->close(); });
  connect(controls_.clear_terminal, &QPushButton::clicked, this, [this] { terminal_.Clear(); });
  connect(list_, &MessageListPanel::currentMessageChanged, this, &CMainView::UpdateActionButtons);
  // Every reload and every message marked read passes through there.
  connect(list_, &MessageListPanel::currentMessageChanged, this, &CMainView::ShowUnreadInTitle);
  connect(controls_.profiles, &QPushButton::clicked, this,
          [this] { OnPasswordProfiles(commands_); });
  for (const auto& [button, command] :
       {std::pair{controls_.compose, kIdCompose}, std::pair{controls_.reply, kIdReply},
        std::pair{controls_.new_to_sender, kIdNewToSender},
        std::pair{controls_.forward, kIdForward}, std::pair{controls_.edit, kIdEdit}}) {
    connect(button, &QPushButton::clicked, this,
            [this, command] { OnMessageCommand(commands_, command); });
  }
  connect(controls_.remove, &QPushButton::clicked, this,
          [this] { DeleteCurrentMessage(commands_); });
  connect(list_, &MessageListPanel::deleteRequested, this,
          [this] { DeleteCurrentMessage(commands_); });
  connect(&flows_, &FlowRunner::busyChanged, this, &CMainView::OnFlowsBusy);
  connect(&flows_, &FlowRunner::flowEnded, this, &CMainView::OnFlowEnded);
  list_->SetReadMarker([this](std::uint32_t numero) { MarkRead(numero); });
}

CMainView::~CMainView() = default;

void CMainView::StopFlows() {
  // The flows' last steps use this view's members.
  flows_.Stop();
  local_.Stop();
}

void CMainView::OnInitialUpdate(QWidget& progress_pane, QLabel& outcome_pane) {
  // The filters start empty and off: the panel's own initial state.
  // A progress bar in status pane 1: the messages a receive run has fetched.
  progress_ = new QProgressBar(&progress_pane);
  progress_->setObjectName(QStringLiteral("1"));
  progress_->setRange(0, MessageReceiver::kMaxMessagesPerRun);
  progress_->setTextVisible(false);
  progress_pane.layout()->addWidget(progress_);
  // Beside it while a server flow runs: the way to end that flow, also by Esc on the button.
  cancel_ = new QPushButton(QStringLiteral("Cancelar"), &progress_pane);
  cancel_->setObjectName(QString::number(kIdCancelFlow));
  cancel_->setAccessibleName(QStringLiteral("Cancelar la operación en curso"));
  cancel_->setToolTip(QStringLiteral("Cancelar la operación en curso (Esc)"));
  cancel_->hide();
  progress_pane.layout()->addWidget(cancel_);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), cancel_);
  escape->setContext(Qt::WidgetShortcut);
  connect(escape, &QShortcut::activated, cancel_, &QPushButton::click);
  connect(cancel_, &QPushButton::clicked, this, [this] {
    LogTerminal(Utf8ToAnsi("Cancelando la operación en curso ..."));
    flows_.CancelRunning();
  });
  outcome_ = &outcome_pane;
  // The window's title.
  ShowUnreadInTitle();
  // The settings; until they can be read, nothing is written or asked of the server.
  settings_readable_ = ReloadSettings();
  // The message list, filled from both stores.
  list_->Prepare();
  ReloadMessages();
  const bool messages_readable = store_.file(true).readable() && store_.file(false).readable();
  // The reading pane opens with the program's version.
  list_->reading_pane().Prepare();
  list_->reading_pane().Append(QString::fromLatin1(kVersionText), kReadingWhite, kReadingBackground,
                               true);
  // The password list, on the local worker: the window never waits for the keyring. Asked
  // for once the window shows, so that a keyring's unlock prompt comes after it. Passwords still
  // in clear go into the keyring first, where there is one.
  if (settings_readable_)
    QTimer::singleShot(0, this, [this] { ReadProfiles(true); });
  // The button pictures.
  LoadButtonPictures(controls_);
  // Both kinds of message shown.
  controls_.show_received->setChecked(true);
  controls_.show_sent->setChecked(true);
  // The terminal's first line, and why the list is empty where a store cannot be read.
  LogTerminal("Inicio del terminal OK");
  if (!messages_readable) {
    LogTerminal(Utf8ToAnsi("Error. No se puede leer ") + std::string(kSentMessagesFile) + " o " +
                std::string(kReceivedMessagesFile) +
                Utf8ToAnsi(" en esta carpeta; no se muestran sus mensajes."));
  }
  // The version in the status bar.
  emit statusPanesChanged(QString::fromLatin1(kVersionText));
  // The timers: the rest of the start-up once the window shows (legal notice, receive run), and
  // the receive run every 30 minutes.
  startup_timer_->start(kStartupTimerPeriodMs);
  receive_timer_->start(kReceiveTimerPeriodMs);
}

void CMainView::LogTerminal(std::string_view text, std::string_view suffix) {
  terminal_.Log(text, suffix);
}

void CMainView::SetStatusIcon(int state) {
  envelope_.Set(state);
  emit statusIconChanged(state);
}

void CMainView::ResetFilters() {
  list_->ResetFilters();
}

void CMainView::ReloadMessages() {
  list_->ReloadMessages();
}

QWidget* CMainView::TopWindow() {
  return window();
}

void CMainView::ShowReceiveProgress(int fetched) {
  if (progress_ == nullptr)
    return;
  progress_->setValue(std::min(fetched, progress_->maximum()));
  progress_->setFormat(QStringLiteral("%1 mensajes").arg(fetched));
  progress_->setTextVisible(true);
}

void CMainView::OnFlowsBusy(bool busy) {
  if (progress_ == nullptr)
    return;  // before the start-up: no flow runs
  if (busy) {
    focus_before_flows_ = TopWindow()->focusWidget();
    focus_parked_ = false;
    cancel_->show();
  } else {
    progress_->reset();
    progress_->setTextVisible(false);
    // Back where the user was, unless they went on to another control meanwhile; before the
    // button goes, so its focus never passes on to the next control.
    const QWidget* now = TopWindow()->focusWidget();
    if (now == nullptr || now == cancel_ || now == controls_.exit || !now->isEnabled() ||
        !now->isVisible() || (focus_parked_ && now == controls_.message_list)) {
      QWidget* back = focus_before_flows_;
      const bool usable = back != nullptr && back != controls_.exit && back != cancel_ &&
                          back->isEnabled() && back->isVisible();
      (usable ? back : controls_.message_list)->setFocus(Qt::OtherFocusReason);
    }
    cancel_->hide();
  }
}

void CMainView::OnFlowEnded(const std::string& outcome, bool cancelled) {
  const QString text = cancelled ? QStringLiteral("Operación cancelada") : ToQString(outcome);
  if (outcome_ == nullptr || text.isEmpty())
    return;
  // A changed accessible name is what screen readers announce: cleared first, so that the same
  // outcome twice is told twice.
  outcome_->setAccessibleName(QString());
  outcome_->setText(text);
  outcome_->setAccessibleName(text);
}

void CMainView::SetEnabledKeepingFocus(QWidget* control, bool enabled) {
  if (!enabled && control->isEnabled() && TopWindow()->focusWidget() == control) {
    controls_.message_list->setFocus(Qt::OtherFocusReason);
    focus_parked_ = true;
  }
  control->setEnabled(enabled);
}

void CMainView::UpdateActionButtons() {
  const Message* current = list_->current_message();
  const bool decrypted_received =
      current != nullptr && !current->enviado && current->flag_msj_desencriptado;
  SetEnabledKeepingFocus(controls_.reply, decrypted_received);
  SetEnabledKeepingFocus(controls_.new_to_sender, decrypted_received);
  SetEnabledKeepingFocus(controls_.forward,
                         current != nullptr && current->enviado && current->flag_msj_enviado_srv);
  SetEnabledKeepingFocus(controls_.edit,
                         current != nullptr && current->enviado && !current->flag_msj_enviado_srv);
  SetEnabledKeepingFocus(controls_.remove, current != nullptr);
  SetEnabledKeepingFocus(controls_.receive, !settings_.user_name.empty());
}

bool CMainView::ReloadSettings() {
  auto loaded = LoadSettings(settings_store_);
  if (loaded)
    settings_ = std::move(*loaded);
  UpdateActionButtons();
  return loaded.has_value();
}

bool CMainView::RequireSettings() {
  if (!settings_readable_) {
    settings_readable_ = ReloadSettings();
    if (!settings_readable_)
      ShowSettingsFailure(runner_, TopWindow(), settings_store_, true);
    else
      LoadProfiles();
  }
  return settings_readable_;
}

void CMainView::LoadProfiles() {
  ReadProfiles(false);
}

void CMainView::ReadProfiles(bool move_to_keyring) {
  profiles_ = Profiles::kLoading;
  struct Read {
    PasswordPlace place = PasswordPlace::kKeyring;
    std::string move_problem;
    std::optional<std::vector<std::string>> names;
    ProfileOutcome loaded;
  };
  auto read = std::make_shared<Read>();
  local_.Start(
      settings_, FlowRunner::WhenBusy::kQueue,
      [read, move_to_keyring](FlowRunner::Flow& flow) {
        if (move_to_keyring) {
          const PasswordMove move = MovePasswordsToKeyring(flow.settings_store);
          read->place = move.place;
          if (read->place == PasswordPlace::kUnavailable)
            read->move_problem = flow.settings_store.DescribeProblem(move.outcome);
        }
        read->names = EnumerateProfiles(flow.settings_store);
        read->loaded = read->names ? flow.passwords.LoadPasswordList(flow.settings_store)
                                   : ProfileOutcome::Failed();
        if (!read->loaded)
          read->names.reset();
      },
      [this, read, move_to_keyring](FlowRunner::Flow& flow) {
        if (read->place == PasswordPlace::kDatabase)
          LogTerminal(PasswordsInDatabaseNotice(flow.settings_store));
        if (!read->move_problem.empty()) {
          LogTerminal(Utf8ToAnsi("Error. No se han podido pasar las contraseñas de los perfiles "
                                 "al llavero del escritorio: ") +
                      read->move_problem);
        }
        if (read->names) {
          passwords_.swap(flow.passwords);
          profile_names_ = std::move(*read->names);
          profiles_ = Profiles::kReady;
          if (move_to_keyring && (settings_.user_name.empty() || profile_names_.empty()))
            ShowFirstSteps();
        } else {
          profiles_problem_ = flow.settings_store.DescribeProblem(read->loaded);
          profiles_ = Profiles::kFailed;
          LogTerminalLines(ui_,
                           Utf8ToAnsi("Error. No se pueden leer los perfiles de contraseñas.\n") +
                               flow.settings_store.DescribeProblem(read->loaded, "\n"));
        }
      });
}

bool CMainView::RequireProfiles() {
  if (!RequireSettings())
    return false;
  switch (profiles_) {
    case Profiles::kReady:
      return true;
    case Profiles::kLoading:
      runner_.ShowMessageBox(
          TopWindow(),
          QStringLiteral("Velkorant todavía está leyendo las contraseñas de los perfiles (el "
                         "llavero del escritorio puede estar pidiendo que lo desbloquees).\n\n"
                         "Vuelve a intentarlo en un momento."),
          QStringLiteral("Perfiles de contraseñas"), kBoxOkQuestion);
      return false;
    case Profiles::kFailed:
      ShowSettingsFailure(runner_, TopWindow(), profiles_problem_, true);
      LoadProfiles();  // for the next try
      return false;
  }
  return false;
}

void CMainView::MarkRead(std::uint32_t numero) {
  auto written = std::make_shared<FileOutcome>(FileOutcome::Failed({}));
  local_.Start(
      settings_, FlowRunner::WhenBusy::kQueue,
      [numero, written](FlowRunner::Flow& flow) {
        *written = flow.store.WriteMessageKey(false, numero, "flag_msj_leido", "1");
      },
      [this, numero, written](FlowRunner::Flow& flow) {
        list_->ReadMarkWritten(numero);
        // A message deleted meanwhile has nothing to mark.
        if (!*written && flow.store.file(false).Read().FindSection(
                             MessageStore::SectionName(false, numero)) != IniDocument::npos) {
          LogTerminal(Utf8ToAnsi("No se ha podido marcar como leído el mensaje r") +
                      std::to_string(numero) + ": " + written->error);
        }
      });
}

void CMainView::ShowUnreadInTitle() {
  const int unread = list_->UnreadCount();
  TopWindow()->setWindowTitle(unread == 0 ? QStringLiteral("Velkorant")
                                          : QStringLiteral("Velkorant (%1 sin leer)").arg(unread));
}

void CMainView::ShowFirstSteps() {
  LogTerminal(
      Utf8ToAnsi("Para empezar: registra tu usuario en Configuración > Preferencias y "
                 "después crea un perfil en Configuración > Perfiles de contraseñas."));
  // Only into the pane as the start left it, never over a message being read.
  if (list_->current_message() != nullptr)
    return;
  list_->reading_pane().Append(
      QStringLiteral("\nPara empezar:\n1. Registra tu usuario en 'Preferencias'.\n2. Crea un "
                     "perfil en 'Perfiles de contraseñas' con la contraseña que compartes con "
                     "quien te escribe."),
      kReadingWhite, kReadingBackground, true);
}

void CMainView::OnTimer(int id) {
  if (id == kStartupTimerId) {
    startup_timer_->stop();
    SetStatusIcon(static_cast<int>(StatusIcon::kIdle));
    if (!settings_readable_) {
      // Not a new user: a user whose settings cannot be read. Nothing is shown or written as if
      // this were a first run.
      ShowSettingsFailure(runner_, TopWindow(), settings_store_, true);
      return;
    }
    if (settings_.first_run != 0) {
      OnShowLegalNotice();
      settings_.first_run = 0;
      // That entry alone: a run asked for from a later start while the notice was open may be
      // moving the received counter, and a stale one written back would fetch messages twice.
      if (!settings_store_.WriteInt(kOptionsSection, kFirstRunEntry, 0)) {
        LogTerminalLines(
            ui_, Utf8ToAnsi("No se ha podido guardar que el aviso legal ya se ha mostrado.\n") +
                     settings_store_.DescribeProblem("\n"));
      }
    }
    // Read now, so a change made in the preferences meanwhile applies.
    if (settings_.receive_at_startup)
      StartReceive();
  } else if (id == kReceiveTimerId) {
    if (settings_readable_ && settings_.receive_every_30_minutes)
      StartReceive();
  }
}

void CMainView::OnCheckServer() {
  if (RequireSettings())
    flows_.Start(settings_, FlowRunner::WhenBusy::kSkip,
                 [](FlowRunner::Flow& flow) { flow.client.CheckServer(); });
}

void CMainView::OnReceiveMessages() {
  if (!RequireSettings())
    return;
  // Said, not skipped unseen: F5 or the button pressed again while the server is busy.
  if (flows_.busy())
    LogTerminal(
        Utf8ToAnsi("Ya hay una operación en curso con el servidor; esta recepción no se "
                   "hace."));
  else
    StartReceive();
}

void CMainView::StartReceive() {
  // Skipped while a flow runs, as a run always was while the server client was busy.
  flows_.Start(
      settings_, FlowRunner::WhenBusy::kSkip,
      [](FlowRunner::Flow& flow) {
        if (!flow.LoadPasswords())
          return;
        flow.receiver.SetAskBeforeAnotherFolder(true);
        flow.receiver.ReceiveMessages();
      },
      [this](FlowRunner::Flow& flow) {
        // The run saved its counter; the window's copy follows, so later saves keep it.
        settings_.received_counter = flow.settings.received_counter;
      });
}

void CMainView::OnShowEncryptionInfo() {
  CAboutAES256Dlg dialog(TopWindow());
  runner_.RunModal(dialog);
}

void CMainView::OnShowLegalNotice() {
  CAboutDescargoRespoDlg dialog(TopWindow());
  runner_.RunModal(dialog);
}

}  // namespace velkorant
