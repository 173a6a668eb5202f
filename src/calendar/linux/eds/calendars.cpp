#include "calendar/linux/eds/calendars.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "calendar/calendar.h"
#include "calendar/ical/identity.h"
#include "calendar/ical/problem.h"
#include "calendar/ical/system_zones.h"
#include "calendar/linux/eds/cache.h"

namespace quorvel::calendar::linuxstore::eds {
using ical::addressKey;
using ical::outOfMemory;
namespace {

using api::GError;

// A GObject or a block of GLib memory, released when it goes (g_object_unref
// and g_free both take a plain pointer).
template <typename T>
using Owned = std::unique_ptr<T, void (*)(void*)>;

// A list of GObjects (ESources, ICalComponents), released with them.
template <typename List>
class OwnedList {
 public:
  OwnedList(const api::Functions& eds, List* list) : eds_(eds), list_(list) {}
  ~OwnedList() {
    if constexpr (std::is_same_v<List, api::GList>) {
      eds_.g_list_free_full(list_, eds_.g_object_unref);
    } else {
      eds_.g_slist_free_full(list_, eds_.g_object_unref);
    }
  }
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
  List* get() const { return list_; }
  // Leaves the list to whoever still uses it, unreleased.
  void release() { list_ = nullptr; }

 private:
  const api::Functions& eds_;
  List* list_;
};

// A GError that a call may set, freed when it goes.
class Error {
 public:
  explicit Error(const api::Functions& eds, GError* error = nullptr) : eds_(eds), error_(error) {}
  ~Error() { clear(); }
  Error(const Error&) = delete;
  Error& operator=(const Error&) = delete;
  GError** out() {
    clear();
    return &error_;
  }
  GError* get() const { return error_; }
  std::string message() const {
    return error_ != nullptr && error_->message != nullptr ? error_->message : "unknown error";
  }
  void clear() {
    if (error_ != nullptr) eds_.g_error_free(error_);
    error_ = nullptr;
  }

 private:
  const api::Functions& eds_;
  GError* error_ = nullptr;
};

// Work on a thread of its own that the caller waits for until a deadline
// and, when it hasn't ended by then, leaves behind. EDS's synchronous calls
// can wait, beyond the reach of any GCancellable, for threads EDS starts
// itself: creating the registry waits for its object-manager thread, which
// connects to the bus with nothing to cancel it. A thread left behind owns
// its result and whatever it was given, is never joined, and ends with the
// process.
template <typename Result>
class LeftBehindAtDeadline {
 public:
  // Starts `work`, which must not throw, on a thread of its own; throws
  // std::system_error when no thread can be started.
  template <typename Work>
  explicit LeftBehindAtDeadline(Work work) : state_(std::make_shared<State>()) {
    std::thread([state = state_, work = std::move(work)]() mutable {
      Result result = work();
      const std::lock_guard lock(state->mutex);
      state->result = std::move(result);
      state->ended.notify_all();
    }).detach();
  }

  // Whether the work ended by `deadline`, waiting until then at most.
  bool endsBy(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(state_->mutex);
    return state_->ended.wait_until(lock, deadline, [this] { return state_->result.has_value(); });
  }
  // The work's result, once endsBy has said that it ended.
  Result take() {
    const std::lock_guard lock(state_->mutex);
    return std::move(*state_->result);
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable ended;
    std::optional<Result> result;
  };
  std::shared_ptr<State> state_;
};

// How long calls that were cancelled at their deadline get to return before
// their threads are left behind: those that heed it return at once.
constexpr std::chrono::milliseconds kHeedingCancel{250};

std::string waitedTooLong(std::chrono::milliseconds limit) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(limit.count()) / 1000);
  return std::string("no answer within ") + seconds + " s";
}

// A string that GLib handed over, freed once copied.
std::string taken(const api::Functions& eds, char* text) {
  const Owned<char> owned(text, eds.g_free);
  return text != nullptr ? std::string(text) : std::string();
}

