// The store's own declarations of EDS's entry points (calendar/linux/eds/api.h)
// checked against the installed headers of libecal, libedataserver,
// libical-glib and GLib: each function pointer must have exactly the type of
// the real function once api.h's opaque types are read as the real ones, and
// every constant and spelled-out structure must match. A mismatch fails to
// compile. Built only where libecal's headers are installed (libecal2.0-dev).
#include <libecal/libecal.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string_view>
#include <type_traits>

#include "calendar/linux/eds/api.h"

namespace {

namespace api = quorvel::calendar::linuxstore::eds::api;

// The type the headers give for a type of api.h: its own opaque and spelled-out
// types become the real ones, through pointers, const and function types.
template <typename T>
struct Real {
  using type = T;
};
template <typename T>
using RealT = typename Real<T>::type;
template <typename T>
struct Real<T*> {
  using type = RealT<T>*;
};
template <typename T>
struct Real<const T> {
  using type = const RealT<T>;
};
template <typename R, typename... Args>
struct Real<R(Args...)> {
  using type = RealT<R>(RealT<Args>...);
};
#define QUORVEL_REAL(name) \
  template <>              \
  struct Real<api::name> { \
    using type = ::name;   \
  };
QUORVEL_REAL(GCancellable)
QUORVEL_REAL(GHashTable)
QUORVEL_REAL(ESourceRegistry)
QUORVEL_REAL(ESource)
QUORVEL_REAL(ESourceMailIdentity)
QUORVEL_REAL(ESourceWebdav)
QUORVEL_REAL(ESourceAuthentication)
QUORVEL_REAL(EClient)
QUORVEL_REAL(ECalClient)
QUORVEL_REAL(ICalComponent)
QUORVEL_REAL(ICalTimezone)
QUORVEL_REAL(GError)
QUORVEL_REAL(GList)
QUORVEL_REAL(GSList)
QUORVEL_REAL(ECalClientSourceType)
#undef QUORVEL_REAL

// Whether a pointer declared as `Declared` can call the function of type
// `Actual` exactly as the headers declare it.
template <typename Declared, typename Actual>
inline constexpr bool kDeclaredAs = std::is_same_v<RealT<Declared>, Actual>;

#define QUORVEL_CHECK(name, result, parameters)                                 \
  static_assert(kDeclaredAs<decltype(api::Functions::name), decltype(&::name)>, \
                #name " is not declared as the headers declare it");
QUORVEL_EDS_FUNCTIONS(QUORVEL_CHECK)
#undef QUORVEL_CHECK

// The check tells wrong declarations apart: another object type, a lost
// const, another integer or another return type each fail it.
static_assert(!kDeclaredAs<api::gboolean (*)(api::ECalClient*, const char*, char**,
                                             api::GCancellable*, api::GError**),
                           decltype(&::e_client_get_backend_property_sync)>);
static_assert(
    !kDeclaredAs<const char* (*)(api::ICalTimezone*), decltype(&::i_cal_timezone_get_tzid)>);
static_assert(!kDeclaredAs<api::EClient* (*)(api::ESource*, api::ECalClientSourceType, int,
                                             api::GCancellable*, api::GError**),
                           decltype(&::e_cal_client_connect_sync)>);
static_assert(!kDeclaredAs<void* (*)(api::ESource*), decltype(&::e_source_dup_display_name)>);

// The names the headers define as macros.
static_assert(std::string_view(api::kCalendarExtension) == E_SOURCE_EXTENSION_CALENDAR);
static_assert(std::string_view(api::kMailIdentityExtension) == E_SOURCE_EXTENSION_MAIL_IDENTITY);
static_assert(std::string_view(api::kWebdavExtension) == E_SOURCE_EXTENSION_WEBDAV_BACKEND);
static_assert(std::string_view(api::kAuthenticationExtension) == E_SOURCE_EXTENSION_AUTHENTICATION);
static_assert(std::string_view(api::kCalendarEmailAddress) ==
              E_CAL_BACKEND_PROPERTY_CAL_EMAIL_ADDRESS);

// The enumeration: its value, and the integer it is passed as.
static_assert(static_cast<unsigned>(api::E_CAL_CLIENT_SOURCE_TYPE_EVENTS) ==
              static_cast<unsigned>(::E_CAL_CLIENT_SOURCE_TYPE_EVENTS));
static_assert(std::is_same_v<std::underlying_type_t<api::ECalClientSourceType>,
                             std::underlying_type_t<::ECalClientSourceType>>);

// The structures whose fields are read.
#define QUORVEL_SAME_FIELD(type, field)                                  \
  static_assert(offsetof(api::type, field) == offsetof(::type, field) && \
                std::is_same_v<RealT<decltype(api::type::field)>, decltype(::type::field)>);
static_assert(sizeof(api::GError) == sizeof(::GError));
QUORVEL_SAME_FIELD(GError, domain)
QUORVEL_SAME_FIELD(GError, code)
QUORVEL_SAME_FIELD(GError, message)
static_assert(sizeof(api::GList) == sizeof(::GList));
QUORVEL_SAME_FIELD(GList, data)
QUORVEL_SAME_FIELD(GList, next)
QUORVEL_SAME_FIELD(GList, prev)
static_assert(sizeof(api::GSList) == sizeof(::GSList));
QUORVEL_SAME_FIELD(GSList, data)
QUORVEL_SAME_FIELD(GSList, next)
#undef QUORVEL_SAME_FIELD

// The callbacks handed to GLib.
static_assert(std::is_same_v<api::GDestroyNotify, ::GDestroyNotify>);
static_assert(std::is_same_v<api::GHFunc, ::GHFunc>);

// The checks above are made by the compiler; this records that they were.
TEST(EdsDeclarations, MatchTheInstalledHeaders) {
  EXPECT_EQ(std::string_view(api::kCalendarExtension), E_SOURCE_EXTENSION_CALENDAR);
}

}  // namespace
