// Thunderbird's calendars list exactly what the same events give as files.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/listing.h"
#include "support/thunderbird.h"

namespace quorvel::testing {
namespace {

// Microseconds since the epoch of a UTC time, as Thunderbird stores it.
std::string us(const std::string& time) {
  return std::to_string(static_cast<long long>(utc(time)) * 1000000);
}

// An event row of the calendar "cal1": id, title (SQL), flags, start and
// end (UTC, zone), and the rest of the columns as given.
std::string row(const std::string& id, const std::string& title, int flags,
                const std::string& start, const std::string& end, const std::string& zone,
                const std::string& more = "NULL, NULL, NULL") {
  return "INSERT INTO cal_events (cal_id, id, title, flags, event_start, event_start_tz,"
         " event_end, event_end_tz, recurrence_id, recurrence_id_tz, offline_journal)"
         " VALUES ('cal1', '" +
         id + "', " + title + ", " + std::to_string(flags) + ", " + us(start) + ", '" + zone +
         "', " + us(end) + ", '" + zone + "', " + more + ");\n";
}

const char* const kPrefs = R"(// Mozilla User Preferences
user_pref("calendar.registry.cal1.type", "storage");
user_pref("calendar.registry.cal1.uri", "moz-storage-calendar://");
user_pref("calendar.registry.cal1.name", "Home");
user_pref("calendar.registry.cal1.imip.identity.key", "id1");
user_pref("mail.identity.id1.useremail", "Me@Example.org");
user_pref("calendar.registry.off.type", "storage");
user_pref("calendar.registry.off.uri", "moz-storage-calendar://");
user_pref("calendar.registry.off.disabled", true);
)";

struct Case {
  const char* name;
  std::string ics;  // VTIMEZONEs and VEVENTs
  std::string sql;  // the same, as Thunderbird keeps them
};

TEST(ThunderbirdSource, ListsWhatTheSameEventsGiveAsFiles) {
  const ScopedTimeZone zone("Europe/Berlin");
  const std::string office = officeZone();
  const Case cases[] = {
      {"a zoned event",
       "BEGIN:VEVENT\nUID:a\nDTSTART;TZID=Europe/Berlin:20260302T090000\n"
       "DTEND;TZID=Europe/Berlin:20260302T100000\nSUMMARY:Review\nEND:VEVENT\n",
       row("a", "'Review'", 0, "2026-03-02 08:00", "2026-03-02 09:00", "Europe/Berlin")},
      {"a weekly series over the change to summer time, one moved and one taken out",
       "BEGIN:VEVENT\nUID:w\nDTSTART;TZID=Europe/Berlin:20260316T090000\n"
       "DTEND;TZID=Europe/Berlin:20260316T100000\nRRULE:FREQ=WEEKLY;COUNT=4\n"
       "EXDATE;TZID=Europe/Berlin:20260323T090000\nSUMMARY:Weekly\nEND:VEVENT\n"
       "BEGIN:VEVENT\nUID:w\nRECURRENCE-ID;TZID=Europe/Berlin:20260330T090000\n"
       "DTSTART;TZID=Europe/Berlin:20260331T140000\nDTEND;TZID=Europe/Berlin:20260331T150000\n"
       "SUMMARY:Moved\nEND:VEVENT\n",
       row("w", "'Weekly'", 48, "2026-03-16 08:00", "2026-03-16 09:00", "Europe/Berlin") +
           row("w", "'Moved'", 0, "2026-03-31 12:00", "2026-03-31 13:00", "Europe/Berlin",
               us("2026-03-30 07:00") + ", 'Europe/Berlin', NULL") +
           "INSERT INTO cal_recurrence VALUES ('w', 'cal1', 'RRULE:FREQ=WEEKLY;COUNT=4'),"
           " ('w', 'cal1', 'EXDATE;TZID=Europe/Berlin:20260323T090000');\n"},
      {"an all-day event, a floating time, and one in UTC without a title",
       "BEGIN:VEVENT\nUID:d\nDTSTART;VALUE=DATE:20260304\nDTEND;VALUE=DATE:20260305\n"
       "SUMMARY:Holiday\nEND:VEVENT\nBEGIN:VEVENT\nUID:f\nDTSTART:20260305T090000\n"
       "DTEND:20260305T093000\nSUMMARY:Floating\nEND:VEVENT\n"
       "BEGIN:VEVENT\nUID:u\nDTSTART:20260305T120000Z\nDTEND:20260305T130000Z\nEND:VEVENT\n",
       row("d", "'Holiday'", 8, "2026-03-04", "2026-03-05", "floating") +
           row("f", "'Floating'", 0, "2026-03-05 09:00", "2026-03-05 09:30", "floating") +
           row("u", "NULL", 0, "2026-03-05 12:00", "2026-03-05 13:00", "UTC")},
      {"a zone given whole, and a Windows zone's name",
       office + "BEGIN:VEVENT\nUID:o\nDTSTART;TZID=Office:20260325T090000\n"
                "DTEND;TZID=Office:20260325T100000\nRRULE:FREQ=WEEKLY;COUNT=2\nEND:VEVENT\n"
                "BEGIN:VEVENT\nUID:x\nDTSTART;TZID=W. Europe Standard Time:20260307T090000\n"
                "DTEND;TZID=W. Europe Standard Time:20260307T100000\nEND:VEVENT\n",
       row("o", "NULL", 16, "2026-03-25 08:00", "2026-03-25 09:00", office) +
           "INSERT INTO cal_recurrence VALUES ('o', 'cal1', 'RRULE:FREQ=WEEKLY;COUNT=2');\n" +
           row("x", "NULL", 0, "2026-03-07 08:00", "2026-03-07 09:00", "W. Europe Standard Time")},
      {"the user's answer, free time, and a length in days over the change of offset",
       "BEGIN:VEVENT\nUID:i\nDTSTART;TZID=Europe/Berlin:20260328T090000\nDURATION:P1D\n"
       "TRANSP:TRANSPARENT\nORGANIZER:mailto:boss@example.org\n"
       "ATTENDEE;PARTSTAT=ACCEPTED:mailto:me@example.org\nEND:VEVENT\n",
       row("i", "NULL", 6, "2026-03-28 08:00", "2026-03-29 07:00", "Europe/Berlin") +
           "INSERT INTO cal_properties VALUES ('i', 'DURATION', 'P1D', NULL, NULL, 'cal1'),"
           " ('i', 'TRANSP', 'TRANSPARENT', NULL, NULL, 'cal1');\n"
           "INSERT INTO cal_attendees VALUES"
           " ('i', NULL, NULL, 'cal1', 'ORGANIZER:mailto:boss@example.org'),"
           " ('i', NULL, NULL, 'cal1', 'ATTENDEE;PARTSTAT=ACCEPTED:mailto:me@example.org');\n"},
      {"a birthday from before 1970",
       "BEGIN:VEVENT\nUID:b\nDTSTART;VALUE=DATE:19650310\nDTEND;VALUE=DATE:19650311\n"
       "RRULE:FREQ=YEARLY\nSUMMARY:Birthday\nEND:VEVENT\n",
       row("b", "'Birthday'", 24, "1965-03-10", "1965-03-11", "floating") +
           "INSERT INTO cal_recurrence VALUES ('b', 'cal1', 'RRULE:FREQ=YEARLY');\n"},
      {"an all-day series, one day of it moved",
       "BEGIN:VEVENT\nUID:g\nDTSTART;VALUE=DATE:20260309\nDTEND;VALUE=DATE:20260310\n"
       "RRULE:FREQ=WEEKLY;COUNT=3\nSUMMARY:Gym\nEND:VEVENT\nBEGIN:VEVENT\nUID:g\n"
       "RECURRENCE-ID;VALUE=DATE:20260316\nDTSTART;VALUE=DATE:20260317\n"
       "DTEND;VALUE=DATE:20260318\nSUMMARY:Gym (moved)\nEND:VEVENT\n",
       row("g", "'Gym'", 56, "2026-03-09", "2026-03-10", "floating") +
           row("g", "'Gym (moved)'", 520, "2026-03-17", "2026-03-18", "floating",
               us("2026-03-16") + ", 'floating', NULL") +
           "INSERT INTO cal_recurrence VALUES ('g', 'cal1', 'RRULE:FREQ=WEEKLY;COUNT=3');\n"},
      {"rows Thunderbird doesn't show: deleted offline, of a disabled or unknown calendar, an "
       "override without its series",
       "",
       row("gone", "'Deleted'", 0, "2026-03-02 08:00", "2026-03-02 09:00", "UTC", "NULL, NULL, 4") +
           "INSERT INTO cal_events (cal_id, id, title, event_start, event_start_tz) VALUES"
           " ('off', 'o1', 'Disabled', " +
           us("2026-03-02 08:00") +
           ", 'UTC'),"
           " ('nobody', 'n1', 'Orphan', " +
           us("2026-03-02 08:00") + ", 'UTC');\n" +
           row("lone", "'Lone'", 0, "2026-03-03 08:00", "2026-03-03 09:00", "UTC",
               us("2026-03-03 08:00") + ", 'UTC', NULL")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempStore files;
    files.write("addresses", "me@example.org\n");
    if (!c.ics.empty()) files.write("cal/event.ics", calendarOf(c.ics));
    const Listing expected = listing(files, "2026-03-01", "2026-04-15");

    const TempStore empty;
    const std::filesystem::path home = empty.dataHome() / "home";
    ThunderbirdProfile(home, kPrefs).sql("local.sqlite", c.sql);
    const Listing listed = listing(empty, "2026-03-01", "2026-04-15", 2, {.home = home});
    EXPECT_EQ(listed.events, expected.events);
    EXPECT_EQ(listed.lines, "");
    EXPECT_EQ(expected.lines, "");
  }
}

// A calendar of Thunderbird's that is an iCalendar file is read from it,
// once: a file the store lists already keeps its place there. A network
// calendar is read from its offline copy, where the user is also who its
// server says, an empty title is none, and a zone nobody knows keeps the
// instant; without a copy it has nothing here, and says so. Two profiles (the snap's too) are read
// on two threads.
TEST(ThunderbirdSource, ReadsEachCalendarWhereItIsKept) {
  const TempStore store;
  const auto inStore = store.write(
      "cal/shared.ics", calendarOf("BEGIN:VEVENT\nUID:s\nDTSTART:20260302T090000Z\nEND:VEVENT\n"));
  const std::filesystem::path home = store.dataHome() / "home";
  std::filesystem::create_directories(home);
  std::ofstream(home / "My Own.ics")
      << calendarOf("BEGIN:VEVENT\nUID:o\nDTSTART:20260303T090000Z\nSUMMARY:Own\nEND:VEVENT\n");
  std::string prefs;
  const auto registered = [](const std::string& id, const std::string& type,
                             const std::string& uri) {
    return "user_pref(\"calendar.registry." + id + ".type\", \"" + type + "\");\n" +
           "user_pref(\"calendar.registry." + id + ".uri\", \"" + uri + "\");\n";
  };
  ThunderbirdProfile(home, registered("a", "ics", "file://" + inStore.string()) +
                               registered("b", "ics", "file://" + home.string() + "/My%20Own.ics") +
                               registered("c", "caldav", "https://dav.example.org/c/") +
                               "user_pref(\"calendar.registry.c.name\", \"Team\");\n");
  ThunderbirdProfile(home,
                     registered("d", "caldav", "https://dav.example.org/d/") +
                         "user_pref(\"calendar.registry.d.cache.enabled\", true);\n",
                     "snap/thunderbird/common/.thunderbird")
      .sql("cache.sqlite",
           "INSERT INTO cal_events (cal_id, id, title, flags, event_start, event_start_tz)"
           " VALUES ('d', 'm', '', 2, " +
               us("2026-03-04 10:00") +
               ", 'Europe/Berlin');\n"
               "INSERT INTO cal_events (cal_id, id, event_start, event_start_tz) VALUES"
               " ('d', 'z', " +
               us("2026-03-04 11:00") +
               ", 'Nowhere/Special');\n"
               "INSERT INTO cal_attendees VALUES ('m', NULL, NULL, 'd',"
               " 'ATTENDEE;PARTSTAT=TENTATIVE:mailto:me@dav.example.org');\n"
               "INSERT INTO cal_metadata VALUES ('d', 'calendar-properties',"
               " '{\"mCalendarUserAddress\": \"mailto:Me@dav.example.org\"}');\n");
  const Listing listed = listing(store, "2026-03-01", "2026-03-05", 2, {.home = home});
  EXPECT_EQ(listed.events,
            (std::vector<std::string>{"2026-03-02 09:00", "2026-03-03 09:00 'Own'",
                                      "2026-03-04 10:00 tentative", "2026-03-04 11:00"}));
  EXPECT_EQ(listed.lines,
            "quorvel-calendar: Team (Thunderbird c): has no copy on this machine (Thunderbird's "
            "offline support is off for it); not listed\n");
}

}  // namespace
}  // namespace quorvel::testing
