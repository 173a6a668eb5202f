// Windows time-zone names, as Outlook and Exchange write them in a TZID, and
// the tz-database zone each stands for.
#pragma once

#include <optional>
#include <string_view>

namespace quorvel::calendar::ical {

// The tz-database zone for a Windows zone name ("W. Europe Standard Time" gives
// "Europe/Berlin"), compared without regard to ASCII case; nothing for any other name.
std::optional<std::string_view> windowsZone(std::string_view windowsName);

}  // namespace quorvel::calendar::ical
