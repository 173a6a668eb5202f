// From iCalendar text and a window to the occurrences the store lists.
#pragma once

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "calendar/ics_event.h"

namespace quorvel::calendar::ics {

// The part of a requested window the store searches: nothing for a window
// that is empty, reversed or not a number; else the window clamped to the
// years 1 to 9999 and cut to its first four years (1461 days), as the system
// calendar cuts its queries.
std::optional<Window> searchWindow(const Window& requested);

// An event repeating more often than daily lists at most this many
// occurrences in one window.
inline constexpr int kMaxFineOccurrences = 1000;

struct TextEvents {
  // Each event's occurrences in time order, events in the order of the text.
  std::vector<Occurrence> occurrences;
  std::vector<std::string> problems;  // one line each, without a line feed
};

// How a text is read: `quick` first looks whether the text can hold anything
// for the window at all and skips parsing it when it can't; `full` always
// parses. Both give the same result.
enum class Scan { quick, full };

// The occurrences in `window` of the events of one calendar file. An override
// (RECURRENCE-ID) replaces the occurrence of the event with the same UID in
// the same text that it names; EXDATEs remove occurrences; RDATEs add them.
TextEvents eventsInText(const std::string& text, const Window& window,
                        const std::unordered_set<std::string>& userAddresses,
                        Scan scan = Scan::quick);

}  // namespace quorvel::calendar::ics
