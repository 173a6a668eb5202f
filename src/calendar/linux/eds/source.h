// GNOME's calendars, through Evolution Data Server (EDS), as a source of the
// store.
#pragma once

#include <filesystem>
#include <memory>

#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore::eds {

// The calendars EDS lists (calendars.h), when EDS may be asked: a session
// bus is there and `evolutionConfig`, EDS's configuration folder, exists
// (library.h). They are asked on a thread of their own from the start of
// the read, those EDS has cached read from its caches below
// `evolutionCache` (`${XDG_CACHE_HOME:-~/.cache}/evolution`; empty: none
// is); each event (a series and its overrides, by UID) is an item, and
// each calendar a piece of work. A calendar that can't be read is skipped
// with a line.
std::unique_ptr<Source> edsSource(std::filesystem::path evolutionConfig,
                                  std::filesystem::path evolutionCache = {});

}  // namespace quorvel::calendar::linuxstore::eds
