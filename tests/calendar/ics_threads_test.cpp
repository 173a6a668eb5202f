#include "calendar/ics_prescan.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "calendar/ics_store.h"
#include "record/record.h"
#include "support/temp_store.h"
#include "support/time_zone.h"

namespace quorvel::calendar::ics {
namespace {

using testing::calendarOf;
using testing::ScopedTimeZone;
using testing::TempStore;

// 2026-03-02T00:00:00Z and a week after it.
const Window kWeek{1772409600.0, 1772409600.0 + 7 * 86400};

std::string plainEvent(const std::string& properties) {
  return calendarOf("BEGIN:VEVENT\nUID:p\nSUMMARY:p\n" + properties + "END:VEVENT\n");
}

TEST(CertainlyOutside, SkipsOnlyPlainEventsFarFromTheWindow) {
  const struct {
    const char* what;
    std::string text;
    bool skipped;
  } cases[] = {
      {"a year before", plainEvent("DTSTART:20250302T100000Z\nDTEND:20250302T110000Z\n"), true},
      {"a year after, in a named zone",
       plainEvent("DTSTART;TZID=Europe/Berlin:20270302T100000\nDURATION:PT1H\n"), true},
      {"with an alarm and folded lines",
       plainEvent("DTSTART:20250302T100000Z\nDESCRIPTION:a long\n  text\nBEGIN:VALARM\n"
                  "TRIGGER:-PT15M\nEND:VALARM\n"),
       true},
      // Near the window, whatever the zone might make of it.
      {"the day before", plainEvent("DTSTART:20260301T100000\n"), false},
      {"ending the day it starts", plainEvent("DTSTART:20260220T100000Z\nDURATION:P9D\n"), false},
      // Anything that needs the full parse to know.
      {"recurring", plainEvent("DTSTART:20250302T100000Z\nRRULE:FREQ=DAILY\n"), false},
      {"an exception", plainEvent("DTSTART:20250302T100000Z\nEXDATE:20250302T100000Z\n"), false},
      {"an override", plainEvent("DTSTART:20250302T100000Z\nRECURRENCE-ID:20250302T100000Z\n"),
       false},
      {"no start", plainEvent("DTEND:20250302T100000Z\n"), false},
      {"an impossible start", plainEvent("DTSTART:20250230T100000Z\n"), false},
      {"a folded start", plainEvent("DTSTART:20250302\n T100000Z\n"), false},
      {"a quoted zone", plainEvent("DTSTART;TZID=\"Europe/Berlin\":20250302T100000\n"), false},
      {"two events",
       calendarOf("BEGIN:VEVENT\nDTSTART:20250302T100000Z\nEND:VEVENT\n"
                  "BEGIN:VEVENT\nDTSTART:20250303T100000Z\nEND:VEVENT\n"),
       false},
      {"truncated", plainEvent("DTSTART:20250302T100000Z\n").substr(0, 70), false},
      {"a NUL byte", plainEvent(std::string("DTSTART:20250302T100000Z\nX:\0\n", 30)), false},
      {"no calendar around it", "BEGIN:VEVENT\r\nDTSTART:20250302T100000Z\r\nEND:VEVENT\r\n",
       false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(certainlyOutside(c.text, kWeek), c.skipped) << c.what;
  }
}

// A store of many kinds of files, some of them broken, the same every time.
void writeVariedStore(const TempStore& store, int files) {
  std::uint32_t seed = 12345;
  const auto next = [&seed](std::uint32_t below) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % below;
  };
  const char* zones[] = {"", "Z", ";TZID=Europe/Berlin", ";TZID=Office", ";TZID=Mars/Olympus"};
  const std::string office =
      "BEGIN:VTIMEZONE\nTZID:Office\nBEGIN:STANDARD\nDTSTART:19701101T020000\n"
      "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\nTZOFFSETFROM:-0400\nTZOFFSETTO:-0500\n"
      "END:STANDARD\nBEGIN:DAYLIGHT\nDTSTART:19700308T020000\n"
      "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\nTZOFFSETFROM:-0500\nTZOFFSETTO:-0400\n"
      "END:DAYLIGHT\nEND:VTIMEZONE\n";
  store.write("addresses", "me@example.org\n");
  for (int i = 0; i < files; ++i) {
    // Days from 2024-03-01 to early 2028, so that windows find some.
    const int day = static_cast<int>(next(1400));
    const CivilTime date = civilOf(wallSeconds({2024, 3, 1}) + day * kSecondsPerDay);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02dT%02d%02d00", date.year, date.month, date.day,
                  static_cast<int>(next(24)), static_cast<int>(next(4)) * 15);
    const std::string zone = zones[next(5)];
    const std::string time = zone == "Z" ? std::string(stamp) + "Z" : std::string(stamp);
    const std::string tzid = zone == "Z" ? "" : zone;
    std::string event = "BEGIN:VEVENT\nUID:" + std::to_string(i) + "\nSUMMARY:event " +
                        std::to_string(i) + "\nDTSTART" + tzid + ":" + time + "\n";
    switch (next(10)) {
      case 0:
        event += "RRULE:FREQ=WEEKLY;COUNT=20\nEXDATE" + tzid + ":" + time + "\n";
        break;
      case 1:
        event += "RRULE:FREQ=DAILY;INTERVAL=3\nDURATION:PT45M\n";
        break;
      case 2:
        event = "BEGIN:VEVENT\nUID:" + std::to_string(i) +
                "\nDTSTART;VALUE=DATE:" + std::string(stamp, 8) +
                "\nDTEND;VALUE=DATE:" + std::string(stamp, 8) + "\n";
        break;
      case 3:
        event +=
            "DTEND" + tzid + ":" + time + "\nATTENDEE;PARTSTAT=ACCEPTED:mailto:me@example.org\n";
        break;
      default:
        event += "DURATION:PT" + std::to_string(next(5) + 1) + "H\n";
    }
    event += "END:VEVENT\n";
    std::string text = calendarOf(office + event);
    if (next(50) == 0) text = text.substr(0, text.size() / 2);  // truncated
    if (next(60) == 0) text = "garbage";
    store.write("cal" + std::to_string(i % 3) + "/" + std::to_string(i) + ".ics", text);
  }
}

std::string bytesOf(const TempStore& store, const Window& window, IcsStoreOptions options) {
  std::string out;
  auto calendars = createIcsStore(
      store.root(), [&out](std::string_view line) { out.append(line).push_back('\n'); }, options);
  std::vector<EventRecord> records;
  for (const auto& event :
       calendars->eventsMatching(*calendars->predicateForEvents({window.start}, {window.end}))) {
    records.push_back(buildRecord(*event));
  }
  return out + serializePayload(records);
}

// The quick look and the threads change nothing: the same store and window
// give the same document and the same lines about problems.
TEST(IcsStoreSpeed, QuickScanAndThreadsGiveTheSameBytes) {
  const ScopedTimeZone zone("America/Chicago");
  const TempStore store;
  writeVariedStore(store, 600);
  const Window windows[] = {
      {1772409600.0, 1772409600.0 + 86400},        // a day
      kWeek,                                       // a week
      {1772409600.0, 1772409600.0 + 365 * 86400},  // a year
      {1700000000.0, 1900000000.0},                // cut to four years
      {1772409600.0, 1772409600.0},                // empty
  };
  for (const Window& window : windows) {
    const std::string full = bytesOf(store, window, {Scan::full, 1});
    EXPECT_EQ(bytesOf(store, window, {Scan::quick, 1}), full) << window.start;
    EXPECT_EQ(bytesOf(store, window, {Scan::quick, 4}), full) << window.start;
  }
  // The store does hold events in the week, and lines about its broken files.
  EXPECT_NE(bytesOf(store, kWeek, {}).find("\"title\""), std::string::npos);
  EXPECT_NE(bytesOf(store, kWeek, {}).find("holds no iCalendar data"), std::string::npos);
}

}  // namespace
}  // namespace quorvel::calendar::ics
