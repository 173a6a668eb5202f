// Time zones: the tz database's, a file's own VTIMEZONEs, and local time.
#include "calendar/ics/zone.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "calendar/ics/expand.h"
#include "support/listing.h"
#include "support/time_zone.h"

namespace quorvel::calendar::ics {
namespace {

using testing::calendarOf;
using testing::listingOf;

std::string at(const std::string& start) {
  return "BEGIN:VEVENT\nUID:x\nDTSTART" + start + "\nEND:VEVENT\n";
}

// A time in the gap of a daylight-saving change is read with the offset
// before it, a repeated time as its first occurrence; a TZID that no zone has
// is read as local time (Tokyo, UTC+9), with a line.
TEST(Zones, ReadTimesAsTheirZonesHaveThem) {
  const testing::ScopedTimeZone zone("Asia/Tokyo");
  const std::pair<std::string, std::string> cases[] = {
      {";TZID=America/New_York:20260308T023000", "2026-03-08 07:30"},
      {";TZID=America/New_York:20261101T013000", "2026-11-01 05:30"},
      {";TZID=America/New_York:20261101T020000", "2026-11-01 07:00"},
      // Past the last transition a zoneinfo file lists (2037), its closing
      // rule still gives daylight-saving time.
      {";TZID=America/New_York:39980701T120000", "3998-07-01 16:00"},
      {";TZID=Australia/Sydney:25000101T120000", "2500-01-01 01:00"},
      {";TZID=W. Europe Standard Time:20260302T100000", "2026-03-02 09:00"},
      {";TZID=/mozilla.org/20070129_1/Europe/Berlin:20260302T100000", "2026-03-02 09:00"},
      {":20260302T100000", "2026-03-02 01:00"},
      {";TZID=:20260302T100000", "2026-03-02 01:00"},
      {";TZID=Nowhere/Zone:20260302T100000", "2026-03-02 01:00 Nowhere/Zone"},
      {";TZID=../../etc/passwd:20260302T100000", "2026-03-02 01:00 ../../etc/passwd"},
      {";TZID=America:20260302T100000", "2026-03-02 01:00 America"},
  };
  for (const auto& [start, shown] : cases) {
    const std::string day = shown.substr(0, 10);
    const auto found = listingOf(calendarOf(at(start)), day, day + " 23:59:59");
    const std::size_t name = shown.find(' ', 11);
    EXPECT_EQ(found.events, std::vector<std::string>{shown.substr(0, name)}) << start;
    EXPECT_EQ(found.lines, name == std::string::npos
                               ? ""
                               : "event 1 has an unknown time zone \"" + shown.substr(name + 1) +
                                     "\"; its times are read as local time\n");
  }
}

// New York as a VTIMEZONE states it since 2007, with the older rules from
// 1987: agrees with the tz database at 02:30 every day, around each change
// of its rules.
TEST(Zones, AFilesOwnZoneAgreesWithTheTzDatabase) {
  const testing::ScopedTimeZone zone("UTC");
  const std::string eastern =
      "BEGIN:VTIMEZONE\nTZID:Eastern\n"
      "BEGIN:STANDARD\nDTSTART:19671029T020000\nTZOFFSETFROM:-0400\nTZOFFSETTO:-0500\n"
      "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU;UNTIL=20061029T060000Z\nEND:STANDARD\n"
      "BEGIN:DAYLIGHT\nDTSTART:19870405T020000\nTZOFFSETFROM:-0500\nTZOFFSETTO:-0400\n"
      "RRULE:FREQ=YEARLY;BYMONTH=4;BYDAY=1SU;UNTIL=20060402T070000Z\nEND:DAYLIGHT\n"
      "BEGIN:STANDARD\nDTSTART:20071104T020000\nTZOFFSETFROM:-0400\nTZOFFSETTO:-0500\n"
      "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\nEND:STANDARD\n"
      "BEGIN:DAYLIGHT\nDTSTART:20070311T020000\nTZOFFSETFROM:-0500\nTZOFFSETTO:-0400\n"
      "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\nEND:DAYLIGHT\nEND:VTIMEZONE\n";
  for (const char* from : {"1990-01-01", "2004-06-01", "2029-01-01"}) {
    const std::string daily = ":" + std::string(from, 4) + "0101T023000\nRRULE:FREQ=DAILY\n";
    const auto own = listingOf(calendarOf(eastern + at(";TZID=Eastern" + daily)), from, "9999");
    const auto tz = listingOf(calendarOf(at(";TZID=America/New_York" + daily)), from, "9999");
    EXPECT_EQ(own.events.size(), 1461u);
    EXPECT_TRUE(own.events == tz.events) << from;
  }
}

// Onsets from DTSTART, RDATE (a UTC one is in the offset before it) and
// rules; before the first onset, the offset it leaves. A rule finer than a
// day, or one that never matches, costs no more than a bounded amount.
TEST(Zones, AFilesOwnZoneFollowsItsOnsets) {
  const testing::ScopedTimeZone zone("UTC");
  const std::string text = calendarOf(
      "BEGIN:VTIMEZONE\nTZID:Odd\n"
      "BEGIN:STANDARD\nDTSTART:20251026T030000\nTZOFFSETFROM:+020000\nTZOFFSETTO:+0100\n"
      "RDATE:20271031T030000\nEND:STANDARD\n"
      "BEGIN:DAYLIGHT\nDTSTART:20260329T020000\nTZOFFSETFROM:+0100\nTZOFFSETTO:+0200\n"
      "RDATE:20270328T020000,20280326T010000Z\nEND:DAYLIGHT\n"
      "BEGIN:STANDARD\nDTSTART:20261025T030000\nTZOFFSETFROM:+0200\nTZOFFSETTO:+0100\n"
      "END:STANDARD\nEND:VTIMEZONE\n"
      "BEGIN:VTIMEZONE\nTZID:Costly\nBEGIN:STANDARD\nDTSTART:19700101T000000\n"
      "RRULE:FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30\nTZOFFSETFROM:+0200\nTZOFFSETTO:+0100\n"
      "END:STANDARD\nBEGIN:DAYLIGHT\nDTSTART:19700101T000000\nRRULE:FREQ=MINUTELY\n"
      "TZOFFSETFROM:+0100\nTZOFFSETTO:+0200\nEND:DAYLIGHT\nEND:VTIMEZONE\n" +
      at(";TZID=Odd:20250101T120000") + at(";TZID=Odd:20251201T120000") +
      at(";TZID=Odd:20260329T015900") + at(";TZID=Odd:20260329T030000") +
      at(";TZID=Odd:20261025T040000") + at(";TZID=Odd:20270328T030000") +
      at(";TZID=Odd:20271201T120000") + at(";TZID=Odd:20280326T013000") +
      at(";TZID=Odd:20280326T033000") + at(";TZID=Costly:20260302T100000"));
  EXPECT_EQ(listingOf(text, "2025-01-01", "2028-12-31").events,
            (std::vector<std::string>{"2025-01-01 10:00", "2025-12-01 11:00", "2026-03-02 08:00",
                                      "2026-03-29 00:59", "2026-03-29 01:00", "2026-10-25 03:00",
                                      "2027-03-28 01:00", "2027-12-01 11:00", "2028-03-26 00:30",
                                      "2028-03-26 01:30"}));
}

// A zone file that can't be opened for want of descriptors is a failure to
// read, not an unknown zone: the text's events can't be read as meant. An
// event far from the window never looks its zone up. In a child process,
// whose descriptors can all be used up, and with zones no other test loads
// (the zones loaded stay loaded, and CCTZ keeps a failed load).
TEST(Zones, AZoneThatCannotBeOpenedIsAFailureNotAnUnknownZone) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer needs descriptors of its own";
#endif
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 256);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    while (::open("/dev/null", O_RDONLY) >= 0) {
    }
    const auto failure = [](const char* tzid, const char* start) {
      return eventsInText("BEGIN:VEVENT\r\nDTSTART;TZID=" + std::string(tzid) + ":" + start +
                              "\r\nEND:VEVENT\r\n",
                          {1772409600.0, 1772496000.0}, {})
          .failure.value_or("none");
    };
    const bool ok = failure("Antarctica/Vostok", "20260302T100000") ==
                        "/usr/share/zoneinfo/Antarctica/Vostok: Too many open files" &&
                    failure("Asia/Dili", "20200302T100000") == "none";
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace quorvel::calendar::ics
