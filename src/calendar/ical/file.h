// Reading a file whole, safely: calendar files and the tz database's zone
// files alike.
//
// Files are opened relative to their folder's descriptor and read with one
// read into a buffer that each reading thread reuses: no path is built and
// nothing is allocated per file unless something is wrong with it.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quorvel::calendar::ical {

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

// Throws IncompleteRead for `subject` (a path), which the system couldn't
// read for want of a resource (`error`): the one way a failure to read
// completely leaves the code that met it.
[[noreturn]] void failIncomplete(std::string_view subject, int error);

// A buffer a thread reads one file after another into.
class ReadBuffer {
 public:
  std::string_view contents() const { return {data_.get(), size_}; }

 private:
  friend std::optional<std::string> readFileAt(int, std::string_view, const char*, bool,
                                               ReadBuffer&);
  // Room for `capacity` bytes, the first `keep` of them as they were.
  char* reserve(std::size_t capacity, std::size_t keep = 0);
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

// Reads the regular file `name` of the folder open as `folder` (whose path is
// `folderPath`, for messages; empty when `name` is a whole path) into
// `buffer`. Anything that isn't a regular file (a FIFO, a device, a folder)
// is refused without being opened, so that no writer waiting on a FIFO is let
// through; `knownRegular` says the folder's listing already told it is one.
// Returns why the file can't be used, or nothing when it was read; throws
// IncompleteRead (failIncomplete) when the system lacked a resource.
std::optional<std::string> readFileAt(int folder, std::string_view folderPath, const char* name,
                                      bool knownRegular, ReadBuffer& buffer);

// Calls `each` with every entry of the folder open as `fd` (at `path`, for
// messages) whose name doesn't start with a dot, as the system lists them;
// returns the error that stopped the listing (0 for none). One that says the
// system lacked a resource throws IncompleteRead.
int forEachEntry(int fd, std::string_view path, const std::function<void(const dirent&)>& each);

}  // namespace quorvel::calendar::ical
