#include "platform/keyring.h"

#include <libsecret/secret.h>

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

Attributes ItemAttributes(const std::string& settings, std::string_view key) {
  const std::string profile(key);
  return Attributes(
      secret_attributes_build(&kSchema, "application", std::string(Keyring::kApplicationId).c_str(),
                              "settings", settings.c_str(), "profile", profile.c_str(), nullptr));
}

}  // namespace

struct Keyring::Connection {
  Object<SecretService> service;
};

Keyring::Keyring(std::string settings) {
  // Attributes are UTF-8; a path need not be.
  const std::unique_ptr<gchar, decltype(&g_free)> valid(
      g_utf8_make_valid(settings.data(), static_cast<gssize>(settings.size())), &g_free);
  settings_ = valid.get();
}
Keyring::~Keyring() = default;

KeyringStatus Keyring::Connect() {
  if (connection_)
    return KeyringStatus::kOk;
  if (no_service_)
    return KeyringStatus::kNoService;
  GError* raw = nullptr;
  auto connection = std::make_unique<Connection>();
  // libsecret works on GLib's shared session connection, which by default ends the whole
  // program when the bus goes away: here that only means the keyring is gone.
  if (const Object<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw)); bus) {
    g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
    // Opening the session is the first call that needs the service itself: the bus starts it
    // when it can.
    connection->service.reset(secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr,
                                                       SECRET_SERVICE_OPEN_SESSION, nullptr, &raw));
  }
  const Error error(raw);
  if (!connection->service) {
    no_service_ = true;
    error_ = error ? error->message : "";
    return KeyringStatus::kNoService;
  }
  connection_ = std::move(connection);
  return KeyringStatus::kOk;
}

namespace {

KeyringStatus Outcome(const Error& error, std::string& message) {
  message = error ? error->message : "";
  if (!error)
    return KeyringStatus::kOk;
  // A dismissed prompt ends the call as cancelled.
  return g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED) ? KeyringStatus::kLocked
                                                                        : KeyringStatus::kFailed;
}

// Every locked object of `objects` unlocked through the keyring's prompt, or kLocked.
KeyringStatus Unlock(SecretService* service, GList* objects, bool (*locked)(gpointer),
                     std::string& message) {
  BorrowedList to_unlock;
  for (GList* node = objects; node != nullptr; node = node->next) {
    if (locked(node->data))
      to_unlock.reset(g_list_prepend(to_unlock.release(), node->data));
  }
  if (!to_unlock)
    return KeyringStatus::kOk;
  GError* raw = nullptr;
  GList* unlocked_raw = nullptr;
  secret_service_unlock_sync(service, to_unlock.get(), nullptr, &unlocked_raw, &raw);
  const ObjectList unlocked(unlocked_raw);
  const Error error(raw);
  if (const KeyringStatus status = Outcome(error, message); status != KeyringStatus::kOk)
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
KeyringStatus Search(SecretService* service, const std::string& settings, std::string_view key,
                     ObjectList& items, std::string& message) {
  GError* raw = nullptr;
  items.reset(secret_service_search_sync(service, &kSchema, ItemAttributes(settings, key).get(),
                                         SECRET_SEARCH_ALL, nullptr, &raw));
  const Error error(raw);
  if (const KeyringStatus status = Outcome(error, message); status != KeyringStatus::kOk)
    return status;
  return Unlock(service, items.get(), &ItemLocked, message);
}

}  // namespace

KeyringStatus Keyring::Store(std::string_view key, std::string_view label,
                             std::string_view secret) {
  if (const KeyringStatus status = Connect(); status != KeyringStatus::kOk)
    return status;
  SecretService* service = connection_->service.get();
  GError* raw = nullptr;
  const Object<SecretCollection> collection(secret_collection_for_alias_sync(
      service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &raw));
  if (const KeyringStatus status = Outcome(Error(raw), error_); status != KeyringStatus::kOk)
    return status;
  if (collection) {
    GList only = {collection.get(), nullptr, nullptr};
    if (const KeyringStatus status = Unlock(service, &only, &CollectionLocked, error_);
        status != KeyringStatus::kOk)
      return status;
  }
  std::string text(secret);
  const Value value(secret_value_new(text.c_str(), -1, "text/plain"));
  Wipe(text);
  const std::string text_label(label);
  const bool stored = secret_service_store_sync(
      service, &kSchema, ItemAttributes(settings_, key).get(), SECRET_COLLECTION_DEFAULT,
      text_label.c_str(), value.get(), nullptr, &raw);
  const Error error(raw);
  if (!stored && !error) {
    error_ = "locked";
    return KeyringStatus::kLocked;
  }
  return Outcome(error, error_);
}

KeyringStatus Keyring::Lookup(std::string_view key, std::optional<std::string>& secret) {
  secret.reset();
  if (const KeyringStatus status = Connect(); status != KeyringStatus::kOk)
    return status;
  ObjectList items;
  if (const KeyringStatus status =
          Search(connection_->service.get(), settings_, key, items, error_);
      status != KeyringStatus::kOk || !items)
    return status;
  // An item a killed client left half made is listed but cannot be read: the next one can.
  for (GList* node = items.get(); node != nullptr; node = node->next) {
    auto* item = static_cast<SecretItem*>(node->data);
    GError* raw = nullptr;
    secret_item_load_secret_sync(item, nullptr, &raw);
    const Error error(raw);
    if (Gone(error))
      continue;
    if (const KeyringStatus status = Outcome(error, error_); status != KeyringStatus::kOk)
      return status;
    const Value value(secret_item_get_secret(item));
    if (!value)
      continue;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    secret.emplace(bytes, length);
    return KeyringStatus::kOk;
  }
  return KeyringStatus::kOk;
}

KeyringStatus Keyring::Remove(std::string_view key) {
  if (const KeyringStatus status = Connect(); status != KeyringStatus::kOk)
    return status;
  ObjectList items;
  if (const KeyringStatus status =
          Search(connection_->service.get(), settings_, key, items, error_);
      status != KeyringStatus::kOk)
    return status;
  for (GList* node = items.get(); node != nullptr; node = node->next) {
    GError* raw = nullptr;
    secret_item_delete_sync(static_cast<SecretItem*>(node->data), nullptr, &raw);
    if (const Error error(raw); !Gone(error)) {
      if (const KeyringStatus status = Outcome(error, error_); status != KeyringStatus::kOk)
        return status;
    }
  }
  return KeyringStatus::kOk;
}

}  // namespace velkorant
