#include "calendar/ical/posix_tz.h"

#include <algorithm>
#include <chrono>

#include "calendar/ical/time.h"

namespace quorvel::calendar::ical {
namespace {

// Reads from the front of `text`, which it consumes.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}
  bool done() const { return text_.empty(); }
  bool take(char c) {
    if (text_.empty() || text_.front() != c) return false;
    text_.remove_prefix(1);
    return true;
  }
  char peek() const { return text_.empty() ? '\0' : text_.front(); }

  // A whole number of at most `digits` digits; nothing when none is there.
  std::optional<int> number(int digits) {
    int value = 0;
    int read = 0;
    while (read < digits && !text_.empty() && text_.front() >= '0' && text_.front() <= '9') {
      value = value * 10 + (text_.front() - '0');
      text_.remove_prefix(1);
      ++read;
    }
    if (read == 0) return std::nullopt;
    return value;
  }

  // A zone's name: three or more letters, or three or more letters, digits,
  // '+' and '-' in angle brackets.
  bool name() {
    std::size_t length = 0;
    if (take('<')) {
      while (length < text_.size() && text_[length] != '>') {
        const char c = text_[length];
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                             (c >= '0' && c <= '9') || c == '+' || c == '-';
        if (!allowed) return false;
        ++length;
      }
      if (length < 3 || length == text_.size()) return false;
      text_.remove_prefix(length + 1);
      return true;
    }
    while (length < text_.size() && ((text_[length] >= 'A' && text_[length] <= 'Z') ||
                                     (text_[length] >= 'a' && text_[length] <= 'z'))) {
      ++length;
    }
    if (length < 3) return false;
    text_.remove_prefix(length);
    return true;
  }

  // [+-]hh[:mm[:ss]], hours up to `maxHours`, as seconds.
  std::optional<std::int64_t> time(int maxHours) {
    const bool negative = take('-');
    if (!negative) take('+');
    const auto hours = number(3);
    if (!hours || *hours > maxHours) return std::nullopt;
    std::int64_t seconds = *hours * std::int64_t{3600};
    for (const int unit : {60, 1}) {
      if (!take(':')) break;
      const auto part = number(2);
      if (!part || *part > 59) return std::nullopt;
      seconds += *part * unit;
    }
    return negative ? -seconds : seconds;
  }

 private:
  std::string_view text_;
};

// The days since 1970-01-01 of a civil date (which may run past its month).
std::int64_t daysOf(int year, unsigned month, unsigned day) {
  using namespace std::chrono;
  return sys_days{std::chrono::year{year} / std::chrono::month{month} / 1}
             .time_since_epoch()
             .count() +
         static_cast<std::int64_t>(day) - 1;
}

bool isLeap(int year) { return std::chrono::year{year}.is_leap(); }

}  // namespace

std::optional<PosixTz> PosixTz::parse(std::string_view text) {
  Scanner scan(text);
  PosixTz zone;
  // Offsets are written west of UTC: "CET-1" is an hour east.
  if (!scan.name()) return std::nullopt;
  const auto standard = scan.time(24);
  if (!standard) return std::nullopt;
  zone.standard_ = -*standard;
  if (scan.done()) return zone;

  if (!scan.name()) return std::nullopt;
  zone.daylight_ = zone.standard_ + 3600;
  if (scan.peek() != ',' && !scan.done()) {
    const auto daylight = scan.time(24);
    if (!daylight) return std::nullopt;
    zone.daylight_ = -*daylight;
  }
  // Without rules, the United States' since 2007, as the C library has them.
  zone.start_ = {Rule::Day::monthWeekDay, 0, 3, 2, 0, 2 * 3600};
  zone.end_ = {Rule::Day::monthWeekDay, 0, 11, 1, 0, 2 * 3600};
  if (scan.done()) return zone;

  for (Rule* rule : {&zone.start_, &zone.end_}) {
    if (!scan.take(',')) return std::nullopt;
    *rule = Rule{};
    if (scan.take('M')) {
      const auto month = scan.number(2);
      const bool dot1 = scan.take('.');
      const auto week = scan.number(1);
      const bool dot2 = scan.take('.');
      const auto weekday = scan.number(1);
      if (!month || !dot1 || !week || !dot2 || !weekday || *month < 1 || *month > 12 || *week < 1 ||
          *week > 5 || *weekday > 6) {
        return std::nullopt;
      }
      rule->month = *month;
      rule->week = *week;
      rule->weekday = *weekday;
    } else {
      const bool julian = scan.take('J');
      const auto number = scan.number(3);
      if (!number || *number > 365 || (julian && *number < 1)) return std::nullopt;
      rule->day = julian ? Rule::Day::julian : Rule::Day::zeroBased;
      rule->number = *number;
    }
    if (scan.take('/')) {
      const auto time = scan.time(167);
      if (!time) return std::nullopt;
      rule->time = *time;
    }
  }
  if (!scan.done()) return std::nullopt;
  return zone;
}

