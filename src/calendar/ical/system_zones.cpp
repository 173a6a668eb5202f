#include "calendar/ical/system_zones.h"

#include <cctz/time_zone.h>
#include <cctz/zone_info_source.h>
#include <fcntl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "calendar/ical/file.h"
#include "calendar/ical/windows_zones.h"

namespace quorvel::calendar::ical {
namespace {

// The bytes of the zone file this thread is loading, handed to CCTZ through
// its zone-source hook: the tool reads zone files itself, so that a zone that
// doesn't exist can be told from one that couldn't be read for want of
// descriptors or memory. Each thread has its own, so threads share nothing
// here.
thread_local std::string_view handedZoneBytes;

std::string zoneFilePath(const std::string& name) {
  const char* dir = std::getenv("TZDIR");
  std::string path = dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo";
  path += '/';
  path += name;
  return path;
}

// A zoneinfo file's bytes, as CCTZ reads them.
class ZoneBytes final : public cctz::ZoneInfoSource {
 public:
  explicit ZoneBytes(std::string_view bytes) : rest_(bytes) {}

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
  std::string_view rest_;
};

// CCTZ's zone source: the bytes handed over, none when there is no file.
std::unique_ptr<cctz::ZoneInfoSource> handedZoneFile(
    const std::string&,
    const std::function<std::unique_ptr<cctz::ZoneInfoSource>(const std::string&)>&) {
  if (handedZoneBytes.empty()) return nullptr;
  return std::make_unique<ZoneBytes>(handedZoneBytes);
}

// Loads a zone from bytes this thread holds (empty: no file, which leaves
// only the names CCTZ knows without one, such as "UTC"); false when CCTZ
// can't use them.
bool loadFromBytes(const std::string& name, std::string_view bytes, cctz::time_zone& zone) {
  struct Handed {
    explicit Handed(std::string_view bytes) { handedZoneBytes = bytes; }
    ~Handed() { handedZoneBytes = {}; }
  } handed(bytes);
  return cctz::load_time_zone(name, &zone);
}

// Where a zoneinfo file of version 2 or later lists its last change, and
// where its closing rule (a POSIX TZ string for the times after it) starts.
struct ListedChanges {
  std::int64_t lastChange = 0;  // seconds since the epoch
  std::size_t ruleAt = 0;       // the newline before the rule
};

std::uint64_t bigEndian(std::string_view bytes, std::size_t at, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

// Reads the two headers of the file's layout (RFC 8536); nullopt for any
// other form, for a file with leap seconds, and for one with no change
// listed or no closing rule.
std::optional<ListedChanges> listedChanges(std::string_view bytes) {
  constexpr std::size_t kHeader = 44;
  // The end of the data block whose header starts at `at`, `timeSize`
  // being the size of its times; 0 when the file is too short.
  const auto blockEnd = [&](std::size_t at, std::uint64_t timeSize, std::uint64_t leapSize,
                            std::uint64_t& times, std::uint64_t& leaps) -> std::uint64_t {
    if (bytes.size() - at < kHeader || bytes.substr(at, 4) != "TZif" || bytes[at + 4] < '2') {
      return 0;
    }
    const auto count = [&](int field) { return bigEndian(bytes, at + 20 + 4 * field, 4); };
    times = count(3);
    leaps = count(2);
    const std::uint64_t end = at + kHeader + times * (timeSize + 1) + count(4) * 6 + count(5) +
                              leaps * leapSize + count(1) + count(0);
    return end <= bytes.size() ? end : 0;
  };
  std::uint64_t times = 0;
  std::uint64_t leaps = 0;
  const std::uint64_t second = blockEnd(0, 4, 8, times, leaps);
  if (second == 0) return std::nullopt;
  const std::uint64_t end = blockEnd(second, 8, 12, times, leaps);
  if (end == 0 || leaps != 0 || times == 0) return std::nullopt;
  // The rule stands between two newlines after the data.
  if (bytes.size() - end < 3 || bytes[end] != '\n' || bytes.back() != '\n') return std::nullopt;
  const auto last =
      static_cast<std::int64_t>(bigEndian(bytes, second + kHeader + (times - 1) * 8, 8));
  return ListedChanges{last, static_cast<std::size_t>(end)};
}

std::int64_t offsetIn(const cctz::time_zone& zone, std::int64_t utcSeconds) {
  const auto lookup = zone.lookup(cctz::time_point<cctz::seconds>(cctz::seconds(utcSeconds)));
  return std::clamp<std::int64_t>(lookup.offset, -kMaxUtcOffset, kMaxUtcOffset);
}

class TzZone final : public Zone {
 public:
  explicit TzZone(cctz::time_zone zone) : zone_(zone) {}
  std::int64_t offsetAt(std::int64_t utcSeconds) const override {
    return offsetIn(zone_, utcSeconds);
  }

 private:
  cctz::time_zone zone_;
};

// A zone whose file lists its changes up to `lastChange` (the tzdata of most
// systems lists them to 2037), loaded without the closing rule that CCTZ
// would otherwise unfold into 400 more years of changes when it loads the
// zone (0.2 to 0.8 ms a zone). Before the last listed change both agree; the
// whole zone is loaded, from the bytes kept, only if a later time is asked
// for. Used by one thread, as the zones of KnownZones are.
class ListedTzZone final : public Zone {
 public:
  ListedTzZone(cctz::time_zone listed, std::int64_t lastChange, std::string name, ReadBuffer file)
      : listed_(listed), lastChange_(lastChange), name_(std::move(name)), file_(std::move(file)) {}

  std::int64_t offsetAt(std::int64_t utcSeconds) const override {
    if (utcSeconds < lastChange_) return offsetIn(listed_, utcSeconds);
    if (!whole_) {
      cctz::time_zone whole;
      // CCTZ read the file once already; should it refuse the rule, the
      // last listed offset goes on, as in a file without one.
      whole_ = loadFromBytes(name_, file_.contents(), whole) ? whole : listed_;
    }
    return offsetIn(*whole_, utcSeconds);
  }

 private:
  cctz::time_zone listed_;
  std::int64_t lastChange_;
  std::string name_;
  ReadBuffer file_;
  mutable std::optional<cctz::time_zone> whole_;
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
// be read.
std::unique_ptr<Zone> load(std::string_view name) {
  if (!isZoneFileName(name)) return nullptr;
  const std::string zoneName(name);
  const std::string path = zoneFilePath(zoneName);
  ReadBuffer file;
  // Missing, a folder, or unreadable: no bytes.
  const bool unusable = readFileAt(AT_FDCWD, {}, path.c_str(), false, file).has_value();
  const std::string_view bytes = unusable ? std::string_view() : file.contents();
  cctz::time_zone zone;
  if (const auto listed = listedChanges(bytes)) {
    // The same bytes with an empty rule.
    std::string cut(bytes.substr(0, listed->ruleAt + 1));
    cut += '\n';
    if (loadFromBytes("listed:" + zoneName, cut, zone)) {
      return std::make_unique<ListedTzZone>(zone, listed->lastChange, zoneName, std::move(file));
    }
  }
  // Files of other forms, and names CCTZ knows without a file.
  if (!loadFromBytes(zoneName, bytes, zone)) return nullptr;
  return std::make_unique<TzZone>(zone);
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

}  // namespace quorvel::calendar::ical

// CCTZ reads zone files through this hook; the tool reads them itself (see
// above). A definition of CCTZ's own, overriding its default.
namespace cctz_extension {
ZoneInfoSourceFactory zone_info_source_factory = quorvel::calendar::ical::handedZoneFile;
}  // namespace cctz_extension
