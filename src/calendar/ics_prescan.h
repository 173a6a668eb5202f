// A quick look at a calendar file before parsing it.
#pragma once

#include <string_view>

#include "calendar/ics_event.h"

namespace quorvel::calendar::ics {

// True only when the text certainly gives nothing for `window`, neither an
// event nor a line about a problem, so that parsing it can be skipped: one
// VCALENDAR holding one plain VEVENT (no RRULE, RDATE, EXDATE or
// RECURRENCE-ID) whose start and end, whatever their zones, lie far outside
// the window, with every line in the shape a full parse takes without
// complaint. Anything else, or anything unusual, gives false and goes to the
// full parse.
bool certainlyOutside(std::string_view text, const Window& window);

}  // namespace quorvel::calendar::ics
