// The text side of reading EDS's calendars: the query a calendar is asked,
// and the iCalendar text its answer is turned back into, so that the store
// reads EDS's events with the same reader and expansion as its files.
//
// Pure functions of their arguments: no EDS is needed to run them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/window.h"

namespace quorvel::calendar::linuxstore::eds {

// The query for the events of `window` (the store's search window): every
// event EDS finds in the window widened by a day each side, in the user's
// zone `zoneName` when it has one, and every recurring event and override
// wherever it lies. The store's own expansion picks the occurrences. The day
// each side makes up for the UTC that EDS reads floating times and dates in
// (no zone is a day from UTC), and the recurring events and overrides are all
// asked for because EDS's own expansion leaves out the overrides that moved
// an occurrence away from the window, whose original slot must not be listed.
std::string queryFor(const Window& window, std::string_view zoneName);

// The seconds the query's range starts and ends at: the window widened by a
// day each side, in whole seconds within the years 1 to 9999.
struct QueryRange {
  std::int64_t start;
  std::int64_t end;
};
QueryRange queryRange(const Window& window);

// One VEVENT as EDS gave it, serialised, with what grouping it needs.
struct Component {
  std::string text;                // BEGIN:VEVENT ... END:VEVENT
  std::string uid;                 // its UID
  std::string recurrenceId;        // its RECURRENCE-ID's value; empty but for an override
  std::vector<std::string> tzids;  // the TZIDs its lines name, each once, sorted
};

// Reads the UID, RECURRENCE-ID and TZIDs of one serialised component.
Component describe(std::string text);

// The VCALENDAR of one event: a series (or single event) and its overrides.
struct EventText {
  std::string uid;
  std::string text;
};

// Groups components by UID, into one VCALENDAR each that holds the
// definitions of the zones they name (`zones`: TZID to VTIMEZONE text; a
// TZID not in it is left to the reader, which knows the tz database and
// Windows names). Groups come sorted by UID, each with its series first and
// its overrides by RECURRENCE-ID, so that the same calendar always gives the
// same texts, whatever order EDS answered in.
std::vector<EventText> eventTexts(std::vector<Component> components,
                                  const std::map<std::string, std::string, std::less<>>& zones);

}  // namespace quorvel::calendar::linuxstore::eds
