#include "calendar/linux/source/source.h"

#include <sys/stat.h>

#include <cerrno>

#include "calendar/ical/file.h"

namespace quorvel::calendar::linuxstore {

std::optional<DiskId> diskIdOf(const char* path) {
  struct stat status {};
  if (::stat(path, &status) != 0) {
    if (ical::isResourceError(errno)) ical::failIncomplete(path, errno);
    return std::nullopt;
  }
  return DiskId{static_cast<std::uint64_t>(status.st_dev),
                static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace quorvel::calendar::linuxstore
