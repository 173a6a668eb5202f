// The store's occurrences as the platform's events.
#pragma once

#include <memory>

#include "calendar/calendar.h"
#include "calendar/ical/event.h"

namespace quorvel::calendar::linuxstore {

// The event an occurrence is, with the platform's numbers for its
// availability and its attendees' answers, as the system calendar numbers
// them.
std::unique_ptr<Event> eventOf(ical::Occurrence occurrence);

}  // namespace quorvel::calendar::linuxstore
