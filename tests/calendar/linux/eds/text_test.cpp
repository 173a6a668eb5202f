// Turning what EDS answers back into iCalendar text, one VCALENDAR per event.
#include "calendar/linux/eds/text.h"

#include <gtest/gtest.h>

namespace quorvel::calendar::linuxstore::eds {
namespace {

// An event's UID and RECURRENCE-ID are its own, not those of a component
// inside it (an alarm may carry a UID of its own, before or after the
// event's): a series and its override stay one event, the series first,
// with the definitions of the zones they name.
TEST(EdsText, GroupsEachEventWithItsOverridesByItsOwnUid) {
  const std::string alarm =
      "BEGIN:VALARM\r\nUID:alarm\r\nRECURRENCE-ID:20260101T000000Z\r\nACTION:DISPLAY\r\n"
      "END:VALARM\r\n";
  const std::string override = "BEGIN:VEVENT\r\n" + alarm +
                               "UID:series\r\nRECURRENCE-ID:20260602T100000Z\r\n"
                               "DTSTART:20260603T100000Z\r\nEND:VEVENT\r\n";
  const std::string series =
      "BEGIN:VEVENT\r\nUID:series\r\n" + alarm +
      "DTSTART;TZID=Office:20260601T100000\r\nRRULE:FREQ=DAILY\r\nEND:VEVENT";
  const std::string other =
      "BEGIN:VEVENT\r\nUID:other\r\nDTSTART:20260601T090000Z\r\nEND:VEVENT\r\n";

  const Component described = describe(series);
  EXPECT_EQ(described.uid, "series");
  EXPECT_EQ(described.recurrenceId, "");
  EXPECT_EQ(described.tzids, std::vector<std::string>{"Office"});
  EXPECT_EQ(describe(override).recurrenceId, "20260602T100000Z");

  const std::string office = "BEGIN:VTIMEZONE\r\nTZID:Office\r\nEND:VTIMEZONE\r\n";
  const std::vector<EventText> texts =
      eventTexts({describe(override), describe(other), describe(series)},
                 {{"Office", office}, {"Elsewhere", "BEGIN:VTIMEZONE\r\nEND:VTIMEZONE\r\n"}});
  const std::string head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//quorvel//EDS//EN\r\n";
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].uid, "other");
  EXPECT_EQ(texts[0].text, head + other + "END:VCALENDAR\r\n");
  EXPECT_EQ(texts[1].uid, "series");
  EXPECT_EQ(texts[1].text, head + office + series + "\r\n" + override + "END:VCALENDAR\r\n");
}

// The query's range is the window widened by a day each side; the user's
// zone is named in it only when it is a name EDS can take between quotes.
TEST(EdsText, AsksForTheWidenedWindowInTheUsersZoneWhenItCanBeNamed) {
  const Window week{1780272000.5, 1780876800.0};  // 1 to 8 June 2026, UTC
  const std::string range =
      "(or (occur-in-time-range? (make-time \"20260531T000000Z\") "
      "(make-time \"20260609T000000Z\")";
  const struct {
    const char* zone;
    bool named;
  } cases[] = {
      {"America/Port_of_Spain", true},
      {"Etc/GMT+9", true},
      {"Europe/Zurich", true},
      {"America/Argentina/La_Rioja", true},
      {"", false},
      {"Office \"Time\"", false},
      {"Zone)", false},
      {".hidden", false},
      {"/etc/zone", false},
  };
  for (const auto& c : cases) {
    const std::string named = c.named ? std::string(" \"") + c.zone + "\"" : "";
    EXPECT_EQ(queryFor(week, c.zone), range + named + ") (has-recurrences?))") << c.zone;
  }
}

}  // namespace
}  // namespace quorvel::calendar::linuxstore::eds
