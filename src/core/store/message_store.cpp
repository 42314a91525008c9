// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/message_store.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <utility>

#include "crypto/digests.h"
#include "platform/ansi_text.h"
#include "store/message_text.h"

namespace velkorant {
namespace {

constexpr std::string_view kSentPrefix = "mensaje_enviado_";
constexpr std::string_view kReceivedPrefix = "mensaje_recibido_";

std::string_view Prefix(bool enviado) {
  return enviado ? kSentPrefix : kReceivedPrefix;
}

const char* Flag(bool value) {
  return value ? "1" : "0";
}

// Most stored text is ASCII, which needs no conversion: ASCII runs are copied as they are (into
// the target's existing buffer) and only the runs between them go through Utf8ToAnsi. Multi-byte
// sequences hold no ASCII bytes, so cutting at ASCII gives the same result as converting all.
void AssignFromUtf8(std::string& target, std::string_view utf8) {
  const auto is_ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
  target.clear();
  for (auto it = utf8.begin(); it != utf8.end();) {
    const auto ascii_end = std::find_if_not(it, utf8.end(), is_ascii);
    target.append(it, ascii_end);
    const auto other_end = std::find_if(ascii_end, utf8.end(), is_ascii);
    if (ascii_end != other_end) {
      target += Utf8ToAnsi(
          std::string_view(&*ascii_end, static_cast<std::size_t>(other_end - ascii_end)));
    }
    it = other_end;
  }
}

}  // namespace

std::optional<std::uint32_t> MessageStore::ParseNumero(std::string_view digits) {
  // The widest number, 2147483647, has 10 digits; a longer text could overflow from_chars' type.
  if (digits.size() > 10)
    return std::nullopt;
  // Unsigned: a sign is refused like any other character that is not a digit.
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size() || value > kHighestNumero)
    return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

MessageStore::MessageStore(const std::filesystem::path& folder)
    : folder_(folder),
      lock_(folder),
      sent_(folder / kSentMessagesFile),
      received_(folder / kReceivedMessagesFile) {}

FileLock::Guard MessageStore::Lock(std::chrono::milliseconds wait) {
  FileLock::Guard guard(lock_, wait);
  if (guard.ok() && !swept_) {
    swept_ = true;
    // With the lock held no other process is writing, so a temporary file of a store is what a
    // killed writer left behind.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
      const std::string name = entry.path().filename().string();
      for (const std::string_view file : {kSentMessagesFile, kReceivedMessagesFile}) {
        if (name.starts_with("." + std::string(file) + ".tmp-")) {
          std::error_code ignored;
          std::filesystem::remove(entry.path(), ignored);
        }
      }
    }
  }
  return guard;
}

std::optional<std::uint32_t> MessageStore::SectionNumber(std::string_view name, bool enviado) {
  const std::string_view prefix = Prefix(enviado);
  if (name.size() <= prefix.size() || !EqualsIgnoringCase(name.substr(0, prefix.size()), prefix)) {
    return std::nullopt;
  }
  const std::string_view digits = name.substr(prefix.size());
  if (digits.front() == '0')
    return std::nullopt;
  return ParseNumero(digits);
}

std::string MessageStore::SectionName(bool enviado, std::uint32_t numero) {
  return std::string(Prefix(enviado)) + std::to_string(numero);
}

bool MessageStore::LoadMessageStore() {
  // Records are overwritten in place, so a reload of an unchanged store mostly reuses the
  // strings' buffers: the receive flow reloads after every message.
  std::size_t count = 0;
  LoadFile(true, count);
  LoadFile(false, count);
  messages_.resize(count);
  return sent_.readable() && received_.readable();
}

