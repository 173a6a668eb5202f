// Expanding recurrence rules (RRULE) into the wall-clock starts of their
// occurrences, in order, at a bounded cost.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "calendar/ical/time.h"

#include "calendar/ical/problem.h"

namespace quorvel::calendar::ical {

enum class Frequency { secondly, minutely, hourly, daily, weekly, monthly, yearly };

// A BYDAY entry: a weekday (0 Monday .. 6 Sunday), and for monthly and yearly
// rules an optional ordinal (1 the first, -1 the last; 0 every one).
struct WeekdayNum {
  int weekday = 0;
  int ordinal = 0;
};

// An RRULE's parts, as RFC 5545 names them. Empty lists are parts the rule
// doesn't give.
struct RecurrenceRule {
  Frequency frequency = Frequency::daily;
  std::int64_t interval = 1;
  std::optional<std::int64_t> count;
  // Inclusive. A DATE bound covers its whole day; a DATE-TIME bound is
  // compared as an instant.
  std::optional<std::int64_t> untilWall;  // in the event's zone
  bool untilIsDate = false;
  std::optional<std::int64_t> untilUtc;
  std::vector<int> bySecond;
  std::vector<int> byMinute;
  std::vector<int> byHour;
  std::vector<WeekdayNum> byDay;
  std::vector<int> byMonthDay;
  std::vector<int> byYearDay;
  std::vector<int> byWeekNo;
  std::vector<int> byMonth;
  std::vector<int> bySetPos;
  int weekStart = 0;  // Monday
};

// Whether the rule can give more than one occurrence a day: a frequency
// finer than daily, or several hours, minutes or seconds.
bool repeatsWithinADay(const RecurrenceRule& rule);

// Why a rule can't be used, or nothing when it can: a part out of its range,
// or a frequency finer than a day for an all-day event.
std::optional<Problem> ruleProblem(const RecurrenceRule& rule, bool allDay);

// The starts of a rule's occurrences after the event's first start
// (DTSTART, which is always an occurrence of its own and counts toward COUNT),
// in increasing order. Work is bounded: the expansion begins at the period
// holding `fromWall` when it can tell how many occurrences lie before it
// (always without COUNT, and with COUNT when every period holds exactly one),
// so it grows with the occurrences asked for, not with the time since
// DTSTART; and every expansion stops after a fixed budget of steps.
class RuleExpansion {
 public:
  // Steps are taken from the rule's own budget and, when `sharedBudget` is
  // given, from that one too (so that many rules of one file together stay
  // within it).
  RuleExpansion(const RecurrenceRule& rule, std::int64_t dtstartWall, bool allDay,
                std::int64_t fromWall, const Zone& zone, std::int64_t* sharedBudget = nullptr);

  // The next start, or nothing when the rule has ended, the calendar's last
  // year has passed, or the budget is spent.
  std::optional<std::int64_t> next();

  bool budgetSpent() const { return budget_ <= 0; }

  // Steps one expansion may take: periods visited plus days and times tried.
  static constexpr std::int64_t kBudget = 200000;

 private:
  bool fillPeriod();
  void fillDays(std::int64_t firstDay, std::int64_t lastDay);
  void fillTimes(std::int64_t day);
  bool dayMatches(std::int64_t day) const;
  bool skipAheadWithinDays();
  bool spend();

  RecurrenceRule rule_;
  std::int64_t dtstartWall_;
  const Zone& zone_;
  CivilTime dtstart_;
  std::int64_t period_ = 0;            // index of the period being expanded
  std::vector<std::int64_t> pending_;  // starts of the current period, in order
  std::size_t nextPending_ = 0;
  std::optional<std::int64_t> remaining_;  // occurrences COUNT still allows
  std::int64_t budget_ = kBudget;
  std::int64_t* sharedBudget_;
  bool weekdaysOnly_ = false;  // days are told apart by their weekday alone
  bool ended_ = false;
};

}  // namespace quorvel::calendar::ical
