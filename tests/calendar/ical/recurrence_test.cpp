// Recurrence as the store lists it: every occurrence in the window an event
// of its own. Expected times are worked out by hand from the calendar and the
// zones' offsets, written as UTC.
#include <gtest/gtest.h>

#include <tuple>

#include "support/listing.h"

namespace quorvel::calendar::ical {
namespace {

using testing::calendarOf;
using testing::listingOf;
using Listed = std::vector<std::string>;

std::string series(const std::string& properties) {
  return "BEGIN:VEVENT\nUID:series\n" + properties + "END:VEVENT\n";
}

// The event's own start is always the first occurrence, and counts.
TEST(Recurrence, FollowsRules) {
  const testing::ScopedTimeZone zone("UTC");
  const std::pair<std::string, Listed> cases[] = {
      // 4 March 2026 is a Wednesday.
      {"20260304T090000Z\nDURATION:PT1H\nRRULE:FREQ=WEEKLY;BYDAY=FR;COUNT=3",
       {"2026-03-04 09:00 +1h", "2026-03-06 09:00 +1h", "2026-03-13 09:00 +1h"}},
      {"20260130T090000Z\nRRULE:FREQ=MONTHLY;BYDAY=-1FR;COUNT=3",
       {"2026-01-30 09:00", "2026-02-27 09:00", "2026-03-27 09:00"}},
      {"20260302T090000Z\nRRULE:FREQ=DAILY;COUNT=1", {"2026-03-02 09:00"}},
      {"20260131T090000Z\nRRULE:FREQ=MONTHLY;COUNT=3",
       {"2026-01-31 09:00", "2026-03-31 09:00", "2026-05-31 09:00"}},
      {"20260301T120000Z\nRRULE:FREQ=DAILY;UNTIL=20260302T120000Z",
       {"2026-03-01 12:00", "2026-03-02 12:00"}},
      {"20260303T090000Z\nRRULE:FREQ=WEEKLY;INTERVAL=2;COUNT=4;BYDAY=TU,SU;WKST=SU",
       {"2026-03-03 09:00", "2026-03-15 09:00", "2026-03-17 09:00", "2026-03-29 09:00"}},
      {"20260227T170000Z\nRRULE:FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1;COUNT=2",
       {"2026-02-27 17:00", "2026-03-31 17:00"}},
      // Only months with five Mondays have a fifth from the end.
      {"20260302T090000Z\nRRULE:FREQ=MONTHLY;BYDAY=MO;BYSETPOS=-5;COUNT=3",
       {"2026-03-02 09:00", "2026-06-01 09:00", "2026-08-03 09:00"}},
      {"20260308T020000Z\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU;COUNT=2",
       {"2026-03-08 02:00", "2027-03-14 02:00"}},
      {"20251229T090000Z\nRRULE:FREQ=YEARLY;BYWEEKNO=1,-1;BYDAY=MO;COUNT=4",
       {"2025-12-29 09:00", "2026-12-28 09:00", "2027-01-04 09:00", "2027-12-27 09:00"}},
      {"20251231T120000Z\nRRULE:FREQ=YEARLY;BYYEARDAY=1,-1;COUNT=3",
       {"2025-12-31 12:00", "2026-01-01 12:00", "2026-12-31 12:00"}},
      {"20200229T000000Z\nRRULE:FREQ=YEARLY;COUNT=3", {"2024-02-29 00:00"}},
      // A weekly rule's BYDAY has no ordinals to count.
      {"20260303T090000Z\nRRULE:FREQ=WEEKLY;BYDAY=2TU;COUNT=2",
       {"2026-03-03 09:00", "2026-03-10 09:00"}},
      {"20260105T090000Z\nRRULE:FREQ=WEEKLY;INTERVAL=4;BYMONTH=1,3;COUNT=3",
       {"2026-01-05 09:00", "2026-03-02 09:00", "2026-03-30 09:00"}},
      {"20260302T090000Z\nRRULE:FREQ=HOURLY;INTERVAL=3;BYMINUTE=0,30;COUNT=4",
       {"2026-03-02 09:00", "2026-03-02 09:30", "2026-03-02 12:00", "2026-03-02 12:30"}},
      {"20260302T094000Z\nRRULE:FREQ=MINUTELY;INTERVAL=20;BYHOUR=9;COUNT=4",
       {"2026-03-02 09:40", "2026-03-03 09:00", "2026-03-03 09:20", "2026-03-03 09:40"}},
      {"20260301T100000Z\nDURATION:PT30M\nRRULE:FREQ=DAILY;COUNT=5\n"
       "EXDATE:20260305T100000Z\nEXDATE:20260302T100000Z,20260303T100000Z\n"
       "RDATE:20260310T150000Z\nRDATE;VALUE=PERIOD:20260301T100000Z/PT5H,20260311T150000Z/PT2H\n"
       "RDATE;VALUE=PERIOD:20260312T150000Z/20260312T151500Z\nRDATE;VALUE=DATE:20260313",
       {"2026-03-01 10:00 +30m", "2026-03-04 10:00 +30m", "2026-03-10 15:00 +30m",
        "2026-03-11 15:00 +2h", "2026-03-12 15:00 +15m", "2026-03-13 10:00 +30m"}},
      {"20260301T100000Z\nEXDATE:20260301T100000Z", {}},
      // Series from long before the window, followed from the window on.
      {"19900102T090000Z\nRRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,SU;WKST=SU;UNTIL=20240115",
       {"2024-01-02 09:00", "2024-01-14 09:00"}},
      {"19900105T090000Z\nRRULE:FREQ=MONTHLY;BYDAY=1FR;UNTIL=20240301",
       {"2024-01-05 09:00", "2024-02-02 09:00", "2024-03-01 09:00"}},
      {"19900101T090000Z\nRRULE:FREQ=YEARLY;BYWEEKNO=1;BYDAY=MO;UNTIL=20250101",
       {"2024-01-01 09:00", "2024-12-30 09:00"}},
      {"19900115T090000Z\nRRULE:FREQ=MONTHLY;INTERVAL=2;COUNT=205", {"2024-01-15 09:00"}},
  };
  for (const auto& [properties, expected] : cases) {
    const auto found =
        listingOf(calendarOf(series("DTSTART:" + properties + "\n")), "2024-01-01", "2028");
    EXPECT_EQ(found.events, expected) << properties;
    EXPECT_EQ(found.lines, "") << properties;
  }
}

// New York moves from EST (UTC-5) to EDT (UTC-4) on 8 March 2026; Berlin, the
// local zone, from CET (UTC+1) to CEST (UTC+2) on 29 March 2026 at 02:00 (31
// March 2024) and back on 25 October 2026 at 03:00 (27 October 2024).
// Occurrences keep their wall-clock time; a DTEND gives each the first one's
// exact length, a DURATION's days are calendar days and its hours exact, an
// all-day event lasts whole days.
TEST(Recurrence, FollowsTheWallClockAcrossDaylightSavingChanges) {
  const testing::ScopedTimeZone zone("Europe/Berlin");
  const std::pair<std::string, Listed> cases[] = {
      {";TZID=America/New_York:20260307T120000\nDURATION:P1D\nRRULE:FREQ=DAILY;COUNT=2",
       {"2026-03-07 17:00 +23h", "2026-03-08 16:00 +24h"}},
      // 02:30 doesn't exist on 29 March: it is read with CET, as 03:30 CEST.
      {";TZID=Europe/Berlin:20260328T023000\nRRULE:FREQ=DAILY;COUNT=3",
       {"2026-03-28 01:30", "2026-03-29 01:30", "2026-03-30 00:30"}},
      // 02:30 happens twice on 25 October: the first time, in CEST.
      {":20261024T023000\nRRULE:FREQ=DAILY;COUNT=3",
       {"2026-10-24 00:30", "2026-10-25 00:30", "2026-10-26 01:30"}},
      {";TZID=Europe/Berlin:20240323T230000\nDTEND;TZID=Europe/Berlin:20240324T040000\n"
       "RRULE:FREQ=WEEKLY;COUNT=2",
       {"2024-03-23 22:00 +5h", "2024-03-30 22:00 +5h"}},
      {":20241019T120000\nDTEND:20241020T120000\nRRULE:FREQ=WEEKLY;COUNT=2",
       {"2024-10-19 10:00 +24h", "2024-10-26 10:00 +24h"}},
      {":20241026T120000\nDURATION:P1DT1H", {"2024-10-26 10:00 +26h"}},
      {";VALUE=DATE:20241026\nDTEND;VALUE=DATE:20241028\nRRULE:FREQ=WEEKLY;COUNT=2",
       {"2024-10-25 22:00 +48h59m59s all-day", "2024-11-01 23:00 +47h59m59s all-day"}},
      // Mondays since 1 March 1965, a Monday before the epoch.
      {";VALUE=DATE:19650301\nRRULE:FREQ=WEEKLY;UNTIL=20240110",
       {"2023-12-31 23:00 +23h59m59s all-day", "2024-01-07 23:00 +23h59m59s all-day"}},
  };
  for (const auto& [properties, expected] : cases) {
    const std::string text = calendarOf(series("DTSTART" + properties + "\n"));
    EXPECT_EQ(listingOf(text, "2024-01-01", "2027").events, expected) << properties;
  }
}

// An override (RECURRENCE-ID, same UID) replaces the one occurrence it names,
// even with RANGE=THISANDFUTURE: the later ones stay as the series has them.
TEST(Recurrence, OverridesReplaceTheOccurrenceTheyName) {
  const testing::ScopedTimeZone zone("UTC");
  const std::string weekly =
      series("SUMMARY:s\nDTSTART:20260302T100000Z\nDURATION:PT1H\nRRULE:FREQ=WEEKLY;COUNT=4\n");
  const auto override = [](const std::string& recurrenceId, const std::string& properties) {
    return "BEGIN:VEVENT\nUID:series\nRECURRENCE-ID" + recurrenceId + "\n" + properties +
           "\nEND:VEVENT\n";
  };
  const std::pair<std::string, Listed> cases[] = {
      {override(";RANGE=THISANDFUTURE:20260309T100000Z",
                "SUMMARY:moved\nDTSTART:20260309T120000Z\nDURATION:PT1H30M"),
       {"2026-03-02 10:00 +1h 's'", "2026-03-09 12:00 +1h30m 'moved'", "2026-03-16 10:00 +1h 's'"}},
      {override(":20260309T100000Z", "DTSTART:20260420T100000Z"),
       {"2026-03-02 10:00 +1h 's'", "2026-03-16 10:00 +1h 's'"}},
      {override(":20260323T100000Z", "SUMMARY:in\nDTSTART:20260310T100000Z"),
       {"2026-03-02 10:00 +1h 's'", "2026-03-09 10:00 +1h 's'", "2026-03-10 10:00 'in'",
        "2026-03-16 10:00 +1h 's'"}},
      // 11:00 in Berlin (CET) is the first occurrence's 10:00Z.
      {override(";TZID=Europe/Berlin:20260302T110000", "SUMMARY:1st\nDTSTART:20260302T080000Z"),
       {"2026-03-02 08:00 '1st'", "2026-03-09 10:00 +1h 's'", "2026-03-16 10:00 +1h 's'"}},
  };
  for (const auto& [overrides, expected] : cases) {
    EXPECT_EQ(listingOf(calendarOf(weekly + overrides), "2026-03-01", "2026-03-21").events,
              expected)
        << overrides;
  }
}

// A rule is followed from the window, not from its start; and no event lists
// more than its share.
TEST(Recurrence, CostGrowsWithTheWindowNotTheYearsBeforeIt) {
  const testing::ScopedTimeZone zone("UTC");
  const std::string fine =
      "event 1 repeats more often than daily; only its first 1000 occurrences in the window "
      "are listed\n";
  const std::tuple<std::string, const char*, const char*, std::size_t, std::string> cases[] = {
      {"19900101T080000Z\nRRULE:FREQ=DAILY", "2026-03-02", "2026-03-09", 7, ""},
      {"19900101T080000Z\nRRULE:FREQ=MINUTELY", "2026-03-02", "2030", 1000, fine},
      // The last of 825,804,787 seconds from 2000 is 2026-03-02T22:13:06Z.
      {"20000101T000000Z\nRRULE:FREQ=SECONDLY;COUNT=825804787", "2026-03-02 22:13", "2026-03-03", 7,
       ""},
      // The last ISO week of 2026 ends on Sunday 3 January 2027.
      {"20200105T090000Z\nRRULE:FREQ=YEARLY;BYWEEKNO=-1;BYDAY=SU", "2027-01-03", "2027-01-04", 1,
       ""},
      {"20260101T080000Z\nRRULE:FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30", "2026-03-02", "2026-03-09", 0,
       "event 1 has a recurrence too costly to follow to the window; occurrences after that "
       "point are not listed\n"},
      {"20260101T080000Z\nRRULE:FREQ=DAILY;BYHOUR=8,20", "2026-03-02", "2030", 1000, fine},
      {"99970101T000000Z\nRRULE:FREQ=YEARLY", "9998", "9999-12-31 12:00", 2, ""},
      {"99971230T000000Z\nRRULE:FREQ=DAILY", "9999-12-30", "9999-12-31 12:00", 2, ""},
      {"99971231T000000Z\nRRULE:FREQ=WEEKLY", "9999-12-24", "9999-12-31 12:00", 1, ""},
      {"20260101T080000Z\nRRULE:FREQ=DAILY\nRRULE:FREQ=DAILY;BYHOUR=20", "2026-03-02", "2030", 1000,
       fine},
      {"20260101T080000Z\nRRULE:FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR,SA,SU;BYHOUR=12\n"
       "RRULE:FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR,SA,SU;BYHOUR=20",
       "2026-03-02", "2030", 2000,
       "event 1 has too many occurrences; only its first 2000 occurrences in the window are "
       "listed\n"},
  };
  for (const auto& [properties, from, to, listed, lines] : cases) {
    const auto found = listingOf(calendarOf(series("DTSTART:" + properties + "\n")), from, to);
    EXPECT_EQ(found.events.size(), listed) << properties;
    EXPECT_EQ(found.lines, lines) << properties;
  }
}

}  // namespace
}  // namespace quorvel::calendar::ical
