#include "calendar/ical/time.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <mutex>

namespace quorvel::calendar::ical {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

class UtcZone final : public Zone {
 public:
  std::int64_t offsetAt(std::int64_t) const override { return 0; }
};

class LocalZone final : public Zone {
 public:
  std::int64_t offsetAt(std::int64_t utcSeconds) const override {
    const std::time_t t = static_cast<std::time_t>(utcSeconds);
    std::tm fields{};
    if (localtime_r(&t, &fields) == nullptr) return 0;
    return std::clamp<std::int64_t>(fields.tm_gmtoff, -kMaxUtcOffset, kMaxUtcOffset);
  }
};

}  // namespace

bool isValidCivil(const CivilTime& c) {
  if (c.year < kFirstYear || c.year > kLastYear) return false;
  const year_month_day date{year{c.year}, month{static_cast<unsigned>(c.month)},
                            day{static_cast<unsigned>(c.day)}};
  return date.ok() && c.hour >= 0 && c.hour <= 23 && c.minute >= 0 && c.minute <= 59 &&
         c.second >= 0 && c.second <= 60;
}

std::int64_t wallSeconds(const CivilTime& c) {
  const year_month_day date{year{c.year}, month{static_cast<unsigned>(c.month)},
                            day{static_cast<unsigned>(c.day)}};
  const std::int64_t days = sys_days{date}.time_since_epoch().count();
  return days * kSecondsPerDay + c.hour * 3600 + c.minute * 60 + c.second;
}

CivilTime civilOf(std::int64_t wall) {
  const std::int64_t midnight = startOfDay(wall);
  const std::int64_t secondOfDay = wall - midnight;
  const year_month_day date{sys_days{std::chrono::days{midnight / kSecondsPerDay}}};
  return CivilTime{static_cast<int>(date.year()),
                   static_cast<int>(static_cast<unsigned>(date.month())),
                   static_cast<int>(static_cast<unsigned>(date.day())),
                   static_cast<int>(secondOfDay / 3600),
                   static_cast<int>(secondOfDay / 60 % 60),
                   static_cast<int>(secondOfDay % 60)};
}

const Zone& utcZone() {
  static const UtcZone zone;
  return zone;
}

const Zone& localZone() {
  static const LocalZone zone;
  static std::once_flag once;
  std::call_once(once, [] { tzset(); });
  return zone;
}

std::int64_t toUtc(const Zone& zone, std::int64_t wall) {
  // The offsets a day before and a day after bracket at most one transition
  // for any real zone.
  const std::int64_t before = zone.offsetAt(wall - kSecondsPerDay);
  const std::int64_t after = zone.offsetAt(wall + kSecondsPerDay);
  if (before == after) return wall - before;
  const std::int64_t withBefore = wall - before;
  const std::int64_t withAfter = wall - after;
  const bool beforeHolds = zone.offsetAt(withBefore) == before;
  const bool afterHolds = zone.offsetAt(withAfter) == after;
  if (beforeHolds && afterHolds) return withBefore < withAfter ? withBefore : withAfter;
  if (afterHolds) return withAfter;
  // Valid under the earlier offset, or in the gap: either way the earlier
  // offset reads it.
  return withBefore;
}

}  // namespace quorvel::calendar::ical
