// The store's folder of iCalendar files as a source of the store.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore::files {

// The calendars below `root`, the store's folder (folders.h: walkStore):
// each file is an item, read on a reading thread straight from its folder.
std::unique_ptr<Source> folderSource(std::filesystem::path root);

// Lists the calendar folders that other programs' settings name, saying
// what is wrong with a setting through its argument.
using FolderList =
    std::function<std::vector<std::filesystem::path>(const std::function<void(std::string)>& say)>;

// The calendar folders `folders` lists (khal's and vdirsyncer's), each
// read as the store's calendar folders are (folders.h: walkFolder), at
// places keyed by its path.
std::unique_ptr<Source> configuredFolderSource(FolderList folders);

}  // namespace quorvel::calendar::linuxstore::files
