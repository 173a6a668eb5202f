// Zones of the system's tz database (the zoneinfo files of the `tzdata`
// package), read through Google's CCTZ.
//
// CCTZ reads only the zone it is asked for, honours the rule that ends each
// zoneinfo file (so dates after 2037 get their daylight-saving time), and
// keeps each zone it has loaded for the rest of the process behind a lock of
// its own: threads share nothing else of this file. A zone is first loaded
// without that rule, which CCTZ would unfold into 400 years of changes, and
// whole only when a time after the file's last listed change is asked for. The
// tool reads the zone files itself and hands CCTZ their bytes, so that a zone
// that doesn't exist can be told from one that couldn't be read for want of
// descriptors or memory, and each file is read once.
#pragma once

#include <memory>
#include <string_view>

#include "calendar/ical/time.h"

namespace quorvel::calendar::ical {

// The zone a TZID names: a tz database name ("Europe/Berlin"), the same after
// a vendor's prefix ("/mozilla.org/20070129_1/Europe/Berlin"), or a Windows
// zone name ("W. Europe Standard Time"); null when there is no such zone.
// Throws IncompleteRead when the zone's file exists but couldn't be read for
// want of a resource.
std::unique_ptr<Zone> systemZone(std::string_view tzid);

}  // namespace quorvel::calendar::ical
