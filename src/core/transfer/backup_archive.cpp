// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/backup_archive.h"

#include <cryptopp/aes.h>
#include <cryptopp/gcm.h>
#include <cryptopp/osrng.h>
#include <cryptopp/scrypt.h>
#include <cryptopp/secblock.h>
#include <fcntl.h>
#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <set>
#include <span>

#include "crypto/digests.h"
#include "platform/ansi_text.h"
#include "platform/atomic_file.h"
#include "platform/file_lock.h"
#include "platform/secure_text.h"
#include "platform/unique_fd.h"
#include "transfer/tar_archive.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;
using CryptoPP::byte;
using CryptoPP::SecByteBlock;

// The passwords' box: magic, version, log2 of N, r and p (big-endian), salt, nonce, then the
// ciphertext and GCM's tag. The whole header is authenticated with the passwords.
constexpr std::string_view kBoxMagic = "VKCLAVES";
constexpr char kBoxVersion = 1;
constexpr std::size_t kSaltSize = 16;
constexpr std::size_t kNonceSize = 12;
constexpr std::size_t kTagSize = 16;
constexpr std::size_t kParametersAt = kBoxMagic.size() + 1;
constexpr std::size_t kSaltAt = kParametersAt + 1 + 4 + 4;
constexpr std::size_t kBoxHeaderSize = kSaltAt + kSaltSize + kNonceSize;

constexpr std::string_view kFormatLine = "velkorant-copia 1";
constexpr std::string_view kFilePrefix = "archivo: ";
constexpr std::string_view kManifestCheck = "huella de las líneas anteriores: ";
// The files a backup may hold besides its manifest, in the order they are written.
constexpr std::string_view kBackupFiles[] = {kSettingsFile, kSentMessagesFile,
                                             kReceivedMessagesFile, kPasswordsFile};

const byte* Bytes(std::string_view text) {
  return reinterpret_cast<const byte*>(text.data());
}

void PutU32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::uint32_t GetU32(const byte* in) {
  return std::uint32_t{in[0]} << 24 | std::uint32_t{in[1]} << 16 | std::uint32_t{in[2]} << 8 |
         in[3];
}

SecByteBlock DeriveKey(std::string_view passphrase, const byte* salt,
                       const ScryptParameters& parameters) {
  SecByteBlock key(CryptoPP::AES::MAX_KEYLENGTH);
  CryptoPP::Scrypt().DeriveKey(key, key.size(), Bytes(passphrase), passphrase.size(), salt,
                               kSaltSize, parameters.n, parameters.r, parameters.p);
  return key;
}

// Each password as two length-prefixed byte strings: the profile, the password.
SecByteBlock SerializePasswords(const ProfilePasswords& passwords) {
  std::size_t size = 0;
  for (const ProfilePassword& entry : passwords.entries)
    size += 8 + entry.profile.size() + entry.password.size();
  SecByteBlock plain(size);
  byte* out = plain.data();
  for (const ProfilePassword& entry : passwords.entries) {
    for (const std::string& text : {std::cref(entry.profile), std::cref(entry.password)}) {
      std::string length;
      PutU32(length, static_cast<std::uint32_t>(text.size()));
      out = std::copy(length.begin(), length.end(), out);
      out = std::copy(text.begin(), text.end(), out);
    }
  }
  return plain;
}

bool ParsePasswords(const SecByteBlock& plain, ProfilePasswords& passwords) {
  std::size_t at = 0;
  const auto take = [&](std::string& text) {
    if (plain.size() - at < 4 || plain.size() - at - 4 < GetU32(plain.data() + at))
      return false;
    const std::size_t size = GetU32(plain.data() + at);
    text.assign(reinterpret_cast<const char*>(plain.data()) + at + 4, size);
    at += 4 + size;
    return true;
  };
  while (at < plain.size()) {
    ProfilePassword& entry = passwords.entries.emplace_back();
    if (!take(entry.profile) || !take(entry.password))
      return false;
  }
  return true;
}

// The manifest's user name: UTF-8 on one line, with backslashes and control characters escaped.
std::string EscapeLine(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char code[5];
      std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned>(c));
      escaped += code;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::optional<std::string> UnescapeLine(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      plain += text[i];
    } else if (text.substr(i + 1, 1) == "\\") {
      plain += '\\';
      ++i;
    } else {
      unsigned code = 0;
      const std::string_view hex = text.substr(std::min(i + 2, text.size()), 2);
      if (text.substr(i + 1, 1) != "x" || hex.size() != 2 ||
          std::from_chars(hex.data(), hex.data() + 2, code, 16).ptr != hex.data() + 2) {
        return std::nullopt;
      }
      plain += static_cast<char>(code);
      i += 3;
    }
  }
  return plain;
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view digits) {
  Number value{};
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
    return std::nullopt;
  return value;
}

