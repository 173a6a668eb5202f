// The store's folder of iCalendar files as a source of the store.
#pragma once

#include <filesystem>
#include <memory>

#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore::files {

// The calendars below `root`, the store's folder (folders.h: walkStore):
// each file is an item, read on a reading thread straight from its folder.
std::unique_ptr<Source> folderSource(std::filesystem::path root);

}  // namespace quorvel::calendar::linuxstore::files
