#include "calendar/ics/system_zones.h"

#include <cctz/time_zone.h>
#include <cctz/zone_info_source.h>
#include <fcntl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "calendar/ics/files.h"
#include "calendar/ics/problem.h"
#include "calendar/ics/windows_zones.h"

namespace quorvel::calendar::ics {
namespace {

// Why the last zone file this thread asked for couldn't be read. Each thread
// has its own, so reading threads share nothing here.
thread_local std::optional<Problem> lastZoneFileProblem;
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
  explicit ZoneBytes(ReadBuffer buffer) : buffer_(std::move(buffer)), rest_(buffer_.contents()) {}

  std::size_t Read(void* ptr, std::size_t size) override {
    size = std::min(size, rest_.size());
    std::memcpy(ptr, rest_.data(), size);
    rest_.remove_prefix(size);
    return size;
  }
  int Skip(std::size_t offset) override {
    if (offset > rest_.size()) return -1;
    rest_.remove_prefix(offset);
    return 0;
  }

 private:
  ReadBuffer buffer_;
  std::string_view rest_;
};

// Opens the zone files CCTZ asks for, and remembers why one couldn't be read.
std::unique_ptr<cctz::ZoneInfoSource> openZoneFile(
    const std::string& name,
    const std::function<std::unique_ptr<cctz::ZoneInfoSource>(const std::string&)>&) {
  lastZoneFilePath = zoneFilePath(name);
  ReadBuffer buffer;
  lastZoneFileProblem = readFileAt(AT_FDCWD, lastZoneFilePath.c_str(), false, buffer);
  if (lastZoneFileProblem) return nullptr;  // missing, a folder, or unreadable
  return std::make_unique<ZoneBytes>(std::move(buffer));
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
  lastZoneFileProblem.reset();
  if (cctz::load_time_zone(std::string(name), &zone)) {
    result.zone = std::make_unique<TzZone>(zone);
    return true;
  }
  if (lastZoneFileProblem && lastZoneFileProblem->incomplete) {
    result.failure = lineAbout(lastZoneFilePath, lastZoneFileProblem->reason);
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
