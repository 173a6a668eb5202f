// The calendars a Thunderbird profile registers in its `prefs.js`, and who
// the user is in each.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "calendar/ical/identity.h"

namespace quorvel::calendar::linuxstore::thunderbird {

// A preference's value: a string (its JavaScript escapes undone), an
// integer or a boolean.
using PrefValue = std::variant<std::string, std::int64_t, bool>;
using Prefs = std::map<std::string, PrefValue, std::less<>>;

// The preferences a `prefs.js` sets, by name, read as Mozilla's prefs parser
// reads them: `user_pref("name", value);` statements (a later one wins) over
// the defaults that `pref`, `sticky_pref` and `lockPref` set (a locked one
// wins over them all). Comments (`//`, `/* */`, `#`) and any statement that
// doesn't parse are passed over. Linear in the text.
Prefs readPrefs(std::string_view text);

// Where a registered calendar's events are on this machine.
enum class Kept {
  local,    // in the profile's calendar-data/local.sqlite
  file,     // in an iCalendar file (`file`)
  cache,    // in the profile's calendar-data/cache.sqlite
  nowhere,  // a network calendar whose offline copy is turned off, or a file
            // URI naming another host
};

struct Calendar {
  std::string id;    // the registry's id, the databases' cal_id
  std::string name;  // its name as the user sees it (else its id), for lines
  Kept kept = Kept::local;
  std::filesystem::path file;  // for Kept::file
  // The user's addresses Thunderbird knows for it: its mail identity's.
  ical::Addresses addresses;
};

// The calendars `prefs` registers that may hold events and aren't
// disabled, by id. As in Thunderbird, a registration needs a type and a
// location (`uri`), and a flag (`disabled`, `cache.enabled`) is set by true,
// a non-zero number or a non-empty string. Calendars kept only in memory
// are left out.
std::vector<Calendar> registeredCalendars(const Prefs& prefs);

}  // namespace quorvel::calendar::linuxstore::thunderbird
