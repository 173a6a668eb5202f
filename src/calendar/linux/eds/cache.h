// What EDS has cached of a remote calendar (CalDAV, Google, webcal...),
// read without asking EDS.
//
// EDS answers every request about such a calendar on one queue per
// calendar, behind the refresh that connecting to it starts: with a slow or
// silent server, even a query that EDS answers from its cache waits for the
// server first. So a calendar that EDS has cached is read from that cache,
// `cache.db` in its folder below `${XDG_CACHE_HOME:-~/.cache}/evolution/
// calendar/`, a SQLite database that EDS's calendar factory writes. It is
// read into memory (sqlite/database.h), never opened in place, and asked
// what the query EDS is asked would find (text.h: queryFor), or more: the
// store's own expansion picks the occurrences.
//
// The cache is that of EDS 3.46 (version 4 of its layout): one row per
// component (a series, or one of its overrides, as a bare VEVENT), the
// bounds of the times it occurs in as UTC text, which EDS selects rows by
// (none for floating times and dates; a series stored before its zone has
// its zone's wall clock there, which the query's day each side covers), the
// rows deleted while offline kept with state 3 until synchronised, and the
// calendar's own VTIMEZONEs beside them (not the tz database's, which EDS
// knows by name, as the reader does).
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "calendar/linux/eds/text.h"
#include "calendar/window.h"

namespace quorvel::calendar::linuxstore::eds {

// The layout version of EDS's caches that is read.
inline constexpr const char* kCacheVersion = "4";

struct Cached {
  std::vector<Component> components;
  // TZID to VTIMEZONE text, for the zones the calendar defines itself.
  std::map<std::string, std::string, std::less<>> zones;
};

// Why a calendar is not read from its cache: empty when it has none to read
// (no cache, as for local calendars, or never synchronised), else why its
// cache can't be used (damaged, being written, of a layout not known).
struct Uncached {
  std::string why;
};

// Reads what the cache at `path` holds for `window` (the store's search
// window). Throws IncompleteRead (ical::failIncomplete) or std::bad_alloc
// when the system lacks a resource to read it.
std::variant<Cached, Uncached> readCache(const std::filesystem::path& path, const Window& window);

}  // namespace quorvel::calendar::linuxstore::eds
