// Thunderbird's calendars, as a source of the store.
#pragma once

#include <filesystem>
#include <memory>

#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore::thunderbird {

// The enabled calendars of the Thunderbird profiles in use below `home`
// (profiles.h), as their `prefs.js` registers them (prefs.h): local ones and
// the offline copies of network ones from the profile's databases
// (database.h, items.h), and iCalendar files on this machine, unless a
// source before it reads that file already. Each profile is a piece of
// work; each event (a series and its overrides) an item. A profile,
// database or calendar that can't be read is skipped with a line. With an
// empty `home`, nothing.
std::unique_ptr<Source> thunderbirdSource(std::filesystem::path home);

}  // namespace quorvel::calendar::linuxstore::thunderbird