// The addresses and aliases of the enabled mail identities.
std::vector<std::string> identityAddresses(const api::Functions& eds,
                                           api::ESourceRegistry* registry) {
  std::vector<std::string> addresses;
  const OwnedList identities(
      eds, eds.e_source_registry_list_enabled(registry, api::kMailIdentityExtension));
  for (const api::GList* item = identities.get(); item != nullptr; item = item->next) {
    auto* identity = static_cast<api::ESourceMailIdentity*>(eds.e_source_get_extension(
        static_cast<api::ESource*>(item->data), api::kMailIdentityExtension));
    if (identity == nullptr) continue;
    const std::string address = taken(eds, eds.e_source_mail_identity_dup_address(identity));
    if (!address.empty()) addresses.push_back(addressKey(address));
    if (api::GHashTable* aliases = eds.e_source_mail_identity_get_aliases_as_hash_table(identity)) {
      // Keys are the addresses; nothing may be thrown through GLib's frames.
      struct Found {
        std::vector<std::string>& addresses;
        bool outOfMemory = false;
      } found{addresses};
      eds.g_hash_table_foreach(
          aliases,
          [](void* key, void*, void* into) {
            auto& found = *static_cast<Found*>(into);
            const auto* alias = static_cast<const char*>(key);
            if (alias == nullptr || *alias == '\0' || found.outOfMemory) return;
            try {
              found.addresses.push_back(addressKey(alias));
            } catch (const std::bad_alloc&) {
              found.outOfMemory = true;
            }
          },
          &found);
      eds.g_hash_table_unref(aliases);
      if (found.outOfMemory) throw std::bad_alloc();
    }
  }
  return addresses;
}

// The address a CalDAV calendar's back end gives as its own, from its
// source as the back end works it out: the one set for the account, else
// the login when it is an address.
std::optional<std::string> sourceAddress(const api::Functions& eds, api::ESource* source) {
  if (eds.e_source_has_extension(source, api::kWebdavExtension)) {
    auto* webdav =
        static_cast<api::ESourceWebdav*>(eds.e_source_get_extension(source, api::kWebdavExtension));
    const std::string address = taken(eds, eds.e_source_webdav_dup_email_address(webdav));
    if (!address.empty()) return address;
  }
  if (eds.e_source_has_extension(source, api::kAuthenticationExtension)) {
    auto* authentication = static_cast<api::ESourceAuthentication*>(
        eds.e_source_get_extension(source, api::kAuthenticationExtension));
    const std::string user = taken(eds, eds.e_source_authentication_dup_user(authentication));
    const std::size_t at = user.find('@');
    const std::size_t dot = user.rfind('.');
    if (at != std::string::npos && dot != std::string::npos && dot > at) return user;
  }
  return std::nullopt;
}

// Reads `calendar` from what EDS has cached of it below `cacheFolder`;
// false when it has to be asked instead.
bool readCached(const api::Functions& eds, api::ESource* source, const Window& window,
                const std::filesystem::path& cacheFolder, Calendar& calendar) {
  // A UID names the calendar's folder, as it names its source's file.
  const std::string& uid = calendar.uid;
  if (cacheFolder.empty() || uid.empty() || uid == "." || uid == ".." ||
      uid.find('/') != std::string::npos) {
    return false;
  }
  auto read = readCache(cacheFolder / uid / "cache.db", window);
  if (auto* uncached = std::get_if<Uncached>(&read)) {
    if (!uncached->why.empty()) {
      calendar.notes.push_back("its cache can't be read: " + uncached->why + "; asked EDS instead");
    }
    return false;
  }
  auto& cached = std::get<Cached>(read);
  if (const auto address = sourceAddress(eds, source)) {
    calendar.addresses.push_back(addressKey(*address));
  }
  calendar.events = eventTexts(std::move(cached.components), cached.zones);
  return true;
}

