// The layout of an iCalendar store on disk, and reading its files safely.
#pragma once

#include <compare>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quorvel::calendar::ics {

// A file's contents, or why it couldn't be read.
struct FileRead {
  std::string contents;
  std::string problem;  // empty when the file was read
  // The problem is the system's (no descriptor or memory to spare), not the
  // file's: the store can't be read completely.
  bool incomplete = false;
};

// The contents of a regular file. Anything that isn't a regular file (a FIFO,
// a device, a folder) is refused without opening it, so that no writer
// waiting on a FIFO is let through.
FileRead readRegularFile(const std::filesystem::path& path);

// Whether a failed call's errno says only that the system lacked something
// (descriptors, memory, a working disk) rather than anything about the file
// it was asked for: then the store can't be read completely, which is not the
// same as a bad file.
bool isResourceError(int error);

// Where a file, or a problem, sits in the store: the entry of the store's
// folder it belongs to, and its name inside that entry (empty for the entry
// itself). The store's order is the order of places.
struct StorePlace {
  std::string entry;
  std::string name;
  auto operator<=>(const StorePlace&) const = default;
};

// A calendar file to read, with the addresses its calendar counts as the
// user's (lower case, without "mailto:").
struct StoreFile {
  StorePlace place;
  std::filesystem::path path;
  std::shared_ptr<const std::unordered_set<std::string>> userAddresses;
};

// Walks the store below `root`: each folder directly below it is a calendar
// of *.ics files, and each *.ics file directly in it is a calendar of its own;
// names starting with a dot are left alone, and a missing root (or a link to
// nothing) is an empty store. Each file goes to `onFile` and each entry that
// can't be listed or read to `onProblem` ("path: reason"), in the order the
// system lists them: callers order by place. A folder that can't be listed
// for want of a resource throws IncompleteRead. Nothing is kept but the names of the calendar
// folders, so that a walk over any number of files takes little memory.
void walkStore(const std::filesystem::path& root, const std::function<void(StoreFile)>& onFile,
               const std::function<void(StorePlace, std::string)>& onProblem);

// Why the store's root can't be read (it can't be opened or listed), or
// nothing when it can, when it is absent, or when the system lacked a
// resource to tell (reading the store then says so).
std::optional<std::string> unreadableRoot(const std::filesystem::path& root);

// An address as the user's addresses are compared: without a leading
// "mailto:", in lower case.
std::string addressKey(std::string_view address);

// The addresses in the text of an `addresses` file: one per line, blank lines
// ignored, "mailto:" optional, compared without regard to case.
std::vector<std::string> parseAddresses(const std::string& text);

}  // namespace quorvel::calendar::ics
