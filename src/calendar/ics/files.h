// The layout of an iCalendar store on disk, and reading its files safely.
//
// Files are opened relative to their folder's descriptor and read with one
// read into a buffer that each reading thread reuses: no path is built and
// nothing is allocated per file unless something is wrong with it.
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

#include "calendar/ics/problem.h"

namespace quorvel::calendar::ics {

// Whether a failed call's errno says only that the system lacked something
// (descriptors, memory, a working disk) rather than anything about the file
// it was asked for: then the store can't be read completely, which is not the
// same as a bad file.
bool isResourceError(int error);

// Owns an open file descriptor (or -1), and closes it when it goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// A buffer a thread reads one file after another into.
class ReadBuffer {
 public:
  std::string_view contents() const { return {data_.get(), size_}; }

 private:
  friend std::optional<Problem> readFileAt(int, const char*, bool, ReadBuffer&);
  // Room for `capacity` bytes, the first `keep` of them as they were.
  char* reserve(std::size_t capacity, std::size_t keep = 0);
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

// Reads the regular file `name` of the folder open as `folder` into `buffer`.
// Anything that isn't a regular file (a FIFO, a device, a folder) is refused
// without being opened, so that no writer waiting on a FIFO is let through;
// `knownRegular` says the folder's listing already told it is one.
std::optional<Problem> readFileAt(int folder, const char* name, bool knownRegular,
                                  ReadBuffer& buffer);

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

}  // namespace quorvel::calendar::ics
