// Fuzzes the iCalendar reader on its own. The first four bytes seed a small
// pseudo-random generator; the rest is the file's text. Folding a content
// line (a line end followed by a space or a tab) may happen between any two
// of its bytes, so the text read again with one to eight folds added inside
// its lines must give the same events and the same problems in the same
// order. Reading either text must also cost work in proportion to its size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/ical/reader.h"
#include "calendar/ical/system_zones.h"

namespace {

using namespace quorvel::calendar::ical;

// Work allowed per byte of text (plus a little for an empty one).
constexpr std::size_t kWorkPerByte = 64;
constexpr std::size_t kMaxFolds = 8;

// A 32-bit linear congruential generator (Numerical Recipes' constants):
// enough to spread folds over the text, and the same for the same seed.
class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed) {}

  // A number in [0, bound), from the generator's better high bits.
  std::size_t below(std::size_t bound) {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<std::size_t>((static_cast<std::uint64_t>(state_) * bound) >> 32);
  }

 private:
  std::uint32_t state_;
};

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// The points (offsets before which a fold may go) inside a content line:
// between two bytes that aren't line ends, and not just after the line end
// and blank of a fold already there, where the new fold would become part of
// the old one.
std::vector<std::size_t> foldPoints(std::string_view text) {
  std::vector<std::size_t> points;
  for (std::size_t p = 1; p < text.size(); ++p) {
    if (isLineEnd(text[p - 1]) || isLineEnd(text[p])) continue;
    if (p >= 2 && (text[p - 1] == ' ' || text[p - 1] == '\t') && isLineEnd(text[p - 2])) continue;
    points.push_back(p);
  }
  return points;
}

// The text with folds at one to eight distinct points (fewer when its lines
// have fewer) chosen uniformly among those inside its lines; the text as it
// is when it has none.
std::string folded(std::string_view text, Random& random) {
  std::vector<std::size_t> points = foldPoints(text);
  const std::size_t wanted = std::min(1 + random.below(kMaxFolds), points.size());
  // The first `wanted` entries of a partial Fisher-Yates shuffle.
  for (std::size_t i = 0; i < wanted; ++i) {
    std::swap(points[i], points[i + random.below(points.size() - i)]);
  }
  points.resize(wanted);
  std::sort(points.begin(), points.end());

  // Mostly the usual CRLF and space, sometimes the other line ends and a tab.
  static constexpr std::string_view kFolds[] = {"\r\n ", "\r\n ", "\n\t", "\r\n\t"};
  std::string out;
  out.reserve(text.size() + 3 * wanted);
  std::size_t from = 0;
  for (const std::size_t p : points) {
    out.append(text.substr(from, p - from));
    out.append(kFolds[random.below(std::size(kFolds))]);
    from = p;
  }
  out.append(text.substr(from));
  return out;
}

// A canonical text of everything a parse gives but its work: every field of
// every event and the problems in order. Zones are told apart by
// kind and, for the text's own and the system's, by their place in the
// result's zone list and their offset at the time they qualify.
class Dump {
 public:
  explicit Dump(const ParsedCalendar& parsed) : parsed_(parsed) {
    for (const std::string& problem : parsed.problems) field("problem", problem);
    for (const VEvent& event : parsed.events) add(event);
  }

  const std::string& text() const { return out_; }

 private:
  void field(std::string_view name, std::string_view value) {
    out_.append(name);
    out_.append("[" + std::to_string(value.size()) + "]=");
    out_.append(value);
    out_.push_back('\n');
  }
  void number(std::string_view name, std::int64_t value) { field(name, std::to_string(value)); }

  void time(std::string_view name, const TimeValue& value) {
    std::string zone;
    if (value.zone == &utcZone()) {
      zone = "utc";
    } else if (value.zone == &localZone()) {
      zone = "local";
    } else {
      zone = "unlisted";
      // Every event of a text shares one list of zones.
      if (!parsed_.events.empty() && parsed_.events.front().zones) {
        const auto& zones = *parsed_.events.front().zones;
        for (std::size_t i = 0; i < zones.size(); ++i) {
          if (zones[i].get() == value.zone) zone = "zone " + std::to_string(i);
        }
      }
      if (value.zone != nullptr) {
        zone += " offset " + std::to_string(value.zone->offsetAt(value.wall));
      }
    }
    field(name, std::to_string(value.wall) + (value.isDate ? " date " : " time ") + zone);
  }

