#include "calendar/ical/values.h"

#include <array>

#include "calendar/ical/lines.h"

namespace quorvel::calendar::ical {
namespace {

// Numbers in these values never need more digits; more can only overflow.
constexpr std::size_t kMaxDigits = 9;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<int> fixedDigits(std::string_view text, std::size_t from, std::size_t count) {
  int value = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    if (!isDigit(text[i])) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// A whole number with an optional sign, of at most kMaxDigits digits.
std::optional<int> integer(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > kMaxDigits) return std::nullopt;
  const auto value = fixedDigits(text, 0, text.size());
  if (!value) return std::nullopt;
  return negative ? -*value : *value;
}

constexpr std::array<std::string_view, 7> kWeekdays = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};

std::optional<int> weekday(std::string_view text) {
  for (std::size_t i = 0; i < kWeekdays.size(); ++i) {
    if (sameName(text, kWeekdays[i])) return static_cast<int>(i);
  }
  return std::nullopt;
}

// A BYDAY entry: an optional signed ordinal, then a weekday ("-1FR").
std::optional<WeekdayNum> weekdayNum(std::string_view text) {
  if (text.size() < 2) return std::nullopt;
  const auto day = weekday(text.substr(text.size() - 2));
  if (!day) return std::nullopt;
  const std::string_view ordinal = text.substr(0, text.size() - 2);
  if (ordinal.empty()) return WeekdayNum{*day, 0};
  const auto number = integer(ordinal);
  if (!number || *number == 0) return std::nullopt;
  return WeekdayNum{*day, *number};
}

template <typename T, typename Read>
bool readList(std::string_view text, std::vector<T>& out, Read read) {
  bool ok = true;
  forEachItem(text, [&](std::string_view item) {
    if (!ok) return;
    const auto value = read(item);
    if (!value) {
      ok = false;
      return;
    }
    out.push_back(*value);
  });
  return ok;
}

std::optional<Frequency> frequency(std::string_view text) {
  constexpr std::pair<std::string_view, Frequency> kNames[] = {
      {"SECONDLY", Frequency::secondly}, {"MINUTELY", Frequency::minutely},
      {"HOURLY", Frequency::hourly},     {"DAILY", Frequency::daily},
      {"WEEKLY", Frequency::weekly},     {"MONTHLY", Frequency::monthly},
      {"YEARLY", Frequency::yearly},
  };
  for (const auto& [name, value] : kNames) {
    if (sameName(text, name)) return value;
  }
  return std::nullopt;
}

}  // namespace

std::optional<DateTime> parseDateTime(std::string_view text) {
  DateTime result;
  result.isDate = text.size() == 8;
  if (!result.isDate) {
    result.utc = text.size() == 16 && (text[15] == 'Z' || text[15] == 'z');
    if (text.size() != 15 && !result.utc) return std::nullopt;
    if (text[8] != 'T' && text[8] != 't') return std::nullopt;
  }
  const auto year = fixedDigits(text, 0, 4);
  const auto month = fixedDigits(text, 4, 2);
  const auto day = fixedDigits(text, 6, 2);
  if (!year || !month || !day) return std::nullopt;
  result.civil = CivilTime{*year, *month, *day, 0, 0, 0};
  if (!result.isDate) {
    const auto hour = fixedDigits(text, 9, 2);
    const auto minute = fixedDigits(text, 11, 2);
    const auto second = fixedDigits(text, 13, 2);
    if (!hour || !minute || !second) return std::nullopt;
    result.civil.hour = *hour;
    result.civil.minute = *minute;
    result.civil.second = *second;
  }
  if (!isValidCivil(result.civil)) return std::nullopt;
  return result;
}

std::optional<Duration> parseDuration(std::string_view text) {
  std::int64_t sign = 1;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    sign = text.front() == '-' ? -1 : 1;
    text.remove_prefix(1);
  }
  if (text.empty() || (text.front() != 'P' && text.front() != 'p')) return std::nullopt;
  text.remove_prefix(1);

  // Units in the order they may come, each at most once; "T" starts the time.
  constexpr std::string_view kUnits = "WDTHMS";
  std::size_t nextUnit = 0;
  std::int64_t days = 0;
  std::int64_t seconds = 0;
  bool any = false;
  bool inTime = false;
  while (!text.empty()) {
    if (text.front() == 'T' || text.front() == 't') {
      if (inTime) return std::nullopt;
      inTime = true;
      nextUnit = 3;
      text.remove_prefix(1);
      continue;
    }
    std::size_t digits = 0;
    while (digits < text.size() && isDigit(text[digits])) ++digits;
    if (digits == 0 || digits > kMaxDigits || digits == text.size()) return std::nullopt;
    const std::int64_t number = *fixedDigits(text, 0, digits);
    const char unit = static_cast<char>(text[digits] & ~0x20);  // ASCII upper case
    const std::size_t at = kUnits.find(unit, nextUnit);
    if (at == std::string_view::npos || unit == 'T' || (at >= 3) != inTime) return std::nullopt;
    nextUnit = at + 1;
    switch (unit) {
      case 'W':
        days += number * 7;
        break;
      case 'D':
        days += number;
        break;
      case 'H':
        seconds += number * 3600;
        break;
      case 'M':
        seconds += number * 60;
        break;
      default:
        seconds += number;
    }
    any = true;
    text.remove_prefix(digits + 1);
  }
  if (!any) return std::nullopt;
  return Duration{sign * days, sign * seconds};
}

