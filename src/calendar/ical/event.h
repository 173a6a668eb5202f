// A VEVENT as plain data, read out of the parsed iCalendar text, and the
// occurrences it presents in a window.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calendar/ical/recurrence.h"
#include "calendar/ical/time.h"
#include "calendar/window.h"

namespace quorvel::calendar::ical {

// A DATE or DATE-TIME value. Floating times carry the local zone, so `zone`
// is never null; for a DATE it is the local zone too.
struct TimeValue {
  std::int64_t wall = 0;  // wall seconds in `zone`; midnight for a DATE
  bool isDate = false;
  const Zone* zone = nullptr;
};

// RFC 5545's two kinds of length: days and weeks are nominal (calendar days
// on the wall clock), hours, minutes and seconds are exact.
struct Duration {
  std::int64_t days = 0;
  std::int64_t seconds = 0;
};

// An RDATE: a start, or a period with its own end or length.
struct RecurrenceDate {
  TimeValue start;
  std::optional<TimeValue> end;
  std::optional<Duration> duration;
};

// How an event shows the user's time (TRANSP, or Outlook's busy status).
enum class Availability { busy, free, tentative, unavailable };

// An attendee's answer to an invitation (PARTSTAT); NEEDS-ACTION when it
// gives none, or one the tool doesn't know.
enum class Participation {
  needsAction,
  accepted,
  declined,
  tentative,
  delegated,
  completed,
  inProcess,
};

struct Attendee {
  std::string address;  // as the ATTENDEE gives it, "mailto:" and all
  Participation status = Participation::needsAction;
};

struct VEvent {
  int number = 0;  // place among the text's VEVENTs, from 1
  TimeValue start;
  std::optional<TimeValue> end;
  std::optional<Duration> duration;
  std::optional<std::string> title;
  Availability availability = Availability::busy;
  std::optional<std::vector<Attendee>> attendees;  // empty without any ATTENDEE

  std::string uid;
  // Set on an override: the original start of the occurrence it replaces.
  std::optional<TimeValue> recurrenceId;
  std::vector<RecurrenceRule> rules;  // the usable RRULEs
  std::vector<RecurrenceDate> dates;  // RDATEs
  std::vector<TimeValue> exceptions;  // EXDATEs
  // The zones of the system's tz database its times name, looked up only
  // when one of its times is needed; one that nobody knows reads as local
  // time (Zone::unknownName).
  std::vector<const Zone*> systemZones;
  // Keeps the zones its times point at alive as long as any copy of it.
  std::shared_ptr<const std::vector<std::shared_ptr<const Zone>>> zones;

  bool recurs() const { return !rules.empty() || !dates.empty(); }
};

// What one occurrence shows of its event. Occurrences of one event share it.
struct EventDetails {
  // An attendee as the user sees it: whether it is the user, and its answer.
  struct ShownAttendee {
    bool isCurrentUser = false;
    Participation status = Participation::needsAction;
  };
  std::optional<std::string> title;
  bool isAllDay = false;
  Availability availability = Availability::busy;
  std::optional<std::vector<ShownAttendee>> attendees;
};

// One occurrence as the store presents it, in seconds since the epoch.
struct Occurrence {
  std::int64_t start = 0;
  std::int64_t end = 0;        // presented end: 23:59:59 of the last day for all-day events
  std::int64_t coveredTo = 0;  // the true end, used to match the window
  // The start it was planned at: an override's RECURRENCE-ID, else its start.
  std::int64_t originalStart = 0;
  // Of a sub-daily event, one that can repeat more often than daily; a run
  // lists only so many.
  bool subDaily = false;
  std::shared_ptr<const EventDetails> details;
};

// How long each occurrence of an event lasts: a shift of the wall clock (the
// days of a DURATION, or of an all-day event) followed by exact seconds (the
// hours, minutes and seconds of a DURATION, or the first occurrence's own
// length when it ends at a DTEND).
struct Length {
  std::int64_t wall = 0;
  std::int64_t exact = 0;
};
Length lengthOf(const VEvent& event);

// The occurrence of `event` that starts at wall-clock time `startWall` in the
// zone of the event's start, without its details.
Occurrence occurrenceAt(const VEvent& event, const Length& length, std::int64_t startWall);

}  // namespace quorvel::calendar::ical
