#include "calendar/ical/time.h"

#include <algorithm>
#include <chrono>

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
  std::optional<std::int64_t> nextChange(std::int64_t, std::int64_t) const override {
    return std::nullopt;
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

std::int64_t toUtc(const Zone& zone, std::int64_t wall) {
  // The spans of one offset over every instant the time can name, in order:
  // the first that shows the time gives it; when none does, it falls in a
  // gap, and the offset of the span before the gap reads it.
  const std::int64_t to = wall + kMaxUtcOffset;
  std::int64_t spanStart = wall - kMaxUtcOffset;
  std::int64_t offset = zone.offsetAt(spanStart);
  std::optional<std::int64_t> beforeGap;
  for (;;) {
    const std::optional<std::int64_t> change = zone.nextChange(spanStart, to);
    const std::int64_t spanEnd = change ? *change : to + 1;
    // The span shows the wall-clock times [spanStart + offset, spanEnd + offset).
    const std::int64_t utc = wall - offset;
    if (utc >= spanStart && utc < spanEnd) return utc;
    if (spanEnd + offset <= wall) beforeGap = offset;
    if (!change) break;
    spanStart = *change;
    offset = zone.offsetAt(spanStart);
  }
  return wall - beforeGap.value_or(offset);
}

}  // namespace quorvel::calendar::ical
