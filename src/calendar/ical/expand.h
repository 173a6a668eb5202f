// From iCalendar text and a window to the occurrences the store lists.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/ical/event.h"
#include "calendar/ical/identity.h"

namespace quorvel::calendar::ical {

// The part of a requested window the store searches: nothing for a window
// that is empty, reversed or not a number; else the window clamped to the
// years 1 to 9999 and cut to its first four years (1461 days), as the system
// calendar cuts its queries.
std::optional<Window> searchWindow(const Window& requested);

// An event lists at most this many occurrences in one window (a daily one
// has at most 1462 in four years)...
inline constexpr int kMaxOccurrences = 2000;
// ...and a sub-daily one, which can repeat more often than daily (a rule
// finer than daily, several times of day, or several daily rules), at most
// this many...
inline constexpr int kMaxSubDailyOccurrences = 1000;
// ...and all the sub-daily events of a run together at most this many, the
// earliest.
inline constexpr std::size_t kMaxSubDailyOccurrencesPerRun = 10000;
// Occurrences of sub-daily events are kept to the earliest of the run's cap
// whenever more than this many are held, so that however many there are,
// little more than the run can list is ever held.
inline constexpr std::size_t kSubDailyTrimAt = 2 * kMaxSubDailyOccurrencesPerRun;

// Steps of rule expansion (periods, days and times tried) that all the
// events of one text may take together, besides each rule's own budget.
inline constexpr std::int64_t kTextBudget = 2000000;

struct TextEvents {
  // Each event's occurrences in time order, events in the order of the text.
  std::vector<Occurrence> occurrences;
  std::vector<std::string> problems;  // one line each, without a line feed
  // Whether occurrences of sub-daily events were left out for the run's cap.
  bool subDailyCut = false;
};

// The occurrences in `window` (a window searchWindow gave) of the events of
// one calendar's text, for a user whose addresses are `userAddresses`. Of
// those of sub-daily events, only the earliest kMaxSubDailyOccurrencesPerRun
// are kept: no run lists more. An override (RECURRENCE-ID) replaces the
// occurrence of the event with the same UID in the same text that it names;
// EXDATEs remove occurrences; RDATEs add them. Throws IncompleteRead when a
// zone of the system's tz database that it needs can't be read for want of
// a resource.
TextEvents eventsInText(std::string_view text, const Window& window,
                        const Addresses& userAddresses);

// Keeps, of the occurrences of sub-daily events in `lists`, the earliest
// kMaxSubDailyOccurrencesPerRun by start and end, then by place: the lists in
// the order given, each in its own order. The others are removed, the rest
// keep their order. True when some were removed.
bool keepEarliestSubDaily(std::span<std::vector<Occurrence>* const> lists);

}  // namespace quorvel::calendar::ical