struct ListedFile {
  std::string_view name;
  std::uint64_t size = 0;
  std::string_view sha256;
};

std::string WriteManifest(const BackupManifest& manifest, std::span<const TarEntry> files) {
  std::string text = std::string(kFormatLine) + "\n";
  text += "programa: velkorant " + manifest.program_version + "\n";
  text += "usuario: " + EscapeLine(AnsiToUtf8(manifest.user_name)) + "\n";
  text += "mensajes recibidos: " + std::to_string(manifest.received_counter) + "\n";
  text += "fecha: " + manifest.date + "\n";
  for (const TarEntry& file : files) {
    text += std::string(kFilePrefix) + file.name + " " + std::to_string(file.data.size()) + " " +
            Sha256Hex(file.data) + "\n";
  }
  // The manifest is the one file no other line vouches for.
  return text + std::string(kManifestCheck) + Sha256Hex(text) + "\n";
}

// The manifest's facts and files, or why it cannot be read (Windows-1252).
std::string ParseManifest(std::string_view text, BackupManifest& manifest,
                          std::vector<ListedFile>& files) {
  if (!text.ends_with('\n') || !text.starts_with("velkorant-copia "))
    return Ansi("su manifiesto no es el de una copia de Velkorant");
  const std::size_t last = text.rfind('\n', text.size() - 2) + 1;
  if (text.substr(last) != std::string(kManifestCheck) + Sha256Hex(text.substr(0, last)) + "\n")
    return Ansi("su manifiesto se ha cambiado");
  text = text.substr(0, last);
  std::set<std::string_view> seen;
  std::size_t number = 0;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    const std::string_view line = text.substr(start, end - start);
    const std::string bad_line =
        Ansi("su manifiesto no se entiende en la línea ") + std::to_string(++number);
    if (number == 1) {
      if (line != kFormatLine)
        return Ansi("la copia es de otra versión del programa, que ésta no sabe leer");
      continue;
    }
    const std::size_t colon = line.find(": ");
    const std::string_view key = line.substr(0, colon);
    const std::string_view value = line.substr(std::min(colon + 2, line.size()));
    if (colon == std::string_view::npos || (key != "archivo" && !seen.insert(key).second))
      return bad_line;
    if (key == "programa" && value.starts_with("velkorant ")) {
      manifest.program_version = value.substr(std::string_view("velkorant ").size());
    } else if (key == "usuario") {
      const std::optional<std::string> utf8 = UnescapeLine(value);
      std::optional<std::string> name = utf8 ? Utf8ToAnsiExact(*utf8) : std::nullopt;
      if (!name)
        return bad_line;
      manifest.user_name = std::move(*name);
    } else if (key == "mensajes recibidos" && ParseNumber<std::int32_t>(value)) {
      manifest.received_counter = *ParseNumber<std::int32_t>(value);
    } else if (key == "fecha") {
      manifest.date = value;
    } else if (key == "archivo") {
      const std::size_t space = value.find(' ');
      const std::size_t second =
          space == std::string_view::npos ? space : value.find(' ', space + 1);
      if (second == std::string_view::npos)
        return bad_line;
      ListedFile file{value.substr(0, space), 0, value.substr(second + 1)};
      const auto size = ParseNumber<std::uint64_t>(value.substr(space + 1, second - space - 1));
      const bool known = std::ranges::find(kBackupFiles, file.name) != std::end(kBackupFiles);
      const bool listed = std::ranges::any_of(
          files, [&](const ListedFile& other) { return other.name == file.name; });
      if (!known || listed || !size || file.sha256.size() != 64)
        return bad_line;
      file.size = *size;
      files.push_back(file);
    } else {
      return bad_line;
    }
  }
  if (seen.size() != 4 || std::ranges::none_of(files, [](const ListedFile& file) {
        return file.name == kSettingsFile;
      })) {
    return Ansi("a su manifiesto le faltan datos");
  }
  return {};
}

struct ConnectionCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

Connection OpenDatabase(const fs::path& path, int flags) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Connection db(raw);  // a failed open still hands out a handle to close
  if (opened != SQLITE_OK)
    return nullptr;
  sqlite3_busy_timeout(db.get(), 5000);
  return db;
}

