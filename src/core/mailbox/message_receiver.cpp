#include "mailbox/message_receiver.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <future>
#include <iterator>
#include <limits>
#include <thread>

#include "crypto/digests.h"
#include "platform/ansi_text.h"
#include "store/message_text.h"

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

Message UndecryptedRecord(std::string transport) {
  Message record;
  record.fecha_msj = "?";
  record.usuario_emisor_msj = "?";
  record.usuario_receptor_msj = "?";
  record.asunto_msj = "<sin desencriptar>";
  record.cuerpo_msj = std::move(transport);
  record.password_msj = "?";
  record.flag_msj_leido = true;  // nothing to read yet: not shown as new
  return record;
}

bool LostWithItsConnection(DownloadFailure failure) {
  return failure == DownloadFailure::kTransfer || failure == DownloadFailure::kTls ||
         failure == DownloadFailure::kRefused;
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
    std::optional<std::string> text;
    {
      Stopwatch time(stats_.decrypt);
      // Decoded once for all the passwords; each wrong one is mostly told by one block.
      if (!ciphertext)
        ciphertext.emplace(transport);
      text = ciphertext->TryDecrypt(key);
    }
    if (!text || !IsAcceptableMessageText(*text))
      continue;
    Message record = MessageFromText(*text);
    record.password_msj = entries[i].password;
    record.flag_msj_desencriptado = true;
    return record;
  }
  return std::nullopt;
}

MessageReceiver::DownloadOutcome MessageReceiver::TakeAnswer(std::int32_t number,
                                                             UrlDownloader::FetchResult answer) {
  downloaded_.reset();
  const ResultCode code = answer.code;
  if (code == kResultOk)
    downloaded_ = std::move(answer.body);
  if (code == kCannotLoadData) {
    // Anyone may post to any mailbox: an oversized file must neither stop every later run here
    // nor fill the store.
    client_.ui().LogTerminal("Mensaje " + std::to_string(number) +
                             Utf8ToAnsi(" descartado: es más largo que cualquier mensaje válido"));
    return DownloadOutcome::kDiscarded;
  }
  const ResultClass result = ClassifyResult(code);
  if (result == ResultClass::kConnectionFailure || result == ResultClass::kCodedFailure) {
    client_.ui().LogTerminal(FailureText(RequestKind::kMessageFile, code,
                                         FailureReason(answer.failure, answer.http_status)));
  }
  if (downloaded_)
    return DownloadOutcome::kDownloaded;
  return result == ResultClass::kReached || result == ResultClass::kNotFound
             ? DownloadOutcome::kAbsent
             : DownloadOutcome::kFailed;
}

MessageReceiver::Stored MessageReceiver::StoreDownloadedMessage(KeyCache& keys) {
  std::string content = std::move(downloaded_).value_or(std::string());
  downloaded_.reset();
  if (content.empty())
    return Stored::kEmpty;

  std::optional<Message> record = Decrypt(content, keys);
  const bool decrypted = record.has_value();
  if (!decrypted)
    record = UndecryptedRecord(std::move(content));

  std::uint32_t numero;
  {
    Stopwatch time(stats_.store);
    numero = store_.SaveMessage(std::move(*record));
  }
  if (numero != 0) {
    if (batch_first_ == 0)
      batch_first_ = numero;
    batch_last_ = numero;
  }
  return decrypted ? Stored::kDecrypted : Stored::kUndecrypted;
}

void MessageReceiver::ReportSettingsProblem(std::string_view what) {
  LogTerminalLines(client_.ui(), Utf8ToAnsi(what) + "\n" + settings_store_.DescribeProblem("\n"));
  client_.ui().SetStatusIcon(StatusIcon::kError);
}

bool MessageReceiver::SaveCountersClearingMarker() {
  return settings_store_.WriteValues(kOptionsSection,
                                     {{kReceivedCounterEntry, settings_.received_counter},
                                      {kFirstRunEntry, settings_.first_run},
                                      {kPendingBatch, std::monostate()}});
}

