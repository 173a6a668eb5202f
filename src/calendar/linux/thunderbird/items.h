// Thunderbird's stored events turned back into iCalendar text, so that the
// store reads them with the same engine as its files and EDS's events, and
// the three can never disagree.
//
// A calendar database of Thunderbird's (local.sqlite, cache.sqlite) keeps an
// event in rows: its times as instants with the zone they were written in,
// its title, and its other properties (recurrence, attendees, TRANSP...) as
// iCalendar lines of their own. Each time's wall clock is worked out again in
// its zone, as the engine reads that zone, so that a series recurs on the
// wall clock as it would from a file.
#pragma once

#include <map>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "calendar/ical/identity.h"

namespace quorvel::calendar::linuxstore::sqlite {
class Database;
class Row;
}

namespace quorvel::calendar::linuxstore::thunderbird {
using sqlite::Database;
using sqlite::Row;

// One event, a series and its overrides, as one VCALENDAR.
struct EventText {
  std::string uid;
  std::string text;
};

// What a database holds for the calendars asked about, by calendar id.
struct Stored {
  // Each calendar's events, by UID; a series first, then its overrides by
  // the start they replace.
  std::map<std::string, std::vector<EventText>, std::less<>> events;
  // The user's address on a CalDAV server, as the server gave it.
  std::map<std::string, ical::Addresses, std::less<>> addresses;
};

// The schema version these databases have had since Thunderbird 91.
inline constexpr int kSchemaVersion = 23;

// Reads the events of the calendars `wanted` (by id) in `database`, with a
// handful of queries for all of them. Rows deleted while offline are left
// out, as are overrides without their series. Returns why the database
// can't be read: a schema version other than kSchemaVersion, a table or
// column missing. Throws IncompleteRead when a zone's file can't be read for
// want of a resource, std::bad_alloc when memory runs out.
std::variant<Stored, std::string> readStored(const Database& database,
                                             const std::set<std::string, std::less<>>& wanted);

}  // namespace quorvel::calendar::linuxstore::thunderbird