// What a failure of SQLite on the settings means to the user.
std::string SqliteProblem(int code) {
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Ansi("otro programa la tiene bloqueada");
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Ansi("está dañada");
    case SQLITE_FULL:
      return Ansi("el disco está lleno");
    default:
      return Ansi("no se puede leer (") + Utf8ToAnsi(sqlite3_errstr(code)) + ")";
  }
}

// A value name as the database's `folded` column holds it.
std::string FoldedName(std::string_view name) {
  std::string folded;
  for (const char16_t unit : UpperCaseName(name))
    folded += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
  return folded;
}

// The settings database copied into `copy` while other processes may be using it, then every
// password taken out of the copy so that none is left in its free pages. The error, or empty.
std::string CopySettingsWithoutPasswords(const fs::path& source_path, const fs::path& copy_path) {
  const std::string where = Utf8ToAnsi(source_path.string()) + ": ";
  if (std::error_code error; !fs::is_regular_file(source_path, error))
    return where + Ansi("no hay configuración que copiar");
  const Connection source = OpenDatabase(source_path, SQLITE_OPEN_READONLY);
  if (!source)
    return where + SqliteProblem(SQLITE_CANTOPEN);
  // Created private before SQLite opens it; the folder is private as well.
  if (!UniqueFd(::open(copy_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600)).valid())
    return Utf8ToAnsi(copy_path.string()) + ": " + DescribeFileError(errno);
  const Connection copy = OpenDatabase(copy_path, SQLITE_OPEN_READWRITE);
  const auto copy_error = [&] {
    return Utf8ToAnsi(copy_path.string()) + ": " +
           SqliteProblem(copy ? sqlite3_errcode(copy.get()) : SQLITE_CANTOPEN);
  };
  // The passwords deleted below must not pass through a journal on disk or stay in free pages.
  if (!copy || sqlite3_exec(copy.get(),
                            "PRAGMA journal_mode=MEMORY; PRAGMA temp_store=MEMORY;"
                            "PRAGMA secure_delete=ON;",
                            nullptr, nullptr, nullptr) != SQLITE_OK) {
    return copy_error();
  }
  sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", source.get(), "main");
  if (backup == nullptr)
    return copy_error();
  const int stepped = sqlite3_backup_step(backup, -1);
  sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE)
    return where + SqliteProblem(stepped);

  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v2(copy.get(), "DELETE FROM vals WHERE folded IN (?1, ?2)", -1, &raw, nullptr);
  const std::unique_ptr<sqlite3_stmt, StatementFinalizer> remove(raw);
  const std::string password = FoldedName("Password");
  const std::string in_keyring = FoldedName("PasswordEnLlavero");
  if (!remove ||
      sqlite3_bind_blob(raw, 1, password.data(), static_cast<int>(password.size()),
                        SQLITE_STATIC) != SQLITE_OK ||
      sqlite3_bind_blob(raw, 2, in_keyring.data(), static_cast<int>(in_keyring.size()),
                        SQLITE_STATIC) != SQLITE_OK ||
      sqlite3_step(raw) != SQLITE_DONE ||
      sqlite3_exec(copy.get(), "VACUUM", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return where + SqliteProblem(sqlite3_errcode(copy.get()));
  }
  return {};
}

std::string UtcDate(std::time_t time) {
  std::tm parts{};
  char text[32] = "";
  ::gmtime_r(&time, &parts);
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

BackupMake MakeFailed(std::string error) {
  return {{}, std::move(error)};
}

BackupOpen OpenFailed(BackupProblem problem, std::string error) {
  BackupOpen open;
  open.problem = problem;
  open.error = std::move(error);
  return open;
}

}  // namespace

PrivateFolder::PrivateFolder() {
  std::error_code error;
  std::string name = (fs::temp_directory_path(error) / "velkorant-copia-XXXXXX").string();
  if (!error && ::mkdtemp(name.data()) != nullptr)
    path_ = name;
}

PrivateFolder::~PrivateFolder() {
  std::error_code ignored;
  if (!path_.empty())
    fs::remove_all(path_, ignored);
}

ProfilePasswords::~ProfilePasswords() {
  for (ProfilePassword& entry : entries)
    Wipe(entry.password);
}

bool AcceptableScrypt(const ScryptParameters& parameters) {
  // N·r·p at most 2^23: N = 2^20 with r = 8 at the most, which is also 1 GiB of memory.
  constexpr std::uint64_t kMostWork = std::uint64_t{1} << 23;
  const std::uint64_t n = parameters.n;
  return n >= 2 && n <= (std::uint64_t{1} << 20) && (n & (n - 1)) == 0 && parameters.r >= 1 &&
         parameters.p >= 1 && n * parameters.r <= kMostWork &&
         n * parameters.r * parameters.p <= kMostWork;
}

