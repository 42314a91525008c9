#pragma once

// The desktop's keyring, reached through the freedesktop Secret Service (GNOME Keyring,
// KWallet, KeePassXC...). Each secret is one item found by its attributes: this program's id
// ("application"), the settings database it belongs to ("settings": one user may have several,
// as the demo's two users do, and none may take or delete another's) and the profile's key
// ("profile"). A locked item is unlocked through the keyring's own prompt; an answer the keyring
// could not give is never passed off as "no such secret".

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
};

class Keyring {
 public:
  // The value of the "application" attribute of every item.
  static constexpr std::string_view kApplicationId = "org.velkorant.Velkorant";

  // `settings`: the path of the settings database whose passwords these are. The bus is not
  // used before the first call that needs it.
  explicit Keyring(std::string settings);
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

  KeyringStatus StoreAs(const std::string& owner, std::string_view key, std::string_view label,
                        std::string_view secret);

  std::string settings_;  // UTF-8
  std::unique_ptr<Connection> connection_;
  bool no_service_ = false;
  std::string error_;
};

}  // namespace velkorant
