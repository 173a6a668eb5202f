#include "record/record.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <limits>

#include "support/fake_platform.h"

namespace quorvel {
namespace {

using testing::FakeAttendee;
using testing::FakeEvent;
using testing::FakeEventData;

EventRecord recordOf(FakeEventData data) {
  std::vector<std::string> calls;
  return buildRecord(FakeEvent(std::move(data), calls));
}

TEST(RecordNames, FollowTheirTables) {
  const struct {
    std::int64_t code;
    std::string_view availability;
    std::string_view status;
  } cases[] = {
      {-1, "notSupported", "unknown"},
      {0, "busy", "unknown"},
      {1, "free", "pending"},
      {2, "tentative", "accepted"},
      {3, "unavailable", "declined"},
      {4, "notSupported", "tentative"},
      {5, "notSupported", "unknown"},
      {7, "notSupported", "unknown"},
      {std::numeric_limits<std::int64_t>::min(), "notSupported", "unknown"},
      {std::int64_t{1} << 32 | 1, "notSupported", "unknown"},  // not truncated to 1
  };
  for (const auto& c : cases) {
    EXPECT_EQ(availabilityName(c.code), c.availability) << c.code;
    EXPECT_EQ(statusName(c.code), c.status) << c.code;
  }
}

TEST(Milliseconds, TruncateTowardZero) {
  const struct {
    std::optional<double> seconds;
    std::int64_t ms;
  } cases[] = {
      {std::nullopt, 0},
      {0.0019999, 1},
      {-0.0015, -1},
      {0.0125, 12},
      {1700000000.5, 1700000000500},
      {-86400.0, -86400000},
      {1e300, std::numeric_limits<std::int64_t>::max()},
      {-INFINITY, std::numeric_limits<std::int64_t>::min()},
      {NAN, 0},
  };
  for (const auto& c : cases) {
    std::optional<calendar::Instant> instant;
    if (c.seconds) instant = calendar::Instant{*c.seconds};
    EXPECT_EQ(millisecondsOf(instant), c.ms) << c.seconds.value_or(-0.0);
  }
}

TEST(BuildRecord, SubstitutesForWhatIsAbsent) {
  FakeEventData noStart;
  noStart.end = 10;
  EXPECT_EQ(recordOf(noStart), (EventRecord{0, 10000, "Busy", false, "busy", "unknown"}));

  FakeEventData emptyTitle;
  emptyTitle.start = 1;
  emptyTitle.title = "";
  emptyTitle.isAllDay = true;
  emptyTitle.availability = -1;
  EXPECT_EQ(recordOf(emptyTitle), (EventRecord{1000, 0, "", true, "notSupported", "unknown"}));
}

TEST(BuildRecord, TakesTheFirstAttendeeWhoIsTheUser) {
  using Attendees = std::optional<std::vector<FakeAttendee>>;
  const struct {
    Attendees attendees;
    std::string_view expected;
  } cases[] = {
      {std::nullopt, "unknown"},
      {std::vector<FakeAttendee>{}, "unknown"},
      {std::vector<FakeAttendee>{{false, 2}, {false, 3}}, "unknown"},
      {std::vector<FakeAttendee>{{false, 2}, {true, 3}}, "declined"},
      {std::vector<FakeAttendee>{{true, 5}, {true, 2}}, "unknown"},
      {std::vector<FakeAttendee>{{true, 0}}, "unknown"},
      {std::vector<FakeAttendee>{{true, 4}}, "tentative"},
  };
  for (const auto& c : cases) {
    FakeEventData data;
    data.attendees = c.attendees;
    EXPECT_EQ(recordOf(data).participantStatus, c.expected);
  }
}

TEST(BuildRecord, ReadsEachPropertyOnceInOrderAndStopsAtTheUser) {
  FakeEventData data;
  data.attendees = std::vector<FakeAttendee>{{false, 1}, {true, 2}, {true, 3}};
  std::vector<std::string> calls;
  buildRecord(FakeEvent(data, calls));
  EXPECT_EQ(calls, (std::vector<std::string>{"startDate", "endDate", "title", "isAllDay",
                                             "availability", "attendees", "isCurrentUser",
                                             "isCurrentUser", "participantStatus"}));
}

TEST(SerializePayload, WritesCompactMembersInRecordOrder) {
  EXPECT_EQ(serializePayload({}), "[]");
  const std::vector<EventRecord> payload = {
      {-1, 2, "Stand-up \"daily\"\n", true, "free", "accepted"},
      {3, 4, "Zürich ✓", false, "busy", "unknown"},
  };
  EXPECT_EQ(serializePayload(payload),
            R"([{"startsAt":-1,"endsAt":2,"title":"Stand-up \"daily\"\n","isAllDay":true,)"
            R"("availability":"free","participantStatus":"accepted"},)"
            R"({"startsAt":3,"endsAt":4,"title":"Zürich ✓","isAllDay":false,)"
            R"("availability":"busy","participantStatus":"unknown"}])");
}

TEST(SerializePayload, ReplacesInvalidUtf8SoTheDocumentParses) {
  const std::string titles[] = {"\xff", "a\xc3", "\xed\xa0\x80", "ok\xe2\x82", "\xc0\xaf"};
  for (const std::string& title : titles) {
    const std::string document = serializePayload({{0, 0, title, false, "busy", "unknown"}});
    const auto parsed = nlohmann::json::parse(document);  // throws on invalid UTF-8
    EXPECT_NE(parsed[0]["title"].get<std::string>().find("\xef\xbf\xbd"), std::string::npos);
  }
}

}  // namespace
}  // namespace quorvel
