// The Linux store: the user's calendars from each of their sources (the
// store's folder of iCalendar files, GNOME's calendars through Evolution
// Data Server, Thunderbird's, KDE's local calendars, khal's and vdirsyncer's
// folders), read on one pool of threads by the iCalendar engine and merged
// in one order.
#pragma once

#include <algorithm>
#include <filesystem>
#include <memory>
#include <thread>

#include "calendar/calendar.h"
#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore {

struct StoreOptions {
  // Threads that read: at least one.
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
};

// Where the user's calendars are kept besides the store's folder; each
// left empty is not read.
struct Elsewhere {
  // Evolution Data Server's configuration folder: with it, EDS's calendars
  // are listed whenever that folder and a session bus exist.
  std::filesystem::path evolutionConfig{};
  // EDS's cache folder, `${XDG_CACHE_HOME:-~/.cache}/evolution`: the
  // calendars EDS has cached are read from there, without waiting for their
  // servers.
  std::filesystem::path evolutionCache{};
  // The user's home folder: Thunderbird's profiles there, and `~` in
  // other programs' settings.
  std::filesystem::path home{};
  // `${XDG_CONFIG_HOME:-~/.config}`: KDE's, khal's and vdirsyncer's
  // settings there.
  std::filesystem::path configHome{};
  // The environment the settings' `$VARIABLE`s (and VDIRSYNCER_CONFIG) are
  // looked up in; none without it.
  Variable variable{};
};

// The store over the files below `root`, and the calendars `elsewhere`
// names.
std::unique_ptr<CalendarStore> createStore(std::filesystem::path root, Diagnostics diagnostics,
                                           StoreOptions options = {}, Elsewhere elsewhere = {});

}  // namespace quorvel::calendar::linuxstore
