// The entry points of Evolution Data Server's client libraries (libecal,
// libedataserver, libical-glib, GLib) that the store calls, declared here so
// that building needs none of their headers: the library is loaded at run
// time, and only on machines where it may be used (library.h).
//
// Every object is an opaque pointer; only the few structures whose fields are
// read (GError, GList, GSList) are spelled out, as GLib's stable ABI has them.
// A test compiled where the real headers are installed checks each
// declaration, constant and layout against them.
#pragma once

#include <cstdint>

namespace quorvel::calendar::linuxstore::eds::api {

using gboolean = int;
using guint32 = std::uint32_t;

struct GCancellable;
struct GHashTable;
struct ESourceRegistry;
struct ESource;
struct ESourceMailIdentity;
struct ESourceWebdav;
struct ESourceAuthentication;
struct EClient;
struct ECalClient;
struct ICalComponent;
struct ICalTimezone;

struct GError {
  guint32 domain;  // a GQuark
  int code;
  char* message;
};

struct GList {
  void* data;
  GList* next;
  GList* prev;
};

struct GSList {
  void* data;
  GSList* next;
};

using GDestroyNotify = void (*)(void* data);
using GHFunc = void (*)(void* key, void* value, void* userData);

// ECalClientSourceType, of which only events are asked for.
enum ECalClientSourceType : unsigned { E_CAL_CLIENT_SOURCE_TYPE_EVENTS = 0 };

// Names the headers define as macros.
inline constexpr const char* kCalendarExtension = "Calendar";  // E_SOURCE_EXTENSION_CALENDAR
inline constexpr const char* kMailIdentityExtension = "Mail Identity";  // ..._MAIL_IDENTITY
inline constexpr const char* kWebdavExtension = "WebDAV Backend";       // ..._WEBDAV_BACKEND
inline constexpr const char* kAuthenticationExtension =
    "Authentication";  // E_SOURCE_EXTENSION_AUTHENTICATION
inline constexpr const char* kCalendarEmailAddress =
    "cal-email-address";  // E_CAL_BACKEND_PROPERTY_...

// X(name, return type, parameter list): every entry point the store uses.
#define QUORVEL_EDS_FUNCTIONS(X)                                                                   \
  X(g_free, void, (void* memory))                                                                  \
  X(g_error_free, void, (GError * error))                                                          \
  X(g_object_unref, void, (void* object))                                                          \
  X(g_list_free_full, void, (GList * list, GDestroyNotify freeData))                               \
  X(g_slist_free_full, void, (GSList * list, GDestroyNotify freeData))                             \
  X(g_cancellable_new, GCancellable*, ())                                                          \
  X(g_cancellable_cancel, void, (GCancellable * cancellable))                                      \
  X(g_cancellable_is_cancelled, gboolean, (GCancellable * cancellable))                            \
  X(g_hash_table_foreach, void, (GHashTable * table, GHFunc each, void* userData))                 \
  X(g_hash_table_unref, void, (GHashTable * table))                                                \
  X(g_io_error_quark, guint32, ())                                                                 \
  X(e_source_registry_new_sync, ESourceRegistry*, (GCancellable * cancellable, GError * *error))   \
  X(e_source_registry_list_enabled, GList*, (ESourceRegistry * registry, const char* extension))   \
  X(e_source_get_uid, const char*, (ESource * source))                                             \
  X(e_source_dup_display_name, char*, (ESource * source))                                          \
  X(e_source_get_extension, void*, (ESource * source, const char* extension))                      \
  X(e_source_has_extension, gboolean, (ESource * source, const char* extension))                   \
  X(e_source_webdav_dup_email_address, char*, (ESourceWebdav * webdav))                            \
  X(e_source_authentication_dup_user, char*, (ESourceAuthentication * authentication))             \
  X(e_source_mail_identity_dup_address, char*, (ESourceMailIdentity * identity))                   \
  X(e_source_mail_identity_get_aliases_as_hash_table, GHashTable*,                                 \
    (ESourceMailIdentity * identity))                                                              \
  X(e_cal_client_connect_sync, EClient*,                                                           \
    (ESource * source, ECalClientSourceType type, guint32 waitForConnectedSeconds,                 \
     GCancellable * cancellable, GError * *error))                                                 \
  X(e_client_get_backend_property_sync, gboolean,                                                  \
    (EClient * client, const char* name, char** value, GCancellable* cancellable, GError** error)) \
  X(e_cal_client_get_object_list_sync, gboolean,                                                   \
    (ECalClient * client, const char* sexp, GSList** components, GCancellable* cancellable,        \
     GError** error))                                                                              \
  X(e_cal_client_get_timezone_sync, gboolean,                                                      \
    (ECalClient * client, const char* tzid, ICalTimezone** zone, GCancellable* cancellable,        \
     GError** error))                                                                              \
  X(i_cal_component_as_ical_string, char*, (ICalComponent * component))                            \
  X(i_cal_timezone_get_tzid, const char*, (const ICalTimezone* zone))                              \
  X(i_cal_timezone_get_component, ICalComponent*, (const ICalTimezone* zone))

// One pointer per entry point, each of the type its declaration gives.
struct Functions {
#define QUORVEL_EDS_POINTER(name, result, parameters) result(*name) parameters = nullptr;
  QUORVEL_EDS_FUNCTIONS(QUORVEL_EDS_POINTER)
#undef QUORVEL_EDS_POINTER
};

}  // namespace quorvel::calendar::linuxstore::eds::api
