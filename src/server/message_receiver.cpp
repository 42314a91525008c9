#include "server/message_receiver.h"

#include <algorithm>
#include <charconv>
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

MessageReceiver::DownloadOutcome MessageReceiver::DownloadMessage(std::int32_t number) {
  downloaded_.reset();
  const std::string url = "https://" + settings_.server_name +
                          MailboxFolderName(settings_.user_name) + "/msj_" +
                          std::to_string(number) + "_datos.cry";
  ResultCode code;
  {
    Stopwatch time(stats_.download);
    // Kept in memory: a run reads hundreds of these, and a file per message would cost more than
    // fetching it.
    std::string body;
    code = client_.downloader().FetchToMemory(url, body);
    if (code == kResultOk)
      downloaded_ = std::move(body);
  }
  const ResultClass result = ClassifyResult(code);
  if (result == ResultClass::kConnectionFailure || result == ResultClass::kCodedFailure) {
    client_.ui().LogTerminal(FailureText(RequestKind::kMessageFile, code));
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

bool MessageReceiver::ReadDownloadedMessage() {
  if (keys_ != nullptr)
    return StoreDownloadedMessage(*keys_) == Stored::kDecrypted;
  KeyCache keys(passwords_, stats_);
  if (!store_.BeginBatch())
    return false;
  const bool decrypted = StoreDownloadedMessage(keys) == Stored::kDecrypted;
  CommitBatch(settings_.received_counter);
  return decrypted;
}

void MessageReceiver::CommitBatch(std::int32_t counter) {
  Stopwatch time(stats_.store);
  const std::string_view options = kOptionsSection;
  if (batch_last_ != 0) {
    // Should the program die between writing the messages and moving the counter, the next run
    // learns from this marker whether the messages reached the disk.
    settings_store_.WriteText(options, kPendingBatch,
                              std::to_string(counter) + " " + std::to_string(batch_first_) + " " +
                                  std::to_string(batch_last_));
  }
  const bool stored = store_.EndBatch();
  batch_first_ = batch_last_ = 0;
  if (!stored) {
    // The messages are not on disk: leave the counter, so the next run fetches them again.
    client_.ui().LogTerminal(
        Utf8ToAnsi("Error. No se han podido guardar los mensajes recibidos en el disco."));
    settings_store_.WriteText(options, kPendingBatch, "");
    return;
  }
  settings_.received_counter = counter;
  settings_store_.WriteValues(options, {{"MsjsRecibidos", settings_.received_counter},
                                        {"EjecPrimVez", settings_.first_run},
                                        {kPendingBatch, std::string_view()}});
}

void MessageReceiver::RecoverInterruptedRun() {
  const std::string marker = settings_store_.ReadText(kOptionsSection, kPendingBatch);
  if (marker.empty())
    return;
  std::int64_t values[3] = {};
  const char* p = marker.data();
  const char* end = marker.data() + marker.size();
  bool parsed = true;
  for (auto& value : values) {
    while (p < end && *p == ' ')
      ++p;
    const auto [next, error] = std::from_chars(p, end, value);
    parsed = parsed && error == std::errc();
    p = next;
  }
  const auto [counter, first, last] = values;
  bool landed = false;
  if (parsed && first > 0 && first <= last && last - first <= kMaxMessagesPerRun) {
    const IniDocument& received = store_.file(false).Read();
    for (auto numero = first; numero <= last && !landed; ++numero) {
      landed = received.FindSection(MessageStore::SectionName(
                   false, static_cast<std::uint32_t>(numero))) != IniDocument::npos;
    }
  }
  if (landed && counter > settings_.received_counter &&
      counter <= std::numeric_limits<std::int32_t>::max()) {
    settings_.received_counter = static_cast<std::int32_t>(counter);
  }
  settings_store_.WriteValues(kOptionsSection, {{"MsjsRecibidos", settings_.received_counter},
                                                {"EjecPrimVez", settings_.first_run},
                                                {kPendingBatch, std::string_view()}});
}

void MessageReceiver::ReceiveMessages() {
  if (client_.busy())
    return;
  MailboxClient::BusyGuard busy(client_);
  // Another process of the program (the CLI, a second window) may receive into the same
  // stores: runs never overlap, and each starts from the counter the one before it stored.
  FolderLock::Guard run(store_.lock(), kRunLockWait);
  if (!run.ok())
    return;
  settings_.received_counter =
      settings_store_.ReadInt(kOptionsSection, "MsjsRecibidos", settings_.received_counter);
  UiServices& ui = client_.ui();
  RecoverInterruptedRun();
  if (!client_.MailboxExists(settings_.user_name))
    return;
  ui.ResetFilters();
  ui.LogTerminal("Comprobando mensajes para " + settings_.user_name);

  stats_ = {};
  KeyCache keys(passwords_, stats_);
  keys_ = &keys;
  const std::int32_t start = settings_.received_counter;
  std::int32_t number = start;
  int fresh = 0;
  int undecrypted = 0;
  if (!store_.BeginBatch())
    return;
  auto batch_started = Clock::now();
  int in_batch = 0;
  while (fresh < kMaxMessagesPerRun && number < std::numeric_limits<std::int32_t>::max()) {
    ++number;
    if (DownloadMessage(number) != DownloadOutcome::kDownloaded)
      break;
    ++fresh;
    ++stats_.fetched;
    if (StoreDownloadedMessage(keys) != Stored::kDecrypted)
      ++undecrypted;
    if (++in_batch >= kBatchSize || Clock::now() - batch_started >= kBatchTime) {
      CommitBatch(start + fresh);
      batch_started = Clock::now();
      in_batch = 0;
      if (!store_.BeginBatch())
        break;
    }
  }
  if (in_batch > 0) {
    CommitBatch(start + fresh);
  } else {
    store_.EndBatch();
  }
  keys_ = nullptr;

  std::string text;
  if (fresh > 0) {
    ui.PlayEventSound(EventSound::kNewMessages);
    ui.SetStatusIcon(StatusIcon::kNewMessages);
    ui.BringToFront();
    const std::string suffix =
        undecrypted > 0 ? ", " + std::to_string(undecrypted) + " sin desencriptar" : "";
    text = std::to_string(fresh) + " nuevos mensajes" + suffix;
    ui.ReloadMessages();
  } else {
    text = "No hay nuevos mensajes";
    ui.PlayEventSound(EventSound::kNoNewMessages);
    ui.SetStatusIcon(StatusIcon::kNoNewMessages);
  }
  ui.LogTerminal(text);
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
  if (!store_.BeginBatch())
    return false;
  for (Candidate& candidate : candidates) {
    std::optional<Message> record = Decrypt(candidate.transport, keys);
    if (!record)
      continue;
    record->numero = candidate.numero;  // rewrites the stored message in place
    if (store_.SaveMessage(std::move(*record)) != 0)
      ++count;
  }
  if (!store_.EndBatch()) {
    client_.ui().LogTerminal(
        Utf8ToAnsi("Error. No se han podido guardar los mensajes desencriptados en el disco."));
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
