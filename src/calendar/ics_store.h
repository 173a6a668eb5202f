// The calendar store over the user's iCalendar files.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

#include "calendar/calendar.h"

namespace quorvel::calendar::ics {

// Receives one line (without its line feed) for each file or event the store
// had to skip or guess at.
using Diagnostics = std::function<void(std::string_view line)>;

// `${XDG_DATA_HOME:-$HOME/.local/share}/calendars`.
std::filesystem::path defaultStoreRoot();

std::unique_ptr<CalendarStore> createIcsStore(std::filesystem::path root, Diagnostics diagnostics);

}  // namespace quorvel::calendar::ics
