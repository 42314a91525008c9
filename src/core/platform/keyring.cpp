// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/keyring.h"

#include <libsecret/secret.h>

#include <vector>

#include "platform/secure_text.h"

namespace velkorant {
namespace {

const SecretSchema kSchema = {"org.velkorant.Velkorant.PasswordProfile",
                              SECRET_SCHEMA_NONE,
                              {{"application", SECRET_SCHEMA_ATTRIBUTE_STRING},
                               {"settings", SECRET_SCHEMA_ATTRIBUTE_STRING},
                               {"profile", SECRET_SCHEMA_ATTRIBUTE_STRING},
                               {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                              0,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr};

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using Object = std::unique_ptr<T, ObjectUnref>;

struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

struct TableUnref {
  void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using Attributes = std::unique_ptr<GHashTable, TableUnref>;

struct ValueUnref {
  void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using Value = std::unique_ptr<SecretValue, ValueUnref>;

// A list of objects the list owns, as libsecret's searches return.
struct ObjectListFree {
  void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using ObjectList = std::unique_ptr<GList, ObjectListFree>;

// A list borrowing its objects, to hand some of them to a call.
struct ListFree {
  void operator()(GList* list) const { g_list_free(list); }
};
using BorrowedList = std::unique_ptr<GList, ListFree>;

Attributes ItemAttributes(const std::string& owner, std::string_view key) {
  const std::string profile(key);
  return Attributes(
      secret_attributes_build(&kSchema, "application", std::string(Keyring::kApplicationId).c_str(),
                              "settings", owner.c_str(), "profile", profile.c_str(), nullptr));
}

// Attributes are UTF-8; a path need not be, nor what a database holds.
std::string ValidUtf8(const std::string& text) {
  const std::unique_ptr<gchar, decltype(&g_free)> valid(
      g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())), &g_free);
  return valid.get();
}

KeyringStatus Outcome(const Error& error, GCancellable* cancellable, std::string& message) {
  message = error ? error->message : "";
  if (!error)
    return KeyringStatus::kOk;
  if (!g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
    return KeyringStatus::kFailed;
  // Ours, or a dismissed prompt, which ends the call as cancelled too.
  return g_cancellable_is_cancelled(cancellable) ? KeyringStatus::kCancelled
                                                 : KeyringStatus::kLocked;
}

// Every locked object of `objects` unlocked through the keyring's prompt, or kLocked.
KeyringStatus Unlock(SecretService* service, GCancellable* cancellable, GList* objects,
                     bool (*locked)(gpointer), std::string& message) {
  BorrowedList to_unlock;
  for (GList* node = objects; node != nullptr; node = node->next) {
    if (locked(node->data))
      to_unlock.reset(g_list_prepend(to_unlock.release(), node->data));
  }
  if (!to_unlock)
    return KeyringStatus::kOk;
  GError* raw = nullptr;
  GList* unlocked_raw = nullptr;
  secret_service_unlock_sync(service, to_unlock.get(), cancellable, &unlocked_raw, &raw);
  const ObjectList unlocked(unlocked_raw);
  const Error error(raw);
  if (const KeyringStatus status = Outcome(error, cancellable, message);
      status != KeyringStatus::kOk)
    return status;
  if (g_list_length(unlocked.get()) < g_list_length(to_unlock.get())) {
    message = "locked";
    return KeyringStatus::kLocked;
  }
  return KeyringStatus::kOk;
}

bool Gone(const Error& error) {
  return error && g_error_matches(error.get(), SECRET_ERROR, SECRET_ERROR_NO_SUCH_OBJECT);
}

bool ItemLocked(gpointer item) {
  return secret_item_get_locked(static_cast<SecretItem*>(item));
}
bool CollectionLocked(gpointer collection) {
  return secret_collection_get_locked(static_cast<SecretCollection*>(collection));
}

// The items of `key`, locked ones included: a locked item must never look like a missing one.
KeyringStatus Search(SecretService* service, GCancellable* cancellable, const std::string& owner,
                     std::string_view key, ObjectList& items, std::string& message) {
  GError* raw = nullptr;
  items.reset(secret_service_search_sync(service, &kSchema, ItemAttributes(owner, key).get(),
                                         SECRET_SEARCH_ALL, cancellable, &raw));
  const Error error(raw);
  if (const KeyringStatus status = Outcome(error, cancellable, message);
      status != KeyringStatus::kOk)
    return status;
  return Unlock(service, cancellable, items.get(), &ItemLocked, message);
}

// The secret of the first item of `items` that can be read, and that item; none is fine.
KeyringStatus LoadFirst(GCancellable* cancellable, GList* items, std::optional<std::string>& secret,
                        SecretItem*& found, std::string& message) {
  // An item a killed client left half made is listed but cannot be read: the next one can.
  for (GList* node = items; node != nullptr; node = node->next) {
    auto* item = static_cast<SecretItem*>(node->data);
    GError* raw = nullptr;
    secret_item_load_secret_sync(item, cancellable, &raw);
    const Error error(raw);
    if (Gone(error))
      continue;
    if (const KeyringStatus status = Outcome(error, cancellable, message);
        status != KeyringStatus::kOk)
      return status;
    const Value value(secret_item_get_secret(item));
    if (!value)
      continue;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    secret.emplace(bytes, length);
    found = item;
    return KeyringStatus::kOk;
  }
  return KeyringStatus::kOk;
}

// Deletes every one of `items`; one already gone is fine.
KeyringStatus DeleteAll(GCancellable* cancellable, GList* items, std::string& message) {
  for (GList* node = items; node != nullptr; node = node->next) {
    GError* raw = nullptr;
    secret_item_delete_sync(static_cast<SecretItem*>(node->data), cancellable, &raw);
    if (const Error error(raw); !Gone(error)) {
      if (const KeyringStatus status = Outcome(error, cancellable, message);
          status != KeyringStatus::kOk)
        return status;
    }
  }
  return KeyringStatus::kOk;
}

}  // namespace

struct Keyring::Connection {
  // Made with the object, so that Cancel() has it from the start.
  Object<GCancellable> cancellable{g_cancellable_new()};
  Object<SecretService> service;
};

Keyring::Keyring(std::string settings, InstallationId installation)
    : settings_(ValidUtf8(settings)),
      installation_(std::move(installation)),
      connection_(std::make_unique<Connection>()) {}
Keyring::~Keyring() = default;

void Keyring::Cancel() {
  g_cancellable_cancel(connection_->cancellable.get());
}

KeyringStatus Keyring::Connect() {
  GCancellable* cancellable = connection_->cancellable.get();
  if (g_cancellable_is_cancelled(cancellable)) {
    error_ = "cancelled";
    return KeyringStatus::kCancelled;
  }
  if (connection_->service)
    return KeyringStatus::kOk;
  if (no_service_)
    return KeyringStatus::kNoService;
  GError* raw = nullptr;
  Object<SecretService> service;
  // libsecret works on GLib's shared session connection, which by default ends the whole
  // program when the bus goes away: here that only means the keyring is gone.
  if (const Object<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable, &raw));
      bus) {
    g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
    // Opening the session is the first call that needs the service itself: the bus starts it
    // when it can.
    service.reset(secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr,
                                           SECRET_SERVICE_OPEN_SESSION, cancellable, &raw));
  }
  const Error error(raw);
  if (!service) {
    error_ = error ? error->message : "";
    if (g_cancellable_is_cancelled(cancellable))
      return KeyringStatus::kCancelled;
    no_service_ = true;
    return KeyringStatus::kNoService;
  }
  connection_->service = std::move(service);
  return KeyringStatus::kOk;
}

std::optional<std::string> Keyring::Identifier(bool create) {
  if (!identifier_ && installation_) {
    if (auto made = installation_(create))
      identifier_ = ValidUtf8(*made);
  }
  return identifier_;
}

std::string Keyring::Owner() {
  return Identifier(true).value_or(settings_);
}

KeyringStatus Keyring::StoreAs(const std::string& owner, std::string_view key,
                               std::string_view label, std::string_view secret) {
  SecretService* service = connection_->service.get();
  GCancellable* cancellable = connection_->cancellable.get();
  GError* raw = nullptr;
  const Object<SecretCollection> collection(secret_collection_for_alias_sync(
      service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancellable, &raw));
  if (const KeyringStatus status = Outcome(Error(raw), cancellable, error_);
      status != KeyringStatus::kOk)
    return status;
  if (collection) {
    GList only = {collection.get(), nullptr, nullptr};
    if (const KeyringStatus status = Unlock(service, cancellable, &only, &CollectionLocked, error_);
        status != KeyringStatus::kOk)
      return status;
  }
  std::string text(secret);
  const Value value(secret_value_new(text.c_str(), -1, "text/plain"));
  Wipe(text);
  const std::string text_label(label);
  const bool stored = secret_service_store_sync(service, &kSchema, ItemAttributes(owner, key).get(),
                                                SECRET_COLLECTION_DEFAULT, text_label.c_str(),
                                                value.get(), cancellable, &raw);
  const Error error(raw);
  if (!stored && !error) {
    error_ = "locked";
    return KeyringStatus::kLocked;
  }
  return Outcome(error, cancellable, error_);
}

KeyringStatus Keyring::Store(std::string_view key, std::string_view label,
                             std::string_view secret) {
  if (const KeyringStatus status = Connect(); status != KeyringStatus::kOk)
    return status;
  return StoreAs(Owner(), key, label, secret);
}

KeyringStatus Keyring::Lookup(std::string_view key, std::optional<std::string>& secret) {
  secret.reset();
  if (const KeyringStatus status = Connect(); status != KeyringStatus::kOk)
    return status;
  SecretService* service = connection_->service.get();
  GCancellable* cancellable = connection_->cancellable.get();
  SecretItem* found = nullptr;
  if (const auto identifier = Identifier(false)) {
    ObjectList items;
    KeyringStatus status = Search(service, cancellable, *identifier, key, items, error_);
    if (status == KeyringStatus::kOk)
      status = LoadFirst(cancellable, items.get(), secret, found, error_);
    if (status != KeyringStatus::kOk || secret)
      return status;
  }
  ObjectList items;
  KeyringStatus status = Search(service, cancellable, settings_, key, items, error_);
  if (status == KeyringStatus::kOk)
    status = LoadFirst(cancellable, items.get(), secret, found, error_);
  if (status != KeyringStatus::kOk || !secret)
    return status;
  // Made before the identifier: moved to it (stored anew, then the old ones removed), so that
  // it is found after the next move of the folder. Where that cannot be done, nothing is lost:
  // the path finds it again.
  if (const auto identifier = Identifier(true)) {
    const std::unique_ptr<gchar, decltype(&g_free)> label(secret_item_get_label(found), &g_free);
    std::string ignored;
    if (StoreAs(*identifier, key, label ? label.get() : "", *secret) == KeyringStatus::kOk)
      DeleteAll(cancellable, items.get(), ignored);
    error_.clear();
  }
  return KeyringStatus::kOk;
}

KeyringStatus Keyring::Remove(std::string_view key) {
  if (const KeyringStatus status = Connect(); status != KeyringStatus::kOk)
    return status;
  // Under the identifier and under the path: an item left under either would be found again.
  std::vector<std::string> owners = {settings_};
  if (const auto identifier = Identifier(false))
    owners.push_back(*identifier);
  for (const std::string& owner : owners) {
    ObjectList items;
    KeyringStatus status = Search(connection_->service.get(), connection_->cancellable.get(), owner,
                                  key, items, error_);
    if (status == KeyringStatus::kOk)
      status = DeleteAll(connection_->cancellable.get(), items.get(), error_);
    if (status != KeyringStatus::kOk)
      return status;
  }
  return KeyringStatus::kOk;
}

}  // namespace velkorant
