// Zones of the system's tz database (the TZif files of the `tzdata`
// package, below TZDIR or /usr/share/zoneinfo), read by the tool itself
// (tzif.h), and the local zone the TZ variable or /etc/localtime names.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "calendar/ical/time.h"

namespace quorvel::calendar::ical {

// The zone a TZID names: a tz database name ("Europe/Berlin"), the same after
// a vendor's prefix ("/mozilla.org/20070129_1/Europe/Berlin"), or a Windows
// zone name ("W. Europe Standard Time"); null when there is no such zone, or
// its file isn't one the tool can read (tzif.h). Only regular files are
// opened. Throws IncompleteRead when the zone's file couldn't be read for want
// of a resource.
std::unique_ptr<Zone> systemZone(std::string_view tzid);

// The local zone, as the C library reads it but through the tool's own
// reader: TZ as a zone name (with or without a leading ':'), an absolute
// path to a TZif file, or a POSIX TZ string ("CET-1CEST,M3.5.0,M10.5.0/3");
// without TZ, /etc/localtime. An empty TZ, a TZ that neither names a
// readable zone nor parses, and no /etc/localtime all mean UTC.
struct LocalZone {
  std::unique_ptr<const Zone> zone;
  // Its tz database name, when it has one: TZ's, or the one below
  // "zoneinfo/" that /etc/localtime links to.
  std::string name;
};
LocalZone readLocalZone(const char* tz, const char* localtimePath = "/etc/localtime");

// Reads the process's local zone (TZ, /etc/localtime) for a run, before any
// thread uses it: the one process-wide zone, which threads then only read.
// Throws IncompleteRead when its file couldn't be read for want of a
// resource.
void loadLocalZone();
// The local zone loaded last, loaded on first use if none was.
const Zone& localZone();
// Its name, for those who can only name it; empty when it has none.
std::string_view localZoneName();

}  // namespace quorvel::calendar::ical