void MessageStore::LoadFile(bool enviado, std::size_t& count) {
  const IniDocument& document = file(enviado).Read();
  std::vector<std::pair<std::uint32_t, std::size_t>> sections;  // (numero, section index)
  sections.reserve(document.SectionCount());
  for (std::size_t i = 0; i < document.SectionCount(); ++i) {
    if (const auto numero = SectionNumber(document.SectionName(i), enviado)) {
      sections.emplace_back(*numero, i);
    }
  }
  // Ascending numbers; of two sections with one name only the first in the file is ever read.
  std::sort(sections.begin(), sections.end());
  sections.erase(std::unique(sections.begin(), sections.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 sections.end());

  messages_.reserve(count + sections.size());
  enum Key {
    kFecha,
    kEmisor,
    kReceptor,
    kAsunto,
    kCuerpo,
    kHash,
    kEnviado,
    kLeido,
    kDesencriptado,
    kRespondido,
    kKeyCount
  };
  static_assert(kKeyCount == kMessageKeys.size());
  std::optional<std::string_view> found[kKeyCount];
  for (const auto& [numero, section] : sections) {
    document.FindValues(section, kMessageKeys, found);
    // GetPrivateProfileString's result: at most 4095 characters, or the default.
    const auto value = [&found](Key key, std::string_view fallback) {
      return found[key] ? found[key]->substr(0, IniDocument::kMaxValueLength) : fallback;
    };
    const std::string_view fecha = value(kFecha, "");
    if (fecha.empty())
      continue;
    if (count == messages_.size())
      messages_.emplace_back();
    Message& message = messages_[count++];
    message.numero = numero;
    message.enviado = enviado;
    message.fecha_msj.assign(fecha);
    AssignFromUtf8(message.usuario_emisor_msj, value(kEmisor, "error_env_dato2"));
    AssignFromUtf8(message.usuario_receptor_msj, value(kReceptor, "error_env_dato3"));
    AssignFromUtf8(message.asunto_msj, value(kAsunto, "error_env_dato4"));
    message.flag_msj_desencriptado = !enviado && value(kDesencriptado, "error_rec_dato8") == "1";
    // An undecrypted message's body is its transport text, which a later retry needs whole; the
    // value limit of the INI functions would cut it for good.
    const bool undecrypted = !enviado && !message.flag_msj_desencriptado;
    AssignFromUtf8(message.cuerpo_msj, undecrypted && found[kCuerpo]
                                           ? *found[kCuerpo]
                                           : value(kCuerpo, "error_env_dato5"));
    if (message.cuerpo_msj.find(kLineBreakMarker) != std::string::npos) {
      message.cuerpo_msj = DecodeLineBreaks(message.cuerpo_msj);
    }
    message.password_msj.assign(value(kHash, "error_env_dato5b"));
    message.flag_msj_enviado_srv = enviado && value(kEnviado, "error_env_dato6") == "1";
    message.flag_msj_leido = !enviado && value(kLeido, "error_env_dato7") == "1";
    message.flag_msj_respondido = !enviado && value(kRespondido, "error_rec_dato9") == "1";
  }
}

std::uint32_t MessageStore::HighestNumberInFile(bool enviado) {
  const IniDocument& document = file(enviado).Read();
  HighestNumber& cached = highest_[enviado ? 1 : 0];
  if (cached.generation == file(enviado).generation())
    return cached.value;
  std::uint32_t highest = 0;
  for (std::size_t i = 0; i < document.SectionCount(); ++i) {
    if (const auto numero = SectionNumber(document.SectionName(i), enviado)) {
      highest = std::max(highest, *numero);
    }
  }
  cached = {file(enviado).generation(), highest};
  return highest;
}

std::uint32_t MessageStore::NextMessageNumber(bool enviado) {
  std::uint32_t highest = HighestNumberInFile(enviado);
  for (const Message& message : messages_) {
    if (message.enviado == enviado)
      highest = std::max(highest, message.numero);
  }
  return highest >= kHighestNumero ? 0 : highest + 1;
}

SavedMessage MessageStore::SaveMessage(Message message) {
  const FileLock::Guard change = Lock(lock_wait_);
  if (!change.ok())
    return {0, NoteLockFailure()};
  const bool enviado = message.enviado;
  const std::uint32_t numero = message.numero != 0 ? message.numero : NextMessageNumber(enviado);
  if (numero == 0 || numero > kHighestNumero)
    return {0, NoteFailure(Ansi("no quedan números de mensaje libres"))};
  const std::string section = SectionName(enviado, numero);

  // Saving many messages must not rescan the whole file for its highest number each time.
  const std::uint32_t highest = HighestNumberInFile(enviado);
  const std::uint64_t before = file(enviado).generation();
  const FileOutcome written = file(enviado).Modify([&](IniDocument& document) {
    const bool is_new = document.FindSection(section) == IniDocument::npos;
    const auto write = [&document, &section](std::string_view key, std::string_view value) {
      return document.WriteString(section, key, value);
    };
    const bool ok = write("fecha_msj", message.fecha_msj) &&
                    write("usuario_receptor_msj", AnsiToUtf8(message.usuario_receptor_msj)) &&
                    write("usuario_emisor_msj", AnsiToUtf8(message.usuario_emisor_msj)) &&
                    write("asunto_msj", AnsiToUtf8(message.asunto_msj)) &&
                    write("cuerpo_msj", AnsiToUtf8(EncodeLineBreaks(message.cuerpo_msj))) &&
                    write("password_hash", Crc32Hex(message.password_msj)) &&
                    write("flag_msj_enviado_srv", Flag(message.flag_msj_enviado_srv)) &&
                    write("flag_msj_leido", Flag(message.flag_msj_leido)) &&
                    write("flag_msj_desencriptado", Flag(message.flag_msj_desencriptado)) &&
                    write("flag_msj_respondido", Flag(message.flag_msj_respondido));
    // Sections the program adds are set apart by an empty line.
    if (ok && is_new)
      document.AppendLineEnd();
    return ok;
  });
  // Only this save's edit happened in between: the file was not read again meanwhile.
  if (written && file(enviado).generation() == before + 1)
    highest_[enviado ? 1 : 0] = {file(enviado).generation(), std::max(highest, numero)};
  FileOutcome noted = Note(written, enviado);
  return {noted ? numero : 0, std::move(noted)};
}

FileOutcome MessageStore::WriteMessageKey(bool enviado, std::uint32_t numero, std::string_view key,
                                          std::string_view value) {
  if (numero == 0)
    return FileOutcome::Failed({});
  const FileLock::Guard change = Lock(lock_wait_);
  if (!change.ok())
    return NoteLockFailure();
  const std::string section = SectionName(enviado, numero);
  return Note(file(enviado).Modify([&](IniDocument& document) {
    // A message deleted meanwhile must not come back as a section holding one flag.
    return document.FindSection(section) != IniDocument::npos &&
           document.WriteString(section, key, value);
  }),
              enviado);
}

FileOutcome MessageStore::DeleteMessage(bool enviado, std::uint32_t numero) {
  if (numero == 0)
    return FileOutcome::Failed({});
  const FileLock::Guard change = Lock(lock_wait_);
  if (!change.ok())
    return NoteLockFailure();
  return Note(file(enviado).DeleteSection(SectionName(enviado, numero)), enviado);
}

FileOutcome MessageStore::Note(const FileOutcome& outcome, bool enviado) {
  if (outcome)
    return outcome;
  return NoteFailure(std::string(enviado ? kSentMessagesFile : kReceivedMessagesFile) + ": " +
                     (outcome.error.empty() ? "el mensaje ya no existe" : outcome.error));
}

FileOutcome MessageStore::NoteFailure(std::string error) {
  batch_failed_ = true;
  batch_error_ = error;
  return FileOutcome::Failed(std::move(error));
}

FileOutcome MessageStore::NoteLockFailure() {
  return NoteFailure(Ansi(
      "otro proceso de Velkorant lleva demasiado tiempo cambiando los mensajes de esta carpeta"));
}

FileOutcome MessageStore::BeginBatch() {
  if (batch_lock_)
    return FileOutcome::Failed({});
  FileLock::Guard lock = Lock(lock_wait_);
  if (!lock.ok())
    return NoteLockFailure();
  batch_lock_.emplace(std::move(lock));
  batch_failed_ = false;
  batch_error_.clear();
  sent_.writer().SetDeferredSync(true);
  received_.writer().SetDeferredSync(true);
  sent_.HoldWrites();
  received_.HoldWrites();
  return {};
}

FileOutcome MessageStore::EndBatch() {
  if (!batch_lock_)
    return FileOutcome::Failed({});
  if (batch_failed_) {
    // Part of it is missing: writing the rest could store a message twice or skip one.
    AbandonBatch();
    return FileOutcome::Failed(batch_error_);
  }
  FileOutcome ended;
  for (const bool enviado : {true, false}) {
    IniFile& changed = file(enviado);
    const FileOutcome flushed = changed.Flush();
    const FileOutcome synced = changed.writer().Sync();
    changed.writer().SetDeferredSync(false);
    if (!flushed || !synced) {
      ended = FileOutcome::Failed(std::string(enviado ? kSentMessagesFile : kReceivedMessagesFile) +
                                  ": " + (flushed ? synced.error : flushed.error));
    }
  }
  batch_lock_.reset();
  return ended;
}

void MessageStore::AbandonBatch() {
  if (!batch_lock_)
    return;
  for (IniFile* file : {&sent_, &received_}) {
    file->DiscardHeld();
    file->writer().SetDeferredSync(false);
  }
  batch_failed_ = false;
  batch_lock_.reset();
}

}  // namespace velkorant