std::string SealPasswords(const ProfilePasswords& passwords, std::string_view passphrase,
                          const ScryptParameters& parameters) {
  if (!AcceptableScrypt(parameters))
    return {};
  try {
    std::string box(kBoxMagic);
    box += kBoxVersion;
    box += static_cast<char>(std::countr_zero(parameters.n));
    PutU32(box, parameters.r);
    PutU32(box, parameters.p);
    box.resize(kBoxHeaderSize);
    CryptoPP::AutoSeededRandomPool random;
    random.GenerateBlock(reinterpret_cast<byte*>(box.data()) + kSaltAt, kSaltSize + kNonceSize);

    const SecByteBlock plain = SerializePasswords(passwords);
    box.resize(kBoxHeaderSize + plain.size() + kTagSize);
    byte* const out = reinterpret_cast<byte*>(box.data());
    const SecByteBlock key = DeriveKey(passphrase, out + kSaltAt, parameters);
    CryptoPP::GCM<CryptoPP::AES>::Encryption gcm;
    gcm.SetKeyWithIV(key, key.size(), out + kSaltAt + kSaltSize, kNonceSize);
    gcm.EncryptAndAuthenticate(out + kBoxHeaderSize, out + kBoxHeaderSize + plain.size(), kTagSize,
                               out + kSaltAt + kSaltSize, kNonceSize, out, kBoxHeaderSize, plain,
                               plain.size());
    return box;
  } catch (const CryptoPP::Exception&) {
    return {};
  }
}

PasswordsOpen OpenPasswords(std::string_view box, std::string_view passphrase) {
  PasswordsOpen open;
  const auto damaged = [&open](std::string_view why) {
    open.problem = BackupProblem::kDamaged;
    open.error = Ansi("las contraseñas de la copia ") + Ansi(why);
    open.passwords.entries.clear();
    return std::move(open);
  };
  if (box.size() < kBoxHeaderSize + kTagSize || !box.starts_with(kBoxMagic))
    return damaged("están dañadas");
  if (box[kBoxMagic.size()] != kBoxVersion)
    return damaged("son de otra versión del programa, que ésta no sabe leer");
  const byte* const in = Bytes(box);
  const unsigned log2_n = in[kParametersAt];
  const ScryptParameters parameters{log2_n < 64 ? std::uint64_t{1} << log2_n : 0,
                                    GetU32(in + kParametersAt + 1), GetU32(in + kParametersAt + 5)};
  if (!AcceptableScrypt(parameters))
    return damaged("piden demasiada memoria o demasiado tiempo para abrirlas");
  try {
    const SecByteBlock key = DeriveKey(passphrase, in + kSaltAt, parameters);
    const std::size_t size = box.size() - kBoxHeaderSize - kTagSize;
    SecByteBlock plain(size);
    CryptoPP::GCM<CryptoPP::AES>::Decryption gcm;
    gcm.SetKeyWithIV(key, key.size(), in + kSaltAt + kSaltSize, kNonceSize);
    if (!gcm.DecryptAndVerify(plain, in + kBoxHeaderSize + size, kTagSize, in + kSaltAt + kSaltSize,
                              kNonceSize, in, kBoxHeaderSize, in + kBoxHeaderSize, size)) {
      open.problem = BackupProblem::kWrongPassphrase;
      open.error = Ansi("la contraseña de la copia no es la correcta");
      return open;
    }
    if (!ParsePasswords(plain, open.passwords))
      return damaged("están dañadas");
  } catch (const CryptoPP::Exception&) {
    return damaged("están dañadas");
  }
  return open;
}

