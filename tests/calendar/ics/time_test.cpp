#include "calendar/ics/time.h"

#include <gtest/gtest.h>

#include "support/time_zone.h"

namespace quorvel::calendar::ics {
namespace {

using testing::ScopedTimeZone;

TEST(Civil, RejectsImpossibleDates) {
  EXPECT_TRUE(isValidCivil({2024, 2, 29, 23, 59, 60}));
  EXPECT_FALSE(isValidCivil({2026, 2, 29}));
  EXPECT_FALSE(isValidCivil({2026, 2, 30}));
  EXPECT_FALSE(isValidCivil({2026, 4, 31}));
  EXPECT_FALSE(isValidCivil({2026, 13, 1}));
  EXPECT_FALSE(isValidCivil({2026, 1, 1, 24}));
  EXPECT_FALSE(isValidCivil({0, 1, 1}));
  EXPECT_FALSE(isValidCivil({10000, 1, 1}));
}

// Wall-clock times around the 2026 changes. New York leaves EST (-5) at
// 2026-03-08 02:00 and returns at 2026-11-01 02:00 EDT; Berlin leaves CET (+1)
// at 2026-03-29 02:00 and returns at 2026-10-25 03:00 CEST. A time in the gap
// is read with the offset before it, a repeated time as its first occurrence.
TEST(ToUtc, FollowsTheRulesForGapsAndRepeats) {
  const struct {
    const char* zone;
    CivilTime wall;
    int offsetHours;
  } cases[] = {
      {"America/New_York", {2026, 3, 8, 1, 59, 59}, -5},
      {"America/New_York", {2026, 3, 8, 2, 30, 0}, -5},  // gap: reads as 03:30 EDT
      {"America/New_York", {2026, 3, 8, 3, 0, 0}, -4},
      {"America/New_York", {2026, 11, 1, 1, 30, 0}, -4},  // repeated: the EDT one
      {"America/New_York", {2026, 11, 1, 2, 0, 0}, -5},
      {"Europe/Berlin", {2026, 3, 29, 2, 30, 0}, 1},  // gap
      {"Europe/Berlin", {2026, 3, 29, 3, 0, 0}, 2},
      {"Europe/Berlin", {2026, 10, 25, 2, 30, 0}, 2},  // repeated: the CEST one
      {"Europe/Berlin", {2026, 10, 25, 3, 0, 0}, 1},
      {"Europe/Berlin", {1960, 7, 1, 12, 0, 0}, 1},
  };
  for (const auto& c : cases) {
    const ScopedTimeZone zone(c.zone);
    const std::int64_t wall = wallSeconds(c.wall);
    EXPECT_EQ(toUtc(localZone(), wall), wall - c.offsetHours * 3600)
        << c.zone << " " << c.wall.month << "-" << c.wall.day << " " << c.wall.hour;
  }
}

}  // namespace
}  // namespace quorvel::calendar::ics
