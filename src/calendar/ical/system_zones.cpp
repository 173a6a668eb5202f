#include "calendar/ical/system_zones.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <vector>

#include "calendar/ical/file.h"
#include "calendar/ical/posix_tz.h"
#include "calendar/ical/tzif.h"
#include "calendar/ical/windows_zones.h"

namespace quorvel::calendar::ical {
namespace {

std::string zoneFolder() {
  const char* dir = std::getenv("TZDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo";
}

// The zone in the TZif file at `path`; null when there is none there (no
// such file, not a regular file, not TZif).
std::unique_ptr<TzifZone> zoneInFile(const std::string& path) {
  ReadBuffer file;
  if (readFileAt(AT_FDCWD, {}, path.c_str(), false, file)) return nullptr;
  return TzifZone::read(file.contents());
}

class FixedZone final : public Zone {
 public:
  explicit FixedZone(std::int64_t offset) : offset_(offset) {}
  std::int64_t offsetAt(std::int64_t) const override { return offset_; }
  std::optional<std::int64_t> nextChange(std::int64_t, std::int64_t) const override {
    return std::nullopt;
  }

 private:
  std::int64_t offset_;
};

// Only names made of the characters of tz database names become paths: no
// "..", no absolute paths.
bool isZoneFileName(std::string_view name) {
  if (name.empty() || name.size() > 128 || name.front() == '/') return false;
  if (name.find("..") != std::string_view::npos) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '_' || c == '-' || c == '+';
  });
}

// Loads one tz database name; null when there is no such zone or it can't
// be read. UTC needs no file.
std::unique_ptr<Zone> load(std::string_view name) {
  if (!isZoneFileName(name)) return nullptr;
  if (auto zone = zoneInFile(zoneFolder() + "/" + std::string(name))) return zone;
  if (name == "UTC") return std::make_unique<FixedZone>(0);
  return nullptr;
}

// The name below a "zoneinfo/" folder in `path`, or `path` itself.
std::string_view belowZoneinfo(std::string_view path) {
  constexpr std::string_view kFolder = "zoneinfo/";
  const std::size_t at = path.rfind(kFolder);
  return at == std::string_view::npos ? path : path.substr(at + kFolder.size());
}

// The local zone of the process, replaced only between runs (in tests);
// those replaced are kept, since zones of earlier reads may still point at
// them.
std::atomic<const LocalZone*> current{nullptr};
std::mutex replacing;
std::vector<std::unique_ptr<LocalZone>> loaded;

const LocalZone& currentLocalZone() {
  if (const LocalZone* zone = current.load(std::memory_order_acquire)) return *zone;
  loadLocalZone();
  return *current.load(std::memory_order_acquire);
}

}  // namespace

std::unique_ptr<Zone> systemZone(std::string_view tzid) {
  std::string_view name = tzid;
  while (!name.empty()) {
    if (auto zone = load(name)) return zone;
    const std::size_t slash = name.find('/');
    if (slash == std::string_view::npos) break;
    name.remove_prefix(slash + 1);
  }
  if (const auto windows = windowsZone(tzid)) return load(*windows);
  return nullptr;
}

LocalZone readLocalZone(const char* tz, const char* localtimePath) {
  LocalZone local;
  if (tz == nullptr) {
    local.zone = zoneInFile(localtimePath);
    char link[4096];
    const ssize_t got = ::readlink(localtimePath, link, sizeof link);
    if (got > 0 && static_cast<std::size_t>(got) < sizeof link) {
      local.name = belowZoneinfo({link, static_cast<std::size_t>(got)});
    }
  } else {
    std::string_view value = tz;
    if (!value.empty() && value.front() == ':') value.remove_prefix(1);
    if (!value.empty()) {
      // A file first, as the C library reads it: a name below the zone
      // folder, or a whole path; then a POSIX TZ string.
      const bool path = value.front() == '/';
      local.zone = zoneInFile(path ? std::string(value) : zoneFolder() + "/" + std::string(value));
      if (local.zone) {
        local.name = path ? belowZoneinfo(value) : value;
      } else if (const auto rule = PosixTz::parse(value)) {
        local.zone = std::make_unique<PosixZone>(*rule);
      }
    }
  }
  if (!local.zone) {
    local.zone = std::make_unique<FixedZone>(0);
    local.name = "UTC";
  }
  return local;
}

void loadLocalZone() {
  auto local = std::make_unique<LocalZone>(readLocalZone(std::getenv("TZ")));
  const std::lock_guard lock(replacing);
  current.store(local.get(), std::memory_order_release);
  loaded.push_back(std::move(local));
}

const Zone& localZone() { return *currentLocalZone().zone; }

std::string_view localZoneName() { return currentLocalZone().name; }

}  // namespace quorvel::calendar::ical
