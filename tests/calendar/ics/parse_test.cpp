// The reader of iCalendar text, on content lines as real files write them.
#include "calendar/ics/parse.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/time_zone.h"

namespace quorvel::calendar::ics {
namespace {

using testing::ScopedTimeZone;

// What one event of a text gives, reduced to what a row checks.
struct Seen {
  std::size_t events = 0;
  std::optional<std::string> title;
  std::int64_t startUtc = 0;
  std::size_t rules = 0;
  std::int64_t status = 0;  // of the first attendee, as the platform numbers it; 0 without one
  std::string problems;
};

Seen seen(std::string_view text) {
  const ParsedCalendar parsed = parseCalendar(text);
  Seen result;
  result.events = parsed.events.size();
  for (const std::string& problem : parsed.problems) result.problems += problem + "\n";
  if (parsed.events.empty()) return result;
  const VEvent& event = parsed.events.front();
  result.title = event.title;
  result.startUtc = toUtc(*event.start.zone, event.start.wall);
  result.rules = event.rules.size();
  if (event.attendees && !event.attendees->empty()) {
    result.status = static_cast<std::int64_t>(event.attendees->front().status) + 1;
  }
  return result;
}

constexpr std::int64_t kTenUtc = 1772445600;     // 2026-03-02T10:00:00Z
constexpr std::int64_t kTenBerlin = 1772442000;  // 2026-03-02T10:00:00+01:00

std::string event(std::string_view lines) {
  return "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:1\r\n" + std::string(lines) +
         "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

TEST(ParseCalendar, ReadsContentLinesAsFilesWriteThem) {
  const ScopedTimeZone zone("UTC");
  const std::string start = "DTSTART:20260302T100000Z\r\n";
  const struct {
    const char* what;
    std::string text;
    std::optional<std::string> title;
    std::int64_t startUtc;
    std::size_t rules;
    std::int64_t status;
  } cases[] = {
      {"a fold inside a name", event(start + "SUMM\r\n ARY:Hello\r\n"), "Hello", kTenUtc, 0, 0},
      {"a tab fold inside DTSTART's name", event("DTST\r\n\tART:20260302T100000Z\r\n"),
       std::nullopt, kTenUtc, 0, 0},
      {"a fold inside a UTF-8 sequence", event(start + "SUMMARY:caf\xC3\r\n \xA9\r\n"),
       "caf\xC3\xA9", kTenUtc, 0, 0},
      {"a fold inside a parameter value",
       event("DTSTART;TZID=Europe/Ber\r\n lin:20260302T100000\r\n"), std::nullopt, kTenBerlin, 0,
       0},
      {"a folded RRULE name", event(start + "RRU\r\n LE:FREQ=WEEKLY\r\n"), std::nullopt, kTenUtc, 1,
       0},
      {"a folded BEGIN",
       "BEGIN:VCALENDAR\r\nBEG\r\n IN:VEVENT\r\n" + start + "END:VEVENT\r\nEND:VCALENDAR\r\n",
       std::nullopt, kTenUtc, 0, 0},
      {"LF line ends",
       "BEGIN:VCALENDAR\nBEGIN:VEVENT\nSUMMARY:lf\n fold\nDTSTART:20260302T100000Z\n"
       "END:VEVENT\nEND:VCALENDAR\n",
       "lffold", kTenUtc, 0, 0},
      {"CR line ends",
       "BEGIN:VCALENDAR\rBEGIN:VEVENT\rSUMMARY:cr\r fold\rDTSTART:20260302T100000Z\r"
       "END:VEVENT\rEND:VCALENDAR\r",
       "crfold", kTenUtc, 0, 0},
      {"a byte-order mark", "\xEF\xBB\xBF" + event(start + "SUMMARY:bom\r\n"), "bom", kTenUtc, 0,
       0},
      {"names in lower case",
       event("summary:lower\r\ndtstart;tzid=Europe/Berlin;value=date-time:20260302T100000\r\n"),
       "lower", kTenBerlin, 0, 0},
      {"quoted parameters holding ':', ';' and ','",
       event(start + "ATTENDEE;CN=\"Doe; John: ,x\";PARTSTAT=ACCEPTED:mailto:me@example.org\r\n"),
       std::nullopt, kTenUtc, 0, 2},
      {"several values of one parameter",
       event(start +
             "ATTENDEE;MEMBER=\"mailto:a@x\",\"mailto:b@x\";PARTSTAT=DECLINED:mailto:m\r\n"),
       std::nullopt, kTenUtc, 0, 3},
      {"RFC 6868 in a TZID",
       "BEGIN:VCALENDAR\r\nBEGIN:VTIMEZONE\r\nTZID:Office \"East\" ^1\r\nBEGIN:STANDARD\r\n"
       "DTSTART:19700101T000000\r\nTZOFFSETFROM:+0300\r\nTZOFFSETTO:+0300\r\nEND:STANDARD\r\n"
       "END:VTIMEZONE\r\nBEGIN:VEVENT\r\nDTSTART;TZID=\"Office ^'East^' ^^1\":20260302T130000\r\n"
       "END:VEVENT\r\nEND:VCALENDAR\r\n",
       std::nullopt, kTenUtc, 0, 0},
      {"TEXT escapes", event(start + "SUMMARY:a\\,b\\;c\\\\d\\ne\\Nf\r\n"), "a,b;c\\d\ne\nf",
       kTenUtc, 0, 0},
      {"an empty title", event(start + "SUMMARY:\r\n"), "", kTenUtc, 0, 0},
      {"a title of one space", event(start + "SUMMARY: \r\n"), " ", kTenUtc, 0, 0},
      {"a NUL inside a title", event(start + std::string("SUMMARY:a\0b\r\n", 12)),
       std::string("a\0b", 3), kTenUtc, 0, 0},
      {"a Windows zone name", event("DTSTART;TZID=W. Europe Standard Time:20260302T100000\r\n"),
       std::nullopt, kTenBerlin, 0, 0},
      {"a vendor-prefixed zone",
       event("DTSTART;TZID=/mozilla.org/20070129_1/Europe/Berlin:20260302T100000\r\n"),
       std::nullopt, kTenBerlin, 0, 0},
  };
  for (const auto& c : cases) {
    const Seen got = seen(c.text);
    ASSERT_EQ(got.events, 1u) << c.what << "\n" << got.problems;
    EXPECT_EQ(got.title, c.title) << c.what;
    EXPECT_EQ(got.startUtc, c.startUtc) << c.what;
    EXPECT_EQ(got.rules, c.rules) << c.what;
    EXPECT_EQ(got.status, c.status) << c.what;
    EXPECT_EQ(got.problems, "") << c.what;
  }
}

TEST(ParseCalendar, SaysWhatItCouldNotUse) {
  const ScopedTimeZone zone("UTC");
  const std::string start = "DTSTART:20260302T100000Z\r\n";
  std::string deep = "BEGIN:VCALENDAR\r\n";
  for (int i = 0; i < 63; ++i) deep += "BEGIN:X\r\n";
  // A NUL where a line reader of 80-byte pieces would end the line: nothing
  // hides a BEGIN from the count.
  std::string hidden = "BEGIN:VCALENDAR\r\n";
  for (int i = 0; i < 70; ++i) hidden += "X-PAD:" + std::string(72, 'p') + '\0' + "\r\nBEGIN:X\r\n";
  const struct {
    const char* what;
    std::string text;
    std::size_t events;
    std::string problems;
  } cases[] = {
      {"a repeated part", event(start + "RRULE:FREQ=DAILY;COUNT=2;COUNT=3\r\n"), 1,
       "event 1 has a recurrence rule (RRULE) that gives COUNT twice, ignored\n"},
      {"a part out of range", event(start + "RRULE:FREQ=DAILY;BYHOUR=24\r\n"), 1,
       "event 1 has a recurrence rule (RRULE) that a part is out of its range, ignored\n"},
      {"lists with a bad item", event(start + "EXDATE:20260303T100000Z,2026\r\nRDATE:x\r\n"), 1,
       "event 1 has an invalid extra date (RDATE), ignored\n"
       "event 1 has an invalid exception date (EXDATE), ignored\n"},
      {"64 levels", deep, 0, "ends inside a component (no END line)\n"},
      {"65 levels", deep + "BEGIN:X\r\n", 0, "nests components more than 64 deep, skipped\n"},
      {"levels behind NULs", hidden, 0, "nests components more than 64 deep, skipped\n"},
      {"a truncated event", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\n" + start, 0,
       "ends inside a component (no END line)\n"
       "event 1 is cut short (the text ends before its END), skipped\n"},
      {"no data", "hello\r\nworld", 0, "holds no iCalendar data, skipped\n"},
  };
  for (const auto& c : cases) {
    const Seen got = seen(c.text);
    EXPECT_EQ(got.events, c.events) << c.what;
    EXPECT_EQ(got.problems, c.problems) << c.what;
  }
}

// The reader's work grows with the text: four times the parameters, lines or
// levels cost about four times as much, never sixteen.
TEST(ParseCalendar, WorkGrowsInProportionToTheText) {
  const auto parameters = [](int n) {
    std::string line = "ATTENDEE";
    for (int i = 0; i < n; ++i) line += ";X-P" + std::to_string(i) + "=\"a:b\"";
    return event("DTSTART:20260302T100000Z\r\n" + line + ";PARTSTAT=ACCEPTED:mailto:m\r\n");
  };
  const auto properties = [](int n) {
    std::string lines = "DTSTART:20260302T100000Z\r\n";
    for (int i = 0; i < n; ++i) lines += "EXDATE:20260303T100000Z\r\nX-A:b\r\n c\r\n";
    return event(lines);
  };
  const auto listed = [](int n) {
    std::string line = "EXDATE";
    for (int i = 0; i < n; ++i) line += ";X-P=" + std::to_string(i);
    line += ":20260303T100000";
    for (int i = 1; i < n; ++i) line += ",20260303T100000";
    return event("DTSTART:20260302T100000Z\r\n" + line + "\r\n");
  };
  const auto crLines = [](int n) {
    std::string text = "BEGIN:VCALENDAR\rBEGIN:VEVENT\rDTSTART:20260302T100000Z\r";
    for (int i = 0; i < n; ++i) text += "X-A:b\r";
    return text + "END:VEVENT\rEND:VCALENDAR\r";
  };
  const auto nesting = [](int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "BEGIN:VCALENDAR\r\n";
    for (int i = 0; i < n; ++i) text += "END:VCALENDAR\r\n";
    return text;
  };
  const struct {
    const char* what;
    std::function<std::string(int)> make;
    int n;
  } cases[] = {{"parameters", parameters, 5000},
               {"properties", properties, 5000},
               {"values of a line with parameters", listed, 2000},
               {"lines ending in CR alone", crLines, 5000},
               {"levels", nesting, 16}};
  for (const auto& c : cases) {
    const double small = static_cast<double>(parseCalendar(c.make(c.n)).work);
    const double large = static_cast<double>(parseCalendar(c.make(4 * c.n)).work);
    EXPECT_GT(large / small, 3.0) << c.what;
    EXPECT_LT(large / small, 5.0) << c.what;
  }
}

}  // namespace
}  // namespace quorvel::calendar::ics
