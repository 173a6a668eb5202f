// Reading iCalendar text into plain VEVENT data.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/ical/event.h"

namespace quorvel::calendar::ical {

struct ParsedCalendar {
  std::vector<VEvent> events;  // in the order of the text
  // One line for each thing that could not be used or had to be guessed,
  // without a trailing line feed.
  std::vector<std::string> problems;
  // Bytes and parameters the line reader examined: grows with the text alone.
  std::size_t work = 0;
};

// Reads every VEVENT of the text, at the top level or inside VCALENDARs. A
// VEVENT that can't be used (no start, an impossible date) is left out with a
// problem; text that holds no iCalendar data at all gives one problem; text
// nested more than 64 components deep gives one problem and nothing else.
// The zones of the system's tz database that its times name are looked up
// when a time in them is first needed, and throw IncompleteRead then when
// their files can't be read for want of a resource.
ParsedCalendar readCalendar(std::string_view text);

}  // namespace quorvel::calendar::ical
