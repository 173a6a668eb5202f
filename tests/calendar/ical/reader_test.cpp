// The reader of iCalendar text, on content lines as real files write them and
// on what it can't use.
#include <gtest/gtest.h>

#include <tuple>

#include "support/listing.h"

namespace quorvel::calendar::ical {
namespace {

using testing::listingOf;

std::string event(std::string_view lines) {
  return "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:1\r\n" + std::string(lines) +
         "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

// Each text lists one event at 10:00Z on 2 March 2026.
TEST(ParseCalendar, ReadsContentLinesAsFilesWriteThem) {
  const testing::ScopedTimeZone zone("UTC");
  const std::string start = "DTSTART:20260302T100000Z\r\n";
  const std::pair<std::string, std::string> cases[] = {
      // Folds inside a name, a UTF-8 sequence and a parameter's value; none
      // across a blank line.
      {event(
           "SUMM\r\n ARY:caf\xC3\r\n\t\xA9\r\nDTSTART;TZID=Europe/Ber\r\n lin:20260302T110000\r\n"),
       " 'caf\xC3\xA9'"},
      {"BEGIN:VEVENT\nSUMMARY:l\n f\n\n x\nDTSTART:20260302T100000Z\nEND:VEVENT\n", " 'lf'"},
      {"BEGIN:VEVENT\rSUMMARY:c\r r\rDTSTART:20260302T100000Z\rEND:VEVENT\r", " 'cr'"},
      {"\xEF\xBB\xBF"
       "BEGIN:VEVENT\r\nBEG\r\n IN:X\r\nEND:X\r\n" +
           start + "END:VEVENT\r\n",
       ""},
      // Names in any case; of a property given twice, the first.
      {event("summary:one\r\ndtstart;tzid=Europe/Berlin;value=date-time:20260302T110000\r\n"
             "SUMMARY:two\r\nDTSTART:20260303T100000Z\r\nduration:PT1H\r\nDURATION:PT2H\r\n"
             "TRANSP:TRANSPARENT\r\nTRANSP:OPAQUE\r\n"),
       " +1h 'one' free"},
      {event(start + "ATTENDEE;CN=\"Doe; John: ,x\";X-Y;MEMBER=\"mailto:a@x\",\"b@x\";PARTSTAT="
                     "DECLINED:me@example.org\r\n"),
       " declined"},
      {event(start + "SUMMARY:a\\,b\\;c\\\\d\\ne\\Nf\\x\r\n"), " 'a,b;c\\d\ne\nf\\x'"},
      {event(start + std::string("SUMMARY:a\0b\r\n", 12)), " '" + std::string("a\0b", 3) + "'"},
  };
  for (const auto& [text, shown] : cases) {
    const auto found = listingOf(text, "2026-03-02", "2026-03-03");
    EXPECT_EQ(found.events, std::vector<std::string>{"2026-03-02 10:00" + shown}) << text;
    EXPECT_EQ(found.lines, "") << text;
  }
}

TEST(ParseCalendar, SaysWhatItCouldNotUse) {
  const testing::ScopedTimeZone zone("UTC");
  const std::string start = "DTSTART:20260302T100000Z\r\n";
  const std::string rule = "event 1 has a recurrence rule (RRULE) that ";
  std::string deep = "BEGIN:VCALENDAR\r\n";
  for (int i = 0; i < 64; ++i) deep += "BEGIN:X\r\n";
  const std::tuple<std::string, std::size_t, std::string> cases[] = {
      {event(start + "DTEND:2026\r\nRECURRENCE-ID:x\r\nRRULE:FREQ=DAILY;COUNT=2;count=3\r\n"
                     "RRULE:FREQ=MONTHLY;BYDAY=-54MO\r\nRRULE:FREQ=DAILY;INTERVAL=0\r\n"
                     "RRULE:FREQ=DAILY;RSCALE=HEBREW\r\nRRULE:FREQ=DAILY;UNTIL=2026\r\nRDATE:x\r\n"
                     "RRULE:FREQ=DAILY;COUNT=0\r\nRDATE;VALUE=PERIOD:x/PT1H\r\n"
                     "RRULE:FREQ=DAILY;COUNT=99999999999\r\n"
                     "RRULE:FREQ=DAILY;BYMONTHDAY=-31;COUNT=1\r\nEXDATE:20260303T100000Z,2026\r\n"),
       1,
       "event 1 has an invalid end (DTEND), ignored\nevent 1 has an invalid RECURRENCE-ID, "
       "ignored\n" +
           rule + "gives COUNT twice, ignored\n" + rule + "a part is out of its range, ignored\n" +
           rule + "its INTERVAL is not a positive number, ignored\n" + rule +
           "uses a calendar other than the Gregorian one, ignored\n" + rule +
           "is invalid, ignored\n" + rule + "is invalid, ignored\n" + rule +
           "is invalid, ignored\nevent 1 has an invalid extra date (RDATE), ignored\n"
           "event 1 has an invalid extra date (RDATE), ignored\nevent 1 has "
           "an invalid exception date (EXDATE), ignored\n"},
      {event("DTSTART;VALUE=DATE:20260302\r\nRRULE:FREQ=HOURLY\r\n"), 1,
       rule + "it repeats more often than daily on an all-day event, ignored\n"},
      // A leap second is the next minute's first.
      {event("DTSTART:20260229T100000Z\r\n") + event("DTSTART:00000101T100000Z\r\n") +
           event("SUMMARY:x\r\n") + event("DTSTART:20260301T235960Z\r\n"),
       1,
       "event 1 has an invalid start (DTSTART), skipped\nevent 2 has an invalid start "
       "(DTSTART), skipped\nevent 3 has no start (DTSTART), skipped\n"},
      {deep, 0, "nests components more than 64 deep, skipped\n"},
      {"BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\n" + start, 0,
       "ends inside a component (no END line)\n"
       "event 1 is cut short (the text ends before its END), skipped\n"},
      {"hello\r\nworld", 0, "holds no iCalendar data, skipped\n"},
  };
  for (const auto& [text, listed, lines] : cases) {
    const auto found = listingOf(text, "2026-03-02", "2026-03-03");
    EXPECT_EQ(found.events.size(), listed) << text;
    EXPECT_EQ(found.lines, lines) << text;
  }
}

}  // namespace
}  // namespace quorvel::calendar::ical
