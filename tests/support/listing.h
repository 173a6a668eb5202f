// What the iCalendar store lists, in a form a table can spell out: each event
// as its start in UTC ("2026-03-02 15:00", seconds when there are some), its
// length unless none ("+1h30m"), its title unless absent ('Review'), then
// what isn't the default: "all-day", an availability other than busy, the
// user's answer unless unknown.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "calendar/linux/store.h"
#include "record/record.h"
#include "support/temp_store.h"

namespace quorvel::testing {

// Sets TZ, the store's local zone, for the life of a scope.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    previous_ ? ::setenv("TZ", previous_->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

// Seconds since the epoch of a UTC time written "2026-03-09 13:00[:05]", or
// a date, or a year, alone.
inline double utc(const std::string& text) {
  std::tm t{};
  t.tm_mon = t.tm_mday = 1;
  std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
              &t.tm_min, &t.tm_sec);
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  return static_cast<double>(timegm(&t));
}

inline std::string described(const EventRecord& record) {
  const std::time_t start = record.startsAt / 1000;
  std::tm t{};
  gmtime_r(&start, &t);
  char text[32];
  std::strftime(text, sizeof text, t.tm_sec != 0 ? "%F %T" : "%F %R", &t);
  std::string line = text;
  const std::int64_t length = (record.endsAt - record.startsAt) / 1000;
  if (length > 0) line += " +";
  if (length >= 3600) line += std::to_string(length / 3600) + "h";
  if (length % 3600 >= 60) line += std::to_string(length % 3600 / 60) + "m";
  if (length % 60 != 0) line += std::to_string(length % 60) + "s";
  if (record.title != "Busy") line += " '" + record.title + "'";
  if (record.isAllDay) line += " all-day";
  if (record.availability != "busy") line.append(" ").append(record.availability);
  if (record.participantStatus != "unknown") line.append(" ").append(record.participantStatus);
  return line;
}

struct Listing {
  std::vector<std::string> events;
  std::string lines;  // what the store said, each line without the root's path
};

// What the store lists; with `elsewhere`, the calendars it names too.
inline Listing listing(const TempStore& store, double from, double to, unsigned threads = 1,
                       calendar::linuxstore::Elsewhere elsewhere = {}) {
  Listing result;
  const std::string prefix = "quorvel-calendar: " + store.root().string() + "/";
  const auto said = [&](std::string_view line) {
    if (line.starts_with(prefix)) line.remove_prefix(prefix.size());
    result.lines.append(line) += '\n';
  };
  auto calendars =
      calendar::linuxstore::createStore(store.root(), said, {threads}, std::move(elsewhere));
  const auto window = calendars->predicateForEvents({from}, {to});
  for (const auto& event : calendars->eventsMatching(*window)) {
    result.events.push_back(described(buildRecord(*event)));
  }
  return result;
}

inline Listing listing(const TempStore& store, const std::string& from, const std::string& to,
                       unsigned threads = 1, calendar::linuxstore::Elsewhere elsewhere = {}) {
  return listing(store, utc(from), utc(to), threads, std::move(elsewhere));
}

// What a store of one file holding `text` lists, for a user whose address is
// me@example.org; its lines without the file's name.
inline Listing listingOf(const std::string& text, const std::string& from, const std::string& to) {
  const TempStore store;
  store.write("addresses", "me@example.org\n");
  store.write("cal.ics", text);
  Listing result = listing(store, from, to);
  for (std::size_t at; (at = result.lines.find("cal.ics: ")) != std::string::npos;) {
    result.lines.erase(at, 9);
  }
  return result;
}

}  // namespace quorvel::testing
