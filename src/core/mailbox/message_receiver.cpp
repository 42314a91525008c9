// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/message_receiver.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <thread>

#include "crypto/digests.h"
#include "mailbox/receive_step.h"
#include "platform/ansi_text.h"

namespace velkorant {
namespace {

using Clock = std::chrono::steady_clock;

// Set while a batch of received messages is written: "<counter> <first numero> <last numero>".
constexpr std::string_view kPendingBatch = "RecepcionPendiente";

class Stopwatch {
 public:
  explicit Stopwatch(std::chrono::nanoseconds& total) : total_(total), start_(Clock::now()) {}
  ~Stopwatch() { total_ += Clock::now() - start_; }
  Stopwatch(const Stopwatch&) = delete;
  Stopwatch& operator=(const Stopwatch&) = delete;

 private:
  std::chrono::nanoseconds& total_;
  Clock::time_point start_;
};

// "5-9, 12": numbers as ranges, for one terminal line.
std::string NumberRanges(const std::vector<std::int32_t>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
      ++j;
    text += (text.empty() ? "" : ", ") + std::to_string(numbers[i]);
    if (j > i)
      text += "-" + std::to_string(numbers[j]);
    i = j + 1;
  }
  return text;
}

// The folder as it is remembered and compared: however its path is spelt.
std::string RememberedFolder(const std::filesystem::path& folder) {
  std::error_code error;
  const std::filesystem::path canonical =
      std::filesystem::weakly_canonical(std::filesystem::absolute(folder, error), error);
  return (error ? folder : canonical).string();
}

}  // namespace

MessageReceiver::KeyCache::KeyCache(const PasswordList& passwords, RunStatistics& stats)
    : passwords_(passwords), stats_(stats), keys_(passwords.entries().size()) {}

const DerivedKey& MessageReceiver::KeyCache::Key(std::size_t entry) {
  if (!keys_[entry]) {
    Stopwatch time(stats_.derive);
    // The passwords are tried in order, so the ones after this are likely next: derive as many
    // of them at once as there are processors, each key still only once.
    const std::size_t ahead = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    std::vector<std::thread> workers;
    for (std::size_t i = entry + 1; i < keys_.size() && i < entry + ahead; ++i) {
      if (keys_[i])
        continue;
      keys_[i].emplace();
      workers.emplace_back(
          [this, i] { *keys_[i] = DeriveKeyAndIv(passwords_.entries()[i].password); });
      ++stats_.derivations;
    }
    keys_[entry] = DeriveKeyAndIv(passwords_.entries()[entry].password);
    ++stats_.derivations;
    for (std::thread& worker : workers)
      worker.join();
  }
  return *keys_[entry];
}

MessageReceiver::MessageReceiver(MailboxClient& client, Settings& settings,
                                 SettingsStore& settings_store, MessageStore& store,
                                 const PasswordList& passwords)
    : client_(client),
      settings_(settings),
      settings_store_(settings_store),
      store_(store),
      passwords_(passwords) {}

std::optional<Message> MessageReceiver::Decrypt(std::string_view transport, KeyCache& keys) {
  const auto& entries = passwords_.entries();
  std::optional<Ciphertext> ciphertext;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const DerivedKey& key = keys.Key(i);
    Decrypted text;
    {
      Stopwatch time(stats_.decrypt);
      // Decoded once for all the passwords; each wrong one is mostly told by one block.
      if (!ciphertext)
        ciphertext.emplace(transport);
      text = ciphertext->TryDecrypt(key);
    }
    if (!text.ok()) {
      client_.ui().ReportDecryptFailure(text.library_text);
      continue;
    }
    std::optional<Message> record = ReceivedRecord(*text.text);
    if (!record)
      continue;
    record->password_msj = entries[i].password;
    return record;
  }
  return std::nullopt;
}

std::filesystem::path MessageReceiver::RunLockPath(const std::filesystem::path& database) {
  std::filesystem::path lock = database;
  lock += ".recepcion.lock";
  return lock;
}

bool MessageReceiver::RoomForUndecrypted(std::size_t bytes) {
  if (!undecrypted_stored_)
    CountStoredUndecrypted();
  return *undecrypted_stored_ < kMaxUndecrypted &&
         undecrypted_bytes_ + bytes <= kMaxUndecryptedBytes;
}

