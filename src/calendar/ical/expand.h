// From iCalendar text and a window to the occurrences the store lists.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "calendar/ical/event.h"

namespace quorvel::calendar::ical {

// The part of a requested window the store searches: nothing for a window
// that is empty, reversed or not a number; else the window clamped to the
// years 1 to 9999 and cut to its first four years (1461 days), as the system
// calendar cuts its queries.
std::optional<Window> searchWindow(const Window& requested);

// An event lists at most this many occurrences in one window (a daily one
// has at most 1462 in four years)...
inline constexpr int kMaxOccurrences = 2000;
// ...and one that can repeat more often than daily (a rule finer than daily,
// several times of day, or several daily rules) at most this many...
inline constexpr int kMaxFineOccurrences = 1000;
// ...and all such events of a run together at most this many, the earliest.
inline constexpr std::size_t kMaxFineOccurrencesPerRun = 10000;

// Steps of rule expansion (periods, days and times tried) that all the
// events of one text may take together, besides each rule's own budget.
inline constexpr std::int64_t kTextBudget = 2000000;

struct TextEvents {
  // Each event's occurrences in time order, events in the order of the text.
  std::vector<Occurrence> occurrences;
  std::vector<std::string> problems;  // one line each, without a line feed
  // Why the text couldn't be read completely (a zone it names couldn't be
  // read for want of a resource); then nothing else counts.
  std::optional<std::string> failure;
  // Whether occurrences of events repeating more often than daily were left
  // out for the run's cap.
  bool fineCut = false;
};

// The occurrences in `window` of the events of one calendar file. Of those of
// events repeating more often than daily, only the earliest
// kMaxFineOccurrencesPerRun are kept: no run lists more. An override
// (RECURRENCE-ID) replaces the occurrence of the event with the same UID in
// the same text that it names; EXDATEs remove occurrences; RDATEs add them.
TextEvents eventsInText(std::string_view text, const Window& window,
                        const std::unordered_set<std::string>& userAddresses);

}  // namespace quorvel::calendar::ical
