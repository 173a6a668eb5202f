#include "calendar/ics/store.h"

#include <gtest/gtest.h>

#include "record/record.h"
#include "support/temp_store.h"
#include "support/time_zone.h"

namespace quorvel::calendar::ics {
namespace {

using testing::calendarOf;
using testing::eventOf;
using testing::ScopedTimeZone;
using testing::TempStore;

struct Query {
  std::vector<EventRecord> records;
  std::vector<std::string> diagnostics;
};

// Seconds of 2026-03-02T00:00:00Z, a Monday.
constexpr double kMonday = 1772409600;

Query query(const TempStore& store, double start, double end) {
  Query result;
  auto calendars = createIcsStore(
      store.root(), [&](std::string_view line) { result.diagnostics.emplace_back(line); });
  for (const auto& event :
       calendars->eventsMatching(*calendars->predicateForEvents({start}, {end}))) {
    result.records.push_back(buildRecord(*event));
  }
  return result;
}

class IcsStoreTest : public ::testing::Test {
 protected:
  ScopedTimeZone zone_{"America/New_York"};
  TempStore store_;
};

TEST_F(IcsStoreTest, MapsAvailabilityAndTheUsersOwnStatus) {
  store_.write("addresses", "mailto:Other@Me.net\n\n");
  store_.write("work/addresses", "  me@example.org\r\n");
  const struct {
    std::string properties;
    std::string_view availability;
    std::string_view status;
  } cases[] = {
      {"", "busy", "unknown"},
      {"TRANSP:TRANSPARENT\n", "free", "unknown"},
      {"TRANSP:OPAQUE\n", "busy", "unknown"},
      {"TRANSP:OPAQUE\nX-MICROSOFT-CDO-BUSYSTATUS:FREE\n", "free", "unknown"},
      {"TRANSP:TRANSPARENT\nX-MICROSOFT-CDO-BUSYSTATUS:BUSY\n", "busy", "unknown"},
      {"X-MICROSOFT-CDO-BUSYSTATUS:TENTATIVE\n", "tentative", "unknown"},
      {"X-MICROSOFT-CDO-BUSYSTATUS:OOF\n", "unavailable", "unknown"},
      {"X-MICROSOFT-CDO-BUSYSTATUS:WORKINGELSEWHERE\n", "busy", "unknown"},
      {"ATTENDEE;PARTSTAT=ACCEPTED:mailto:ME@example.org\n", "busy", "accepted"},
      {"ATTENDEE:MAILTO:other@me.net\n", "busy", "pending"},
      {"ATTENDEE;PARTSTAT=X-SOMETHING:mailto:me@example.org\n", "busy", "pending"},
      {"ATTENDEE;PARTSTAT=DELEGATED:mailto:me@example.org\n", "busy", "unknown"},
      {"ATTENDEE;PARTSTAT=IN-PROCESS:mailto:me@example.org\n", "busy", "unknown"},
      {"ATTENDEE;PARTSTAT=needs-action:mailto:me@example.org\n", "busy", "pending"},
      {"ATTENDEE;PARTSTAT=DECLINED:mailto:boss@example.org\n"
       "ATTENDEE;PARTSTAT=TENTATIVE:mailto:me@example.org\n",
       "busy", "tentative"},
      {"ATTENDEE;PARTSTAT=ACCEPTED:mailto:someone@example.org\n", "busy", "unknown"},
  };
  for (const auto& c : cases) {
    store_.write("work/event.ics",
                 calendarOf(eventOf("DTSTART:20260302T150000Z\n" + c.properties)));
    const Query result = query(store_, kMonday, kMonday + 86400);
    ASSERT_EQ(result.records.size(), 1u) << c.properties;
    EXPECT_EQ(result.records[0].availability, c.availability) << c.properties;
    EXPECT_EQ(result.records[0].participantStatus, c.status) << c.properties;
    EXPECT_TRUE(result.diagnostics.empty());
  }
}

TEST_F(IcsStoreTest, WorksOutEndsFromDtendDurationOrDefaults) {
  constexpr std::int64_t kStart = 1772463600000;  // 2026-03-02T15:00:00Z
  // Local midnight in New York (UTC-5) and the presented end of a 1-day event.
  constexpr std::int64_t kMidnight = 1772427600000;
  const struct {
    std::string properties;
    std::int64_t start;
    std::int64_t end;
    bool allDay;
  } cases[] = {
      {"DTSTART:20260302T150000Z\nDTEND:20260302T160000Z\n", kStart, kStart + 3600000, false},
      {"DTSTART:20260302T150000Z\nDURATION:PT1H30M\n", kStart, kStart + 5400000, false},
      // A unit given twice makes no DURATION: the event is an instant.
      {"DTSTART:20260302T150000Z\nDURATION:PT1H1H\n", kStart, kStart, false},
      {"DTSTART:20260302T150000Z\n", kStart, kStart, false},
      {"DTSTART:20260302T150000Z\nDTEND;TZID=Europe/Berlin:20260302T170000\n", kStart,
       kStart + 3600000, false},
      {"DTSTART:20260302T150000Z\nDTEND:20260302T140000Z\n", kStart, kStart, false},
      {"DTSTART;VALUE=DATE:20260302\n", kMidnight, kMidnight + 86399000, true},
      {"DTSTART;VALUE=DATE:20260302\nDTEND;VALUE=DATE:20260302\n", kMidnight, kMidnight + 86399000,
       true},
      {"DTSTART;VALUE=DATE:20260302\nDTEND;VALUE=DATE:20260304\n", kMidnight,
       kMidnight + 2 * 86400000 - 1000, true},
      {"DTSTART;VALUE=DATE:20260302\nDURATION:P3D\n", kMidnight, kMidnight + 3 * 86400000 - 1000,
       true},
  };
  for (const auto& c : cases) {
    store_.write("cal/event.ics", calendarOf(eventOf(c.properties)));
    const Query result = query(store_, kMonday, kMonday + 86400);
    ASSERT_EQ(result.records.size(), 1u) << c.properties;
    EXPECT_EQ(result.records[0].startsAt, c.start) << c.properties;
    EXPECT_EQ(result.records[0].endsAt, c.end) << c.properties;
    EXPECT_EQ(result.records[0].isAllDay, c.allDay) << c.properties;
  }
}

TEST_F(IcsStoreTest, MatchesTheWindowByOverlap) {
  constexpr double kTen = kMonday + 15 * 3600;  // 10:00 in New York
  store_.write("cal/meeting.ics", calendarOf(eventOf("SUMMARY:meeting\nDTSTART:20260302T150000Z\n"
                                                     "DTEND:20260302T160000Z\n")));
  store_.write("cal/instant.ics",
               calendarOf(eventOf("SUMMARY:instant\nDTSTART:20260302T150000Z\n")));
  store_.write("cal/day.ics", calendarOf(eventOf("SUMMARY:day\nDTSTART;VALUE=DATE:20260301\n")));
  const struct {
    double start;
    double end;
    std::vector<std::string> titles;
  } cases[] = {
      {kTen - 60, kTen, {}},
      {kTen, kTen + 1, {"instant", "meeting"}},
      {kTen + 3599.999, kTen + 7200, {"meeting"}},
      {kTen + 3600, kTen + 7200, {}},
      {kTen + 1, kTen, {}},  // reversed
      {kTen, kTen, {}},      // empty
      // The all-day event of 1 March is shown ending at 23:59:59 but matched
      // against the midnight that ends it (05:00Z on 2 March).
      {kMonday + 5 * 3600 - 0.5, kMonday + 5 * 3600, {"day"}},
      {kMonday + 5 * 3600, kMonday + 6 * 3600, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> titles;
    for (const EventRecord& record : query(store_, c.start, c.end).records) {
      titles.push_back(record.title);
    }
    EXPECT_EQ(titles, c.titles) << c.start - kTen << " .. " << c.end - kTen;
  }
}

TEST_F(IcsStoreTest, ListsCalendarsOfTheLayoutInAStableOrder) {
  const std::string atNine = "DTSTART:20260302T140000Z\nDTEND:20260302T150000Z\n";
  store_.write("b/one.ics", calendarOf(eventOf("SUMMARY:b-one\n" + atNine)));
  store_.write("a/two.ics", calendarOf(eventOf("SUMMARY:a-two\n" + atNine) +
                                       eventOf("SUMMARY:a-two-second\n" + atNine)));
  store_.write("a/one.ics", calendarOf(eventOf("SUMMARY:a-one\n" + atNine)));
  store_.write("root.ics", calendarOf(eventOf("SUMMARY:root\nDTSTART:20260302T130000Z\n"
                                              "DTEND:20260302T160000Z\n")));
  store_.write("a/longer.ics", calendarOf(eventOf("SUMMARY:longer\nDTSTART:20260302T140000Z\n"
                                                  "DTEND:20260302T170000Z\n")));
  store_.write(".hidden/x.ics", calendarOf(eventOf("SUMMARY:hidden\n" + atNine)));
  store_.write("a/notes.txt", calendarOf(eventOf("SUMMARY:not-ics\n" + atNine)));
  store_.write("a/displayname", "Work\n");

  const Query result = query(store_, kMonday, kMonday + 86400);
  std::vector<std::string> titles;
  for (const EventRecord& record : result.records) titles.push_back(record.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"root", "a-one", "a-two", "a-two-second", "b-one",
                                              "longer"}));
  EXPECT_TRUE(result.diagnostics.empty());
}

}  // namespace
}  // namespace quorvel::calendar::ics
