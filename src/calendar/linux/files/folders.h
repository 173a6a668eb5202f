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

// A calendar's folder, open for as long as its files are being read.
class CalendarFolder {
 public:
  CalendarFolder(int fd, std::string entry, std::string path,
                 std::shared_ptr<const ical::Addresses> userAddresses);

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  // The user's addresses in its calendars.
  const ical::Addresses& userAddresses() const { return *userAddresses_; }
  // The place of its file `name` in the store: for the store's own folder,
  // whose *.ics files are each a calendar of their own, the file's entry;
  // else the folder's entry, then the file's name.
  Place placeOf(std::string_view name) const;

 private:
  ical::FileDescriptor fd_;
  std::string entry_;  // empty for the store's own folder
  std::string path_;
  std::shared_ptr<const ical::Addresses> userAddresses_;
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

// The addresses of the `addresses` file in the store's folder `root`, which
// count as the user's in every calendar of every source; a line about one
// that can't be read goes to `say`, at its place.
ical::Addresses storeAddresses(const std::filesystem::path& root,
                               const std::function<void(Place, std::string)>& say);

// Walks the store below `root`: each folder directly below it is a calendar
// of *.ics files, and each *.ics file directly in it is a calendar of its own;
// names starting with a dot are left alone, and a missing root (or a link to
// nothing) is an empty store. Files go to `onBatch` a batch at a time, each
// folder's with the user's addresses of its `addresses` file and
// `storeAddresses`; each entry that can't be listed or read goes to `say`
// ("path: reason"), in the order the system lists them: callers order by
// place. Nothing is kept but the names of the calendar folders, so that a
// walk over any number of files takes little memory. A folder that can't be
// listed for want of a resource throws IncompleteRead.
void walkStore(const std::filesystem::path& root, const ical::Addresses& storeAddresses,
               const std::function<void(FileBatch)>& onBatch,
               const std::function<void(Place, std::string)>& say);

// Why the store's root can't be read (it can't be opened or listed), or
// nothing when it can, when it is absent, or when the system lacked a
// resource to tell (reading the store then says so). Allocates nothing unless
// it has something to say.
std::optional<std::string> unreadableRoot(const std::filesystem::path& root);

}  // namespace quorvel::calendar::linuxstore::files
