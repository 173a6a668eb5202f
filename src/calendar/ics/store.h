// The calendar store over the user's iCalendar files.
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>

#include "calendar/calendar.h"
#include "calendar/ics/expand.h"

namespace quorvel::calendar::ics {

// `${XDG_DATA_HOME:-$HOME/.local/share}/calendars`.
std::filesystem::path defaultStoreRoot();

struct IcsStoreOptions {
  // Threads that read and parse files: at least one.
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
};

std::unique_ptr<CalendarStore> createIcsStore(std::filesystem::path root, Diagnostics diagnostics,
                                              IcsStoreOptions options = {});

}  // namespace quorvel::calendar::ics