void MessageReceiver::ReportSettingsProblem(std::string_view what) {
  LogTerminalLines(client_.ui(), Ansi(what) + "\n" + settings_store_.DescribeProblem("\n"));
  client_.ui().SetStatusIcon(StatusIcon::kError);
  client_.ui().ShowOutcome(Ansi(what));
}

bool MessageReceiver::SaveCountersClearingMarker() {
  return settings_store_.WriteValues(kOptionsSection,
                                     {{kReceivedCounterEntry, settings_.received_counter},
                                      {kFirstRunEntry, settings_.first_run},
                                      {kReceiveFolderEntry, receive_folder_},
                                      {kPendingBatch, std::monostate()}});
}

bool MessageReceiver::CommitBatch(std::int32_t counter) {
  Stopwatch time(stats_.store);
  UiServices& ui = client_.ui();
  // The folder's lock is held only from here to the batch's end: other processes' changes wait
  // for a write, never for a download.
  if (const FileOutcome begun = store_.BeginBatch(); !begun) {
    ui.LogTerminal(Ansi("Error. No se pueden guardar mensajes: ") + begun.error);
    ui.SetStatusIcon(StatusIcon::kError);
    return false;
  }
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  for (Message& record : batch_) {
    const std::uint32_t numero = store_.SaveMessage(std::move(record)).numero;
    if (numero != 0) {
      first = first == 0 ? numero : first;
      last = numero;
    }
  }
  batch_.clear();
  const std::string_view options = kOptionsSection;
  if (last != 0) {
    // Should the program die between writing the messages and moving the counter, the next run
    // learns from this marker whether the messages reached the disk.
    const std::string marker =
        std::to_string(counter) + " " + std::to_string(first) + " " + std::to_string(last);
    if (!settings_store_.WriteText(options, kPendingBatch, marker)) {
      store_.AbandonBatch();
      ReportSettingsProblem(
          "Error. No se puede escribir en la configuración; los mensajes se recibirán la próxima "
          "vez.");
      return false;
    }
  }
  if (const FileOutcome ended = store_.EndBatch(); !ended) {
    // The messages are not on disk: leave the counter, so the next run fetches them again.
    ui.LogTerminal(Ansi("Error. No se han podido guardar los mensajes recibidos en el disco (") +
                   ended.error + Ansi("); se recibirán la próxima vez."));
    ui.SetStatusIcon(StatusIcon::kError);
    settings_store_.WriteValues(options, {{kPendingBatch, std::monostate()}});
    return false;
  }
  settings_.received_counter = counter;
  if (!SaveCountersClearingMarker()) {
    // The marker stays, so the next run that can write moves the counter past these messages.
    ReportSettingsProblem(
        "Error. Los mensajes están guardados, pero no el contador de mensajes recibidos; la "
        "próxima recepción lo corregirá.");
    return false;
  }
  return true;
}

bool MessageReceiver::AcceptReceiveFolder(const std::string& last, const std::string& here) {
  std::error_code error;
  // A folder that is gone was moved or removed: nothing is split between two folders.
  if (last.empty() || last == here || !std::filesystem::is_directory(last, error))
    return true;
  UiServices& ui = client_.ui();
  ui.LogTerminal(Ansi("Aviso: la última recepción de este usuario fue en la carpeta ") +
                 Utf8ToAnsi(last) + Ansi(", no en esta (") + Utf8ToAnsi(here) + ").");
  if (!ask_before_another_folder_)
    return true;
  const int answer = ui.ShowMessageBox(
      Ansi("La última recepción de este usuario guardó los mensajes en la carpeta\n") +
          Utf8ToAnsi(last) + Ansi("\n\nSi recibes ahora en esta carpeta\n") + Utf8ToAnsi(here) +
          Ansi("\nlos mensajes nuevos se guardarán sólo aquí, y no en aquella.\n\n"
               "¿ Recibir en esta carpeta ?"),
      Ansi("Recibir en otra carpeta"), kBoxYesNoQuestion | kBoxDefaultSecond);
  if (answer == kAnswerYes)
    return true;
  ui.LogTerminal(Ansi("Recepción cancelada; los mensajes nuevos siguen esperando en el servidor."));
  return false;
}

