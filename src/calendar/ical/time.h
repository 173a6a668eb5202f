// Wall-clock time and time zones for the iCalendar store.
//
// A wall-clock time is kept as "wall seconds": the seconds since 1970-01-01
// 00:00 of the same calendar date and clock time, as if it were UTC. Calendar
// arithmetic (adding days, stepping to midnight) happens on wall seconds, and a
// Zone turns them into real instants.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvel::calendar::ical {

inline constexpr std::int64_t kSecondsPerDay = 86400;

// No zone is further than this from UTC: 25:59:59, the most a TZif file may
// write (RFC 9636, 3.2), beyond iCalendar's 23:59:59 (RFC 5545, 3.3.14).
// Offsets beyond it are refused, so that every search around a wall-clock
// time can rely on the bound.
inline constexpr std::int64_t kMaxUtcOffset = 25 * 3600 + 59 * 60 + 59;

// The years a time can have, as iCalendar writes them (four digits, no year
// 0), and their bounds in seconds since the epoch: 0001-01-01T00:00:00 and the
// second after 9999-12-31T23:59:59.
inline constexpr int kFirstYear = 1;
inline constexpr int kLastYear = 9999;
inline constexpr std::int64_t kFirstSecond = -62135596800;
inline constexpr std::int64_t kEndSecond = 253402300800;

struct CivilTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Whether the fields name a real date and time (no 30 February, no hour 25).
// A leap second (second 60) is accepted and lands on the next minute.
bool isValidCivil(const CivilTime& civil);

std::int64_t wallSeconds(const CivilTime& civil);
CivilTime civilOf(std::int64_t wallSeconds);

// Midnight at the start of the day holding `wallSeconds`.
inline std::int64_t startOfDay(std::int64_t wallSeconds) {
  const std::int64_t rem = wallSeconds % kSecondsPerDay;
  return wallSeconds - (rem < 0 ? rem + kSecondsPerDay : rem);
}

// A time zone, reduced to its UTC offset at each instant.
class Zone {
 public:
  virtual ~Zone() = default;
  // Seconds east of UTC in force at `utcSeconds`.
  virtual std::int64_t offsetAt(std::int64_t utcSeconds) const = 0;
  // The first instant after `utcSeconds`, up to `until`, at which the offset
  // may change (it may also stay the same there); nothing when it holds
  // until then.
  virtual std::optional<std::int64_t> nextChange(std::int64_t utcSeconds,
                                                 std::int64_t until) const = 0;
  // The TZID, when this zone stands in for one that nobody knows and reads
  // its times as local time.
  virtual std::optional<std::string_view> unknownName() const { return std::nullopt; }
};

const Zone& utcZone();

// The instant a wall-clock time names in `zone`. A time that falls in a
// daylight-saving gap is read with the offset in force before the gap, and a
// time that occurs twice means its first occurrence (RFC 5545, 3.3.5),
// however many times the offset changes around it.
std::int64_t toUtc(const Zone& zone, std::int64_t wallSeconds);

inline std::int64_t toWall(const Zone& zone, std::int64_t utcSeconds) {
  return utcSeconds + zone.offsetAt(utcSeconds);
}

}  // namespace quorvel::calendar::ical