std::int64_t PosixTz::dayOf(const Rule& rule, int year) {
  switch (rule.day) {
    case Rule::Day::julian:
      // 1 January is 1 and 1 March always 60: a 29 February is skipped.
      return daysOf(year, 1, 1) + rule.number - 1 + (isLeap(year) && rule.number >= 60 ? 1 : 0);
    case Rule::Day::zeroBased:
      return daysOf(year, 1, 1) + rule.number;
    case Rule::Day::monthWeekDay:
      break;
  }
  const auto month = static_cast<unsigned>(rule.month);
  const std::int64_t first = daysOf(year, month, 1);
  // 1970-01-01 was a Thursday (4, Sunday being 0).
  const auto weekdayOfFirst = static_cast<int>(((first + 4) % 7 + 7) % 7);
  std::int64_t day = first + (rule.weekday - weekdayOfFirst + 7) % 7 + 7 * (rule.week - 1);
  // The fifth means the last, which some months have only four of.
  const std::int64_t next = month == 12 ? daysOf(year + 1, 1, 1) : daysOf(year, month + 1, 1);
  while (day >= next) day -= 7;
  return day;
}

std::array<PosixTz::Change, 2> PosixTz::changesOf(int year) const {
  return {Change{dayOf(start_, year) * kSecondsPerDay + start_.time - standard_, *daylight_},
          Change{dayOf(end_, year) * kSecondsPerDay + end_.time - *daylight_, standard_}};
}

std::array<PosixTz::Change, 8> PosixTz::changesAround(std::int64_t utcSeconds) const {
  // A rule's change can lie up to a week away from its year (167 hours).
  const int year = civilOf(std::clamp(utcSeconds, kFirstSecond, kEndSecond - 1)).year;
  std::array<Change, 8> changes{};
  for (int i = 0; i < 4; ++i) {
    const auto two = changesOf(year - 2 + i);
    changes[2 * i] = two[0];
    changes[2 * i + 1] = two[1];
  }
  // At one instant, the end of one year's daylight-saving time comes
  // before the start of the next's (a zone on daylight-saving time all
  // year writes them so).
  std::stable_sort(changes.begin(), changes.end(), [this](const Change& a, const Change& b) {
    if (a.at != b.at) return a.at < b.at;
    return a.offset == standard_ && b.offset != standard_;
  });
  return changes;
}

std::int64_t PosixTz::offsetAt(std::int64_t utcSeconds) const {
  if (!daylight_) return standard_;
  std::int64_t offset = standard_;
  for (const Change& change : changesAround(utcSeconds)) {
    if (change.at > utcSeconds) break;
    offset = change.offset;
  }
  return offset;
}

std::optional<std::int64_t> PosixTz::nextChange(std::int64_t utcSeconds, std::int64_t until) const {
  if (!daylight_) return std::nullopt;
  for (std::int64_t from = utcSeconds; from <= until;) {
    const auto changes = changesAround(from);
    for (const Change& change : changes) {
      if (change.at > utcSeconds)
        return change.at <= until ? std::optional(change.at) : std::nullopt;
    }
    // Every change around `from` is past, the next year's included (a
    // rule's changes can all fall in the last week of the year before, so
    // the last of them can lie before `from`): look a year later.
    from += 365 * kSecondsPerDay;
  }
  return std::nullopt;
}

}  // namespace quorvel::calendar::ical