// Reads what the query finds in one calendar into `calendar`: from EDS's
// cache of it when it has one, else by connecting it. Runs on a thread of
// its own; touches nothing but `calendar`, its cache and what EDS gives it.
void readCalendar(const api::Functions& eds, api::ESource* source, const Window& window,
                  const std::filesystem::path& cacheFolder, const std::string& query,
                  api::GCancellable* cancellable, std::chrono::milliseconds limit,
                  Calendar& calendar) {
  if (readCached(eds, source, window, cacheFolder, calendar)) return;
  Error error(eds);
  // Why a call failed: the deadline, or what EDS said.
  const auto failed = [&](const char* doing) {
    calendar.problem = eds.g_cancellable_is_cancelled(cancellable)
                           ? waitedTooLong(limit) + ", skipped"
                           : std::string("cannot ") + doing + ": " + error.message() + ", skipped";
  };
  // No wait for "connected" (-1): a local calendar never reports it, and a
  // remote one is answered from what EDS has, as far as the deadline lets.
  const Owned<api::EClient> client(
      eds.e_cal_client_connect_sync(source, api::E_CAL_CLIENT_SOURCE_TYPE_EVENTS,
                                    static_cast<api::guint32>(-1), cancellable, error.out()),
      eds.g_object_unref);
  if (!client) return failed("connect");

  // The calendar's own address, set for CalDAV accounts. A back end that
  // has none may say so with an error.
  char* address = nullptr;
  if (eds.e_client_get_backend_property_sync(client.get(), api::kCalendarEmailAddress, &address,
                                             cancellable, error.out())) {
    const std::string own = taken(eds, address);
    if (!own.empty()) calendar.addresses.push_back(addressKey(own));
  } else if (eds.g_cancellable_is_cancelled(cancellable)) {
    return failed("ask its address");
  }

  auto* events = reinterpret_cast<api::ECalClient*>(client.get());
  api::GSList* found = nullptr;
  if (!eds.e_cal_client_get_object_list_sync(events, query.c_str(), &found, cancellable,
                                             error.out())) {
    return failed("query its events");
  }
  std::vector<Component> components;
  {
    const OwnedList list(eds, found);
    for (const api::GSList* item = list.get(); item != nullptr; item = item->next) {
      components.push_back(describe(taken(
          eds, eds.i_cal_component_as_ical_string(static_cast<api::ICalComponent*>(item->data)))));
    }
  }

  // Each TZID as the calendar defines it: a component from EDS has no
  // VCALENDAR around it, and a time whose TZID nothing defines would read as
  // local time. A TZID the calendar knows only by a built-in zone of another
  // name (libical's for a tz database name) is left to the reader, which
  // knows the tz database and Windows zone names itself.
  std::map<std::string, std::string, std::less<>> zones;
  std::set<std::string, std::less<>> asked;
  for (const Component& component : components) {
    for (const std::string& tzid : component.tzids) {
      if (!asked.insert(tzid).second) continue;
      api::ICalTimezone* zone = nullptr;  // the client's own
      if (!eds.e_cal_client_get_timezone_sync(events, tzid.c_str(), &zone, cancellable,
                                              error.out())) {
        if (eds.g_cancellable_is_cancelled(cancellable)) return failed("look up its time zones");
        continue;  // not defined by the calendar
      }
      const char* id = zone != nullptr ? eds.i_cal_timezone_get_tzid(zone) : nullptr;
      if (id == nullptr || tzid != id) continue;
      const Owned<api::ICalComponent> definition(eds.i_cal_timezone_get_component(zone),
                                                 eds.g_object_unref);
      if (definition)
        zones[tzid] = taken(eds, eds.i_cal_component_as_ical_string(definition.get()));
    }
  }
  calendar.events = eventTexts(std::move(components), zones);
}

// What one calendar's thread gives: the calendar, or the failure of one
// that ran out of memory.
struct CalendarRead {
  Calendar calendar;
  std::optional<std::string> failure;
};

