// What the EDS back end does without EDS: the query a calendar is asked, and
// the iCalendar text its answer becomes.
#include <gtest/gtest.h>

#include <string>

#include "calendar/ics/eds/text.h"
#include "calendar/ics/expand.h"
#include "calendar/ics/time.h"
#include "support/time_zone.h"

namespace quorvel::calendar::ics::eds {
namespace {

using testing::ScopedTimeZone;

// Seconds of 2026-06-01T00:00:00Z and 2026-06-08T00:00:00Z.
constexpr double kJune1 = 1780272000;
constexpr double kJune8 = 1780876800;

TEST(EdsQuery, AsksForTheWindowWidenedByADayAndEveryRecurringEvent) {
  const struct {
    Window window;
    std::string zone;
    std::string query;
  } cases[] = {
      {{kJune1, kJune8},
       "Asia/Tokyo",
       "(or (occur-in-time-range? (make-time \"20260531T000000Z\") (make-time "
       "\"20260609T000000Z\") \"Asia/Tokyo\") (has-recurrences?))"},
      // Fractions widen outwards; a zone that isn't a plain name is left out.
      {{kJune1 + 0.5, kJune8 - 0.5},
       "",
       "(or (occur-in-time-range? (make-time \"20260531T000000Z\") (make-time "
       "\"20260609T000000Z\")) (has-recurrences?))"},
      {{kJune1, kJune8},
       "Bad\" (zone",
       "(or (occur-in-time-range? (make-time \"20260531T000000Z\") (make-time "
       "\"20260609T000000Z\")) (has-recurrences?))"},
      {{kJune1, kJune8},
       "America/Port-au-Prince",
       "(or (occur-in-time-range? (make-time \"20260531T000000Z\") (make-time "
       "\"20260609T000000Z\") \"America/Port-au-Prince\") (has-recurrences?))"},
      // The range of iCalendar years bounds the widening.
      {{static_cast<double>(kFirstSecond), static_cast<double>(kFirstSecond) + 3600},
       "UTC",
       "(or (occur-in-time-range? (make-time \"00010101T000000Z\") (make-time "
       "\"00010102T010000Z\") \"UTC\") (has-recurrences?))"},
      {{static_cast<double>(kEndSecond) - 3600, static_cast<double>(kEndSecond)},
       "UTC",
       "(or (occur-in-time-range? (make-time \"99991230T230000Z\") (make-time "
       "\"99991231T235959Z\") \"UTC\") (has-recurrences?))"},
  };
  for (const auto& c : cases) EXPECT_EQ(queryFor(c.window, c.zone), c.query) << c.zone;
}

TEST(EdsText, DescribesAComponentByItsOwnLines) {
  const Component component = describe(
      "BEGIN:VEVENT\r\nUID:series@example.org\r\n"
      "RECURRENCE-ID;TZID=\"W. Europe Standard Time\":20260605T100000\r\n"
      "DTSTART;TZ\r\n ID=Office Time:20260612T100000\r\n"
      "EXDATE;TZID=W. Europe Standard Time:20260603T100000\r\n"
      "BEGIN:VALARM\r\nUID:alarm@example.org\r\nRECURRENCE-ID:20990101T000000Z\r\n"
      "TRIGGER;VALUE=DATE-TIME;TZID=Alarm Zone:20260612T090000\r\nEND:VALARM\r\n"
      "END:VEVENT\r\n");
  EXPECT_EQ(component.uid, "series@example.org");
  EXPECT_EQ(component.recurrenceId, "20260605T100000");
  EXPECT_EQ(component.tzids,
            (std::vector<std::string>{"Alarm Zone", "Office Time", "W. Europe Standard Time"}));
}

// A series and its overrides come back from EDS as separate components, in
// no particular order: each UID's make one text, with the zones they name.
TEST(EdsText, KeepsEachSeriesWithItsOverridesAndTheZonesTheyName) {
  const ScopedTimeZone zone("UTC");
  const std::map<std::string, std::string, std::less<>> zones = {
      {"Plus Two",
       "BEGIN:VTIMEZONE\r\nTZID:Plus Two\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
       "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0200\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"},
      {"Unused",
       "BEGIN:VTIMEZONE\r\nTZID:Unused\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
       "TZOFFSETFROM:+0500\r\nTZOFFSETTO:+0500\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"},
  };
  // Without a line end after END:VEVENT, as a serialiser might leave it.
  std::vector<Component> components = {
      describe("BEGIN:VEVENT\r\nUID:b\r\nRECURRENCE-ID;TZID=Plus Two:20260605T100000\r\n"
               "SUMMARY:Moved out\r\nDTSTART;TZID=Plus Two:20260612T100000\r\n"
               "DURATION:PT15M\r\nEND:VEVENT"),
      describe("BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:Alone\r\nDTSTART:20260602T120000Z\r\n"
               "END:VEVENT\r\n"),
      describe("BEGIN:VEVENT\r\nUID:b\r\nSUMMARY:Daily\r\n"
               "DTSTART;TZID=Plus Two:20260604T100000\r\nDURATION:PT15M\r\n"
               "RRULE:FREQ=DAILY;COUNT=3\r\nEND:VEVENT\r\n"),
  };
  const std::vector<EventText> texts = eventTexts(std::move(components), zones);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].uid, "a");
  EXPECT_EQ(texts[0].text.find("VTIMEZONE"), std::string::npos);
  EXPECT_EQ(texts[1].uid, "b");
  EXPECT_NE(texts[1].text.find("TZID:Plus Two"), std::string::npos);
  EXPECT_EQ(texts[1].text.find("TZID:Unused"), std::string::npos);
  // The series first, then its override.
  EXPECT_LT(texts[1].text.find("SUMMARY:Daily"), texts[1].text.find("SUMMARY:Moved out"));

  // Read as the store reads it: 4 and 6 June at 08:00Z, but not 5 June,
  // which the override moved out of the window.
  const TextEvents events = eventsInText(texts[1].text, {kJune1, kJune8}, {});
  EXPECT_TRUE(events.problems.empty()) << events.problems.front();
  ASSERT_EQ(events.occurrences.size(), 2u);
  EXPECT_EQ(events.occurrences[0].start, static_cast<std::int64_t>(kJune1) + 3 * 86400 + 8 * 3600);
  EXPECT_EQ(events.occurrences[1].start, static_cast<std::int64_t>(kJune1) + 5 * 86400 + 8 * 3600);
}

}  // namespace
}  // namespace quorvel::calendar::ics::eds