bool MessageReceiver::PrepareRun() {
  const auto counter =
      settings_store_.ReadInt(kOptionsSection, kReceivedCounterEntry, settings_.received_counter);
  const auto marker = counter ? settings_store_.ReadText(kOptionsSection, kPendingBatch)
                              : std::optional<std::string>();
  const auto last_folder =
      marker ? settings_store_.ReadText(kOptionsSection, kReceiveFolderEntry) : std::nullopt;
  if (!last_folder) {
    ReportSettingsProblem("Error. No se puede leer la configuración; no se reciben mensajes.");
    return false;
  }
  settings_.received_counter = *counter;
  // As stored: a text or a number past 32 bits reads as the default, and says no more than a
  // negative number of which server messages are stored.
  const auto stored =
      settings_store_.ReadText(kOptionsSection, kReceivedCounterEntry, std::to_string(*counter));
  if (*counter < 0 || !stored || *stored != std::to_string(*counter)) {
    // Fetching from any number could store some of them twice.
    client_.ui().LogTerminal(
        Ansi("Error. El contador de mensajes recibidos (MsjsRecibidos) vale ") +
        stored.value_or(std::to_string(*counter)) +
        Ansi(", que no es válido; no se reciben mensajes."));
    client_.ui().LogTerminal(
        Ansi("Pon en él el número del último mensaje recibido del servidor: "
             "velkorant-cli received-counter NÚMERO"));
    client_.ui().SetStatusIcon(StatusIcon::kError);
    return false;
  }
  receive_folder_ = RememberedFolder(store_.folder());
  if (!AcceptReceiveFolder(*last_folder, receive_folder_))
    return false;

  std::int64_t values[3] = {};
  const char* p = marker->data();
  const char* end = marker->data() + marker->size();
  bool parsed = !marker->empty();
  for (auto& value : values) {
    while (p < end && *p == ' ')
      ++p;
    const auto [next, error] = std::from_chars(p, end, value);
    parsed = parsed && error == std::errc();
    p = next;
  }
  const auto [pending_counter, first, last] = values;
  bool landed = false;
  if (parsed && first > 0 && first <= last && last - first <= kMaxMessagesPerRun) {
    const IniDocument& received = store_.file(false).Read();
    for (auto numero = first; numero <= last && !landed; ++numero) {
      landed = received.FindSection(MessageStore::SectionName(
                   false, static_cast<std::uint32_t>(numero))) != IniDocument::npos;
    }
  }
  if (landed && pending_counter > settings_.received_counter &&
      pending_counter <= std::numeric_limits<std::int32_t>::max()) {
    settings_.received_counter = static_cast<std::int32_t>(pending_counter);
  }
  // Also the proof that this run will be able to move the counter past what it stores.
  if (!SaveCountersClearingMarker()) {
    ReportSettingsProblem(
        "Error. No se puede escribir en la configuración; no se reciben mensajes, para no "
        "guardar dos veces los mismos.");
    return false;
  }
  undecrypted_stored_.reset();
  return true;
}

void MessageReceiver::CountStoredUndecrypted() {
  // What the received store holds already counts against its bounds; read only once a message
  // does not open, since most runs have none.
  store_.LoadMessageStore();
  undecrypted_stored_ = 0;
  undecrypted_bytes_ = 0;
  for (const Message& message : store_.messages()) {
    if (!message.enviado && !message.flag_msj_desencriptado) {
      ++*undecrypted_stored_;
      undecrypted_bytes_ += message.cuerpo_msj.size();
    }
  }
}

void MessageReceiver::Report(const Counts& committed, bool fetch_failed, bool store_failed) {
  UiServices& ui = client_.ui();
  if (committed.messages > 0) {
    ui.PlayEventSound(EventSound::kNewMessages);
    ui.SetStatusIcon(StatusIcon::kNewMessages);
    ui.BringToFront();
    const std::string suffix =
        committed.undecrypted > 0
            ? ", " + std::to_string(committed.undecrypted) + " sin desencriptar"
            : "";
    ui.ReloadMessages();
    LogOutcome(ui, std::to_string(committed.messages) + " nuevos mensajes" + suffix);
  } else if (!fetch_failed && !store_failed) {
    ui.PlayEventSound(EventSound::kNoNewMessages);
    ui.SetStatusIcon(StatusIcon::kNoNewMessages);
    LogOutcome(ui, "No hay nuevos mensajes");
  }
  if (!left_out_.empty()) {
    ui.LogTerminal(Ansi("No se han guardado ") + std::to_string(left_out_.size()) +
                   Ansi(" mensajes sin desencriptar: ya hay ") + std::to_string(kMaxUndecrypted) +
                   Ansi(" mensajes (o 32 MB) sin desencriptar guardados."));
    ui.LogTerminal(Ansi("Números no guardados: ") + NumberRanges(left_out_));
    ui.LogTerminal(Ansi("Para pedirlos otra vez al servidor (con todos los que les siguen): "
                        "velkorant-cli received-counter ") +
                   std::to_string(left_out_.front() - 1));
  }
  if (fetch_failed)
    ui.SetStatusIcon(StatusIcon::kError);
}

