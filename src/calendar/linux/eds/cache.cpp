#include "calendar/linux/eds/cache.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <utility>

#include "calendar/ical/file.h"
#include "calendar/ical/time.h"
#include "calendar/linux/sqlite/database.h"

namespace quorvel::calendar::linuxstore::eds {
namespace {

using sqlite::Database;
using sqlite::Row;

// A second as the cache keeps an occurrence's bounds: UTC, "YYYYMMDDHHMMSS".
std::string cacheTime(std::int64_t second) {
  const ical::CivilTime civil = ical::civilOf(second);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", civil.year, civil.month, civil.day,
                civil.hour, civil.minute, civil.second);
  return text;
}

// The value the cache keeps under `key`, when it has one.
std::optional<std::string> keyValue(const Database& cache, const char* key,
                                    std::optional<std::string>& failure) {
  std::optional<std::string> value;
  failure =
      cache.query(std::string("SELECT value FROM ECacheKeys WHERE key='") + key + "'",
                  [&value](const Row& row) { value = std::string(row.text(0).value_or("")); });
  return value;
}

}  // namespace

std::variant<Cached, Uncached> readCache(const std::filesystem::path& path, const Window& window) {
  struct stat seen {};
  if (::stat(path.c_str(), &seen) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Uncached{};
    if (ical::isResourceError(errno)) ical::failIncomplete(path.string(), errno);
  }
  auto read = Database::read(path, sqlite::Journal::rollback);
  if (auto* why = std::get_if<std::string>(&read)) return Uncached{std::move(*why)};
  const Database& cache = std::get<Database>(read);

  std::optional<std::string> failure;
  const std::optional<std::string> version = keyValue(cache, "version", failure);
  if (failure) return Uncached{std::move(*failure)};
  if (version != kCacheVersion) {
    return Uncached{"a layout not known (version " + version.value_or("none") + ")"};
  }
  // EDS marks a calendar it has once reached; until then what it caches is
  // not the calendar, which is asked for as before.
  const std::optional<std::string> reached = keyValue(cache, "user::ecmb::ever-connected", failure);
  if (failure) return Uncached{std::move(*failure)};
  if (reached != "1") return Uncached{};

  // What EDS runs for the query, less its exact check of each row, which
  // the store's expansion makes: the rows not deleted that occur in the
  // range (a bound it has none for is open), and every series and override.
  const QueryRange range = queryRange(window);
  Cached cached;
  failure = cache.query(
      "SELECT ECacheOBJ FROM ECacheObjects WHERE ECacheState != 3 AND "
      "(((occur_end IS NULL OR occur_end >= '" +
          cacheTime(range.start) + "') AND (occur_start IS NULL OR occur_start <= '" +
          cacheTime(range.end) + "')) OR has_recurrences = 1)",
      [&cached](const Row& row) {
        cached.components.push_back(describe(std::string(row.text(0).value_or(""))));
      });
  if (!failure) {
    failure = cache.query("SELECT tzid, zone FROM timezones", [&cached](const Row& row) {
      const auto tzid = row.text(0);
      const auto zone = row.text(1);
      if (tzid && zone) cached.zones.emplace(*tzid, *zone);
    });
  }
  if (failure) return Uncached{std::move(*failure)};
  return cached;
}

}  // namespace quorvel::calendar::linuxstore::eds