std::optional<std::int64_t> parseUtcOffset(std::string_view text) {
  if (text.size() != 5 && text.size() != 7) return std::nullopt;
  if (text.front() != '+' && text.front() != '-') return std::nullopt;
  const auto hours = fixedDigits(text, 1, 2);
  const auto minutes = fixedDigits(text, 3, 2);
  const auto seconds = text.size() == 7 ? fixedDigits(text, 5, 2) : std::optional<int>(0);
  if (!hours || !minutes || !seconds || *hours > 23 || *minutes > 59 || *seconds > 59) {
    return std::nullopt;
  }
  const std::int64_t offset = *hours * 3600 + *minutes * 60 + *seconds;
  return text.front() == '-' ? -offset : offset;
}

std::string unescapeText(std::string_view text) {
  return undoEscapes(text, '\\', {{'n', '\n'}, {'N', '\n'}, {',', ','}, {';', ';'}, {'\\', '\\'}});
}

namespace {

// Reads one part of a rule into it; false when the value isn't one.
using PartReader = bool (*)(std::string_view value, RecurrenceRule& rule);

template <std::vector<int> RecurrenceRule::*list>
bool numbers(std::string_view value, RecurrenceRule& rule) {
  // A leap month ("5L") belongs to other calendars: integer() refuses it.
  return readList(value, rule.*list, integer);
}

bool untilPart(std::string_view value, RecurrenceRule& rule) {
  const auto until = parseDateTime(value);
  if (!until) return false;
  const std::int64_t wall = wallSeconds(until->civil);
  if (until->isDate) {
    rule.untilWall = wall;
    rule.untilIsDate = true;
  } else if (until->utc) {
    rule.untilUtc = wall;
  } else {
    rule.untilWall = wall;  // floating: the event's own wall clock
  }
  return true;
}

// The parts the rule is read from; any other (an extension) is passed over.
constexpr std::pair<std::string_view, PartReader> kParts[] = {
    {"FREQ",
     [](std::string_view value, RecurrenceRule& rule) {
       const auto f = frequency(value);
       if (f) rule.frequency = *f;
       return f.has_value();
     }},
    {"INTERVAL",
     [](std::string_view value, RecurrenceRule& rule) {
       const auto n = integer(value);
       if (!n || value.front() == '-' || value.front() == '+') return false;
       rule.interval = *n;
       return true;
     }},
    {"COUNT",
     [](std::string_view value, RecurrenceRule& rule) {
       const auto n = integer(value);
       if (!n || *n <= 0 || value.front() == '+') return false;
       rule.count = *n;
       return true;
     }},
    {"UNTIL", untilPart},
    {"BYSECOND", numbers<&RecurrenceRule::bySecond>},
    {"BYMINUTE", numbers<&RecurrenceRule::byMinute>},
    {"BYHOUR", numbers<&RecurrenceRule::byHour>},
    {"BYDAY", [](std::string_view value,
                 RecurrenceRule& rule) { return readList(value, rule.byDay, weekdayNum); }},
    {"BYMONTHDAY", numbers<&RecurrenceRule::byMonthDay>},
    {"BYYEARDAY", numbers<&RecurrenceRule::byYearDay>},
    {"BYWEEKNO", numbers<&RecurrenceRule::byWeekNo>},
    {"BYMONTH", numbers<&RecurrenceRule::byMonth>},
    {"BYSETPOS", numbers<&RecurrenceRule::bySetPos>},
    {"WKST",
     [](std::string_view value, RecurrenceRule& rule) {
       const auto day = weekday(value);
       if (day) rule.weekStart = *day;
       return day.has_value();
     }},
    {"RSCALE",
     [](std::string_view value, RecurrenceRule&) { return sameName(value, "GREGORIAN"); }},
};
constexpr std::size_t kFreq = 0;
constexpr std::size_t kRscale = std::size(kParts) - 1;

}  // namespace

Checked<RecurrenceRule> parseRule(std::string_view text, bool allDay) {
  RecurrenceRule rule;
  std::array<bool, std::size(kParts)> seen{};  // to refuse a part given twice
  const Problem invalid{"is invalid"};
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t semicolon = rest.find(';');
    const std::string_view part = rest.substr(0, semicolon);
    rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
    if (part.empty()) continue;
    const std::size_t equals = part.find('=');
    if (equals == std::string_view::npos) return invalid;
    const std::string_view name = part.substr(0, equals);

    std::size_t which = 0;
    while (which < std::size(kParts) && !sameName(name, kParts[which].first)) ++which;
    if (which == std::size(kParts)) continue;  // an extension part: not ours to read
    if (seen[which]) return Problem{"gives " + std::string(kParts[which].first) + " twice"};
    seen[which] = true;
    if (!kParts[which].second(part.substr(equals + 1), rule)) {
      if (which == kRscale) return Problem{"uses a calendar other than the Gregorian one"};
      return invalid;
    }
  }
  if (!seen[kFreq]) return invalid;
  if (auto problem = ruleProblem(rule, allDay)) return std::move(*problem);
  return rule;
}

}  // namespace quorvel::calendar::ical
