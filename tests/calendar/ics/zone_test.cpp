#include "calendar/ics/zone.h"

#include <gtest/gtest.h>

#include "calendar/ics/expand.h"
#include "calendar/ics/parse.h"
#include "calendar/ics/values.h"
#include "support/temp_store.h"
#include "support/time_zone.h"

namespace quorvel::calendar::ics {
namespace {

using testing::calendarOf;
using testing::ScopedTimeZone;

Observance observance(std::int64_t from, std::int64_t to, CivilTime start, const char* rule) {
  Observance result{from * 3600, to * 3600, wallSeconds(start), {}, {}};
  if (rule != nullptr) {
    result.rules.push_back(*parseRule(rule, false));
  }
  return result;
}

// New York as a VTIMEZONE states it since 2007, with the older rules from
// 1987: agrees with the system's tz database at every hour from 1990 to
// 2031, through every change.
TEST(DefinedZone, AgreesWithTheTzDatabase) {
  const DefinedZone zone({
      observance(-4, -5, {1967, 10, 29, 2, 0, 0},
                 "FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU;UNTIL=20061029T060000Z"),
      observance(-5, -4, {1987, 4, 5, 2, 0, 0},
                 "FREQ=YEARLY;BYMONTH=4;BYDAY=1SU;UNTIL=20060402T070000Z"),
      observance(-4, -5, {2007, 11, 4, 2, 0, 0}, "FREQ=YEARLY;BYMONTH=11;BYDAY=1SU"),
      observance(-5, -4, {2007, 3, 11, 2, 0, 0}, "FREQ=YEARLY;BYMONTH=3;BYDAY=2SU"),
  });
  const ScopedTimeZone system("America/New_York");
  int mismatches = 0;
  for (std::int64_t t = wallSeconds({1990, 1, 1}); t < wallSeconds({2031, 1, 1}); t += 3600) {
    if (zone.offsetAt(t) != localZone().offsetAt(t) && ++mismatches < 5) {
      ADD_FAILURE() << "at " << t << ": " << zone.offsetAt(t) << " vs " << localZone().offsetAt(t);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(DefinedZone, FollowsDatesAndFixedOffsets) {
  Observance summer = observance(1, 2, {2026, 3, 29, 2, 0, 0}, nullptr);
  summer.dateWalls = {wallSeconds({2027, 3, 28, 2, 0, 0})};
  const DefinedZone zone({observance(2, 1, {2025, 10, 26, 3, 0, 0}, nullptr), summer,
                          observance(2, 1, {2026, 10, 25, 3, 0, 0}, nullptr)});
  const struct {
    CivilTime utc;
    int hours;
  } cases[] = {
      {{2025, 1, 1}, 2},   // before every onset: the first one's "from"
      {{2025, 12, 1}, 1},  // after the first onset
      {{2026, 3, 29, 0, 59, 59}, 1},
      {{2026, 3, 29, 1, 0, 0}, 2},   // 02:00 at +1
      {{2026, 10, 25, 1, 0, 0}, 1},  // 03:00 at +2
      {{2027, 3, 28, 1, 0, 0}, 2},   // the RDATE
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zone.offsetAt(wallSeconds(c.utc)), c.hours * 3600)
        << c.utc.year << "-" << c.utc.month;
  }
}

// A rule that never matches, or one that changes the offset every minute, may
// not cost more than a bounded amount of work.
TEST(DefinedZone, StaysCheapWithRulesNoZoneHas) {
  const std::string text = calendarOf(
      "BEGIN:VTIMEZONE\nTZID:Odd\nBEGIN:STANDARD\nDTSTART:19700101T000000\n"
      "RRULE:FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30\nTZOFFSETFROM:+0200\nTZOFFSETTO:+0100\n"
      "END:STANDARD\nBEGIN:DAYLIGHT\nDTSTART:19700101T000000\nRRULE:FREQ=MINUTELY\n"
      "TZOFFSETFROM:+0100\nTZOFFSETTO:+0200\nEND:DAYLIGHT\nEND:VTIMEZONE\n"
      "BEGIN:VEVENT\nUID:x\nDTSTART;TZID=Odd:20260302T100000\nRRULE:FREQ=DAILY\nEND:VEVENT\n");
  const TextEvents found = eventsInText(text, {1772409600.0, 1772409600.0 + 7 * 86400}, {});
  ASSERT_EQ(found.occurrences.size(), 7u);
  // The latest onset is the DAYLIGHT start (the minutely rule is ignored, the
  // yearly one never matches): +2.
  EXPECT_EQ(found.occurrences[0].start, 1772409600 + 8 * 3600);
}

}  // namespace
}  // namespace quorvel::calendar::ics
