// The iCalendar value types the store reads (RFC 5545, 3.3), from the text of
// a content line's value. Each reader takes the whole text and gives nothing
// when it isn't a value of that type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "calendar/ical/event.h"
#include "calendar/ical/recurrence.h"
#include "calendar/ical/time.h"

namespace quorvel::calendar::ical {

// A DATE (YYYYMMDD) or DATE-TIME (YYYYMMDDTHHMMSS, with a Z for UTC) that
// names a real day and time.
struct DateTime {
  CivilTime civil;
  bool isDate = false;
  bool utc = false;
};
std::optional<DateTime> parseDateTime(std::string_view text);

// A DURATION such as "P1W", "-P2DT3H" or "PT15M".
std::optional<Duration> parseDuration(std::string_view text);

// A UTC-OFFSET such as "+0530" or "-041530", in seconds east of UTC; its
// hours go to 23 (RFC 5545, 3.3.14).
std::optional<std::int64_t> parseUtcOffset(std::string_view text);

// TEXT with its escapes (\n, \N, \, \; and \\) undone. Every other byte is
// kept as it is, NUL and invalid UTF-8 included.
std::string unescapeText(std::string_view text);

// A RECUR value such as "FREQ=WEEKLY;BYDAY=FR;COUNT=3", for an event whose
// start is a DATE when `allDay`; or why it can't be used ("is invalid",
// "gives COUNT twice", ...): a part that isn't understood or given twice, or
// one out of its range.
Checked<RecurrenceRule> parseRule(std::string_view text, bool allDay);

// Calls `each` with every item of a comma-separated list (RDATE and EXDATE
// carry several values on one line).
template <typename Each>
void forEachItem(std::string_view list, Each each) {
  for (;;) {
    const std::size_t comma = list.find(',');
    each(list.substr(0, comma));
    if (comma == std::string_view::npos) return;
    list.remove_prefix(comma + 1);
  }
}

}  // namespace quorvel::calendar::ical
