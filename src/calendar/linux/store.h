// The calendar store over the user's iCalendar files.
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>

#include "calendar/calendar.h"
#include "calendar/ical/expand.h"

namespace quorvel::calendar::linuxstore {

// `${XDG_DATA_HOME:-$HOME/.local/share}/calendars`.
std::filesystem::path defaultStoreRoot();

// `${XDG_CONFIG_HOME:-$HOME/.config}/evolution`, where Evolution Data Server
// keeps the user's calendar sources.
std::filesystem::path defaultEvolutionConfig();

struct StoreOptions {
  // Threads that read and parse files: at least one.
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
};

// The store over the files below `root`. With `evolutionConfig`, Evolution
// Data Server's configuration folder, EDS's calendars are listed beside the
// files whenever that folder and a session bus exist; without it, the files
// alone.
std::unique_ptr<CalendarStore> createStore(std::filesystem::path root, Diagnostics diagnostics,
                                           StoreOptions options = {},
                                           std::filesystem::path evolutionConfig = {});

}  // namespace quorvel::calendar::linuxstore
