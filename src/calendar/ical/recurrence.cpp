// The expansion works period by period, as RFC 5545 describes it: each
// period of the rule's frequency (a year, month, week, day, hour, minute or
// second, every INTERVAL of them) is filled with every day and time its BY
// parts allow, then BYSETPOS picks among them. Expanding and limiting parts are
// both applied as filters over the whole period, which is equivalent once the
// parts a rule leaves out are taken from DTSTART. Every expansion has a budget
// of steps, so that a rule that matches nothing (a yearly 30 February) ends.
#include "calendar/ical/recurrence.h"

#include <algorithm>
#include <chrono>

namespace quorvel::calendar::ical {
namespace {

using Day = std::int64_t;  // days since 1970-01-01

Day dayOf(int year, int month, int day) {
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{year},
                            std::chrono::month{static_cast<unsigned>(month)},
                            std::chrono::day{static_cast<unsigned>(day)}};
  return sys_days{date}.time_since_epoch().count();
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t floorMod(std::int64_t a, std::int64_t b) { return a - floorDiv(a, b) * b; }

int weekdayOf(Day day) {  // 0 Monday .. 6 Sunday; 1970-01-01 was a Thursday
  return static_cast<int>(floorMod(day + 3, 7));
}

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

int daysInYear(int year) { return isLeap(year) ? 366 : 365; }

// The first day of week 1 of `year`: the week, starting on `weekStart`, that
// holds at least four days of the year.
Day weekOneStart(int year, int weekStart) {
  const Day jan1 = dayOf(year, 1, 1);
  const int offset = (weekdayOf(jan1) - weekStart + 7) % 7;
  const Day start = jan1 - offset;
  return 7 - offset < 4 ? start + 7 : start;
}

bool contains(const std::vector<int>& values, int value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

// Whether `position` (1-based) of `size` is named by a list of positive and
// negative positions.
bool namesPosition(const std::vector<int>& positions, int position, int size) {
  for (const int p : positions) {
    if (p > 0 ? p == position : size + 1 + p == position) return true;
  }
  return false;
}

bool inRange(const std::vector<int>& values, int low, int high, bool signedValues) {
  for (const int v : values) {
    const int magnitude = signedValues ? std::abs(v) : v;
    if (magnitude < low || magnitude > high || (signedValues && v == 0)) return false;
  }
  return true;
}

std::int64_t stepSeconds(Frequency frequency) {
  switch (frequency) {
    case Frequency::hourly:
      return 3600;
    case Frequency::minutely:
      return 60;
    default:
      return 1;
  }
}

}  // namespace

std::optional<Problem> ruleProblem(const RecurrenceRule& rule, bool allDay) {
  if (rule.interval < 1) return Problem{"its INTERVAL is not a positive number"};
  if (!inRange(rule.bySecond, 0, 60, false) || !inRange(rule.byMinute, 0, 59, false) ||
      !inRange(rule.byHour, 0, 23, false) || !inRange(rule.byMonthDay, 1, 31, true) ||
      !inRange(rule.byYearDay, 1, 366, true) || !inRange(rule.byWeekNo, 1, 53, true) ||
      !inRange(rule.byMonth, 1, 12, false) || !inRange(rule.bySetPos, 1, 366, true) ||
      rule.weekStart < 0 || rule.weekStart > 6) {
    return Problem{"a part is out of its range"};
  }
  for (const WeekdayNum& day : rule.byDay) {
    if (day.weekday < 0 || day.weekday > 6 || std::abs(day.ordinal) > 53) {
      return Problem{"a part is out of its range"};
    }
  }
  if (allDay && rule.frequency < Frequency::daily) {
    return Problem{"it repeats more often than daily on an all-day event"};
  }
  return std::nullopt;
}

bool repeatsWithinADay(const RecurrenceRule& rule) {
  const auto count = [](const std::vector<int>& values) {
    return std::max<std::size_t>(values.size(), 1);
  };
  return rule.frequency < Frequency::daily ||
         count(rule.byHour) * count(rule.byMinute) * count(rule.bySecond) > 1;
}

RuleExpansion::RuleExpansion(const RecurrenceRule& rule, std::int64_t dtstartWall, bool allDay,
                             std::int64_t fromWall, const Zone& zone, std::int64_t* sharedBudget)
    : rule_(rule),
      dtstartWall_(dtstartWall),
      zone_(zone),
      dtstart_(civilOf(dtstartWall)),
      sharedBudget_(sharedBudget) {
  RecurrenceRule& r = rule_;
  // A rule with no BY part has exactly one occurrence in every period (but
  // a monthly one on a day some months lack, or a yearly one on 29 February).
  const bool onePerPeriod =
      r.bySecond.empty() && r.byMinute.empty() && r.byHour.empty() && r.byDay.empty() &&
      r.byMonthDay.empty() && r.byYearDay.empty() && r.byWeekNo.empty() && r.byMonth.empty() &&
      r.bySetPos.empty() && (r.frequency != Frequency::monthly || dtstart_.day <= 28) &&
      (r.frequency != Frequency::yearly || dtstart_.month != 2 || dtstart_.day != 29);
  // What the rule leaves out comes from DTSTART.
  if (r.byWeekNo.empty() && r.byYearDay.empty() && r.byMonthDay.empty() && r.byDay.empty()) {
    if (r.frequency == Frequency::yearly) {
      if (r.byMonth.empty()) r.byMonth = {dtstart_.month};
      r.byMonthDay = {dtstart_.day};
    } else if (r.frequency == Frequency::monthly) {
      r.byMonthDay = {dtstart_.day};
    } else if (r.frequency == Frequency::weekly) {
      r.byDay = {{weekdayOf(floorDiv(dtstartWall, kSecondsPerDay)), 0}};
    }
  }
  if (allDay) {
    r.byHour = {0};
    r.byMinute = {0};
    r.bySecond = {0};
  }
  if (r.byHour.empty() && r.frequency > Frequency::hourly) r.byHour = {dtstart_.hour};
  if (r.byMinute.empty() && r.frequency > Frequency::minutely) r.byMinute = {dtstart_.minute};
  if (r.bySecond.empty() && r.frequency > Frequency::secondly) r.bySecond = {dtstart_.second};
  for (auto* values : {&r.byHour, &r.byMinute, &r.bySecond, &r.byMonth}) {
    std::sort(values->begin(), values->end());
    values->erase(std::unique(values->begin(), values->end()), values->end());
  }
  // Ordinals in BYDAY only mean something for monthly and yearly rules.
  const bool ordinals =
      r.frequency == Frequency::monthly || (r.frequency == Frequency::yearly && r.byWeekNo.empty());
  if (!ordinals) {
    for (WeekdayNum& day : r.byDay) day.ordinal = 0;
  }
  weekdaysOnly_ = r.byMonth.empty() && r.byWeekNo.empty() && r.byYearDay.empty() &&
                  r.byMonthDay.empty() &&
                  std::all_of(r.byDay.begin(), r.byDay.end(),
                              [](const WeekdayNum& day) { return day.ordinal == 0; });

  if (r.count) {
    remaining_ = std::max<std::int64_t>(*r.count - 1, 0);  // DTSTART is the first
    // Counted from the start: skipping ahead needs to know how many
    // occurrences it skips.
    if (!onePerPeriod) return;
  }
  if (fromWall <= dtstartWall) return;

  // Start at the period that holds `fromWall` (one earlier for week-numbered
  // years, whose first days may lie in the year before).
  const CivilTime from =
      civilOf(std::min<std::int64_t>(fromWall, wallSeconds({kLastYear, 12, 31})));
  const Day fromDay = floorDiv(fromWall, kSecondsPerDay);
  const Day dtDay = floorDiv(dtstartWall, kSecondsPerDay);
  std::int64_t periods = 0;
  switch (r.frequency) {
    case Frequency::yearly:
      periods = (from.year - 1 - dtstart_.year) / r.interval;
      break;
    case Frequency::monthly:
      periods = ((from.year - dtstart_.year) * 12 + from.month - dtstart_.month) / r.interval;
      break;
    case Frequency::weekly: {
      const Day weekZero = dtDay - (weekdayOf(dtDay) - r.weekStart + 7) % 7;
      periods = (fromDay - weekZero) / (7 * r.interval);
      break;
    }
    case Frequency::daily:
      periods = (fromDay - dtDay) / r.interval;
      break;
    default: {
      const std::int64_t unit = stepSeconds(r.frequency);
      const std::int64_t base = dtstartWall - floorMod(dtstartWall, unit);
      periods = (fromWall - base) / (unit * r.interval);
    }
  }
  period_ = std::max<std::int64_t>(periods, 0);
  // Periods 1 to period_ - 1 held one occurrence each (period 0 holds DTSTART).
  if (remaining_ && period_ > 1) {
    *remaining_ = std::max<std::int64_t>(*remaining_ - (period_ - 1), 0);
  }
}

bool RuleExpansion::spend() {
  if (budget_ <= 0 || (sharedBudget_ != nullptr && *sharedBudget_ <= 0)) {
    budget_ = 0;
    return false;
  }
  --budget_;
  if (sharedBudget_ != nullptr) --*sharedBudget_;
  return true;
}

std::optional<std::int64_t> RuleExpansion::next() {
  while (!ended_) {
    if (nextPending_ < pending_.size()) {
      const std::int64_t wall = pending_[nextPending_++];
      if (wall <= dtstartWall_) continue;  // DTSTART itself, or before it
      if (rule_.untilWall) {
        const std::int64_t lastWall =
            rule_.untilIsDate ? *rule_.untilWall + kSecondsPerDay - 1 : *rule_.untilWall;
        if (wall > lastWall) break;
      }
      if (rule_.untilUtc && toUtc(zone_, wall) > *rule_.untilUtc) break;
      if (remaining_) {
        if (*remaining_ == 0) break;
        --*remaining_;
      }
      return wall;
    }
    if (!fillPeriod()) break;
  }
  ended_ = true;
  return std::nullopt;
}

bool RuleExpansion::dayMatches(Day day) const {
  const RecurrenceRule& r = rule_;
  if (weekdaysOnly_) {
    // Most rules name weekdays at most: no calendar date is needed.
    if (r.byDay.empty()) return true;
    const int weekday = weekdayOf(day);
    return std::any_of(r.byDay.begin(), r.byDay.end(),
                       [weekday](const WeekdayNum& entry) { return entry.weekday == weekday; });
  }
  const CivilTime date = civilOf(day * kSecondsPerDay);
  if (!r.byMonth.empty() && !contains(r.byMonth, date.month)) return false;
  if (!r.byWeekNo.empty()) {
    int weekYear = date.year;
    if (day < weekOneStart(weekYear, r.weekStart)) --weekYear;
    if (weekYear < kLastYear && day >= weekOneStart(weekYear + 1, r.weekStart)) ++weekYear;
    const Day first = weekOneStart(weekYear, r.weekStart);
    const int weeks = static_cast<int>((weekOneStart(weekYear + 1, r.weekStart) - first) / 7);
    if (!namesPosition(r.byWeekNo, static_cast<int>((day - first) / 7) + 1, weeks)) return false;
  }
  const int yearDay = static_cast<int>(day - dayOf(date.year, 1, 1)) + 1;
  if (!r.byYearDay.empty() && !namesPosition(r.byYearDay, yearDay, daysInYear(date.year))) {
    return false;
  }
  const int monthDays = daysInMonth(date.year, date.month);
  if (!r.byMonthDay.empty() && !namesPosition(r.byMonthDay, date.day, monthDays)) return false;
  if (!r.byDay.empty()) {
    const int weekday = weekdayOf(day);
    // Ordinals count within the month for monthly rules and yearly ones
    // limited to months, else within the year.
    const bool inMonth = r.frequency == Frequency::monthly || !r.byMonth.empty();
    const int position = inMonth ? date.day : yearDay;
    const int size = inMonth ? monthDays : daysInYear(date.year);
    bool any = false;
    for (const WeekdayNum& entry : r.byDay) {
      if (entry.weekday != weekday) continue;
      if (entry.ordinal == 0 || entry.ordinal == (position - 1) / 7 + 1 ||
          entry.ordinal == -((size - position) / 7 + 1)) {
        any = true;
        break;
      }
    }
    if (!any) return false;
  }
  return true;
}

void RuleExpansion::fillTimes(Day day) {
  for (const int hour : rule_.byHour) {
    for (const int minute : rule_.byMinute) {
      for (const int second : rule_.bySecond) {
        if (!spend()) return;
        if (second < 60)
          pending_.push_back(day * kSecondsPerDay + hour * 3600 + minute * 60 + second);
      }
    }
  }
}

void RuleExpansion::fillDays(Day firstDay, Day lastDay) {
  for (Day day = firstDay; day <= lastDay; ++day) {
    if (!spend()) return;
    if (dayMatches(day)) fillTimes(day);
  }
}

// For rules finer than a day: moves past whole days, hours and minutes that
// the rule's limits rule out, so that a sparse rule doesn't walk every second
// of them. Returns false when the period at hand can hold occurrences.
bool RuleExpansion::skipAheadWithinDays() {
  const std::int64_t unit = stepSeconds(rule_.frequency);
  const std::int64_t step = unit * rule_.interval;
  const std::int64_t base = dtstartWall_ - floorMod(dtstartWall_, unit);
  const std::int64_t start = base + period_ * step;
  const Day day = floorDiv(start, kSecondsPerDay);
  const std::int64_t secondOfDay = start - day * kSecondsPerDay;

  std::int64_t skipTo = 0;
  if (!dayMatches(day)) {
    skipTo = (day + 1) * kSecondsPerDay;
  } else if (!rule_.byHour.empty() &&
             !contains(rule_.byHour, static_cast<int>(secondOfDay / 3600))) {
    skipTo = start - secondOfDay % 3600 + 3600;
  } else if (rule_.frequency < Frequency::hourly && !rule_.byMinute.empty() &&
             !contains(rule_.byMinute, static_cast<int>(secondOfDay / 60 % 60))) {
    skipTo = start - secondOfDay % 60 + 60;
  } else {
    return false;
  }
  // The first period that starts at `skipTo` or after, always a later one.
  period_ = (skipTo - base + step - 1) / step;
  return true;
}

bool RuleExpansion::fillPeriod() {
  pending_.clear();
  nextPending_ = 0;
  const RecurrenceRule& r = rule_;

  while (pending_.empty()) {
    if (!spend()) return false;
    const std::int64_t p = period_;
    switch (r.frequency) {
      case Frequency::yearly: {
        const std::int64_t year = dtstart_.year + p * r.interval;
        if (year > kLastYear) return false;
        const int y = static_cast<int>(year);
        if (!r.byWeekNo.empty()) {
          // The year of weeks: from the start of its week 1 to the next one's.
          const Day last = y < kLastYear ? weekOneStart(y + 1, r.weekStart) - 1 : dayOf(y, 12, 31);
          fillDays(weekOneStart(y, r.weekStart), last);
        } else if (r.byYearDay.empty() && !r.byMonth.empty()) {
          // Only the months the rule names can hold its days.
          for (const int m : r.byMonth) fillDays(dayOf(y, m, 1), dayOf(y, m, daysInMonth(y, m)));
        } else {
          fillDays(dayOf(y, 1, 1), dayOf(y, 12, 31));
        }
        break;
      }
      case Frequency::monthly: {
        const std::int64_t month = dtstart_.month - 1 + p * r.interval;
        const std::int64_t year = dtstart_.year + month / 12;
        if (year > kLastYear) return false;
        const int y = static_cast<int>(year);
        const int m = static_cast<int>(month % 12) + 1;
        fillDays(dayOf(y, m, 1), dayOf(y, m, daysInMonth(y, m)));
        break;
      }
      case Frequency::weekly: {
        const Day dtDay = floorDiv(dtstartWall_, kSecondsPerDay);
        const Day first = dtDay - (weekdayOf(dtDay) - r.weekStart + 7) % 7 + 7 * r.interval * p;
        if (first > dayOf(kLastYear, 12, 31)) return false;
        fillDays(first, std::min(first + 6, dayOf(kLastYear, 12, 31)));
        break;
      }
      case Frequency::daily: {
        const Day day = floorDiv(dtstartWall_, kSecondsPerDay) + r.interval * p;
        if (day > dayOf(kLastYear, 12, 31)) return false;
        fillDays(day, day);
        break;
      }
      default: {
        const std::int64_t unit = stepSeconds(r.frequency);
        const std::int64_t base = dtstartWall_ - floorMod(dtstartWall_, unit);
        const std::int64_t start = base + p * unit * r.interval;
        if (start > wallSeconds({kLastYear, 12, 31, 23, 59, 59})) return false;
        if (skipAheadWithinDays()) continue;
        if (r.frequency == Frequency::hourly) {
          for (const int minute : r.byMinute) {
            for (const int second : r.bySecond) {
              if (!spend()) return false;
              if (second < 60) pending_.push_back(start + minute * 60 + second);
            }
          }
        } else if (r.frequency == Frequency::minutely) {
          for (const int second : r.bySecond) {
            if (!spend()) return false;
            if (second < 60) pending_.push_back(start + second);
          }
        } else if (r.bySecond.empty() ||
                   contains(r.bySecond, static_cast<int>(floorMod(start, 60)))) {
          pending_.push_back(start);
        }
        break;
      }
    }
    ++period_;
    // A period the budget cut short is not a whole one to pick from.
    if (budget_ <= 0) return false;

    if (!r.bySetPos.empty() && !pending_.empty()) {
      std::vector<std::int64_t> picked;
      const int size = static_cast<int>(pending_.size());
      for (int position = 1; position <= size; ++position) {
        if (namesPosition(r.bySetPos, position, size)) picked.push_back(pending_[position - 1]);
      }
      pending_ = std::move(picked);
    }
  }
  return true;
}

}  // namespace quorvel::calendar::ical
