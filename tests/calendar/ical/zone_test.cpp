// Time zones: the tz database's, a file's own VTIMEZONEs, and local time.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quorvel::calendar::ical
