// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The message store: sent and received messages, one INI section each, in two files of one
// folder (the working directory for the program), and the message list loaded from them.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_lock.h"
#include "platform/ini_file.h"
#include "store/message.h"

namespace velkorant {

inline constexpr std::string_view kSentMessagesFile = "mensajes_enviados.ini";
inline constexpr std::string_view kReceivedMessagesFile = "mensajes_recibidos.ini";
// The keys of a message's section: SaveMessage writes every one of them.
inline constexpr std::array<std::string_view, 10> kMessageKeys = {"fecha_msj",
                                                                  "usuario_emisor_msj",
                                                                  "usuario_receptor_msj",
                                                                  "asunto_msj",
                                                                  "cuerpo_msj",
                                                                  "password_hash",
                                                                  "flag_msj_enviado_srv",
                                                                  "flag_msj_leido",
                                                                  "flag_msj_desencriptado",
                                                                  "flag_msj_respondido"};

// A save's numero, 0 when nothing could be written, and why.
struct SavedMessage {
  std::uint32_t numero = 0;
  FileOutcome outcome;
};

// A change that failed says why (Windows-1252, in the user's language): which file (or that the
// folder was busy) and what went wrong.
class MessageStore {
 public:
  // Numbers are written with "%d", so they stay within a signed 32-bit value.
  static constexpr std::uint32_t kHighestNumero = 2147483647;
  // Decimal digits only (no sign, no blank), at most 10 of them, up to kHighestNumero; 0 too.
  static std::optional<std::uint32_t> ParseNumero(std::string_view digits);

  // How long a change waits for another process (the CLI, another window) to finish its own.
  static constexpr std::chrono::seconds kLockWait{30};

  explicit MessageStore(const std::filesystem::path& folder = ".");

  // Rebuilds messages(): every sent message in ascending numero, then every received one. Every
  // section present is visited, whatever the gaps between numbers; a section without a date
  // counts as missing. False when a file is there but cannot be read (it then adds nothing).
  bool LoadMessageStore();

  // Writes the record as one atomic rewrite of its file: a record with numero 0 gets
  // NextMessageNumber and a new section, followed by an empty line; otherwise the keys of its
  // section are overwritten.
  SavedMessage SaveMessage(Message message);

  // Writes one key of an existing message as it is (no UTF-8 step). Failed when the message's
  // section does not exist or the file could not be written.
  FileOutcome WriteMessageKey(bool enviado, std::uint32_t numero, std::string_view key,
                              std::string_view value);

  // Removes the message's whole section; other messages keep their numbers.
  FileOutcome DeleteMessage(bool enviado, std::uint32_t numero);

  // One past the highest number of that kind in the message list and in the file, so a section
  // that exists is never handed out again. 0 when the numbers are used up.
  std::uint32_t NextMessageNumber(bool enviado);

  const std::vector<Message>& messages() const { return messages_; }
  // For flag changes mirrored in memory; positions are valid until the next load.
  std::vector<Message>& messages() { return messages_; }

  // "mensaje_enviado_N" or "mensaje_recibido_N".
  static std::string SectionName(bool enviado, std::uint32_t numero);
  // The N of a section name of that kind as the program writes it: decimal, no sign, no leading
  // zero; the prefix in any letter case.
  static std::optional<std::uint32_t> SectionNumber(std::string_view name, bool enviado);

  // Many saves, one write: between the two calls changes are held in memory (loads see them),
  // and EndBatch writes each changed file once, atomically, and flushes it to disk. A crash
  // before EndBatch leaves the files as they were before BeginBatch. EndBatch fails when a
  // change of the batch failed (nothing of the batch is then written; the last failure's reason
  // is given) or a file's write did (that file stays as it was).
  // BeginBatch also takes the folder's lock until EndBatch; failed (and no batch) when another
  // process kept it longer than the lock wait.
  FileOutcome BeginBatch();
  FileOutcome EndBatch();
  // Ends a batch without writing anything of it.
  void AbandonBatch();

  // Every change takes this lock, shared with the other processes of the program, for as long as
  // the change takes and never across a download: others wait only for short writes.
  FileLock& lock() { return lock_; }
  // How long a change waits for the lock (kLockWait unless set).
  void SetLockWait(std::chrono::milliseconds wait) { lock_wait_ = wait; }
  const std::filesystem::path& folder() const { return folder_; }

  IniFile& file(bool enviado) { return enviado ? sent_ : received_; }

 private:
  void LoadFile(bool enviado, std::size_t& count);
  std::uint32_t HighestNumberInFile(bool enviado);
  // A change's outcome, its reason naming the file of `enviado`; a failure fails the batch.
  FileOutcome Note(const FileOutcome& outcome, bool enviado);
  FileOutcome NoteFailure(std::string error);
  FileOutcome NoteLockFailure();
  // Takes the folder's lock; the first time, also removes what writers killed half-way left.
  FileLock::Guard Lock(std::chrono::milliseconds wait);

  // The highest section number of each file (received, sent), for the file's content of the
  // given generation.
  struct HighestNumber {
    std::uint64_t generation = ~std::uint64_t{0};
    std::uint32_t value = 0;
  };
  HighestNumber highest_[2];

  std::filesystem::path folder_;
  FileLock lock_;
  std::optional<FileLock::Guard> batch_lock_;  // held from BeginBatch to its end: in a batch
  std::chrono::milliseconds lock_wait_ = kLockWait;
  bool swept_ = false;
  IniFile sent_;
  IniFile received_;
  std::vector<Message> messages_;
  bool batch_failed_ = false;
  std::string batch_error_;  // the last failure's reason, for EndBatch
};

}  // namespace velkorant