  void duration(std::string_view name, const Duration& value) {
    field(name, std::to_string(value.days) + "d " + std::to_string(value.seconds) + "s");
  }

  void list(std::string_view name, const std::vector<int>& values) {
    std::string text;
    for (const int v : values) text += std::to_string(v) + ",";
    field(name, text);
  }

  void rule(const RecurrenceRule& r) {
    number("rule.frequency", static_cast<int>(r.frequency));
    number("rule.interval", r.interval);
    if (r.count) number("rule.count", *r.count);
    if (r.untilWall) number("rule.untilWall", *r.untilWall);
    number("rule.untilIsDate", r.untilIsDate);
    if (r.untilUtc) number("rule.untilUtc", *r.untilUtc);
    list("rule.bySecond", r.bySecond);
    list("rule.byMinute", r.byMinute);
    list("rule.byHour", r.byHour);
    std::string days;
    for (const WeekdayNum& day : r.byDay) {
      days += std::to_string(day.ordinal) + "/" + std::to_string(day.weekday) + ",";
    }
    field("rule.byDay", days);
    list("rule.byMonthDay", r.byMonthDay);
    list("rule.byYearDay", r.byYearDay);
    list("rule.byWeekNo", r.byWeekNo);
    list("rule.byMonth", r.byMonth);
    list("rule.bySetPos", r.bySetPos);
    number("rule.weekStart", r.weekStart);
  }

  void add(const VEvent& event) {
    number("event", event.number);
    time("start", event.start);
    if (event.end) time("end", *event.end);
    if (event.duration) duration("duration", *event.duration);
    if (event.title) field("title", *event.title);
    number("availability", static_cast<int>(event.availability));
    if (event.attendees) {
      field("attendees", "");
      for (const Attendee& attendee : *event.attendees) {
        field("attendee", attendee.address);
        number("attendee.status", static_cast<int>(attendee.status));
      }
    }
    field("uid", event.uid);
    if (event.recurrenceId) time("recurrenceId", *event.recurrenceId);
    for (const RecurrenceRule& r : event.rules) rule(r);
    for (const RecurrenceDate& date : event.dates) {
      time("rdate", date.start);
      if (date.end) time("rdate.end", *date.end);
      if (date.duration) duration("rdate.duration", *date.duration);
    }
    for (const TimeValue& exception : event.exceptions) time("exdate", exception);
    for (const Zone* zone : event.systemZones) {
      const auto unknown = zone->unknownName();
      field("systemZone", unknown ? "unknown " + std::string(*unknown) : std::string("known"));
    }
  }

  const ParsedCalendar& parsed_;
  std::string out_;
};

void checkWork(const ParsedCalendar& parsed, std::string_view text, const char* which) {
  if (parsed.work > kWorkPerByte * (text.size() + 64)) {
    std::fprintf(stderr, "reading the %s text (%zu bytes) took work %zu\n", which, text.size(),
                 parsed.work);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A zone with daylight-saving changes, for floating and all-day times.
  setenv("TZ", "America/New_York", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  Random random(static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                static_cast<std::uint32_t>(data[2]) << 16 |
                static_cast<std::uint32_t>(data[3]) << 24);
  const std::string_view text(reinterpret_cast<const char*>(data) + 4, size - 4);

  const ParsedCalendar plain = readCalendar(text);
  checkWork(plain, text, "given");

  const std::string foldedText = folded(text, random);
  if (foldedText.size() == text.size()) return 0;  // no point inside a line
  const ParsedCalendar refolded = readCalendar(foldedText);
  checkWork(refolded, foldedText, "folded");

  const Dump before(plain);
  const Dump after(refolded);
  if (before.text() != after.text()) {
    // fwrite, for the NUL bytes a text may hold.
    std::fputs("folding changed what was read\n--- given:\n", stderr);
    std::fwrite(before.text().data(), 1, before.text().size(), stderr);
    std::fputs("--- folded:\n", stderr);
    std::fwrite(after.text().data(), 1, after.text().size(), stderr);
    std::abort();
  }
  return 0;
}
