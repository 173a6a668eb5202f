// Time zones: the tz database's, a file's own VTIMEZONEs, and local time.
#include <cctz/time_zone.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "calendar/ical/reader.h"
#include "support/listing.h"

namespace quorvel::calendar::ical {
namespace {

using testing::calendarOf;
using testing::listingOf;

std::string at(const std::string& start) {
  return "BEGIN:VEVENT\nUID:x\nDTSTART" + start + "\nEND:VEVENT\n";
}

// A time in the gap of a daylight-saving change is read with the offset
// before it, a repeated time as its first occurrence; a TZID that no zone has
// is read as local time (Tokyo, UTC+9), with a line. The file's own zone
// "Late" is UTC+3 before its first onset (2030), and UTC+5 from an extra
// onset (RDATE) in 2025, to the second.
TEST(Zones, ReadTimesAsTheirZonesHaveThem) {
  const testing::ScopedTimeZone zone("Asia/Tokyo");
  const std::string late =
      "BEGIN:VTIMEZONE\nTZID:Late\nBEGIN:STANDARD\nDTSTART:20300101T000000\nTZOFFSETFROM:+0300\n"
      "TZOFFSETTO:+0100\nEND:STANDARD\nBEGIN:DAYLIGHT\nDTSTART:20400101T000000\n"
      "RDATE:20250101T000000\nTZOFFSETFROM:+0100\nTZOFFSETTO:+0500\nEND:DAYLIGHT\nEND:VTIMEZONE\n";
  const std::pair<std::string, std::string> cases[] = {
      {";TZID=Late:20240302T100000", "2024-03-02 07:00"},
      {";TZID=Late:20260302T100000", "2026-03-02 05:00"},
      {";TZID=Late:20250101T040000", "2024-12-31 23:00"},
      {";TZID=America/New_York:20260308T023000", "2026-03-08 07:30"},
      {";TZID=America/New_York:20261101T013000", "2026-11-01 05:30"},
      // Past the last transition a zoneinfo file lists (2037), its closing
      // rule still gives daylight-saving time.
      {";TZID=America/New_York:39980701T120000", "3998-07-01 16:00"},
      {";TZID=W. Europe Standard Time:20260302T100000", "2026-03-02 09:00"},
      {";TZID=Etc/GMT+9:20260302T100000", "2026-03-02 19:00"},
      {";TZID=/mozilla.org/20070129_1/Europe/Berlin:20260302T100000", "2026-03-02 09:00"},
      {";TZID=\"Europe/Berlin\";X=\"a:b\":20260302T100000", "2026-03-02 09:00"},
      {";TZID=Nowhere/Zone:20260302T100000", "2026-03-02 01:00 Nowhere/Zone"},
      {";TZID=../../etc/passwd:20260302T100000", "2026-03-02 01:00 ../../etc/passwd"},
  };
  for (const auto& [start, shown] : cases) {
    const std::string day = shown.substr(0, 10);
    const auto found = listingOf(calendarOf(late + at(start)), day, day + " 23:59:59");
    const std::size_t name = shown.find(' ', 11);
    EXPECT_EQ(found.events, std::vector<std::string>{shown.substr(0, name)}) << start;
    EXPECT_EQ(found.lines, name == std::string::npos
                               ? ""
                               : "event 1 has an unknown time zone \"" + shown.substr(name + 1) +
                                     "\"; its times are read as local time\n");
  }
}

// A file's own zone as it states it: however often its offset changes
// within a day, up to the 23:59:59 iCalendar can write, and the first of two
// VTIMEZONEs with one TZID that states something.
TEST(Zones, ReadAFilesOwnZoneAsItStatesIt) {
  const testing::ScopedTimeZone zone("UTC");
  const std::string twice =
      "BEGIN:VTIMEZONE\nTZID:Twice\nBEGIN:STANDARD\nDTSTART:19700101T000000\n"
      "RDATE:20260601T230000\nTZOFFSETFROM:+0300\nTZOFFSETTO:+0100\nEND:STANDARD\n"
      "BEGIN:DAYLIGHT\nDTSTART:20260601T010000\nTZOFFSETFROM:+0100\nTZOFFSETTO:+0300\n"
      "END:DAYLIGHT\nEND:VTIMEZONE\n";
  const std::string far =
      "BEGIN:VTIMEZONE\nTZID:Far\nEND:VTIMEZONE\nBEGIN:VTIMEZONE\nTZID:Far\n"
      "BEGIN:STANDARD\nDTSTART:19700101T000000\nTZOFFSETFROM:+2000\nTZOFFSETTO:-2359\n"
      "END:STANDARD\nEND:VTIMEZONE\n";
  const std::pair<std::string, std::string> cases[] = {
      {";TZID=Twice:20260601T120000", "2026-06-01 09:00"},
      {";TZID=Twice:20260601T003000", "2026-05-31 23:30"},
      {";TZID=Twice:20260601T233000", "2026-06-01 22:30"},
      {";TZID=Far:20260302T100000", "2026-03-03 09:59"},
  };
  for (const auto& [start, shown] : cases) {
    const std::string day = shown.substr(0, 10);
    const auto found = listingOf(calendarOf(twice + far + at(start)), day, day + " 23:59:59");
    EXPECT_EQ(found.events, std::vector<std::string>{shown}) << start;
    EXPECT_EQ(found.lines, "") << start;
  }
}

// New York as a VTIMEZONE states it since 2007, with the older rules from
// 1987 (an offset with seconds among them): agrees with the tz database at
// 02:30 every day, around each change of its rules and across 2037, where
// zoneinfo files stop listing changes and their closing rule takes over.
TEST(Zones, AFilesOwnZoneAgreesWithTheTzDatabase) {
  const testing::ScopedTimeZone zone("UTC");
  const std::string eastern =
      "BEGIN:VTIMEZONE\nTZID:Eastern\n"
      "BEGIN:STANDARD\nDTSTART:19671029T020000\nTZOFFSETFROM:-040000\nTZOFFSETTO:-0500\n"
      "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU;UNTIL=20061029T060000Z\nEND:STANDARD\n"
      "BEGIN:DAYLIGHT\nDTSTART:19870405T020000\nTZOFFSETFROM:-0500\nTZOFFSETTO:-0400\n"
      "RRULE:FREQ=YEARLY;BYMONTH=4;BYDAY=1SU;UNTIL=20060402T070000Z\nEND:DAYLIGHT\n"
      "BEGIN:STANDARD\nDTSTART:20071104T020000\nTZOFFSETFROM:-0400\nTZOFFSETTO:-0500\n"
      "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\nEND:STANDARD\n"
      "BEGIN:DAYLIGHT\nDTSTART:20070311T020000\nTZOFFSETFROM:-0500\nTZOFFSETTO:-0400\n"
      "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\nEND:DAYLIGHT\nEND:VTIMEZONE\n";
  for (const char* from : {"1990-01-01", "2004-06-01", "2029-01-01", "2036-01-01"}) {
    const std::string daily = std::string(from, 4) + "0101T023000\nRRULE:FREQ=DAILY\n";
    const auto own = listingOf(calendarOf(eastern + at(";TZID=Eastern:" + daily)), from, "9999");
    const auto tz = listingOf(calendarOf(at(";TZID=America/New_York:" + daily)), from, "9999");
    EXPECT_EQ(own.events.size(), 1461u);
    EXPECT_TRUE(own.events == tz.events) << from;
  }
}

// A rule of a POSIX TZ string ("M10.5.0/3") as an RRULE with its time of
// day: "FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU" at 03:00. A time outside the day
// moves the change to another day, of another weekday, which may lie in
// another month (Cairo's "M10.5.4/24" falls on 1 November in some years):
// then the seven days the rule's week can shift to, counted from the year's
// end (which 29 February doesn't move), and the weekday.
std::pair<std::string, std::int64_t> ruleOf(const std::string& posix) {
  static const std::regex form(R"(M(\d+)\.(\d)\.(\d)(?:/(-?)(\d+)(?::(\d+))?(?::(\d+))?)?)");
  std::smatch part;
  EXPECT_TRUE(std::regex_match(posix, part, form)) << posix;
  const int month = std::stoi(part[1]);
  const int week = std::stoi(part[2]);
  const int weekday = std::stoi(part[3]);  // 0 is Sunday
  std::int64_t time = 2 * 3600;
  if (part[5].matched) {
    time = std::stoll(part[5]) * 3600 + (part[6].matched ? std::stoll(part[6]) * 60 : 0) +
           (part[7].matched ? std::stoll(part[7]) : 0);
    if (part[4] == "-") time = -time;
  }
  const std::int64_t shift = time >= 0 ? time / 86400 : -((-time + 86399) / 86400);
  const char* days[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
  if (shift == 0) {
    return {"FREQ=YEARLY;BYMONTH=" + std::to_string(month) +
                ";BYDAY=" + (week == 5 ? "-1" : std::to_string(week)) + days[weekday],
            time};
  }
  EXPECT_GE(month, 3) << posix;  // days from the year's end don't move from March on
  const int monthEnds[] = {31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
  const int monthStart = monthEnds[month - 2] + 1;  // day of a common year, from 1
  const int first = week == 5 ? monthEnds[month - 1] - 6 : monthStart + 7 * (week - 1);
  std::string yearDays;
  for (int day = first; day < first + 7; ++day) {
    yearDays += (yearDays.empty() ? "" : ",") + std::to_string(day + shift - 366);
  }
  return {"FREQ=YEARLY;BYYEARDAY=" + yearDays + ";BYDAY=" + days[((weekday + shift) % 7 + 7) % 7],
          time - shift * 86400};
}

std::string offsetText(std::int64_t offset) {
  char text[32];
  const std::int64_t magnitude = offset < 0 ? -offset : offset;
  std::snprintf(text, sizeof text, "%c%02lld%02lld%02lld", offset < 0 ? '-' : '+',
                static_cast<long long>(magnitude / 3600),
                static_cast<long long>(magnitude / 60 % 60),
                static_cast<long long>(magnitude % 60));
  return text;
}

// Every installed zone whose file ends in a rule of daylight-saving time,
// written as a VTIMEZONE of a DAYLIGHT and a STANDARD observance with yearly
// rules from the first changes CCTZ gives after 2100, gives CCTZ's offsets
// for sixty years the rule governs (files list changes to 2037, Gaza's to
// 2086): every five days and some hours, and a second either side of each
// change.
TEST(Zones, EachInstalledRuleWrittenAsAVtimezoneGivesTheTzDatabasesOffsets) {
  namespace fs = std::filesystem;
  static const std::regex footer(
      R"(\n((?:<[^>]+>|[A-Za-z]+)([-+]?[0-9:]+)[^,\n]*),([^,\n]+),([^,\n]+)\n$)");
  const std::int64_t from = wallSeconds({2102, 1, 1});
  const std::int64_t to = wallSeconds({2160, 1, 1});
  int zones = 0;
  for (auto entry = fs::recursive_directory_iterator("/usr/share/zoneinfo");
       entry != fs::recursive_directory_iterator(); ++entry) {
    if (entry->is_directory() && entry->path().filename() == "right") {
      entry.disable_recursion_pending();
      continue;
    }
    if (!entry->is_regular_file() || entry->is_symlink()) continue;
    std::ifstream file(entry->path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    std::smatch posix;
    if (!bytes.starts_with("TZif") || !std::regex_search(bytes, posix, footer)) continue;
    const std::string name = fs::relative(entry->path(), "/usr/share/zoneinfo").string();
    cctz::time_zone theirs;
    ASSERT_TRUE(cctz::load_time_zone(name, &theirs)) << name;
    const auto instant = [](std::int64_t seconds) {
      return cctz::time_point<cctz::seconds>(cctz::seconds(seconds));
    };
    const auto offsetAt = [&](std::int64_t seconds) {
      return static_cast<std::int64_t>(theirs.lookup(instant(seconds)).offset);
    };
    // The standard offset, written west of UTC ("CET-1": an hour east).
    std::int64_t standard = 0;
    {
      const std::string text = posix[2];
      const bool west = text.front() != '-';
      std::int64_t unit = 3600;
      for (std::size_t at = text.find_first_of("0123456789"); at < text.size(); unit /= 60) {
        const std::size_t end = text.find(':', at);
        standard += std::stoll(text.substr(at, end - at)) * unit;
        at = end == std::string::npos ? end : end + 1;
      }
      standard = west ? -standard : standard;
    }

    // The first two changes after 2100 as onsets, at the wall-clock time
    // before each; the one from the standard offset follows the first rule.
    std::string observances;
    auto after = instant(wallSeconds({2100, 1, 1}));
    for (int i = 0; i < 2; ++i) {
      cctz::time_zone::civil_transition change;
      ASSERT_TRUE(theirs.next_transition(after, &change)) << name;
      after = theirs.lookup(change.to).trans;
      const std::int64_t at = after.time_since_epoch().count();
      const bool toDaylight = offsetAt(at - 1) == standard;
      const auto [rule, timeOfDay] = ruleOf(posix[toDaylight ? 3 : 4]);
      const cctz::civil_second wall = change.from;
      EXPECT_EQ(wall.hour() * 3600 + wall.minute() * 60 + wall.second(), timeOfDay) << name;
      char start[32];
      std::snprintf(start, sizeof start, "%04d%02d%02dT%02d%02d%02d", static_cast<int>(wall.year()),
                    wall.month(), wall.day(), wall.hour(), wall.minute(), wall.second());
      const char* kind = toDaylight ? "DAYLIGHT" : "STANDARD";
      observances += std::string("BEGIN:") + kind + "\nDTSTART:" + start +
                     "\nTZOFFSETFROM:" + offsetText(offsetAt(at - 1)) +
                     "\nTZOFFSETTO:" + offsetText(offsetAt(at)) + "\nRRULE:" + rule +
                     "\nEND:" + kind + "\n";
    }
    const ParsedCalendar parsed = readCalendar(
        "BEGIN:VCALENDAR\nBEGIN:VTIMEZONE\nTZID:Rule\n" + observances +
        "END:VTIMEZONE\nBEGIN:VEVENT\nUID:x\nDTSTART;TZID=Rule:21100101T000000\nEND:VEVENT\n"
        "END:VCALENDAR\n");
    ASSERT_EQ(parsed.events.size(), 1u) << name;
    const Zone& ours = *parsed.events[0].start.zone;

    std::vector<std::int64_t> instants;
    for (std::int64_t t = from; t < to; t += 5 * 86400 + 3 * 3600 + 7) instants.push_back(t);
    cctz::time_zone::civil_transition change;
    for (auto t = instant(from); t < instant(to) && theirs.next_transition(t, &change);) {
      t = theirs.lookup(change.to).trans;
      const std::int64_t at = t.time_since_epoch().count();
      instants.insert(instants.end(), {at - 1, at, at + 1});
    }
    int mismatches = 0;
    for (const std::int64_t t : instants) {
      if (ours.offsetAt(t) != offsetAt(t) && mismatches++ < 3) {
        ADD_FAILURE() << name << " (" << posix[1] << ") at " << t << ": " << ours.offsetAt(t)
                      << " against " << offsetAt(t) << "\n"
                      << observances;
      }
    }
    ++zones;
  }
  EXPECT_GT(zones, 100);
}

}  // namespace
}  // namespace quorvel::calendar::ical
