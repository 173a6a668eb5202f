// The event records as the run writes them: one compact JSON array, members
// in a fixed order, in the platform's order of events.
#include "record/record.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/captured_run.h"

namespace quorvel {
namespace {

using testing::FakeAttendee;
using testing::FakeCalendar;

// Names of availability and answers (codes outside the tables are
// notSupported and unknown, never truncated); times as whole milliseconds,
// truncated toward zero, saturated from exactly 2^63 ms, none or not a number
// as 0; "Busy" for no title; the answer of the first attendee who is the user
// only; bytes of a title that aren't UTF-8 as U+FFFD.
TEST(Record, WritesEachEventAsTheHostReadsIt) {
  using Attendees = std::vector<FakeAttendee>;
  FakeCalendar calendar;
  calendar.events = {
      {30, 40, "later", false, 0, std::nullopt},
      {std::nullopt, 10, std::nullopt, true, 1, Attendees{}},
      {0.0125, -0.0015, "", false, 2, Attendees{{false, 2}, {true, 3}, {true, 2}}},
      {9223372036854776.0, -INFINITY, "Stand-up \"daily\"\n\\", false, 3, Attendees{{true, 1}}},
      {NAN, 1700000000.5, "Z\xc3\xbcrich \xff", false, -1, Attendees{{true, 4}}},
      {0, 0, "a\xc3", false, 4, Attendees{{false, 2}, {true, 0}, {true, 2}}},
      {0, 0, "x", false, std::int64_t{1} << 32 | 1, Attendees{{true, 5}}},
  };
  const auto result = testing::runCaptured({"q", "0", "1"}, calendar);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            R"([{"startsAt":30000,"endsAt":40000,"title":"later","isAllDay":false,)"
            R"("availability":"busy","participantStatus":"unknown"},)"
            R"({"startsAt":0,"endsAt":10000,"title":"Busy","isAllDay":true,)"
            R"("availability":"free","participantStatus":"unknown"},)"
            R"({"startsAt":12,"endsAt":-1,"title":"","isAllDay":false,)"
            R"("availability":"tentative","participantStatus":"declined"},)"
            R"({"startsAt":9223372036854775807,"endsAt":-9223372036854775808,)"
            R"("title":"Stand-up \"daily\"\n\\","isAllDay":false,)"
            R"("availability":"unavailable","participantStatus":"pending"},)"
            "{\"startsAt\":0,\"endsAt\":1700000000500,\"title\":\"Z\xc3\xbcrich \xef\xbf\xbd\","
            R"("isAllDay":false,"availability":"notSupported","participantStatus":"tentative"},)"
            "{\"startsAt\":0,\"endsAt\":0,\"title\":\"a\xef\xbf\xbd\",\"isAllDay\":false,"
            R"("availability":"notSupported","participantStatus":"unknown"},)"
            R"({"startsAt":0,"endsAt":0,"title":"x","isAllDay":false,)"
            R"("availability":"notSupported","participantStatus":"unknown"}])");
}

}  // namespace
}  // namespace quorvel
