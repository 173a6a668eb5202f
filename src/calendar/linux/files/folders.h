// The layout of an iCalendar store on disk: its folders, their files and
// their `addresses` files.
#pragma once

#include <unistd.h>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "calendar/ical/file.h"

namespace quorvel::calendar::linuxstore {
using ical::FileDescriptor;

// Where a file, or a problem, sits in the store: the entry of the store's
// folder it belongs to, and its name inside that entry (empty for the entry
// itself). The store's order is the order of places.
struct StorePlace {
  std::string entry;
  std::string name;
  auto operator<=>(const StorePlace&) const = default;
};

using Addresses = std::unordered_set<std::string>;

// A calendar's folder, open for as long as its files are being read.
class CalendarFolder {
 public:
  CalendarFolder(int fd, std::string entry, std::string path,
                 std::shared_ptr<const Addresses> userAddresses);

  int fd() const { return fd_.get(); }
  // The folder's entry in the store; empty for the store's own folder, whose
  // *.ics files are each a calendar of their own.
  const std::string& entry() const { return entry_; }
  const std::string& path() const { return path_; }
  // The addresses its calendars count as the user's (lower case, without
  // "mailto:").
  const Addresses& userAddresses() const { return *userAddresses_; }

  StorePlace placeOf(std::string_view name) const;

 private:
  FileDescriptor fd_;
  std::string entry_;
  std::string path_;
  std::shared_ptr<const Addresses> userAddresses_;
};

// Some files of one folder, read by one thread.
struct FileBatch {
  std::shared_ptr<const CalendarFolder> folder;
  std::string names;  // each name followed by a NUL
  struct File {
    std::uint32_t offset;  // of its name in `names`
    bool knownRegular;
  };
  std::vector<File> files;

  const char* nameOf(const File& file) const { return names.data() + file.offset; }
};

// Files a batch holds at most.
inline constexpr std::size_t kBatchFiles = 128;

// Walks the store below `root`: each folder directly below it is a calendar
// of *.ics files, and each *.ics file directly in it is a calendar of its own;
// names starting with a dot are left alone, and a missing root (or a link to
// nothing) is an empty store. Files go to `onBatch` a batch at a time and
// each entry that can't be listed or read to `onProblem` ("path: reason"), in
// the order the system lists them: callers order by place. Nothing is kept
// but the names of the calendar folders, so that a walk over any number of
// files takes little memory. A folder that can't be listed for want of a
// resource throws IncompleteRead. Returns the addresses of the store's own
// `addresses` file, which count as the user's in every calendar.
Addresses walkStore(const std::filesystem::path& root,
                    const std::function<void(FileBatch)>& onBatch,
                    const std::function<void(StorePlace, std::string)>& onProblem);

// Why the store's root can't be read (it can't be opened or listed), or
// nothing when it can, when it is absent, or when the system lacked a
// resource to tell (reading the store then says so). Allocates nothing unless
// it has something to say.
std::optional<std::string> unreadableRoot(const std::filesystem::path& root);

}  // namespace quorvel::calendar::linuxstore
