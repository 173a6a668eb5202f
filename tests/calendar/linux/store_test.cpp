// The store over iCalendar files, through its interface, in New York (UTC-5
// in March 2026).
#include "calendar/linux/store.h"
#include "calendar/linux/xdg.h"

#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <tuple>

#include "support/listing.h"

namespace quorvel::calendar::linuxstore {
namespace {

using testing::calendarOf;
using testing::eventOf;
using testing::listing;
using Listed = std::vector<std::string>;

class LinuxStoreTest : public ::testing::Test {
 protected:
  testing::ScopedTimeZone zone_{"America/New_York"};
  testing::TempStore store_;
};

// Availability from X-MICROSOFT-CDO-BUSYSTATUS, else TRANSP; the answer of
// the first attendee who is the user, by the addresses of the store's root
// and of the calendar's folder.
TEST_F(LinuxStoreTest, MapsAvailabilityAndTheUsersOwnAnswer) {
  store_.write("addresses", "\nmailto:Other@Me.net\n");
  store_.write("work/addresses", "  me@example.org\r\n");
  const std::pair<std::string, std::string> cases[] = {
      {"TRANSP:TRANSPARENT", " free"},
      {"TRANSP:OPAQUE\nX-MICROSOFT-CDO-BUSYSTATUS:FREE", " free"},
      {"X-MICROSOFT-CDO-BUSYSTATUS:tentative", " tentative"},
      {"X-MICROSOFT-CDO-BUSYSTATUS:OOF", " unavailable"},
      {"ATTENDEE;PARTSTAT=ACCEPTED:mailto:ME@example.org", " accepted"},
      {"ATTENDEE:MAILTO:other@me.net", " pending"},
      {"ATTENDEE;PARTSTAT=x-something:mailto:me@example.org", " pending"},
      {"ATTENDEE;PARTSTAT=DELEGATED:mailto:me@example.org", ""},
      {"ATTENDEE;PARTSTAT=ACCEPTED:mailto:someone@example.org", ""},
      {"ATTENDEE;PARTSTAT=ACCEPTED:mailto:boss@example.org\n"
       "ATTENDEE;PARTSTAT=DECLINED:mailto:me@example.org\n"
       "ATTENDEE;PARTSTAT=ACCEPTED:mailto:other@me.net",
       " declined"},
  };
  for (const auto& [properties, shown] : cases) {
    store_.write("work/a.ics",
                 calendarOf(eventOf("DTSTART:20260302T150000Z\n" + properties + "\n")));
    const auto found = listing(store_, "2026-03-02", "2026-03-03");
    EXPECT_EQ(found.events, Listed{"2026-03-02 15:00" + shown}) << properties;
    EXPECT_EQ(found.lines, "");
  }
}

// Ends come from DTEND, else DURATION, else the start (a day for an all-day
// event, shown ending at 23:59:59). Local midnight of 2 March is 05:00Z.
TEST_F(LinuxStoreTest, WorksOutEnds) {
  const std::pair<std::string, std::string> cases[] = {
      {":20260302T150000Z\nDTEND:20260302T160000Z", "15:00 +1h"},
      {":20260302T150000Z\nDURATION:+P1W", "15:00 +168h"},
      {":20260302T150000Z\nDURATION:-PT1H", "15:00"},
      {":20260302T150000Z\nDURATION:PT1H1H", "15:00"},
      {":20260302T150000Z\nDTEND;TZID=Europe/Berlin:20260302T170000", "15:00 +1h"},
      {":20260302T150000Z\nDTEND;VALUE=DATE:20260303", "15:00 +9h"},
      {":20260302T150000Z\nDTEND:20260302T140000Z", "15:00"},
      {";VALUE=DATE:20260302", "05:00 +23h59m59s all-day"},
      {";VALUE=DATE:20260302\nDTEND;VALUE=DATE:20260302", "05:00 +23h59m59s all-day"},
      {";VALUE=DATE:20260302\nDTEND;VALUE=DATE:20260304", "05:00 +47h59m59s all-day"},
      {";VALUE=DATE:20260302\nDURATION:P3DT2H", "05:00 +71h59m59s all-day"},
      {";VALUE=DATE:20260302\nDURATION:PT50H", "05:00 +47h59m59s all-day"},
  };
  for (const auto& [properties, shown] : cases) {
    store_.write("cal/a.ics", calendarOf(eventOf("DTSTART" + properties + "\n")));
    EXPECT_EQ(listing(store_, "2026-03-02", "2026-03-03").events, Listed{"2026-03-02 " + shown})
        << properties;
  }
}

// An event is listed when it starts before the window's end and ends after
// its start; an instant when start <= it < end. An all-day event ends at the
// midnight after the 23:59:59 it is shown ending at.
TEST_F(LinuxStoreTest, MatchesTheWindowByOverlap) {
  store_.write("cal/meeting.ics", calendarOf(eventOf("DTSTART:20260302T150000Z\nDURATION:PT1H\n")));
  store_.write("cal/instant.ics", calendarOf(eventOf("DTSTART:20260302T150000Z\n")));
  store_.write("cal/day.ics", calendarOf(eventOf("DTSTART;VALUE=DATE:20260301\n")));
  const double ten = testing::utc("2026-03-02 15:00");
  const double m = -10 * 3600;  // the midnight that ends 1 March, from ten
  const std::tuple<double, double, std::size_t> cases[] = {
      {-60, 0, 0},         {0, 1, 2},     {3599.999, 7200, 1},
      {3600, 7200, 0},     {1, 0, 0},     {0, 0, 0},
      {m - 0.5, m, 1},     {m, m + 1, 0}, {-INFINITY, INFINITY, 0},
      {-1e8, INFINITY, 3}, {NAN, 0, 0}};
  for (const auto& [start, end, listed] : cases) {
    EXPECT_EQ(listing(store_, ten + start, ten + end).events.size(), listed) << start << " " << end;
  }
}

// Each folder below the root is a calendar, each *.ics file in the root one
// of its own; names starting with a dot are left alone. Events at the same
// times are listed in the store's order. A folder's addresses are the user's
// in that calendar only.
TEST_F(LinuxStoreTest, ReadsTheLayoutInAStableOrder) {
  const std::string event = "BEGIN:VEVENT\nUID:x\nDTSTART:20260302T150000Z\nSUMMARY:";
  const std::string attendees =
      "\nATTENDEE;PARTSTAT=ACCEPTED:a@x\nATTENDEE;PARTSTAT=DECLINED:b@x\n"
      "ATTENDEE;PARTSTAT=TENTATIVE:root@x\nEND:VEVENT\n";
  store_.write("addresses", "root@x\n");
  store_.write("b/addresses", "b@x\n");
  store_.write("a/addresses", "a@x\n");
  for (const char* path :
       {"b/1.ics", "a/2.ics", "a/1.ics", "root.ics", ".hidden/x.ics", "a/notes.txt", "a/.x.ics"}) {
    store_.write(path, calendarOf(event + path + attendees));
  }
  store_.write("a/3.ics", calendarOf(event + "a/3.ics\nDURATION:PT1H\nEND:VEVENT\n" + event +
                                     "a/3.ics second\nEND:VEVENT\n"));
  const auto found = listing(store_, "2026-03-02", "2026-03-03");
  EXPECT_EQ(found.events,
            (Listed{"2026-03-02 15:00 'a/1.ics' accepted", "2026-03-02 15:00 'a/2.ics' accepted",
                    "2026-03-02 15:00 'a/3.ics second'", "2026-03-02 15:00 'b/1.ics' declined",
                    "2026-03-02 15:00 'root.ics' tentative", "2026-03-02 15:00 +1h 'a/3.ics'"}));
  EXPECT_EQ(found.lines, "");
}

// An `addresses` file that can't be read gives a line, at its place in the
// store, and the calendars are still listed, without its addresses.
TEST_F(LinuxStoreTest, SaysWhichAddressesFileItCantRead) {
  std::filesystem::create_directories(store_.root() / "addresses");
  store_.write("b/x.ics", calendarOf(eventOf("DTSTART:20260302T150000Z\n"
                                             "ATTENDEE;PARTSTAT=ACCEPTED:me@x\n")));
  std::filesystem::create_symlink("nowhere", store_.root() / "b/addresses");
  store_.write("a/addresses", "me@x\n");
  store_.write("a/x.ics", calendarOf(eventOf("DTSTART:20260302T160000Z\n"
                                             "ATTENDEE;PARTSTAT=ACCEPTED:me@x\n")));
  const auto found = listing(store_, "2026-03-02", "2026-03-03");
  EXPECT_EQ(found.events, (Listed{"2026-03-02 15:00", "2026-03-02 16:00 accepted"}));
  EXPECT_EQ(found.lines, "addresses: not a regular file\nb/addresses: No such file or directory\n");
}

// `${XDG_DATA_HOME:-$HOME/.local/share}/calendars`, where an XDG_DATA_HOME
// that is empty or relative is ignored, and so is a HOME that is absent or
// relative: then the user's home in the password database counts.
TEST(LinuxStoreRoot, FollowsTheXdgRules) {
  const std::string own = std::string(getpwuid(getuid())->pw_dir) + "/.local/share/calendars";
  const std::string u = "/home/u/.local/share/calendars";
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {"/data", "/home/u", "/data/calendars"},
      {nullptr, "/home/u", u},
      {"", "/home/u", u},
      {"data", "/home/u", u},
      {nullptr, nullptr, own},
      {"", "home/u", own}};
  for (const auto& [dataHome, home, root] : cases) {
    for (const auto& [name, value] : {std::pair{"XDG_DATA_HOME", dataHome}, {"HOME", home}}) {
      if (value != nullptr) ::setenv(name, value, 1);
      if (value == nullptr) ::unsetenv(name);
    }
    EXPECT_EQ(defaultStoreRoot(), root) << (dataHome ? dataHome : "(unset)");
  }
}

}  // namespace
}  // namespace quorvel::calendar::linuxstore