bool MessageReceiver::ReceiveMessages() {
  if (client_.busy())
    return false;
  MailboxClient::BusyGuard busy(client_);
  UiServices& ui = client_.ui();
  // The counter lives in the settings: runs with the same settings never overlap, whatever
  // their folder or process, and each starts from the counter the one before it stored.
  FileLock run_lock(RunLockPath(settings_store_.database().path()), FileLock::Target::kLockFile);
  const FileLock::Guard run(run_lock, kRunLockWait);
  if (!run.ok()) {
    ReportRunNotLocked(run_lock);
    return false;
  }
  left_out_.clear();
  batch_.clear();
  if (!PrepareRun() || !client_.MailboxExists(settings_.user_name))
    return false;
  ui.ResetFilters();
  ui.LogTerminal("Comprobando mensajes para " + settings_.user_name);

  stats_ = {};
  const std::int32_t start = settings_.received_counter;
  Counts committed;
  const RunEnd end = FetchAndStore(start, committed);
  // Numbers left out past a batch that failed are fetched again next time.
  std::erase_if(left_out_, [&](std::int32_t n) { return n > start + committed.fetched; });
  Report(committed, end.fetch_failed, end.store_failed);
  return !end.fetch_failed && !end.store_failed;
}

void MessageReceiver::ReportRunNotLocked(const FileLock& run_lock) {
  UiServices& ui = client_.ui();
  if (run_lock.open_error() == 0) {
    ui.LogTerminal(
        Ansi("Otro proceso de Velkorant está recibiendo mensajes de este "
             "usuario; esta recepción no se hace."));
    return;
  }
  // Where the lock cannot be made, the counter beside it cannot be written either.
  LogTerminalLines(ui, Ansi("Error. No se puede escribir en la configuración; no se "
                            "reciben mensajes, para no guardar dos veces los mismos.\n") +
                           Utf8ToAnsi(run_lock.path().string()) + ": " +
                           Utf8ToAnsi(std::strerror(run_lock.open_error())));
  ui.SetStatusIcon(StatusIcon::kError);
}

MessageReceiver::RunEnd MessageReceiver::FetchAndStore(std::int32_t start, Counts& committed) {
  UiServices& ui = client_.ui();
  KeyCache keys(passwords_, stats_);
  Counts fresh;
  RunEnd end;
  auto batch_started = Clock::now();
  MessageFetcher fetcher(
      client_.downloader(),
      "https://" + settings_.server_name + MailboxFolderName(settings_.user_name) + "/msj_", start,
      kMaxMessagesPerRun, fetch_limits_, kMaxMessageBytes);
  ui.ShowReceiveProgress(0);
  while (!end.store_failed && !fetcher.done()) {
    MessageFetcher::Item item = fetcher.Next();
    if (!TakeAnswer(item, fetcher, keys, fresh, end))
      break;
    ++fresh.fetched;
    ++stats_.fetched;
    ui.ShowReceiveProgress(fresh.fetched);
    if (fresh.fetched - committed.fetched >= kBatchSize ||
        Clock::now() - batch_started >= kBatchTime) {
      end.store_failed = !CommitBatch(start + fresh.fetched);
      if (!end.store_failed)
        committed = fresh;
      batch_started = Clock::now();
    }
  }
  if (!end.store_failed && fresh.fetched > committed.fetched) {
    end.store_failed = !CommitBatch(start + fresh.fetched);
    if (!end.store_failed)
      committed = fresh;
  }
  batch_.clear();
  // A run that ended early may have a window on its way; the next run asks for it again.
  fetcher.Stop();
  stats_.download = fetcher.waited();
  return end;
}