bool MessageReceiver::CommitBatch(std::int32_t counter) {
  Stopwatch time(stats_.store);
  const std::string_view options = kOptionsSection;
  if (batch_last_ != 0) {
    // Should the program die between writing the messages and moving the counter, the next run
    // learns from this marker whether the messages reached the disk.
    const std::string marker = std::to_string(counter) + " " + std::to_string(batch_first_) + " " +
                               std::to_string(batch_last_);
    if (!settings_store_.WriteText(options, kPendingBatch, marker)) {
      store_.AbandonBatch();
      batch_first_ = batch_last_ = 0;
      ReportSettingsProblem(
          "Error. No se puede escribir en la configuración; los mensajes se recibirán la próxima "
          "vez.");
      return false;
    }
  }
  const bool stored = store_.EndBatch();
  batch_first_ = batch_last_ = 0;
  if (!stored) {
    // The messages are not on disk: leave the counter, so the next run fetches them again.
    client_.ui().LogTerminal(
        Utf8ToAnsi("Error. No se han podido guardar los mensajes recibidos en el disco (") +
        store_.last_error() + Utf8ToAnsi("); se recibirán la próxima vez."));
    client_.ui().SetStatusIcon(StatusIcon::kError);
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

bool MessageReceiver::PrepareRun() {
  const auto counter =
      settings_store_.ReadInt(kOptionsSection, kReceivedCounterEntry, settings_.received_counter);
  const auto marker = counter ? settings_store_.ReadText(kOptionsSection, kPendingBatch)
                              : std::optional<std::string>();
  if (!marker) {
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
        Utf8ToAnsi("Error. El contador de mensajes recibidos (MsjsRecibidos) vale ") +
        stored.value_or(std::to_string(*counter)) +
        Utf8ToAnsi(", que no es válido; no se reciben mensajes."));
    client_.ui().LogTerminal(
        Utf8ToAnsi("Pon en él el número del último mensaje recibido del servidor: "
                   "velkorant-cli received-counter NÚMERO"));
    client_.ui().SetStatusIcon(StatusIcon::kError);
    return false;
  }

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
  return true;
}

bool MessageReceiver::ReceiveMessages() {
  if (client_.busy())
    return false;
  MailboxClient::BusyGuard busy(client_);
  UiServices& ui = client_.ui();
  // Another process of the program (the CLI, a second window) may receive into the same
  // stores: runs never overlap, and each starts from the counter the one before it stored.
  FolderLock::Guard run(store_.lock(), kRunLockWait);
  if (!run.ok()) {
    ui.LogTerminal(
        Utf8ToAnsi("Otro proceso de Velkorant está recibiendo mensajes en esta carpeta; esta "
                   "recepción no se hace."));
    return false;
  }
  if (!PrepareRun() || !client_.MailboxExists(settings_.user_name))
    return false;
  ui.ResetFilters();
  ui.LogTerminal("Comprobando mensajes para " + settings_.user_name);

  stats_ = {};
  KeyCache keys(passwords_, stats_);
  const std::int32_t start = settings_.received_counter;
  std::int32_t number = start;
  // Numbers fetched (the counter moves past them), and what the summary counts: messages, not
  // the discarded files. Each as fetched, and as far as it reached the disk.
  struct Counts {
    int fetched = 0;
    int messages = 0;
    int undecrypted = 0;
  } fresh, committed;
  bool failed = false;
  const auto begin = [&] {
    failed = !store_.BeginBatch();
    if (failed) {
      ui.LogTerminal(Utf8ToAnsi("Error. No se pueden guardar mensajes: ") + store_.last_error());
      ui.SetStatusIcon(StatusIcon::kError);
    }
  };
  const auto commit = [&] {
    failed = !CommitBatch(start + fresh.fetched);
    if (!failed)
      committed = fresh;
    return !failed;
  };
  begin();
  auto batch_started = Clock::now();
  const std::string folder_url =
      "https://" + settings_.server_name + MailboxFolderName(settings_.user_name) + "/msj_";
  // Answers fetched ahead for the numbers after `number`, in order; while they are decrypted and
  // stored, the next window is already on its way when every answer of this one was a message,
  // so a slow link costs about one round trip per window whatever the work per message.
  std::deque<UrlDownloader::FetchResult> ahead;
  std::future<std::vector<UrlDownloader::FetchResult>> next;
  int window = std::min(kFirstFetchWindow, window_limit_);
  const auto ask = [&](std::int32_t after) {
    const int count =
        std::min({window, kMaxMessagesPerRun - fresh.fetched - static_cast<int>(ahead.size()),
                  std::numeric_limits<std::int32_t>::max() - after});
    std::vector<std::string> urls;
    for (int i = 1; i <= count; ++i)
      urls.push_back(folder_url + std::to_string(after + i) + "_datos.cry");
    // Kept in memory: a run reads hundreds of these, and a file per message would cost more than
    // fetching it. Only this task uses the downloader until its answers are taken.
    next = std::async(std::launch::async, [&downloader = client_.downloader(), urls] {
      return downloader.FetchAll(urls, kMaxMessageBytes);
    });
  };
  std::int32_t asked_again = 0;
  ui.ShowReceiveProgress(0);
  while (!failed && fresh.fetched < kMaxMessagesPerRun &&
         number < std::numeric_limits<std::int32_t>::max()) {
    if (ahead.empty()) {
      if (next.valid() && client_.downloader().cancelled()) {
        next.wait();  // asked before the cancel: left for the next run, like the rest
        next = {};
      }
      if (!next.valid())
        ask(number);
      {
        Stopwatch time(stats_.download);
        std::ranges::move(next.get(), std::back_inserter(ahead));
      }
      const bool all_there = std::ranges::all_of(ahead, [](const auto& answer) {
        return answer.code == kResultOk || answer.code == kCannotLoadData;
      });
      const auto after = static_cast<std::int64_t>(number) + std::ssize(ahead);
      if (all_there) {
        window = std::min(2 * window, window_limit_);
        if (fresh.fetched + std::ssize(ahead) < kMaxMessagesPerRun &&
            after < std::numeric_limits<std::int32_t>::max())
          ask(static_cast<std::int32_t>(after));
      }
    }
    // A connection that dies under a run (reset, closed by a busy server, a new one refused)
    // takes every answer still on it: ask again, once, from the first number it took. Fetching a
    // message file twice is harmless.
    if (LostWithItsConnection(ahead.front().failure) && asked_again != number + 1) {
      asked_again = number + 1;
      ahead.clear();  // (nothing was asked after a window that lost an answer)
      continue;
    }
    ++number;
    UrlDownloader::FetchResult answer = std::move(ahead.front());
    ahead.pop_front();
    const DownloadOutcome outcome = TakeAnswer(number, std::move(answer));
    if (outcome != DownloadOutcome::kDownloaded && outcome != DownloadOutcome::kDiscarded)
      break;
    ++fresh.fetched;
    ++stats_.fetched;
    if (outcome == DownloadOutcome::kDownloaded) {
      ++fresh.messages;
      if (StoreDownloadedMessage(keys) != Stored::kDecrypted)
        ++fresh.undecrypted;
    }
    ui.ShowReceiveProgress(fresh.fetched);
    if (fresh.fetched - committed.fetched >= kBatchSize ||
        Clock::now() - batch_started >= kBatchTime) {
      if (commit()) {
        batch_started = Clock::now();
        begin();
      }
    }
  }
  if (!failed && fresh.fetched > committed.fetched) {
    commit();
  } else if (!failed) {
    store_.EndBatch();
  }

  if (committed.messages > 0) {
    ui.PlayEventSound(EventSound::kNewMessages);
    ui.SetStatusIcon(StatusIcon::kNewMessages);
    ui.BringToFront();
    const std::string suffix =
        committed.undecrypted > 0
            ? ", " + std::to_string(committed.undecrypted) + " sin desencriptar"
            : "";
    ui.ReloadMessages();
    ui.LogTerminal(std::to_string(committed.messages) + " nuevos mensajes" + suffix);
  } else if (!failed) {
    ui.PlayEventSound(EventSound::kNoNewMessages);
    ui.SetStatusIcon(StatusIcon::kNoNewMessages);
    ui.LogTerminal("No hay nuevos mensajes");
  }
  return !failed;
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
  int count = 0;
  if (!store_.BeginBatch()) {
    client_.ui().LogTerminal(Utf8ToAnsi("Error. No se pueden guardar mensajes: ") +
                             store_.last_error());
    return false;
  }
  for (Candidate& candidate : candidates) {
    std::optional<Message> record = Decrypt(candidate.transport, keys);
    if (!record)
      continue;
    // Rewritten in place; one deleted meanwhile (in another window) must not come back.
    const std::string section = MessageStore::SectionName(false, candidate.numero);
    if (store_.file(false).Read().FindSection(section) == IniDocument::npos)
      continue;
    record->numero = candidate.numero;
    if (store_.SaveMessage(std::move(*record)) != 0)
      ++count;
  }
  if (!store_.EndBatch()) {
    client_.ui().LogTerminal(
        Utf8ToAnsi("Error. No se han podido guardar los mensajes desencriptados en el disco (") +
        store_.last_error() + ").");
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
