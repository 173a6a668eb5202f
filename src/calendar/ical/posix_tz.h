// A POSIX TZ string, as the TZ variable and the footer of a TZif file write
// it (RFC 9636, 3.3): a standard offset, and optionally a daylight-saving
// offset with the two yearly rules that switch between them. RFC 9636's
// extensions are read: rule times from -167 to 167 hours ("M3.5.0/-1",
// "M3.4.4/50"), and names in angle brackets ("<+0330>-3:30").
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace quorvel::calendar::ical {

class PosixTz {
 public:
  // The string's zone; nothing when it isn't one, whole.
  static std::optional<PosixTz> parse(std::string_view text);

  // Seconds east of UTC in force at `utcSeconds`.
  std::int64_t offsetAt(std::int64_t utcSeconds) const;
  // The first change of offset after `utcSeconds`, up to `until`.
  std::optional<std::int64_t> nextChange(std::int64_t utcSeconds, std::int64_t until) const;

 private:
  // A rule's day of the year and time of day.
  struct Rule {
    enum class Day { julian, zeroBased, monthWeekDay } day = Day::monthWeekDay;
    int number = 0;  // Jn: 1..365, Feb 29 never counted; n: 0..365
    int month = 0;   // Mm.w.d
    int week = 0;
    int weekday = 0;
    std::int64_t time = 2 * 3600;  // local time of day, -167 to 167 hours
  };
  // An instant at which the offset becomes `offset`.
  struct Change {
    std::int64_t at;
    std::int64_t offset;
  };

  static std::int64_t dayOf(const Rule& rule, int year);
  // The year's two changes (the start of daylight-saving time, then its
  // end), each at its rule's local time in the offset in force before it.
  std::array<Change, 2> changesOf(int year) const;
  // The changes of the years around `utcSeconds`'s, in order.
  std::array<Change, 8> changesAround(std::int64_t utcSeconds) const;

  std::int64_t standard_ = 0;
  std::optional<std::int64_t> daylight_;  // none: the standard offset always
  Rule start_;                            // to daylight-saving time
  Rule end_;                              // back to standard time
};

}  // namespace quorvel::calendar::ical
