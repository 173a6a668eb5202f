// Recurrence as the store presents it: every occurrence in the window an event
// of its own. Expected instants are worked out by hand from the calendar and
// the zones' offsets, written as UTC; each table says which offsets apply.
#include "calendar/ics/recurrence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "calendar/ics/expand.h"
#include "calendar/ics/parse.h"
#include "calendar/ics/values.h"
#include "support/temp_store.h"
#include "support/time_zone.h"

namespace quorvel::calendar::ics {
namespace {

using testing::calendarOf;
using testing::ScopedTimeZone;

// Seconds since the epoch of a UTC time written "2026-03-09T13:00".
std::int64_t utc(const char* text) {
  std::tm fields{};
  std::sscanf(text, "%d-%d-%dT%d:%d", &fields.tm_year, &fields.tm_mon, &fields.tm_mday,
              &fields.tm_hour, &fields.tm_min);
  fields.tm_year -= 1900;
  fields.tm_mon -= 1;
  return timegm(&fields);
}

struct Span {
  std::int64_t start;
  std::int64_t end;
  std::string title;
  bool operator==(const Span&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Span& span) {
  return out << span.start << ".." << span.end << " " << span.title;
}

struct Listed {
  std::vector<Span> spans;
  std::vector<std::string> problems;
};

Listed listed(const std::string& events, const char* from, const char* to) {
  const TextEvents found =
      eventsInText(calendarOf(events), {double(utc(from)), double(utc(to))}, {});
  Listed result{{}, found.problems};
  for (const Occurrence& occurrence : found.occurrences) {
    result.spans.push_back(
        {occurrence.start, occurrence.end, occurrence.details->title.value_or("")});
  }
  return result;
}

std::string event(const std::string& properties, const std::string& uid = "series@tests") {
  return "BEGIN:VEVENT\nUID:" + uid + "\nSUMMARY:s\n" + properties + "END:VEVENT\n";
}

Span at(const char* start, const char* end, const char* title = "s") {
  return {utc(start), utc(end), title};
}

TEST(Recurrence, FollowsRulesWithTheirStartAlwaysFirst) {
  const ScopedTimeZone zone("UTC");
  const struct {
    const char* what;
    std::string properties;
    std::vector<Span> expected;
    const char* from = "2024-01-01T00:00";
    const char* to = "2027-12-31T00:00";
  } cases[] = {
      // 4 March 2026 is a Wednesday: it counts as the first of three.
      {"COUNT with a start the rule doesn't match",
       "DTSTART:20260304T090000Z\nDURATION:PT1H\nRRULE:FREQ=WEEKLY;BYDAY=FR;COUNT=3\n",
       {at("2026-03-04T09:00", "2026-03-04T10:00"), at("2026-03-06T09:00", "2026-03-06T10:00"),
        at("2026-03-13T09:00", "2026-03-13T10:00")}},
      {"last Friday of the month",
       "DTSTART:20260130T090000Z\nRRULE:FREQ=MONTHLY;BYDAY=-1FR;COUNT=3\n",
       {at("2026-01-30T09:00", "2026-01-30T09:00"), at("2026-02-27T09:00", "2026-02-27T09:00"),
        at("2026-03-27T09:00", "2026-03-27T09:00")}},
      {"last day of the month, monthly",
       "DTSTART:20260131T090000Z\nRRULE:FREQ=MONTHLY;BYMONTHDAY=-1;COUNT=3\n",
       {at("2026-01-31T09:00", "2026-01-31T09:00"), at("2026-02-28T09:00", "2026-02-28T09:00"),
        at("2026-03-31T09:00", "2026-03-31T09:00")}},
      {"last day of the month, daily rule limited to it",
       "DTSTART:20260131T090000Z\nRRULE:FREQ=DAILY;BYMONTHDAY=-1;COUNT=3\n",
       {at("2026-01-31T09:00", "2026-01-31T09:00"), at("2026-02-28T09:00", "2026-02-28T09:00"),
        at("2026-03-31T09:00", "2026-03-31T09:00")}},
      {"every other week on Monday and Wednesday until a date",
       "DTSTART:20260302T080000Z\nRRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE;UNTIL=20260316\n",
       {at("2026-03-02T08:00", "2026-03-02T08:00"), at("2026-03-04T08:00", "2026-03-04T08:00"),
        at("2026-03-16T08:00", "2026-03-16T08:00")}},
      {"UNTIL is inclusive",
       "DTSTART:20260301T120000Z\nRRULE:FREQ=DAILY;UNTIL=20260302T120000Z\n",
       {at("2026-03-01T12:00", "2026-03-01T12:00"), at("2026-03-02T12:00", "2026-03-02T12:00")}},
      {"the last weekday of the month (BYSETPOS)",
       "DTSTART:20260227T170000Z\nRRULE:FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1;COUNT=2\n",
       {at("2026-02-27T17:00", "2026-02-27T17:00"), at("2026-03-31T17:00", "2026-03-31T17:00")}},
      {"29 February, in leap years only",
       "DTSTART:20240229T000000Z\nRRULE:FREQ=YEARLY;COUNT=3\n",
       {at("2028-02-29T00:00", "2028-02-29T00:00")},
       "2025-01-01T00:00",
       "2028-12-31T00:00"},
      {"EXDATE, several per line and several lines; RDATE of each kind",
       "DTSTART:20260301T100000Z\nDURATION:PT30M\nRRULE:FREQ=DAILY;COUNT=5\n"
       "EXDATE:20260302T100000Z,20260303T100000Z\nEXDATE:20260305T100000Z\n"
       "RDATE:20260310T150000Z\nRDATE;VALUE=PERIOD:20260311T150000Z/PT2H\n"
       "RDATE;VALUE=PERIOD:20260312T150000Z/20260312T151500Z\n",
       {at("2026-03-01T10:00", "2026-03-01T10:30"), at("2026-03-04T10:00", "2026-03-04T10:30"),
        at("2026-03-10T15:00", "2026-03-10T15:30"), at("2026-03-11T15:00", "2026-03-11T17:00"),
        at("2026-03-12T15:00", "2026-03-12T15:15")}},
      {"an EXDATE on the start itself", "DTSTART:20260301T100000Z\nEXDATE:20260301T100000Z\n", {}},
  };
  for (const auto& c : cases) {
    const Listed found = listed(event(c.properties), c.from, c.to);
    EXPECT_EQ(found.spans, c.expected) << c.what;
    EXPECT_TRUE(found.problems.empty()) << c.what << ": " << found.problems.front();
  }
}

// New York moves from EST (UTC-5) to EDT (UTC-4) on 8 March 2026 and back on
// 1 November; Berlin from CET (UTC+1) to CEST (UTC+2) on 29 March at 02:00 and
// back on 25 October at 03:00.
TEST(Recurrence, KeepsTheWallClockAcrossDaylightSavingChanges) {
  const ScopedTimeZone zone("UTC");
  const struct {
    const char* what;
    std::string properties;
    const char* from;
    const char* to;
    std::vector<Span> expected;
  } cases[] = {
      {"weekly at 09:00 in New York",
       "DTSTART;TZID=America/New_York:20260302T090000\nDTEND;TZID=America/"
       "New_York:20260302T100000\n"
       "RRULE:FREQ=WEEKLY\n",
       "2026-03-01T00:00",
       "2026-03-12T00:00",
       {at("2026-03-02T14:00", "2026-03-02T15:00"), at("2026-03-09T13:00", "2026-03-09T14:00")}},
      // A day of the nominal P1D is 23 hours across the change.
      {"a one-day duration is a calendar day",
       "DTSTART;TZID=America/New_York:20260307T120000\nDURATION:P1D\nRRULE:FREQ=DAILY;COUNT=2\n",
       "2026-03-01T00:00",
       "2026-03-12T00:00",
       {at("2026-03-07T17:00", "2026-03-08T16:00"), at("2026-03-08T16:00", "2026-03-09T16:00")}},
      // 02:30 doesn't exist on 29 March: it is read with CET, as 03:30 CEST.
      {"daily at 02:30 in Berlin, through the gap",
       "DTSTART;TZID=Europe/Berlin:20260328T023000\nRRULE:FREQ=DAILY;COUNT=3\n",
       "2026-03-01T00:00",
       "2026-04-01T00:00",
       {at("2026-03-28T01:30", "2026-03-28T01:30"), at("2026-03-29T01:30", "2026-03-29T01:30"),
        at("2026-03-30T00:30", "2026-03-30T00:30")}},
      // 02:30 happens twice on 25 October: the first time, in CEST.
      {"daily at 02:30 in Berlin, through the repeated hour",
       "DTSTART;TZID=Europe/Berlin:20261024T023000\nRRULE:FREQ=DAILY;COUNT=3\n",
       "2026-10-01T00:00",
       "2026-11-01T00:00",
       {at("2026-10-24T00:30", "2026-10-24T00:30"), at("2026-10-25T00:30", "2026-10-25T00:30"),
        at("2026-10-26T01:30", "2026-10-26T01:30")}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(listed(event(c.properties), c.from, c.to).spans, c.expected) << c.what;
  }
}

// How long each occurrence lasts across a daylight-saving change. A DTEND
// gives every occurrence the first one's exact length; a DURATION's days are
// calendar days and its hours exact; an all-day event lasts whole days.
// Berlin: CET (UTC+1) to CEST (UTC+2) on 31 March 2024 at 01:00Z, back on 27
// October 2024 at 01:00Z. New York: EST (UTC-5) to EDT (UTC-4) on 10 March
// 2024 at 07:00Z.
TEST(Recurrence, LengthsAcrossDaylightSavingChanges) {
  const std::string eastern =
      "BEGIN:VTIMEZONE\nTZID:Eastern\nBEGIN:STANDARD\nDTSTART:20071104T020000\n"
      "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\nTZOFFSETFROM:-0400\nTZOFFSETTO:-0500\n"
      "END:STANDARD\nBEGIN:DAYLIGHT\nDTSTART:20070311T020000\n"
      "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\nTZOFFSETFROM:-0500\nTZOFFSETTO:-0400\n"
      "END:DAYLIGHT\nEND:VTIMEZONE\n";
  const struct {
    const char* what;
    const char* zone;
    std::string text;
    std::vector<Span> expected;
  } cases[] = {
      // 23:00 CET to 04:00 CET is 22:00Z to 03:00Z, 5 h; a week later
      // 23:00 CET is 22:00Z again and ends 5 h later, at 05:00 CEST.
      {"DTEND in a tz database zone, into summer time",
       "UTC",
       event("DTSTART;TZID=Europe/Berlin:20240323T230000\n"
             "DTEND;TZID=Europe/Berlin:20240324T040000\nRRULE:FREQ=WEEKLY;COUNT=2\n"),
       {at("2024-03-23T22:00", "2024-03-24T03:00"), at("2024-03-30T22:00", "2024-03-31T03:00")}},
      // Floating 12:00 to 12:00 next day in Berlin is 24 h in CEST; a week
      // later it starts 12:00 CEST (10:00Z) and ends 24 h later, 11:00 CET.
      {"floating DTEND, into winter time",
       "Europe/Berlin",
       event("DTSTART:20241019T120000\nDTEND:20241020T120000\nRRULE:FREQ=WEEKLY;COUNT=2\n"),
       {at("2024-10-19T10:00", "2024-10-20T10:00"), at("2024-10-26T10:00", "2024-10-27T10:00")}},
      // 23:00 EST to 04:00 EST (04:00Z to 09:00Z) is 5 h; a week later
      // 23:00 EST is 04:00Z and ends at 09:00Z, 05:00 EDT.
      {"DTEND in the file's own zone",
       "UTC",
       calendarOf(eastern + event("DTSTART;TZID=Eastern:20240302T230000\n"
                                  "DTEND;TZID=Eastern:20240303T040000\n"
                                  "RRULE:FREQ=WEEKLY;COUNT=2\n")),
       {at("2024-03-03T04:00", "2024-03-03T09:00"), at("2024-03-10T04:00", "2024-03-10T09:00")}},
      // P1D from 12:00 CEST on 26 October is 12:00 CET on the 27th: 25 h.
      {"a day of DURATION is a calendar day",
       "Europe/Berlin",
       event("DTSTART:20241026T120000\nDURATION:P1D\n"),
       {at("2024-10-26T10:00", "2024-10-27T11:00")}},
      {"hours of DURATION are exact",
       "Europe/Berlin",
       event("DTSTART:20241026T120000\nDURATION:PT24H\n"),
       {at("2024-10-26T10:00", "2024-10-27T10:00")}},
      // Two days from midnight CEST on the 26th: shown ending 23:59:59 CET on
      // the 27th.
      {"an all-day event lasts whole days",
       "Europe/Berlin",
       event("DTSTART;VALUE=DATE:20241026\nDTEND;VALUE=DATE:20241028\n"),
       {{utc("2024-10-25T22:00"), utc("2024-10-27T23:00") - 1, "s"}}},
  };
  for (const auto& c : cases) {
    const ScopedTimeZone zone(c.zone);
    const std::string text = c.text.starts_with("BEGIN:VCALENDAR") ? c.text : calendarOf(c.text);
    const TextEvents found =
        eventsInText(text, {double(utc("2024-03-01T00:00")), double(utc("2024-12-01T00:00"))}, {});
    std::vector<Span> spans;
    for (const Occurrence& occurrence : found.occurrences) {
      spans.push_back({occurrence.start, occurrence.end, occurrence.details->title.value_or("")});
    }
    EXPECT_EQ(spans, c.expected) << c.what;
  }
}

// Floating and all-day series follow the local zone: Tokyo is UTC+9.
TEST(Recurrence, FloatingAndAllDaySeriesAreLocal) {
  const ScopedTimeZone zone("Asia/Tokyo");
  EXPECT_EQ(listed(event("DTSTART:20260302T090000\nDTEND:20260302T093000\nRRULE:FREQ=DAILY\n"),
                   "2026-03-02T00:00", "2026-03-04T00:00")
                .spans,
            (std::vector<Span>{at("2026-03-02T00:00", "2026-03-02T00:30"),
                               at("2026-03-03T00:00", "2026-03-03T00:30")}));
  // Shown ending at 23:59:59 local time of their day.
  EXPECT_EQ(listed(event("DTSTART;VALUE=DATE:20260302\nRRULE:FREQ=WEEKLY;COUNT=2\n"),
                   "2026-01-01T00:00", "2026-12-01T00:00")
                .spans,
            (std::vector<Span>{{utc("2026-03-01T15:00"), utc("2026-03-02T15:00") - 1, "s"},
                               {utc("2026-03-08T15:00"), utc("2026-03-09T15:00") - 1, "s"}}));
}

// Occurrences come in the order of the text (the series, then its
// overrides); the store orders them by time afterwards.
TEST(Recurrence, OverridesReplaceTheOccurrenceTheyName) {
  const ScopedTimeZone zone("UTC");
  const std::string series =
      event("DTSTART:20260302T100000Z\nDTEND:20260302T110000Z\nRRULE:FREQ=WEEKLY;COUNT=4\n");
  const auto override = [](const char* recurrenceId, const std::string& properties) {
    return "BEGIN:VEVENT\nUID:series@tests\nRECURRENCE-ID:" + std::string(recurrenceId) + "\n" +
           properties + "END:VEVENT\n";
  };
  const struct {
    const char* what;
    std::string overrides;
    std::vector<Span> expected;
  } cases[] = {
      {"moved two hours later",
       override("20260309T100000Z",
                "SUMMARY:s\nDTSTART:20260309T120000Z\nDTEND:20260309T130000Z\n"),
       {at("2026-03-02T10:00", "2026-03-02T11:00"), at("2026-03-16T10:00", "2026-03-16T11:00"),
        at("2026-03-09T12:00", "2026-03-09T13:00")}},
      {"retitled in place",
       override("20260309T100000Z",
                "SUMMARY:moved\nDTSTART:20260309T100000Z\nDTEND:20260309T110000Z\n"),
       {at("2026-03-02T10:00", "2026-03-02T11:00"), at("2026-03-16T10:00", "2026-03-16T11:00"),
        at("2026-03-09T10:00", "2026-03-09T11:00", "moved")}},
      {"moved out of the window",
       override("20260309T100000Z",
                "SUMMARY:s\nDTSTART:20260420T100000Z\nDTEND:20260420T110000Z\n"),
       {at("2026-03-02T10:00", "2026-03-02T11:00"), at("2026-03-16T10:00", "2026-03-16T11:00")}},
      {"moved into the window from outside it",
       override("20260323T100000Z",
                "SUMMARY:s\nDTSTART:20260310T100000Z\nDTEND:20260310T110000Z\n"),
       {at("2026-03-02T10:00", "2026-03-02T11:00"), at("2026-03-09T10:00", "2026-03-09T11:00"),
        at("2026-03-16T10:00", "2026-03-16T11:00"), at("2026-03-10T10:00", "2026-03-10T11:00")}},
      // 11:00 in Berlin (CET) is the first occurrence's 10:00Z.
      {"of the first occurrence, named in another zone",
       "BEGIN:VEVENT\nUID:series@tests\nRECURRENCE-ID;TZID=Europe/Berlin:20260302T110000\n"
       "SUMMARY:first\nDTSTART:20260302T080000Z\nDTEND:20260302T090000Z\nEND:VEVENT\n",
       {at("2026-03-09T10:00", "2026-03-09T11:00"), at("2026-03-16T10:00", "2026-03-16T11:00"),
        at("2026-03-02T08:00", "2026-03-02T09:00", "first")}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(listed(series + c.overrides, "2026-03-01T00:00", "2026-03-21T00:00").spans,
              c.expected)
        << c.what;
  }
}

TEST(Recurrence, CostGrowsWithTheWindowNotTheYearsBeforeIt) {
  const ScopedTimeZone zone("UTC");
  // A daily series since 1990, for one week of 2026.
  const Listed week = listed(event("DTSTART:19900101T080000Z\nRRULE:FREQ=DAILY\n"),
                             "2026-03-02T00:00", "2026-03-09T00:00");
  EXPECT_EQ(week.spans.size(), 7u);
  EXPECT_TRUE(week.problems.empty());
  EXPECT_EQ(week.spans.front(), at("2026-03-02T08:00", "2026-03-02T08:00"));

  // An every-minute series is cut at its first occurrences in the window.
  const Listed minutes = listed(event("DTSTART:19900101T080000Z\nRRULE:FREQ=MINUTELY\n"),
                                "2026-03-02T00:00", "2030-03-02T00:00");
  EXPECT_EQ(minutes.spans.size(), std::size_t{kMaxFineOccurrences});
  EXPECT_EQ(minutes.spans.back(), at("2026-03-02T16:39", "2026-03-02T16:39"));
  ASSERT_EQ(minutes.problems.size(), 1u);

  // A rule that never matches stops at its budget, with a word about it.
  const Listed never = listed(event("DTSTART:20260101T080000Z\nRRULE:FREQ=YEARLY;BYMONTH=2;"
                                    "BYMONTHDAY=30\n"),
                              "2026-03-02T00:00", "2026-03-09T00:00");
  EXPECT_EQ(never.spans.size(), 0u);

  // A count from long ago is skipped through when every period holds one:
  // the last of 825,804,787 seconds from 2000 is 9,557 days and 79,986
  // seconds after the first, 2026-03-02T22:13:06Z, so seven fall in the window.
  const Listed counted =
      listed(event("DTSTART:20000101T000000Z\nRRULE:FREQ=SECONDLY;COUNT=825804787\n"),
             "2026-03-02T22:13", "2026-03-03T00:00");
  ASSERT_EQ(counted.spans.size(), 7u);
  EXPECT_TRUE(counted.problems.empty());

  // Twice a day is more often than daily: capped like a minutely series. So
  // is an event of two daily rules, and no event lists more than 2000.
  const struct {
    const char* rules;
    std::size_t listed;
  } dense[] = {
      {"RRULE:FREQ=DAILY;BYHOUR=8,20\n", std::size_t{kMaxFineOccurrences}},
      {"RRULE:FREQ=DAILY\nRRULE:FREQ=DAILY;BYHOUR=20\n", std::size_t{kMaxFineOccurrences}},
      {"RRULE:FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR,SA,SU;BYHOUR=12\n"
       "RRULE:FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR,SA,SU;BYHOUR=20\n",
       std::size_t{kMaxOccurrences}},
  };
  for (const auto& c : dense) {
    const Listed many = listed(event("DTSTART:20260101T080000Z\n" + std::string(c.rules)),
                               "2026-03-02T00:00", "2030-03-02T00:00");
    EXPECT_EQ(many.spans.size(), c.listed) << c.rules;
    EXPECT_EQ(many.problems.size(), 1u) << c.rules;
  }
}

// Starting the expansion at a later point gives the same occurrences as
// expanding from the start and dropping the earlier ones.
TEST(RuleExpansion, SkippingAheadChangesNothing) {
  const char* rules[] = {
      "FREQ=DAILY;INTERVAL=3",
      "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,SU;WKST=SU",
      "FREQ=MONTHLY;BYMONTHDAY=31",
      "FREQ=MONTHLY;INTERVAL=5;BYDAY=2MO,-1FR",
      "FREQ=YEARLY;BYWEEKNO=1,-1;BYDAY=MO",
      "FREQ=YEARLY;INTERVAL=3;BYMONTH=2;BYMONTHDAY=29",
      "FREQ=HOURLY;INTERVAL=7",
      "FREQ=HOURLY;INTERVAL=5;BYHOUR=9,10,11,12;BYMINUTE=0,30",
      "FREQ=MINUTELY;INTERVAL=13;BYDAY=SA",
      "FREQ=SECONDLY;INTERVAL=7919;BYMONTH=3",
      "FREQ=DAILY;INTERVAL=3;COUNT=2000",
      "FREQ=WEEKLY;COUNT=400",
      "FREQ=MONTHLY;INTERVAL=2;COUNT=100",
      "FREQ=YEARLY;COUNT=30",
      "FREQ=HOURLY;INTERVAL=5;COUNT=10000",
  };
  const TimeValue start{wallSeconds({1990, 1, 31, 8, 17, 0}), false, &utcZone()};
  for (const char* text : rules) {
    const Checked<RecurrenceRule> rule = parseRule(text, start.isDate);
    ASSERT_TRUE(rule) << text;
    for (const std::int64_t from :
         {wallSeconds({1990, 6, 1}), wallSeconds({1993, 3, 2, 13, 0, 0})}) {
      RuleExpansion whole(*rule, start.wall, false, start.wall, utcZone());
      RuleExpansion skipped(*rule, start.wall, false, from, utcZone());
      std::optional<std::int64_t> expected = whole.next();
      while (expected && *expected < from) expected = whole.next();
      ASSERT_TRUE(expected.has_value()) << text;
      for (int i = 0; i < 20 && expected; ++i, expected = whole.next()) {
        std::optional<std::int64_t> got = skipped.next();
        while (got && *got < from) got = skipped.next();
        ASSERT_EQ(got, expected) << text << " occurrence " << i;
      }
    }
  }
}

TEST(RuleExpansion, RefusesRulesItCannotFollow) {
  EXPECT_FALSE(parseRule("FREQ=DAILY;BYMONTHDAY=32", false));
  EXPECT_FALSE(parseRule("FREQ=DAILY;BYHOUR=24", false));
  EXPECT_FALSE(parseRule("FREQ=YEARLY;BYMONTH=0", false));
  EXPECT_FALSE(parseRule("FREQ=YEARLY;BYWEEKNO=54", false));
  EXPECT_FALSE(parseRule("FREQ=HOURLY", true));
  EXPECT_FALSE(parseRule("FREQ=DAILY;RSCALE=HEBREW", false));
  EXPECT_TRUE(parseRule("FREQ=DAILY;BYMONTHDAY=-31", false));
}

TEST(SearchWindow, CutsToFourYearsAndTheCalendarsRange) {
  constexpr double kYear1 = -62135596800.0;
  constexpr double kFourYears = 1461.0 * 86400;
  const struct {
    Window requested;
    std::optional<std::pair<double, double>> searched;
  } cases[] = {
      {{0, 86400}, std::pair{0.0, 86400.0}},
      {{0, 5 * 365 * 86400.0}, std::pair{0.0, kFourYears}},
      {{1e300, 2e300}, std::nullopt},
      {{-INFINITY, INFINITY}, std::pair{kYear1, kYear1 + kFourYears}},
      {{NAN, 1}, std::nullopt},
      {{1, 0}, std::nullopt},
  };
  for (const auto& c : cases) {
    const std::optional<Window> searched = searchWindow(c.requested);
    ASSERT_EQ(searched.has_value(), c.searched.has_value()) << c.requested.start;
    if (searched) {
      EXPECT_EQ(searched->start, c.searched->first);
      EXPECT_EQ(searched->end, c.searched->second);
    }
  }
}

}  // namespace
}  // namespace quorvel::calendar::ics
