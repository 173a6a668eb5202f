// The store read on several threads, against one.
#include <gtest/gtest.h>

#include <cstdio>

#include "calendar/ics/store.h"
#include "record/record.h"
#include "support/temp_store.h"
#include "support/time_zone.h"

namespace quorvel::calendar::ics {
namespace {

using testing::calendarOf;
using testing::ScopedTimeZone;
using testing::TempStore;

// A store of many kinds of files, some of them broken, the same every time.
void writeVariedStore(const TempStore& store, int files) {
  std::uint32_t seed = 12345;
  const auto next = [&seed](std::uint32_t below) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % below;
  };
  // Floating, UTC, the file's own zone, an unknown one, a Windows name, and
  // many zones of the tz database, so that threads load them side by side.
  const char* zones[] = {"",
                         "Z",
                         ";TZID=Office",
                         ";TZID=Mars/Olympus",
                         ";TZID=W. Europe Standard Time",
                         ";TZID=Europe/Berlin",
                         ";TZID=America/New_York",
                         ";TZID=Asia/Tokyo",
                         ";TZID=Australia/Lord_Howe",
                         ";TZID=America/Sao_Paulo",
                         ";TZID=Asia/Kolkata",
                         ";TZID=Pacific/Chatham",
                         ";TZID=Africa/Casablanca",
                         ";TZID=America/St_Johns",
                         ";TZID=Europe/London",
                         ";TZID=/mozilla.org/20070129_1/Europe/Paris"};
  constexpr std::uint32_t kZones = sizeof zones / sizeof zones[0];
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
    const std::string zone = zones[next(kZones)];
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

// Threads change nothing: the same store and window give the same document
// and the same lines about problems on one thread as on four, run after run.
// Under the thread sanitizer this is the check that the reading threads
// share nothing unsynchronised, zones of the tz database included.
TEST(IcsStoreThreads, GiveTheSameBytesAsOneThread) {
  const ScopedTimeZone zone("America/Chicago");
  const TempStore store;
  writeVariedStore(store, 400);
  const Window windows[] = {
      {1772409600.0, 1772409600.0 + 86400},        // a day
      {1772409600.0, 1772409600.0 + 7 * 86400},    // a week
      {1772409600.0, 1772409600.0 + 365 * 86400},  // a year
      {1700000000.0, 1900000000.0},                // cut to four years
      {1772409600.0, 1772409600.0},                // empty
  };
  for (const Window& window : windows) {
    // Four threads first, so that they are the ones to load every zone.
    const std::string threaded = bytesOf(store, window, {4});
    EXPECT_EQ(bytesOf(store, window, {1}), threaded) << window.start;
    EXPECT_EQ(bytesOf(store, window, {4}), threaded) << window.start;
  }
  // The store does hold events in a year, and lines about its broken files.
  const std::string year = bytesOf(store, windows[2], {4});
  EXPECT_NE(year.find("\"title\""), std::string::npos);
  EXPECT_NE(year.find("holds no iCalendar data"), std::string::npos);
}

// Over many batches of files, every file's event is listed exactly once,
// whichever thread read it.
TEST(IcsStoreThreads, ListEveryFileOnceOverManyBatches) {
  const TempStore store;
  constexpr int kFiles = 2100;
  for (int i = 0; i < kFiles; ++i) {
    char start[20];
    std::snprintf(start, sizeof start, "20260302T%02d%02d%02dZ", i / 3600, i / 60 % 60, i % 60);
    store.write("cal" + std::to_string(i % 3) + "/" + std::to_string(i) + ".ics",
                calendarOf("BEGIN:VEVENT\nUID:" + std::to_string(i) + "\nSUMMARY:" +
                           std::to_string(i) + "\nDTSTART:" + start + "\nEND:VEVENT\n"));
  }
  for (const unsigned threads : {1u, 4u}) {
    auto calendars = createIcsStore(store.root(), nullptr, {threads});
    const Events events =
        calendars->eventsMatching(*calendars->predicateForEvents({1772409600.0}, {1772496000.0}));
    ASSERT_EQ(events.size(), std::size_t{kFiles}) << threads;
    // Listed in start order, which is the order of the files' numbers.
    for (int i = 0; i < kFiles; ++i) {
      EXPECT_EQ(events[i]->title(), std::to_string(i)) << threads;
    }
  }
}

}  // namespace
}  // namespace quorvel::calendar::ics
