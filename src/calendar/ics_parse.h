// Reading iCalendar text into plain VEVENT data.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "calendar/ics_event.h"

namespace quorvel::calendar::ics {

struct ParsedCalendar {
  std::vector<VEvent> events;  // in the order of the text
  // One line for each thing that could not be used or had to be guessed,
  // without a trailing line feed.
  std::vector<std::string> problems;
  // Keeps the time zones the text defines alive for as long as the events
  // refer to them.
  std::shared_ptr<const void> zones;
};

// Reads every VEVENT of the text, at the top level or inside VCALENDARs. A
// VEVENT that can't be used (no start, an impossible date) is left out with a
// problem; text that holds no iCalendar data at all gives one problem.
ParsedCalendar parseCalendar(const std::string& text);

// An RRULE value such as "FREQ=WEEKLY;BYDAY=FR;COUNT=3" for an event that
// starts at `start`; nothing when it can't be used.
std::optional<RecurrenceRule> ruleFromText(const std::string& text, const TimeValue& start);

}  // namespace quorvel::calendar::ics
