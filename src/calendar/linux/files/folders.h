// The store's folder of iCalendar files on disk (the layout vdirsyncer and
// khal use): its calendars' folders, their files and their `addresses`
// files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/ical/file.h"
#include "calendar/ical/identity.h"
#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore::files {

// The addresses in the text of an `addresses` file: one per line, blank lines
// ignored, "mailto:" optional, compared without regard to case.
std::vector<std::string> parseAddresses(std::string_view text);

// The addresses of the `addresses` file in the store's folder `root`, which
// count as the user's in every calendar of every source; a line about one
// that can't be read goes to `say`, at its place.
ical::Addresses storeAddresses(const std::filesystem::path& root,
                               const std::function<void(Place, std::string)>& say);

// Walks the store below `root`: each folder directly below it is a calendar
// of *.ics files, and each *.ics file directly in it is a calendar of its own;
// names starting with a dot are left alone, and a missing root (or a link to
// nothing) is an empty store. Each folder is claimed (the root first), and
// its files handed to `gathering` as work a batch at a time, each with the
// user's addresses of its folder's `addresses` file and `storeAddresses`;
// each entry that can't be listed or read gets a line ("path: reason").
// Nothing is kept but the names of the calendar folders, so that a walk
// over any number of files takes little memory. A folder that can't be
// listed for want of a resource throws IncompleteRead.
void walkStore(const std::filesystem::path& root, const ical::Addresses& storeAddresses,
               Gathering& gathering);

// The same for one calendar folder at `path` (kept by another program, such
// as khal or vdirsyncer, outside the store): its *.ics files, at places
// keyed by its path. A folder that is absent or can't be listed gets a line.
void walkFolder(const std::filesystem::path& path, const ical::Addresses& storeAddresses,
                Gathering& gathering);

// Why the store's root can't be read (it can't be opened or listed), or
// nothing when it can, when it is absent, or when the system lacked a
// resource to tell (reading the store then says so). Allocates nothing unless
// it has something to say.
std::optional<std::string> unreadableRoot(const std::filesystem::path& root);

}  // namespace quorvel::calendar::linuxstore::files
