// The reader of iCalendar text, on content lines as real files write them and
// on what it can't use.
#include "calendar/ics/parse.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/listing.h"
#include "support/time_zone.h"

namespace quorvel::calendar::ics {
namespace {

using testing::listingOf;

std::string event(std::string_view lines) {
  return "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:1\r\n" + std::string(lines) +
         "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

TEST(ParseCalendar, ReadsContentLinesAsFilesWriteThem) {
  const testing::ScopedTimeZone zone("UTC");
  const std::string start = "DTSTART:20260302T100000Z\r\n";
  const std::pair<std::string, std::string> cases[] = {
      // Folds inside a name, a UTF-8 sequence and a parameter's value.
      {event(
           "SUMM\r\n ARY:caf\xC3\r\n\t\xA9\r\nDTSTART;TZID=Europe/Ber\r\n lin:20260302T110000\r\n"),
       "2026-03-02 10:00 'caf\xC3\xA9'"},
      {"BEGIN:VCALENDAR\nBEGIN:VEVENT\nSUMMARY:lf\n fold\nDTSTART:20260302T100000Z\n"
       "END:VEVENT\nEND:VCALENDAR\n",
       "2026-03-02 10:00 'lffold'"},
      {"BEGIN:VCALENDAR\rBEGIN:VEVENT\rSUMMARY:cr\r fold\rDTSTART:20260302T100000Z\r"
       "END:VEVENT\rEND:VCALENDAR\r",
       "2026-03-02 10:00 'crfold'"},
      {"\xEF\xBB\xBF"
       "BEGIN:VEVENT\r\nBEG\r\n IN:X\r\nEND:X\r\n" +
           start + "END:VEVENT\r\n",
       "2026-03-02 10:00"},
      {event("summary:lower\r\ndtstart;tzid=Europe/Berlin;value=date-time:20260302T110000\r\n"
             "dtend;value=date-time:20260302T110000Z\r\n"),
       "2026-03-02 10:00 +1h 'lower'"},
      {event(start + "SUMMARY:one\r\nSUMMARY:two\r\nDTSTART:20260303T100000Z\r\nDURATION:PT1H\r\n"
                     "DURATION:PT2H\r\nTRANSP:TRANSPARENT\r\nTRANSP:OPAQUE\r\n"),
       "2026-03-02 10:00 +1h 'one' free"},
      {event(start + "ATTENDEE;CN=\"Doe; John: ,x\";X-Y;MEMBER=\"mailto:a@x\",\"b@x\";PARTSTAT="
                     "DECLINED:me@example.org\r\n"),
       "2026-03-02 10:00 declined"},
      {"BEGIN:VCALENDAR\r\nBEGIN:VTIMEZONE\r\nTZID:Office \"East\" ^1\r\nBEGIN:STANDARD\r\n"
       "DTSTART:19700101T000000\r\nTZOFFSETFROM:+0300\r\nTZOFFSETTO:+0300\r\nEND:STANDARD\r\n"
       "END:VTIMEZONE\r\nBEGIN:VEVENT\r\nDTSTART;TZID=\"Office ^'East^' ^^1\":20260302T130000\r\n"
       "END:VEVENT\r\nEND:VCALENDAR\r\n",
       "2026-03-02 10:00"},
      {event(start + "SUMMARY:a\\,b\\;c\\\\d\\ne\\Nf\\x\r\n"),
       "2026-03-02 10:00 'a,b;c\\d\ne\nf\\x'"},
      {event(start + "SUMMARY:\r\n"), "2026-03-02 10:00 ''"},
      {event(start + std::string("SUMMARY:a\0b\r\n", 12)),
       "2026-03-02 10:00 '" + std::string("a\0b", 3) + "'"},
  };
  for (const auto& [text, listed] : cases) {
    const auto found = listingOf(text, "2026-03-02", "2026-03-03");
    EXPECT_EQ(found.events, std::vector<std::string>{listed}) << text;
    EXPECT_EQ(found.lines, "") << text;
  }
}

TEST(ParseCalendar, SaysWhatItCouldNotUse) {
  const testing::ScopedTimeZone zone("UTC");
  const std::string start = "DTSTART:20260302T100000Z\r\n";
  std::string deep = "BEGIN:VCALENDAR\r\n";
  for (int i = 0; i < 63; ++i) deep += "BEGIN:X\r\n";
  // A NUL where a line reader of 80-byte pieces would end the line: nothing
  // hides a BEGIN from the count.
  std::string hidden = "BEGIN:VCALENDAR\r\n";
  for (int i = 0; i < 70; ++i) hidden += "X-PAD:" + std::string(72, 'p') + '\0' + "\r\nBEGIN:X\r\n";
  const std::string rule = "event 1 has a recurrence rule (RRULE) that ";
  const std::tuple<std::string, std::size_t, std::string> cases[] = {
      {event(start + "RRULE:FREQ=DAILY;COUNT=2;count=3\r\nRRULE:FREQ=DAILY;BYMONTHDAY=0\r\n"
                     "RRULE:FREQ=YEARLY;BYWEEKNO=54\r\nRRULE:FREQ=MONTHLY;BYDAY=54MO\r\n"
                     "RRULE:FREQ=DAILY;BYHOUR=24\r\nRRULE:FREQ=DAILY;BYMONTHDAY=-31;COUNT=1\r\n"),
       1,
       rule + "gives COUNT twice, ignored\n" + rule + "a part is out of its range, ignored\n" +
           rule + "a part is out of its range, ignored\n" + rule +
           "a part is out of its range, ignored\n" + rule +
           "a part is out of its range, ignored\n"},
      {event("DTSTART;VALUE=DATE:20260302\r\nRRULE:FREQ=HOURLY\r\nRRULE:FREQ=DAILY;INTERVAL=0\r\n"
             "RRULE:FREQ=DAILY;RSCALE=HEBREW\r\nRRULE:FREQ=DAILY;BYDAY=XX\r\nRRULE:BYDAY=MO\r\n"),
       1,
       rule + "it repeats more often than daily on an all-day event, ignored\n" + rule +
           "its INTERVAL is not a positive number, ignored\n" + rule +
           "uses a calendar other than the Gregorian one, ignored\n" + rule +
           "is invalid, ignored\n" + rule + "is invalid, ignored\n"},
      {event(start +
             "EXDATE:20260303T100000Z,2026\r\nRDATE:x\r\nDTEND:2026\r\nRECURRENCE-ID:x\r\n"),
       1,
       "event 1 has an invalid end (DTEND), ignored\n"
       "event 1 has an invalid RECURRENCE-ID, ignored\n"
       "event 1 has an invalid extra date (RDATE), ignored\n"
       "event 1 has an invalid exception date (EXDATE), ignored\n"},
      {event("DTSTART:20260229T100000Z\r\n") + event("DTSTART:20260302T240000Z\r\n") +
           event("SUMMARY:x\r\n") + event("DTSTART:20260301T235960Z\r\n"),
       1,
       "event 1 has an invalid start (DTSTART), skipped\n"
       "event 2 has an invalid start (DTSTART), skipped\n"
       "event 3 has no start (DTSTART), skipped\n"},
      {deep, 0, "ends inside a component (no END line)\n"},
      {deep + "BEGIN:X\r\n", 0, "nests components more than 64 deep, skipped\n"},
      {hidden, 0, "nests components more than 64 deep, skipped\n"},
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
}  // namespace quorvel::calendar::ics