bool MessageReceiver::TakeAnswer(MessageFetcher::Item& item, MessageFetcher& fetcher,
                                 KeyCache& keys, Counts& fresh, RunEnd& end) {
  UiServices& ui = client_.ui();
  const ReceiveContext context{[&](std::string_view transport) { return Decrypt(transport, keys); },
                               [&] { return fetcher.MessageFollows(kJunkLookahead); },
                               [&](std::size_t bytes) { return RoomForUndecrypted(bytes); }};
  ReceiveDecision decision = DecideReceiveStep(item.kind, std::move(item.answer.body), context);
  switch (decision.step) {
    case ReceiveStep::kStoreUndecrypted:
      ++fresh.undecrypted;
      ++*undecrypted_stored_;
      undecrypted_bytes_ += decision.record->cuerpo_msj.size();
      [[fallthrough]];
    case ReceiveStep::kStoreDecrypted:
      ++fresh.messages;
      batch_.push_back(std::move(*decision.record));
      return true;
    case ReceiveStep::kLeaveOut:
      left_out_.push_back(item.number);
      return true;
    case ReceiveStep::kSkipJunk:
      ui.LogTerminal("Mensaje " + std::to_string(item.number) +
                     (item.answer.failure == DownloadFailure::kTooLong
                          ? Ansi(" descartado: es más largo que cualquier mensaje válido")
                          : Ansi(" descartado: no es un mensaje válido")));
      return true;
    case ReceiveStep::kStopAtJunk:
      ui.LogTerminal(Ansi("El servidor no da un mensaje válido en el número ") +
                     std::to_string(item.number) +
                     Ansi("; se mirará otra vez en la próxima recepción."));
      return false;
    case ReceiveStep::kStopAtEnd:
      return false;
    case ReceiveStep::kStopFailed:
      break;
  }
  ui.LogTerminal(FailureText(RequestKind::kMessageFile, item.answer.code,
                             FailureReason(item.answer.failure, item.answer.http_status)));
  LogOutcome(ui, Ansi("La recepción se ha detenido en el mensaje ") + std::to_string(item.number) +
                     Ansi("; se pedirá otra vez en la próxima recepción."));
  end.fetch_failed = true;
  return false;
}

bool MessageReceiver::RetryUndecryptedMessages() {
  struct Candidate {
    std::uint32_t numero;
    std::string transport;
  };
  std::vector<Candidate> candidates;
  for (const Message& message : store_.messages()) {
    if (!message.enviado && !message.flag_msj_desencriptado && !message.cuerpo_msj.empty()) {
      candidates.push_back({message.numero, message.cuerpo_msj});
    }
  }
  if (candidates.empty() || passwords_.empty())
    return false;

  stats_ = {};
  KeyCache keys(passwords_, stats_);
  // Decrypted first, written after: the folder's lock is held only for the writes.
  std::vector<Message> opened;
  for (Candidate& candidate : candidates) {
    if (std::optional<Message> record = Decrypt(candidate.transport, keys)) {
      record->numero = candidate.numero;
      opened.push_back(std::move(*record));
    }
  }
  if (opened.empty())
    return false;
  int count = 0;
  if (const FileOutcome begun = store_.BeginBatch(); !begun) {
    client_.ui().LogTerminal(Ansi("Error. No se pueden guardar mensajes: ") + begun.error);
    return false;
  }
  for (Message& record : opened) {
    // Rewritten in place; one deleted meanwhile (in another window) must not come back.
    const std::string section = MessageStore::SectionName(false, record.numero);
    if (store_.file(false).Read().FindSection(section) == IniDocument::npos)
      continue;
    if (store_.SaveMessage(std::move(record)).numero != 0)
      ++count;
  }
  if (const FileOutcome ended = store_.EndBatch(); !ended) {
    client_.ui().LogTerminal(
        Ansi("Error. No se han podido guardar los mensajes desencriptados en el disco (") +
        ended.error + ").");
    return false;
  }
  if (count == 0)
    return false;
  UiServices& ui = client_.ui();
  ui.ReloadMessages();
  ui.LogTerminal(std::to_string(count) + " nuevos mensajes desencriptados");
  ui.PlayEventSound(EventSound::kPendingDecrypted);
  return true;
}

}  // namespace velkorant
