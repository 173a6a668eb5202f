#include "calendar/ics_prescan.h"

#include <strings.h>

#include <cstring>
#include <optional>

namespace quorvel::calendar::ics {
namespace {

// Wherever its zone puts it, an event's instant lies within this of its
// wall-clock time (the largest UTC offset, a daylight-saving hour, and room
// to spare).
constexpr std::int64_t kMargin = 2 * kSecondsPerDay;

constexpr int kMaxDepth = 8;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::optional<int> digits(std::string_view text, std::size_t from, std::size_t count) {
  int value = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

struct Time {
  std::int64_t wall;
  bool isDate;
};

// A DATE (YYYYMMDD) or DATE-TIME (YYYYMMDDTHHMMSS, optionally Z) that is a
// real date; its parameters may only say which of the two it is, and name a
// zone.
std::optional<Time> timeOf(std::string_view parameters, std::string_view value) {
  bool dateParameter = false;
  bool dateTimeParameter = false;
  while (!parameters.empty()) {
    // Parameters are ";NAME=VALUE"; quoted values are left to the full parse.
    parameters.remove_prefix(1);
    const std::size_t end = parameters.find(';');
    const std::string_view parameter = parameters.substr(0, end);
    parameters.remove_prefix(end == std::string_view::npos ? parameters.size() : end);
    if (parameter.find('"') != std::string_view::npos) return std::nullopt;
    if (parameter.size() > 5 && equalsIgnoringCase(parameter.substr(0, 5), "TZID=")) continue;
    if (equalsIgnoringCase(parameter, "VALUE=DATE")) {
      dateParameter = true;
    } else if (equalsIgnoringCase(parameter, "VALUE=DATE-TIME")) {
      dateTimeParameter = true;
    } else {
      return std::nullopt;
    }
  }
  CivilTime civil;
  const bool isDate = value.size() == 8;
  if (isDate ? dateTimeParameter : dateParameter) return std::nullopt;
  if (!isDate && !(value.size() == 15 || (value.size() == 16 && value[15] == 'Z'))) {
    return std::nullopt;
  }
  const auto year = digits(value, 0, 4);
  const auto month = digits(value, 4, 2);
  const auto day = digits(value, 6, 2);
  if (!year || !month || !day) return std::nullopt;
  civil = CivilTime{*year, *month, *day, 0, 0, 0};
  if (!isDate) {
    const auto hour = digits(value, 9, 2);
    const auto minute = digits(value, 11, 2);
    const auto second = digits(value, 13, 2);
    if (value[8] != 'T' || !hour || !minute || !second) return std::nullopt;
    civil.hour = *hour;
    civil.minute = *minute;
    civil.second = *second;
  }
  if (!isValidCivil(civil)) return std::nullopt;
  return Time{wallSeconds(civil), isDate};
}

// An upper bound on a DURATION ("P1W", "-P2DT3H", "PT15M"), in seconds.
std::optional<std::int64_t> durationOf(std::string_view value) {
  if (!value.empty() && (value.front() == '+' || value.front() == '-')) value.remove_prefix(1);
  if (value.size() < 3 || value.front() != 'P') return std::nullopt;
  value.remove_prefix(1);
  std::int64_t total = 0;
  std::int64_t number = -1;
  bool inTime = false;
  for (const char c : value) {
    if (c >= '0' && c <= '9') {
      number = (number < 0 ? 0 : number) * 10 + (c - '0');
      if (number > 100000000) return std::nullopt;
      continue;
    }
    if (c == 'T' && !inTime && number < 0) {
      inTime = true;
      continue;
    }
    if (number < 0) return std::nullopt;
    if (!inTime && c == 'W') {
      total += number * 7 * kSecondsPerDay;
    } else if (!inTime && c == 'D') {
      total += number * kSecondsPerDay;
    } else if (inTime && c == 'H') {
      total += number * 3600;
    } else if (inTime && c == 'M') {
      total += number * 60;
    } else if (inTime && c == 'S') {
      total += number;
    } else {
      return std::nullopt;
    }
    number = -1;
  }
  if (number >= 0) return std::nullopt;
  return total;
}

}  // namespace

bool certainlyOutside(std::string_view text, const Window& window) {
  if (std::memchr(text.data(), '\0', text.size()) != nullptr) return false;

  std::string_view stack[kMaxDepth];
  int depth = 0;
  int topLevel = 0;
  int events = 0;
  bool inEvent = false;  // directly inside the VEVENT, not in a VALARM of it
  std::optional<Time> start;
  std::optional<Time> end;
  std::optional<std::int64_t> duration;
  bool lastWasKey = false;  // the previous line holds a value this scan reads

  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t newline = text.find('\n', pos);
    std::string_view line =
        text.substr(pos, newline == std::string_view::npos ? newline : newline - pos);
    pos = newline == std::string_view::npos ? text.size() : newline + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\r') != std::string_view::npos) return false;
    if (line.empty()) continue;
    if (line.front() == ' ' || line.front() == '\t') {
      // A folded continuation: harmless, unless of a line read here.
      if (lastWasKey) return false;
      continue;
    }
    lastWasKey = false;

    // Only names starting with these letters matter here; inside a component
    // every other line is passed over at once.
    const char first = static_cast<char>(line.front() & ~0x20);  // ASCII upper case
    if (depth > 0 && first != 'B' && first != 'E' && first != 'D' && first != 'R') continue;

    // The name ends at ';' or ':'. Lines this scan doesn't read may fold
    // anywhere, even before their ':'.
    const std::size_t nameEnd = line.find_first_of(";:");
    const std::string_view name = line.substr(0, nameEnd);
    const std::size_t colon = nameEnd == std::string_view::npos ? nameEnd : line.find(':', nameEnd);
    const std::string_view parameters = colon == std::string_view::npos
                                            ? std::string_view()
                                            : line.substr(nameEnd, colon - nameEnd);
    const std::string_view value =
        colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    const bool read =
        equalsIgnoringCase(name, "BEGIN") || equalsIgnoringCase(name, "END") ||
        (inEvent && (equalsIgnoringCase(name, "DTSTART") || equalsIgnoringCase(name, "DTEND") ||
                     equalsIgnoringCase(name, "DURATION")));
    if (read && colon == std::string_view::npos) return false;
    if (depth == 0 && !read) return false;

    if (equalsIgnoringCase(name, "BEGIN")) {
      lastWasKey = true;
      if (!parameters.empty() || depth == kMaxDepth) return false;
      if (depth == 0) {
        if (++topLevel > 1 || !equalsIgnoringCase(value, "VCALENDAR")) return false;
      } else if (equalsIgnoringCase(value, "VEVENT")) {
        if (depth != 1 || ++events > 1) return false;
      }
      stack[depth++] = value;
      inEvent = depth == 2 && equalsIgnoringCase(value, "VEVENT");
      continue;
    }
    if (equalsIgnoringCase(name, "END")) {
      lastWasKey = true;
      if (!parameters.empty() || depth == 0 || !equalsIgnoringCase(stack[depth - 1], value)) {
        return false;
      }
      --depth;
      inEvent = depth == 2 && equalsIgnoringCase(stack[1], "VEVENT");
      continue;
    }
    if (!inEvent) continue;

    if (equalsIgnoringCase(name, "RRULE") || equalsIgnoringCase(name, "RDATE") ||
        equalsIgnoringCase(name, "EXDATE") || equalsIgnoringCase(name, "EXRULE") ||
        equalsIgnoringCase(name, "RECURRENCE-ID")) {
      return false;
    }
    if (equalsIgnoringCase(name, "DTSTART")) {
      if (start) return false;
      start = timeOf(parameters, value);
      if (!start) return false;
      lastWasKey = true;
    } else if (equalsIgnoringCase(name, "DTEND")) {
      if (end) return false;
      end = timeOf(parameters, value);
      if (!end) return false;
      lastWasKey = true;
    } else if (equalsIgnoringCase(name, "DURATION")) {
      if (duration || !parameters.empty()) return false;
      duration = durationOf(value);
      if (!duration) return false;
      lastWasKey = true;
    }
  }
  if (depth != 0 || events != 1 || !start) return false;

  // The latest wall-clock time the event can reach: its end, or its start plus
  // its length, and a day for an all-day event without either.
  std::int64_t last = start->wall;
  if (end) last = std::max(last, end->wall);
  if (duration) last = std::max(last, start->wall + *duration);
  if (start->isDate) last = std::max(last, start->wall + kSecondsPerDay);
  return static_cast<double>(start->wall - kMargin) >= window.end ||
         static_cast<double>(last + kMargin) <= window.start;
}

}  // namespace quorvel::calendar::ics
