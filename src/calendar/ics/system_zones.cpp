#include "calendar/ics/system_zones.h"

#include <cctz/time_zone.h>
#include <cctz/zone_info_source.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "calendar/ics/files.h"
#include "calendar/ics/problem.h"
#include "calendar/ics/windows_zones.h"

namespace quorvel::calendar::ics {
namespace {

// No real zoneinfo file comes near this.
constexpr off_t kMaxZoneFileSize = off_t{1} << 20;

// Why the last zone file this thread asked for couldn't be read: the errno,
// or 0. Each thread has its own, so reading threads share nothing here.
thread_local int lastZoneFileError = 0;
thread_local std::string lastZoneFilePath;

std::string zoneFilePath(const std::string& name) {
  const char* dir = std::getenv("TZDIR");
  std::string path = dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo";
  path += '/';
  path += name;
  return path;
}

// A zoneinfo file's bytes, read at once, as CCTZ reads them.
class ZoneBytes final : public cctz::ZoneInfoSource {
 public:
  explicit ZoneBytes(std::string bytes) : bytes_(std::move(bytes)) {}

  std::size_t Read(void* ptr, std::size_t size) override {
    size = std::min(size, bytes_.size() - offset_);
    std::memcpy(ptr, bytes_.data() + offset_, size);
    offset_ += size;
    return size;
  }
  int Skip(std::size_t offset) override {
    if (offset > bytes_.size() - offset_) return -1;
    offset_ += offset;
    return 0;
  }

 private:
  std::string bytes_;
  std::size_t offset_ = 0;
};

// Opens the zone files CCTZ asks for, and remembers why one couldn't be read.
std::unique_ptr<cctz::ZoneInfoSource> openZoneFile(
    const std::string& name,
    const std::function<std::unique_ptr<cctz::ZoneInfoSource>(const std::string&)>&) {
  lastZoneFilePath = zoneFilePath(name);
  lastZoneFileError = 0;
  const int fd = ::open(lastZoneFilePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    lastZoneFileError = errno;
    return nullptr;
  }
  std::string bytes;
  struct stat status {};
  int error = 0;
  if (::fstat(fd, &status) != 0) {
    error = errno;
  } else if (S_ISREG(status.st_mode) && status.st_size <= kMaxZoneFileSize) {
    bytes.resize(static_cast<std::size_t>(status.st_size));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
      const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) error = errno;
      if (got <= 0) break;
      filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
  } else {
    ::close(fd);
    return nullptr;  // a folder or a device: not a zone
  }
  ::close(fd);
  if (error != 0) {
    lastZoneFileError = error;
    return nullptr;
  }
  return std::make_unique<ZoneBytes>(std::move(bytes));
}

class TzZone final : public Zone {
 public:
  explicit TzZone(cctz::time_zone zone) : zone_(zone) {}
  std::int64_t offsetAt(std::int64_t utcSeconds) const override {
    const auto lookup = zone_.lookup(cctz::time_point<cctz::seconds>(cctz::seconds(utcSeconds)));
    return std::clamp<std::int64_t>(lookup.offset, -kMaxUtcOffset, kMaxUtcOffset);
  }

 private:
  cctz::time_zone zone_;
};

// Only names made of the characters of tz database names become paths: no
// "..", no absolute paths.
bool looksLikeZoneName(std::string_view name) {
  if (name.empty() || name.size() > 128 || name.front() == '/') return false;
  if (name.find("..") != std::string_view::npos) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '_' || c == '-' || c == '+';
  });
}

// Loads one tz database name; false when there is no such zone or it can't be
// read (then `failure` says why when a resource was wanting).
bool load(std::string_view name, SystemZoneLookup& result) {
  if (!looksLikeZoneName(name)) return false;
  cctz::time_zone zone;
  lastZoneFileError = 0;
  if (cctz::load_time_zone(std::string(name), &zone)) {
    result.zone = std::make_unique<TzZone>(zone);
    return true;
  }
  if (lastZoneFileError != 0 && isResourceError(lastZoneFileError)) {
    result.failure = lineAbout(lastZoneFilePath, std::strerror(lastZoneFileError));
  }
  return false;
}

}  // namespace

SystemZoneLookup systemZone(std::string_view tzid) {
  SystemZoneLookup result;
  std::string_view name = tzid;
  while (!name.empty()) {
    if (load(name, result) || result.failure) return result;
    const std::size_t slash = name.find('/');
    if (slash == std::string_view::npos) break;
    name.remove_prefix(slash + 1);
  }
  if (const auto windows = windowsZone(tzid)) load(*windows, result);
  return result;
}

}  // namespace quorvel::calendar::ics

// CCTZ reads zone files through this hook; the tool opens them itself (see
// above). A definition of CCTZ's own, overriding its default.
namespace cctz_extension {
ZoneInfoSourceFactory zone_info_source_factory = quorvel::calendar::ics::openZoneFile;
}  // namespace cctz_extension
