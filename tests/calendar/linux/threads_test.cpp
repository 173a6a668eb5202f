// The store read on several threads, against one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "support/listing.h"

namespace quorvel::calendar::linuxstore {
namespace {

using testing::calendarOf;

// A store of more files than many batches hold, in five kinds of zone
// (floating, the file's own, an unknown one, a Windows name and one of the tz
// database, so that threads load zones side by side), some of them broken:
// every file's event is listed exactly once, and four threads give the same
// events and the same lines, in the same order, as one. Under the thread
// sanitizer this is the check that the reading threads share nothing
// unsynchronised.
TEST(LinuxStoreThreads, ListEveryFileOnceAndTheSameAsOneThread) {
  const testing::ScopedTimeZone local("America/Chicago");
  const testing::TempStore store;
  const char* zones[] = {"", ";TZID=Office", ";TZID=Mars/Olympus", ";TZID=W. Europe Standard Time",
                         ";TZID=Pacific/Chatham"};
  const std::string office =
      "BEGIN:VTIMEZONE\nTZID:Office\nBEGIN:STANDARD\nDTSTART:19701101T020000\n"
      "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\nTZOFFSETFROM:-0400\nTZOFFSETTO:-0500\n"
      "END:STANDARD\nBEGIN:DAYLIGHT\nDTSTART:19700308T020000\n"
      "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\nTZOFFSETFROM:-0500\nTZOFFSETTO:-0400\n"
      "END:DAYLIGHT\nEND:VTIMEZONE\n";
  constexpr int kFiles = 2200;
  std::vector<std::string> expected;
  for (int i = 0; i < kFiles; ++i) {
    char time[16];  // 10:00:00 on, a second apart
    std::snprintf(time, sizeof time, "T%02d%02d%02d", 10 + i / 3600, i / 60 % 60, i % 60);
    std::string text = calendarOf(office + "BEGIN:VEVENT\nUID:x\nSUMMARY:" + std::to_string(i) +
                                  "\nDTSTART" + zones[i % std::size(zones)] + ":20260302" + time +
                                  (i % 7 == 0 ? "\nRRULE:FREQ=WEEKLY" : "") + "\nEND:VEVENT\n");
    if (i % 97 == 0) text = text.substr(0, text.size() / 2);
    if (i % 97 != 0) expected.push_back(std::to_string(i));
    store.write("cal" + std::to_string(i % 3) + "/" + std::to_string(i) + ".ics", text);
  }
  std::sort(expected.begin(), expected.end());
  const testing::Listing one = testing::listing(store, "2026-03-01", "2026-03-04", 1);
  std::vector<std::string> titles;
  for (const std::string& event : one.events) {
    const std::size_t quote = event.find('\'');
    titles.push_back(event.substr(quote + 1, event.size() - quote - 2));
  }
  std::sort(titles.begin(), titles.end());
  EXPECT_EQ(titles, expected);
  EXPECT_NE(one.lines.find("cal2/2.ics: event 1 has an unknown time zone"), std::string::npos);
  EXPECT_NE(one.lines.find("cal0/0.ics: ends inside a component"), std::string::npos);
  for (int run = 0; run < 2; ++run) {
    const testing::Listing four = testing::listing(store, "2026-03-01", "2026-03-04", 4);
    EXPECT_TRUE(four.events == one.events);
    EXPECT_EQ(four.lines, one.lines);
  }
}

// Servers write the same VTIMEZONE into every file. One file cut short
// inside it (here at the root, so that one thread meets it first) changes
// nothing outside that file, wherever the cut falls and however many threads
// read the store: a cut definition whose lines so far match the whole one
// must not stand in for it.
TEST(LinuxStoreThreads, AFileCutInsideItsZoneChangesNoOtherFile) {
  const testing::ScopedTimeZone local("UTC");
  const std::string zone = testing::officeZone();
  const testing::TempStore store;
  for (int i = 0; i < 600; ++i) {
    store.write("cal" + std::to_string(i % 3) + "/" + std::to_string(i) + ".ics",
                calendarOf(zone + "BEGIN:VEVENT\nUID:x\nSUMMARY:" + std::to_string(i) +
                           "\nDTSTART;TZID=Office:20260602T100000\nEND:VEVENT\n"));
  }
  const testing::Listing whole = testing::listing(store, "2026-06-02", "2026-06-03", 1);
  ASSERT_EQ(whole.events.size(), 600u);
  EXPECT_EQ(whole.events.front(), "2026-06-02 08:00 '0'");

  const std::string text = calendarOf(zone);
  // Where the text ends: before the text given, which comes after the cut.
  const std::pair<const char*, const char*> cuts[] = {
      {"in an observance", "TZOFFSETTO:+0100"},
      {"in a rule", "BYMONTH=3"},
      {"before the last observance's END", "END:DAYLIGHT"},
      {"in the last observance's END", "DAYLIGHT\r\nEND:VTIMEZONE"},
  };
  for (const auto& [where, after] : cuts) {
    store.write("cut.ics", text.substr(0, text.find(after)));
    for (const unsigned threads : {1u, 4u}) {
      // On a thread of its own, as in a new run: a reading thread keeps the
      // zones it has worked out.
      testing::Listing cut;
      std::thread([&] {
        cut = testing::listing(store, "2026-06-02", "2026-06-03", threads);
      }).join();
      EXPECT_TRUE(cut.events == whole.events) << where << ", " << threads << " threads";
      EXPECT_EQ(cut.lines, "cut.ics: ends inside a component (no END line)\n")
          << where << ", " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace quorvel::calendar::linuxstore
