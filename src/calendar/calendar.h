// The calendar platform as the tool sees it: a store of events that is asked for
// access, queried for a time window and read event by event.
//
// Only C++ types appear here, so that each back end (the system calendar
// framework on macOS, the user's iCalendar files elsewhere) implements the same
// interface in a file of its own, and the tests drive the run with a fake.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::calendar {

// A point in time, in seconds since 1970-01-01T00:00:00Z (the platform's date
// type, reduced to what the tool reads from it).
struct Instant {
  double secondsSince1970 = 0;
};

// The error that may come with an access decision: only its human-readable
// description is ever used.
struct AccessError {
  std::string localizedDescription;
};

// Called by the platform with the access decision, on a thread of its own
// choosing, possibly before the request call has returned and possibly more
// than once.
using AccessCompletion = std::function<void(bool granted, std::optional<AccessError> error)>;

// The kind of item an access request of the older form is about.
enum class EntityType : std::int64_t { event = 0, reminder = 1 };

struct OperatingSystemVersion {
  std::int64_t major = 0;
  std::int64_t minor = 0;
  std::int64_t patch = 0;
};

// One attendee of an event.
class Participant {
 public:
  virtual ~Participant() = default;
  virtual bool isCurrentUser() const = 0;
  // A participation status code: 1 pending, 2 accepted, 3 declined,
  // 4 tentative, 5 delegated, 6 completed, 7 in process, 0 unknown.
  virtual std::int64_t participantStatus() const = 0;
};

using Participants = std::vector<std::unique_ptr<Participant>>;

// One event, or one occurrence of a recurring event, as the store presents it.
// Every "or nothing" of the platform is an empty optional.
class Event {
 public:
  virtual ~Event() = default;
  virtual std::optional<Instant> startDate() const = 0;
  virtual std::optional<Instant> endDate() const = 0;
  virtual std::optional<std::string> title() const = 0;
  virtual bool isAllDay() const = 0;
  // An availability code: -1 not supported, 0 busy, 1 free, 2 tentative,
  // 3 unavailable.
  virtual std::int64_t availability() const = 0;
  // Empty when the event has no attendees at all (not an empty list).
  virtual std::optional<Participants> attendees() const = 0;
};

using Events = std::vector<std::unique_ptr<Event>>;

// Thrown by a store's fetch when the calendar could not be read completely
// (the system lacked descriptors or memory while reading it), so that a
// partial list never passes for the whole. The system calendar's fetch has no
// failure, and never throws it.
class IncompleteRead : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The store's query object; only the store that made it can use it.
class Predicate {
 public:
  virtual ~Predicate() = default;
};

// The user's calendars. The store outlives every event it returned.
class CalendarStore {
 public:
  virtual ~CalendarStore() = default;

  // The two forms of the access request; each calls `completion` with the
  // decision, on some thread other than the caller's or inside the call.
  virtual void requestFullAccessToEvents(AccessCompletion completion) = 0;
  virtual void requestAccess(EntityType entityType, AccessCompletion completion) = 0;

  // A query over all calendars for events between `start` and `end`.
  virtual std::unique_ptr<Predicate> predicateForEvents(Instant start, Instant end) = 0;
  // The events matching `predicate`, in the store's order; possibly none.
  virtual Events eventsMatching(const Predicate& predicate) = 0;
};

// Receives one line (without its line feed) for each part of the store that
// was skipped or guessed at while reading it, on the thread that fetches.
using Diagnostics = std::function<void(std::string_view line)>;

// The operating system's side of the run: creating the store, and asking
// which version of the system this is.
class Platform {
 public:
  virtual ~Platform() = default;
  // A store whose lines about what it skipped go to `diagnostics`.
  virtual std::unique_ptr<CalendarStore> createStore(Diagnostics diagnostics) = 0;
  virtual bool isOperatingSystemAtLeast(OperatingSystemVersion version) = 0;
};

// The platform of the machine the tool was built for. Lives for the whole
// process.
Platform& systemPlatform();

}  // namespace quorvel::calendar