BackupMake MakeBackup(SettingsStore& store, const fs::path& message_folder,
                      const std::optional<PasswordSeal>& passwords,
                      std::chrono::milliseconds lock_wait) {
  const PrivateFolder temporary;
  if (temporary.path().empty())
    return MakeFailed(Ansi("no se puede crear una carpeta temporal: ") + DescribeFileError(errno));
  const fs::path copy = temporary.path() / kSettingsFile;
  std::vector<TarEntry> entries(2);  // the manifest's and the settings' places
  {
    FileLock lock(message_folder);
    const FileLock::Guard held(lock, lock_wait);
    if (!held.ok()) {
      return MakeFailed(lock.open_error() != 0
                            ? Utf8ToAnsi(message_folder.string()) + ": " +
                                  DescribeFileError(lock.open_error())
                            : Ansi("otro proceso de Velkorant lleva demasiado tiempo cambiando "
                                   "los mensajes de esta carpeta"));
    }
    if (std::string error = CopySettingsWithoutPasswords(store.database().path(), copy);
        !error.empty()) {
      return MakeFailed(std::move(error));
    }
    for (const std::string_view name : {kSentMessagesFile, kReceivedMessagesFile}) {
      FileContent content = ReadFileContent(message_folder / name);
      if (content.state == FileState::kUnreadable)
        return MakeFailed(std::string(name) + Ansi(": no se puede leer"));
      if (content.state == FileState::kPresent)
        entries.push_back({std::string(name), std::move(content.bytes)});
    }
  }

  BackupManifest manifest;
  {
    SettingsStore copied(copy);
    const std::optional<Settings> settings = LoadSettings(copied);
    if (!settings)
      return MakeFailed(copied.DescribeProblem());
    manifest.user_name = settings->user_name;
    manifest.received_counter = settings->received_counter;
  }
  FileContent settings = ReadFileContent(copy);
  if (settings.state != FileState::kPresent)
    return MakeFailed(Utf8ToAnsi(copy.string()) + Ansi(": no se puede leer"));
  entries[1] = {std::string(kSettingsFile), std::move(settings.bytes)};
  if (passwords) {
    std::string box =
        SealPasswords(passwords->passwords, passwords->passphrase, passwords->parameters);
    if (box.empty())
      return MakeFailed(Ansi("no se han podido cifrar las contraseñas"));
    entries.push_back({std::string(kPasswordsFile), std::move(box)});
  }

  const std::time_t now = std::time(nullptr);
  manifest.program_version = VELKORANT_VERSION;
  manifest.date = UtcDate(now);
  entries[0] = {std::string(kManifestFile), WriteManifest(manifest, std::span(entries).subspan(1))};
  std::string archive = WriteTar(entries, now);
  if (archive.empty())
    return MakeFailed(Ansi("los archivos son demasiado grandes para una copia"));
  return {std::move(archive), {}};
}

BackupOpen OpenBackup(std::string_view archive, std::optional<std::string_view> passphrase) {
  const auto damaged = [](std::string why) {
    return OpenFailed(BackupProblem::kDamaged, Ansi("la copia está dañada: ") + why);
  };
  constexpr TarLimits kLimits{std::size(kBackupFiles) + 1};
  const TarRead tar = ReadTar(archive, kLimits);
  if (!tar)
    return damaged(tar.error);
  if (tar.entries.empty() || tar.entries.front().name != kManifestFile)
    return damaged(Ansi("no empieza por su manifiesto, ") + std::string(kManifestFile));

  BackupOpen open;
  std::vector<ListedFile> listed;
  if (std::string error = ParseManifest(tar.entries.front().data, open.manifest, listed);
      !error.empty()) {
    return damaged(std::move(error));
  }
  const auto files = std::span(tar.entries).subspan(1);
  for (const TarEntry& file : files) {
    if (std::ranges::none_of(listed, [&](const ListedFile& l) { return l.name == file.name; }))
      return damaged("\"" + file.name + Ansi("\" no está en su manifiesto"));
  }
  for (const ListedFile& file : listed) {
    const auto found =
        std::ranges::find_if(files, [&](const TarEntry& entry) { return entry.name == file.name; });
    if (found == files.end())
      return damaged(Ansi("le falta \"") + std::string(file.name) + "\"");
    if (found->data.size() != file.size || Sha256Hex(found->data) != file.sha256) {
      return damaged("\"" + std::string(file.name) +
                     Ansi("\" no es el que se copió (su huella SHA-256 no coincide)"));
    }
    if (file.name == kSettingsFile) {
      open.settings = found->data;
    } else if (file.name == kSentMessagesFile) {
      open.sent_messages = found->data;
    } else if (file.name == kReceivedMessagesFile) {
      open.received_messages = found->data;
    } else if (file.name == kPasswordsFile) {
      open.has_passwords = true;
      if (passphrase) {
        PasswordsOpen passwords = OpenPasswords(found->data, *passphrase);
        if (passwords.problem != BackupProblem::kNone)
          return OpenFailed(passwords.problem, std::move(passwords.error));
        open.passwords = std::move(passwords.passwords);
      }
    }
  }
  return open;
}

}  // namespace velkorant