// Everything readCalendars does, but for turning a thread that couldn't be
// started into a failure to read.
Reply readAll(const api::Functions& eds, const Window& window,
              const std::filesystem::path& cacheFolder, const Limits& limits) {
  Reply reply;
  // Once the registry has missed its deadline, EDS is not called again: its
  // thread may hold what any further call would wait for.
  struct Created {
    api::ESourceRegistry* registry = nullptr;
    GError* error = nullptr;
  };
  LeftBehindAtDeadline<Created> creating([&eds] {
    Created created;
    created.registry = eds.e_source_registry_new_sync(nullptr, &created.error);
    return created;
  });
  if (!creating.endsBy(std::chrono::steady_clock::now() + limits.registry)) {
    reply.problem = "Evolution Data Server: " + waitedTooLong(limits.registry) +
                    "; its calendars are not listed";
    return reply;
  }
  const Created created = creating.take();
  if (created.registry == nullptr) {
    // No bus to reach EDS on is no problem: the files alone are listed.
    // EDS that fails is.
    const Error error(eds, created.error);
    if (error.get() != nullptr && error.get()->domain != eds.g_io_error_quark()) {
      reply.problem =
          "Evolution Data Server: " + error.message() + "; its calendars are not listed";
    }
    return reply;
  }
  Owned<api::ESourceRegistry> registry(created.registry, eds.g_object_unref);
  reply.userAddresses = identityAddresses(eds, registry.get());

  OwnedList sources(eds,
                    eds.e_source_registry_list_enabled(registry.get(), api::kCalendarExtension));
  std::vector<std::pair<std::string, api::ESource*>> byUid;
  for (const api::GList* item = sources.get(); item != nullptr; item = item->next) {
    auto* source = static_cast<api::ESource*>(item->data);
    const char* uid = eds.e_source_get_uid(source);
    byUid.emplace_back(uid != nullptr ? uid : "", source);
  }
  std::sort(byUid.begin(), byUid.end());
  std::vector<Calendar> calendars(byUid.size());
  for (std::size_t i = 0; i < byUid.size(); ++i) {
    calendars[i].uid = byUid[i].first;
    calendars[i].displayName = taken(eds, eds.e_source_dup_display_name(byUid[i].second));
  }

  // Every calendar on a thread of its own, all cancelled at one deadline:
  // a calendar whose server never answers costs the limit, not the run. A
  // thread that doesn't return even then is left behind with the sources,
  // the registry and the cancellable it uses, which are then never released.
  const std::string query = queryFor(window, ical::localZoneName());
  Owned<api::GCancellable> cancellable(eds.g_cancellable_new(), eds.g_object_unref);
  const auto leaveToThreads = [&] {
    static_cast<void>(registry.release());
    sources.release();
    static_cast<void>(cancellable.release());
  };
  std::vector<LeftBehindAtDeadline<CalendarRead>> reads;
  try {
    reads.reserve(calendars.size());
    for (std::size_t i = 0; i < calendars.size(); ++i) {
      reads.emplace_back([&eds, source = byUid[i].second, window, cacheFolder, query,
                          cancellable = cancellable.get(), limit = limits.calendar,
                          read = CalendarRead{calendars[i], {}}]() mutable {
        try {
          readCalendar(eds, source, window, cacheFolder, query, cancellable, limit, read.calendar);
        } catch (const std::bad_alloc&) {
          read.failure = outOfMemory([&read] { return read.calendar.subject(); });
        } catch (const IncompleteRead& failure) {
          try {
            read.failure = failure.what();
          } catch (const std::bad_alloc&) {
            read.failure.emplace("out of memory");  // short enough to need no memory
          }
        }
        return std::move(read);
      });
    }
  } catch (...) {
    if (!reads.empty()) {
      eds.g_cancellable_cancel(cancellable.get());  // so that the started ones end at once
      leaveToThreads();
    }
    throw;
  }
  const auto deadline = std::chrono::steady_clock::now() + limits.calendar;
  // Waits for each until `time` at most; true when all have ended.
  const auto allEndBy = [&reads](std::chrono::steady_clock::time_point time) {
    return std::all_of(reads.begin(), reads.end(),
                       [time](auto& read) { return read.endsBy(time); });
  };
  if (!allEndBy(deadline)) {
    eds.g_cancellable_cancel(cancellable.get());
    if (!allEndBy(deadline + kHeedingCancel)) leaveToThreads();
  }

  std::optional<std::string> failure;
  for (std::size_t i = 0; i < reads.size(); ++i) {
    if (!reads[i].endsBy(deadline)) {
      calendars[i].problem = waitedTooLong(limits.calendar) + ", skipped";
      continue;
    }
    CalendarRead read = reads[i].take();
    if (read.failure && !failure) failure = std::move(read.failure);
    calendars[i] = std::move(read.calendar);
  }
  if (failure) throw IncompleteRead(*failure);
  reply.calendars = std::move(calendars);
  return reply;
}

}  // namespace

Reply readCalendars(const api::Functions& eds, const Window& window,
                    const std::filesystem::path& cacheFolder, const Limits& limits) {
  try {
    return readAll(eds, window, cacheFolder, limits);
  } catch (const std::system_error& failure) {
    // No thread to be had (for the registry, or for a calendar): some
    // calendars would go unread.
    throw IncompleteRead(std::string("Evolution Data Server: cannot start a thread: ") +
                         failure.what());
  }
}

}  // namespace quorvel::calendar::linuxstore::eds
