#include "calendar/ical/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "calendar/calendar.h"

namespace quorvel::calendar::ical {
namespace {

// Calendar files are small; one this large is not something to parse.
constexpr off_t kMaxFileSize = off_t{64} << 20;

// Why a call that failed with `error` leaves the file unusable; throws when
// the system lacked a resource.
std::string problemOf(std::string_view folderPath, const char* name, int error) {
  if (isResourceError(error)) {
    if (folderPath.empty()) failIncomplete(name, error);
    failIncomplete(std::string(folderPath) + "/" + name, error);
  }
  return std::strerror(error);
}

}  // namespace

bool isResourceError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
    case EACCES:
    case EPERM:
    case EISDIR:
    case ENXIO:
    case ENODEV:
    case EFBIG:
    case EOVERFLOW:
      return false;
    default:
      return true;
  }
}

void failIncomplete(std::string_view subject, int error) {
  std::string line(subject);
  line += ": ";
  line += std::strerror(error);
  throw IncompleteRead(line);
}

char* ReadBuffer::reserve(std::size_t capacity, std::size_t keep) {
  if (capacity > capacity_) {
    auto data = std::make_unique_for_overwrite<char[]>(capacity);
    if (keep > 0) std::memcpy(data.get(), data_.get(), keep);
    data_ = std::move(data);
    capacity_ = capacity;
  }
  return data_.get();
}

std::optional<std::string> readFileAt(int folder, std::string_view folderPath, const char* name,
                                      bool knownRegular, ReadBuffer& buffer) {
  buffer.size_ = 0;
  struct stat status {};
  // Look before opening: opening a FIFO would let a writer blocked on it go.
  if (!knownRegular) {
    if (::fstatat(folder, name, &status, 0) != 0) return problemOf(folderPath, name, errno);
    if (!S_ISREG(status.st_mode)) return "not a regular file";
  }
  const FileDescriptor file(::openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.get() < 0) return problemOf(folderPath, name, errno);
  // It may have been replaced since it was looked at.
  if (::fstat(file.get(), &status) != 0) return problemOf(folderPath, name, errno);
  if (!S_ISREG(status.st_mode)) return "not a regular file";
  if (status.st_size > kMaxFileSize) return "larger than 64 MiB";

  // One read, into room for a byte more than the file holds: a full buffer
  // means the file grew while being read, and only then is there a second.
  std::size_t capacity = static_cast<std::size_t>(status.st_size) + 1;
  std::size_t filled = 0;
  char* data = buffer.reserve(capacity);
  for (;;) {
    const ssize_t got = ::read(file.get(), data + filled, capacity - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return problemOf(folderPath, name, errno);
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
    if (filled < capacity) break;  // a regular file reads short only at its end
    if (capacity > static_cast<std::size_t>(kMaxFileSize)) return "larger than 64 MiB";
    // It grew: keep what was read in a larger buffer.
    capacity *= 2;
    data = buffer.reserve(capacity, filled);
  }
  buffer.size_ = filled;
  return std::nullopt;
}

int forEachEntry(int fd, std::string_view path, const std::function<void(const dirent&)>& each) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) failIncomplete(path, errno);
  DIR* const listing = ::fdopendir(copy);
  if (listing == nullptr) {
    const int error = errno;
    ::close(copy);
    if (isResourceError(error)) failIncomplete(path, error);
    return error;
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> closer(listing, &::closedir);
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing);
    if (entry == nullptr) break;
    if (entry->d_name[0] != '.') each(*entry);
  }
  if (errno != 0 && isResourceError(errno)) failIncomplete(path, errno);
  return errno;
}

}  // namespace quorvel::calendar::ical
