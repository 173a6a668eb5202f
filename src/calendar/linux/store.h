// The Linux store: the user's calendars from each of their sources (the
// store's folder of iCalendar files, GNOME's calendars through Evolution
// Data Server, Thunderbird's), read on one pool of threads by the iCalendar engine and
// merged in one order.
#pragma once

#include <algorithm>
#include <filesystem>
#include <memory>
#include <thread>

#include "calendar/calendar.h"

namespace quorvel::calendar::linuxstore {

struct StoreOptions {
  // Threads that read: at least one.
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
};

// The store over the files below `root`. With `evolutionConfig`, Evolution
// Data Server's configuration folder, EDS's calendars are listed beside the
// files whenever that folder and a session bus exist; with `home`, the
// user's home folder, so are the calendars of Thunderbird's profiles there.
// Without them, the files alone.
std::unique_ptr<CalendarStore> createStore(std::filesystem::path root, Diagnostics diagnostics,
                                           StoreOptions options = {},
                                           std::filesystem::path evolutionConfig = {},
                                           std::filesystem::path home = {});

}  // namespace quorvel::calendar::linuxstore
