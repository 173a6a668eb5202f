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
  // Set when a zone the text names couldn't be read for want of a resource
  // (descriptors, memory): the text can't be read as it is meant, and nothing
  // else of the result counts.
  std::optional<std::string> failure;
  // The same, for a zone of the system's tz database, which is looked up
  // only when a time in it is first needed: look after using the events.
  std::shared_ptr<std::optional<std::string>> lateFailure;
  // Bytes and parameters the line reader examined: grows with the text alone.
  std::size_t work = 0;
};

// Reads every VEVENT of the text, at the top level or inside VCALENDARs. A
// VEVENT that can't be used (no start, an impossible date) is left out with a
// problem; text that holds no iCalendar data at all gives one problem; text
// nested more than 64 components deep gives one problem and nothing else.
ParsedCalendar parseCalendar(std::string_view text);

}  // namespace quorvel::calendar::ical
