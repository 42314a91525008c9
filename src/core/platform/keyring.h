// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The desktop's keyring, reached through the freedesktop Secret Service (GNOME Keyring,
// KWallet, KeePassXC...). Each secret is one item found by its attributes: this program's id
// ("application"), the settings database it belongs to ("settings": one user may have several,
// as the demo's two users do, and none may take or delete another's) and the profile's key
// ("profile"). A locked item is unlocked through the keyring's own prompt; an answer the keyring
// could not give is never passed off as "no such secret".
//
// The "settings" attribute is the installation identifier kept in the settings database, so
// that items are found again after the database is moved, restored from a backup or reached
// through a link. Items made before there was one carry the database's path: they are still
// found, and are moved to the identifier when first read.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velkorant {

enum class KeyringStatus {
  kOk,
  kNoService,  // no Secret Service answers on the session bus (or there is no session bus)
  kLocked,     // the keyring stays locked: its prompt was refused or could not be shown
  kFailed,     // the service answered with an error
  kCancelled,  // Cancel() was called: the call under way and every later one end so
  // Noted by the password profiles, never returned here: the keyring answered, but the item of
  // a profile whose password it keeps is not in it.
  kMissing,
};

class Keyring {
 public:
  // The value of the "application" attribute of every item.
  static constexpr std::string_view kApplicationId = "org.velkorant.Velkorant";

  // The installation identifier of the settings database: read, or with `create` made when
  // there is none yet. nullopt when there is none, or it cannot be read or written (a
  // read-only database): items are then found, and made, by the database's path alone.
  using InstallationId = std::function<std::optional<std::string>(bool create)>;

  // `settings`: the path of the settings database whose passwords these are. Neither it, nor
  // `installation`, nor the bus is used before the first call that needs them.
  Keyring(std::string settings, InstallationId installation);
  ~Keyring();
  Keyring(const Keyring&) = delete;
  Keyring& operator=(const Keyring&) = delete;

  // Connects on first use, to the session bus of the process's environment at that moment; a
  // missing service is remembered for the object's life, so asking again costs nothing.
  KeyringStatus Connect();

  // `key` and `label` are UTF-8. Replaces the item of the same key.
  KeyringStatus Store(std::string_view key, std::string_view label, std::string_view secret);
  // nullopt in `secret` when the keyring has no item of that key.
  KeyringStatus Lookup(std::string_view key, std::optional<std::string>& secret);
  // Every item of that key; none is fine.
  KeyringStatus Remove(std::string_view key);

  // Callable from any thread at any time while the object lives, so that quitting never waits
  // for a keyring that does not answer: the call under way returns promptly, and every later
  // one at once, with kCancelled. There is no way back; a new Keyring starts afresh.
  void Cancel();

  // What went wrong last, from the service, for a log line or a message.
  const std::string& error() const { return error_; }

 private:
  struct Connection;

  // The "settings" attribute of the items to make: the identifier, or the path without one.
  std::string Owner();
  // The identifier as far as known; made only when `create`.
  std::optional<std::string> Identifier(bool create);
  KeyringStatus StoreAs(const std::string& owner, std::string_view key, std::string_view label,
                        std::string_view secret);

  std::string settings_;  // UTF-8
  InstallationId installation_;
  std::optional<std::string> identifier_;
  std::unique_ptr<Connection> connection_;
  bool no_service_ = false;
  std::string error_;
};

}  // namespace velkorant
