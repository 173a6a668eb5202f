// The layout of an iCalendar store on disk, and reading its files safely.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quorvel::calendar::ics {

// The contents of a regular file, or why it couldn't be read. Anything that
// isn't a regular file (a FIFO, a device, a folder) is refused without
// blocking on it.
std::variant<std::string, std::string> readRegularFile(const std::filesystem::path& path);

struct CalendarFiles {
  std::filesystem::path folder;
  std::vector<std::string> files;          // names of its *.ics files, in order
  std::vector<std::string> userAddresses;  // lower case, without "mailto:"
};

struct StoreLayout {
  std::vector<CalendarFiles> calendars;
  // Each "path: reason" for a calendar or file that could not be listed.
  std::vector<std::string> problems;
};

// Lists the store below `root`: each folder directly below it is a calendar
// of *.ics files, and each *.ics file directly in it is a calendar of its own.
// Names starting with a dot are left alone. A missing root is an empty store.
StoreLayout listStore(const std::filesystem::path& root);

// Why the store's root can't be read (it can't be opened or listed), or
// nothing when it can, or when it is absent.
std::optional<std::string> unreadableRoot(const std::filesystem::path& root);

// The addresses in the text of an `addresses` file: one per line, blank lines
// ignored, "mailto:" optional, compared without regard to case.
std::vector<std::string> parseAddresses(const std::string& text);

}  // namespace quorvel::calendar::ics
