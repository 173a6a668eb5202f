// libical parses the text; everything used afterwards is copied out into
// plain data (ics_event.h), so that no libical type or ownership rule leaves
// this file.
//
// Around libical 3.0:
// - Lines are handed to its parser by a reader of our own. Its string reader
//   searches for the end of the line again for every 80-byte piece, which
//   makes one long line cost quadratic time (2 s for a 5 MB line).
// - Components still open where the text ends are closed there, so that a
//   truncated file keeps the events it completed.
// - Components nested deeper than kMaxDepth refuse the file before parsing:
//   libical frees a tree recursively, so a deep enough one overflows the stack.
// - A TZID is resolved against the file's VTIMEZONEs, then the system's tz
//   database; libical's own lookup silently reads an unknown TZID as UTC.
//   Zones the file defines are worked out by DefinedZone, never by libical,
//   whose expansion of a VTIMEZONE can be kept busy indefinitely by a hostile
//   rule in it.
#include "calendar/ics_parse.h"

#include <libical/ical.h>

#include "calendar/ics_zone.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

namespace quorvel::calendar::ics {
namespace {

constexpr int kMaxDepth = 64;

struct ComponentDeleter {
  void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;

struct ParserDeleter {
  void operator()(icalparser* parser) const { icalparser_free(parser); }
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// How deeply BEGIN and END lines nest components, reading content lines as
// libical does: a line break followed by a space or tab continues the line.
int nestingDepth(std::string_view text) {
  int depth = 0;
  int deepest = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    // The property name: unfolded bytes up to ':' or ';', enough to tell
    // BEGIN and END apart from everything else.
    char name[8];
    std::size_t length = 0;
    bool nameEnded = false;
    for (;;) {
      if (pos >= text.size()) break;
      const char c = text[pos];
      if (c == '\n' || c == '\r') {
        std::size_t after = pos + 1;
        if (c == '\r' && after < text.size() && text[after] == '\n') ++after;
        if (after < text.size() && (text[after] == ' ' || text[after] == '\t')) {
          pos = after + 1;  // a fold: the line goes on
          continue;
        }
        break;
      }
      if (!nameEnded) {
        if (c == ':' || c == ';') {
          nameEnded = true;
        } else if (length < sizeof name) {
          name[length++] = c;
        } else {
          nameEnded = true;  // longer than any name of interest
          length = sizeof name;
        }
      }
      if (nameEnded) {
        // Skip to the end of this physical line.
        const void* newline = std::memchr(text.data() + pos, '\n', text.size() - pos);
        pos = newline != nullptr ? static_cast<const char*>(newline) - text.data() : text.size();
        if (pos > 0 && text[pos - 1] == '\r') --pos;
        continue;
      }
      ++pos;
    }
    const std::string_view found(name, length);
    if (equalsIgnoringCase(found, "BEGIN")) {
      deepest = std::max(deepest, ++depth);
    } else if (equalsIgnoringCase(found, "END") && depth > 0) {
      --depth;
    }
    // Past the line break.
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
  }
  return deepest;
}

// Hands the text to libical's parser a piece at a time, as fgets would, but
// looking for the end of the line only within the piece.
struct TextReader {
  const char* next;
  const char* end;

  static char* read(char* out, std::size_t size, void* data) {
    auto* reader = static_cast<TextReader*>(data);
    if (reader->next == reader->end || size < 2) return nullptr;
    std::size_t length = std::min<std::size_t>(size - 1, reader->end - reader->next);
    if (const void* newline = std::memchr(reader->next, '\n', length)) {
      length = static_cast<const char*>(newline) - reader->next + 1;
    }
    std::memcpy(out, reader->next, length);
    out[length] = '\0';
    reader->next += length;
    return out;
  }
};

// The parsed text: every top-level component, under an XROOT when there are
// several. Components still open where the text ends are closed there, so a
// truncated file keeps what it completed; `truncated` says it happened.
ComponentPtr parseText(const std::string& text, bool& truncated) {
  truncated = false;
  const std::unique_ptr<icalparser, ParserDeleter> parser(icalparser_new());
  if (!parser) return nullptr;
  TextReader reader{text.data(), text.data() + text.size()};
  icalparser_set_gen_data(parser.get(), &reader);

  ComponentPtr root;
  const auto adopt = [&root](icalcomponent* component) {
    if (!root) {
      root.reset(component);
      return;
    }
    if (icalcomponent_isa(root.get()) != ICAL_XROOT_COMPONENT) {
      ComponentPtr wrapper(icalcomponent_new(ICAL_XROOT_COMPONENT));
      icalcomponent_add_component(wrapper.get(), root.release());
      root = std::move(wrapper);
    }
    icalcomponent_add_component(root.get(), component);
  };
  for (;;) {
    char* line = icalparser_get_line(parser.get(), &TextReader::read);
    if (icalcomponent* component = icalparser_add_line(parser.get(), line)) adopt(component);
    if (line == nullptr) break;
    icalmemory_free_buffer(line);
  }
  // libical 3.0 still frees what icalparser_clean returns when the parser
  // goes, whatever its documentation says: keep a copy instead.
  if (icalcomponent* rest = icalparser_clean(parser.get())) {
    truncated = true;
    if (icalcomponent* copy = icalcomponent_new_clone(rest)) adopt(copy);
  }
  return root;
}

// Whether libical closed the component at the end of the text rather than
// at its END line.
bool isCutShort(icalcomponent* component) {
  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_XLICERROR_PROPERTY);
       p != nullptr; p = icalcomponent_get_next_property(component, ICAL_XLICERROR_PROPERTY)) {
    const char* text = icalproperty_get_xlicerror(p);
    if (text != nullptr && std::strstr(text, "Missing END") != nullptr) return true;
  }
  return false;
}

// A zone of the system's tz database, as libical reads it.
class IcalZone final : public Zone {
 public:
  explicit IcalZone(icaltimezone* zone) : zone_(zone) {}

  std::int64_t offsetAt(std::int64_t utcSeconds) const override {
    const CivilTime civil = civilOf(utcSeconds);
    icaltimetype time = icaltime_null_time();
    time.year = civil.year;
    time.month = civil.month;
    time.day = civil.day;
    time.hour = civil.hour;
    time.minute = civil.minute;
    time.second = civil.second;
    time.zone = icaltimezone_get_utc_timezone();
    int isDaylight = 0;
    const std::int64_t offset = icaltimezone_get_utc_offset_of_utc_time(zone_, &time, &isDaylight);
    return std::clamp(offset, -kMaxUtcOffset, kMaxUtcOffset);
  }

 private:
  icaltimezone* zone_;
};

// Only names made of the characters of tz database names reach libical, which
// opens files named after them: no "..", no absolute paths.
bool looksLikeZoneName(std::string_view name) {
  if (name.empty() || name.size() > 128 || name.front() == '/') return false;
  if (name.find("..") != std::string_view::npos) return false;
  for (const char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '/' || c == '_' || c == '-' || c == '+';
    if (!ok) return false;
  }
  return true;
}

// A zone of the system's tz database named by `tzid`, or by its tail after a
// vendor prefix such as "/mozilla.org/20070129_1/Europe/Berlin"; null when
// there is none. Looked up once per name for the whole process.
const Zone* systemZone(const std::string& tzid) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<IcalZone>, std::less<>> known;
  const std::lock_guard lock(mutex);
  if (const auto found = known.find(tzid); found != known.end()) return found->second.get();

  icaltimezone* zone = nullptr;
  std::string_view name = tzid;
  while (zone == nullptr && !name.empty()) {
    if (looksLikeZoneName(name))
      zone = icaltimezone_get_builtin_timezone(std::string(name).c_str());
    const std::size_t slash = name.find('/');
    if (slash == std::string_view::npos) break;
    name.remove_prefix(slash + 1);
  }
  auto& entry = known[tzid];
  if (zone != nullptr) entry = std::make_unique<IcalZone>(zone);
  return entry.get();
}

Frequency frequencyOf(icalrecurrencetype_frequency frequency) {
  switch (frequency) {
    case ICAL_SECONDLY_RECURRENCE:
      return Frequency::secondly;
    case ICAL_MINUTELY_RECURRENCE:
      return Frequency::minutely;
    case ICAL_HOURLY_RECURRENCE:
      return Frequency::hourly;
    case ICAL_DAILY_RECURRENCE:
      return Frequency::daily;
    case ICAL_WEEKLY_RECURRENCE:
      return Frequency::weekly;
    case ICAL_MONTHLY_RECURRENCE:
      return Frequency::monthly;
    default:
      return Frequency::yearly;
  }
}

// libical's weekdays run from Sunday (1) to Saturday (7); ours from Monday (0).
int weekdayOf(icalrecurrencetype_weekday weekday) { return (static_cast<int>(weekday) + 5) % 7; }

template <std::size_t N>
std::vector<int> listOf(const short (&values)[N]) {
  std::vector<int> list;
  for (const short value : values) {
    if (value == ICAL_RECURRENCE_ARRAY_MAX) break;
    list.push_back(value);
  }
  return list;
}

std::vector<Observance> observancesOf(icalcomponent* vtimezone);

// Everything one text's events are read against: the VCALENDAR they sit in
// (for its VTIMEZONEs) and the zones resolved so far.
class Reader {
 public:
  explicit Reader(ParsedCalendar& result) : result_(result) {}

  void readCalendar(icalcomponent* calendar) {
    calendar_ = calendar;
    zones_.clear();
    for (icalcompiter it = icalcomponent_begin_component(calendar, ICAL_VEVENT_COMPONENT);
         icalcompiter_deref(&it) != nullptr; icalcompiter_next(&it)) {
      readEvent(icalcompiter_deref(&it));
    }
  }

  // A VEVENT outside any VCALENDAR: only the system's zones are known to it.
  void readLoneEvent(icalcomponent* component) {
    calendar_ = nullptr;
    zones_.clear();
    readEvent(component);
  }

  std::vector<std::unique_ptr<DefinedZone>> ownZones;

 private:
  void readEvent(icalcomponent* component);
  const Zone* definedZone(const char* tzid);
  void readRecurrence(icalcomponent* component, VEvent& event, const std::string& which);
  void problem(std::string text) { result_.problems.push_back(std::move(text)); }
  const Zone* zoneFor(const char* tzid);
  std::optional<TimeValue> timeOf(icaltimetype time, icalproperty* property);
  std::optional<TimeValue> timeOf(icalproperty* property);

  ParsedCalendar& result_;
  icalcomponent* calendar_ = nullptr;
  std::map<std::string, const Zone*, std::less<>> zones_;  // null: unknown
  VEvent* event_ = nullptr;                                // the event being read
  int eventNumber_ = 0;
};

// The zone a VTIMEZONE of the calendar defines under `tzid`, if any.
const Zone* Reader::definedZone(const char* tzid) {
  if (calendar_ == nullptr) return nullptr;
  for (icalcompiter it = icalcomponent_begin_component(calendar_, ICAL_VTIMEZONE_COMPONENT);
       icalcompiter_deref(&it) != nullptr; icalcompiter_next(&it)) {
    icalcomponent* vtimezone = icalcompiter_deref(&it);
    icalproperty* id = icalcomponent_get_first_property(vtimezone, ICAL_TZID_PROPERTY);
    const char* name = id != nullptr ? icalproperty_get_tzid(id) : nullptr;
    if (name == nullptr || std::strcmp(name, tzid) != 0) continue;
    std::vector<Observance> observances = observancesOf(vtimezone);
    if (observances.empty()) return nullptr;
    ownZones.push_back(std::make_unique<DefinedZone>(std::move(observances)));
    return ownZones.back().get();
  }
  return nullptr;
}

// An unknown zone is read as local time. It is left to the event to say so,
// and only when one of its occurrences is listed: that is when the guess
// shows.
const Zone* Reader::zoneFor(const char* tzid) {
  auto found = zones_.find(tzid);
  if (found == zones_.end()) {
    const Zone* zone = definedZone(tzid);
    if (zone == nullptr) zone = systemZone(tzid);
    found = zones_.emplace(tzid, zone).first;
  }
  if (found->second != nullptr) return found->second;
  if (event_ != nullptr) {
    auto& unknown = event_->unknownZones;
    if (std::find(unknown.begin(), unknown.end(), found->first) == unknown.end()) {
      unknown.push_back(found->first);
    }
  }
  return &localZone();
}

// A DATE or DATE-TIME with the zone its property names; nothing when the
// value isn't a real date.
std::optional<TimeValue> Reader::timeOf(icaltimetype time, icalproperty* property) {
  if (icaltime_is_null_time(time)) return std::nullopt;
  const CivilTime civil{time.year, time.month, time.day, time.hour, time.minute, time.second};
  if (!isValidCivil(civil)) return std::nullopt;
  TimeValue result;
  result.wall = wallSeconds(civil);
  result.isDate = time.is_date != 0;
  if (result.isDate) {
    result.zone = &localZone();
  } else if (icaltime_is_utc(time)) {
    result.zone = &utcZone();
  } else if (icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
             tzid != nullptr && icalparameter_get_tzid(tzid) != nullptr) {
    result.zone = zoneFor(icalparameter_get_tzid(tzid));
  } else {
    result.zone = &localZone();
  }
  return result;
}

std::optional<TimeValue> Reader::timeOf(icalproperty* property) {
  const icalvalue* value = icalproperty_get_value(property);
  if (value == nullptr) return std::nullopt;
  switch (icalvalue_isa(value)) {
    case ICAL_DATE_VALUE:
      return timeOf(icalvalue_get_date(value), property);
    case ICAL_DATETIME_VALUE:
      return timeOf(icalvalue_get_datetime(value), property);
    default:
      return std::nullopt;
  }
}

std::int64_t availabilityOf(icalcomponent* component) {
  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_X_PROPERTY); p != nullptr;
       p = icalcomponent_get_next_property(component, ICAL_X_PROPERTY)) {
    const char* name = icalproperty_get_x_name(p);
    if (name == nullptr || !equalsIgnoringCase(name, "X-MICROSOFT-CDO-BUSYSTATUS")) continue;
    const char* value = icalproperty_get_x(p);
    const std::string_view status = value != nullptr ? value : "";
    if (equalsIgnoringCase(status, "FREE")) return 1;
    if (equalsIgnoringCase(status, "TENTATIVE")) return 2;
    if (equalsIgnoringCase(status, "OOF")) return 3;
    return 0;
  }
  if (icalproperty* p = icalcomponent_get_first_property(component, ICAL_TRANSP_PROPERTY)) {
    const char* value = icalproperty_get_value_as_string(p);
    if (value != nullptr && equalsIgnoringCase(value, "TRANSPARENT")) return 1;
  }
  return 0;
}

std::int64_t participantStatusOf(icalproperty* attendee) {
  icalparameter* partstat = icalproperty_get_first_parameter(attendee, ICAL_PARTSTAT_PARAMETER);
  if (partstat == nullptr) return 1;
  switch (icalparameter_get_partstat(partstat)) {
    case ICAL_PARTSTAT_ACCEPTED:
      return 2;
    case ICAL_PARTSTAT_DECLINED:
      return 3;
    case ICAL_PARTSTAT_TENTATIVE:
      return 4;
    case ICAL_PARTSTAT_DELEGATED:
      return 5;
    case ICAL_PARTSTAT_COMPLETED:
      return 6;
    case ICAL_PARTSTAT_INPROCESS:
      return 7;
    default:  // NEEDS-ACTION, and any value this tool doesn't know
      return 1;
  }
}

Duration durationOf(const icaldurationtype& d) {
  const std::int64_t sign = d.is_neg ? -1 : 1;
  return Duration{sign * (std::int64_t{d.weeks} * 7 + d.days),
                  sign * (std::int64_t{d.hours} * 3600 + std::int64_t{d.minutes} * 60 + d.seconds)};
}

// The rule's parts, with UNTIL read against the event's start; nothing, and
// why in `why`, when the rule can't be used.
std::optional<RecurrenceRule> ruleOf(const icalrecurrencetype& recur, const TimeValue& start,
                                     std::string& why) {
  why = "is invalid";
  if (recur.freq == ICAL_NO_RECURRENCE) return std::nullopt;
  if (recur.rscale != nullptr && !equalsIgnoringCase(recur.rscale, "GREGORIAN")) {
    why = "uses a calendar other than the Gregorian one";
    return std::nullopt;
  }
  RecurrenceRule rule;
  rule.frequency = frequencyOf(recur.freq);
  rule.interval = recur.interval;
  if (recur.count > 0) rule.count = recur.count;
  if (!icaltime_is_null_time(recur.until)) {
    const CivilTime until{recur.until.year, recur.until.month,  recur.until.day,
                          recur.until.hour, recur.until.minute, recur.until.second};
    if (!isValidCivil(until)) return std::nullopt;
    if (recur.until.is_date) {
      rule.untilWall = wallSeconds(until);
      rule.untilIsDate = true;
    } else if (icaltime_is_utc(recur.until)) {
      rule.untilUtc = wallSeconds(until);
    } else {
      rule.untilWall = wallSeconds(until);  // floating: the event's own wall clock
    }
  }
  rule.bySecond = listOf(recur.by_second);
  rule.byMinute = listOf(recur.by_minute);
  rule.byHour = listOf(recur.by_hour);
  for (const int day : listOf(recur.by_day)) {
    const auto weekday = icalrecurrencetype_day_day_of_week(static_cast<short>(day));
    if (weekday == ICAL_NO_WEEKDAY) return std::nullopt;
    rule.byDay.push_back(
        {weekdayOf(weekday), icalrecurrencetype_day_position(static_cast<short>(day))});
  }
  rule.byMonthDay = listOf(recur.by_month_day);
  rule.byYearDay = listOf(recur.by_year_day);
  rule.byWeekNo = listOf(recur.by_week_no);
  for (const int month : listOf(recur.by_month)) {
    if (icalrecurrencetype_month_is_leap(static_cast<short>(month))) return std::nullopt;
    rule.byMonth.push_back(icalrecurrencetype_month_month(static_cast<short>(month)));
  }
  rule.bySetPos = listOf(recur.by_set_pos);
  rule.weekStart = recur.week_start == ICAL_NO_WEEKDAY ? 0 : weekdayOf(recur.week_start);
  if (const auto problem = ruleProblem(rule, start.isDate)) {
    why = *problem;
    return std::nullopt;
  }
  return rule;
}

// The STANDARD and DAYLIGHT parts of a VTIMEZONE that can be used: those with
// a start and both offsets. Rules finer than daily are left out: no real zone
// changes its offset more than once a day.
std::vector<Observance> observancesOf(icalcomponent* vtimezone) {
  std::vector<Observance> observances;
  for (icalcompiter it = icalcomponent_begin_component(vtimezone, ICAL_ANY_COMPONENT);
       icalcompiter_deref(&it) != nullptr; icalcompiter_next(&it)) {
    icalcomponent* part = icalcompiter_deref(&it);
    const icalcomponent_kind kind = icalcomponent_isa(part);
    if (kind != ICAL_XSTANDARD_COMPONENT && kind != ICAL_XDAYLIGHT_COMPONENT) continue;
    icalproperty* dtstart = icalcomponent_get_first_property(part, ICAL_DTSTART_PROPERTY);
    icalproperty* from = icalcomponent_get_first_property(part, ICAL_TZOFFSETFROM_PROPERTY);
    icalproperty* to = icalcomponent_get_first_property(part, ICAL_TZOFFSETTO_PROPERTY);
    if (dtstart == nullptr || from == nullptr || to == nullptr) continue;
    const icaltimetype start = icalproperty_get_dtstart(dtstart);
    const CivilTime civil{start.year, start.month,  start.day,
                          start.hour, start.minute, start.second};
    if (icaltime_is_null_time(start) || !isValidCivil(civil)) continue;

    Observance observance;
    observance.offsetFrom = std::clamp<std::int64_t>(icalproperty_get_tzoffsetfrom(from),
                                                     -kMaxUtcOffset, kMaxUtcOffset);
    observance.offsetTo =
        std::clamp<std::int64_t>(icalproperty_get_tzoffsetto(to), -kMaxUtcOffset, kMaxUtcOffset);
    observance.startWall = wallSeconds(civil);
    const TimeValue startValue{observance.startWall, false, nullptr};
    for (icalproperty* p = icalcomponent_get_first_property(part, ICAL_RRULE_PROPERTY);
         p != nullptr; p = icalcomponent_get_next_property(part, ICAL_RRULE_PROPERTY)) {
      const icalvalue* value = icalproperty_get_value(p);
      if (value == nullptr || icalvalue_isa(value) != ICAL_RECUR_VALUE) continue;
      std::string why;
      if (auto rule = ruleOf(icalvalue_get_recur(value), startValue, why);
          rule && rule->frequency >= Frequency::daily) {
        observance.rules.push_back(std::move(*rule));
      }
    }
    for (icalproperty* p = icalcomponent_get_first_property(part, ICAL_RDATE_PROPERTY);
         p != nullptr; p = icalcomponent_get_next_property(part, ICAL_RDATE_PROPERTY)) {
      const icaldatetimeperiodtype date = icalproperty_get_rdate(p);
      const icaltimetype time = icaltime_is_null_time(date.time) ? date.period.start : date.time;
      const CivilTime onset{time.year, time.month, time.day, time.hour, time.minute, time.second};
      if (icaltime_is_null_time(time) || !isValidCivil(onset)) continue;
      // A UTC onset, as a wall-clock time in the offset before it.
      observance.dateWalls.push_back(wallSeconds(onset) +
                                     (icaltime_is_utc(time) ? observance.offsetFrom : 0));
    }
    observances.push_back(std::move(observance));
  }
  return observances;
}

void Reader::readRecurrence(icalcomponent* component, VEvent& event, const std::string& which) {
  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_RRULE_PROPERTY);
       p != nullptr; p = icalcomponent_get_next_property(component, ICAL_RRULE_PROPERTY)) {
    const icalvalue* value = icalproperty_get_value(p);
    std::string why = "is invalid";
    std::optional<RecurrenceRule> rule;
    if (value != nullptr && icalvalue_isa(value) == ICAL_RECUR_VALUE) {
      rule = ruleOf(icalvalue_get_recur(value), event.start, why);
    }
    if (rule) {
      event.rules.push_back(std::move(*rule));
    } else {
      problem(which + " has a recurrence rule (RRULE) that " + why + ", ignored");
    }
  }
  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_RDATE_PROPERTY);
       p != nullptr; p = icalcomponent_get_next_property(component, ICAL_RDATE_PROPERTY)) {
    const icalvalue* value = icalproperty_get_value(p);
    std::optional<RecurrenceDate> date;
    if (value != nullptr && icalvalue_isa(value) == ICAL_PERIOD_VALUE) {
      const icalperiodtype period = icalvalue_get_period(value);
      if (const auto start = timeOf(period.start, p)) {
        date = RecurrenceDate{*start, timeOf(period.end, p), std::nullopt};
        if (!date->end && !icaldurationtype_is_null_duration(period.duration)) {
          date->duration = durationOf(period.duration);
        }
      }
    } else if (value != nullptr && icalvalue_isa(value) == ICAL_DATETIMEPERIOD_VALUE) {
      const icaldatetimeperiodtype rdate = icalvalue_get_datetimeperiod(value);
      if (const auto start = timeOf(rdate.time, p)) {
        date = RecurrenceDate{*start, std::nullopt, std::nullopt};
      } else if (const auto periodStart = timeOf(rdate.period.start, p)) {
        date = RecurrenceDate{*periodStart, timeOf(rdate.period.end, p), std::nullopt};
        if (!date->end && !icaldurationtype_is_null_duration(rdate.period.duration)) {
          date->duration = durationOf(rdate.period.duration);
        }
      }
    } else if (auto time = timeOf(p)) {
      date = RecurrenceDate{*time, std::nullopt, std::nullopt};
    }
    if (date) {
      event.dates.push_back(std::move(*date));
    } else {
      problem(which + " has an invalid extra date (RDATE), ignored");
    }
  }
  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_EXDATE_PROPERTY);
       p != nullptr; p = icalcomponent_get_next_property(component, ICAL_EXDATE_PROPERTY)) {
    if (auto time = timeOf(p)) {
      event.exceptions.push_back(*time);
    } else {
      problem(which + " has an invalid exception date (EXDATE), ignored");
    }
  }
}

void Reader::readEvent(icalcomponent* component) {
  VEvent event;
  event.number = ++eventNumber_;
  event_ = &event;
  const std::string which = "event " + std::to_string(eventNumber_);
  if (isCutShort(component)) {
    problem(which + " is cut short (the text ends before its END), skipped");
    return;
  }

  icalproperty* dtstart = icalcomponent_get_first_property(component, ICAL_DTSTART_PROPERTY);
  if (dtstart == nullptr) {
    problem(which + " has no start (DTSTART), skipped");
    return;
  }
  const std::optional<TimeValue> start = timeOf(dtstart);
  if (!start) {
    problem(which + " has an invalid start (DTSTART), skipped");
    return;
  }
  event.start = *start;

  if (icalproperty* dtend = icalcomponent_get_first_property(component, ICAL_DTEND_PROPERTY)) {
    event.end = timeOf(dtend);
    if (!event.end) problem(which + " has an invalid end (DTEND), ignored");
  } else if (icalproperty* duration =
                 icalcomponent_get_first_property(component, ICAL_DURATION_PROPERTY)) {
    const icaldurationtype d = icalproperty_get_duration(duration);
    if (!icaldurationtype_is_bad_duration(d)) event.duration = durationOf(d);
  }

  if (icalproperty* summary = icalcomponent_get_first_property(component, ICAL_SUMMARY_PROPERTY)) {
    const char* text = icalproperty_get_summary(summary);
    event.title = text != nullptr ? text : "";
  }

  event.availability = availabilityOf(component);

  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_ATTENDEE_PROPERTY);
       p != nullptr; p = icalcomponent_get_next_property(component, ICAL_ATTENDEE_PROPERTY)) {
    if (!event.attendees) event.attendees.emplace();
    const char* address = icalproperty_get_attendee(p);
    event.attendees->push_back(
        Attendee{std::string(address != nullptr ? address : ""), participantStatusOf(p)});
  }

  if (icalproperty* uid = icalcomponent_get_first_property(component, ICAL_UID_PROPERTY)) {
    const char* text = icalproperty_get_uid(uid);
    event.uid = text != nullptr ? text : "";
  }
  if (icalproperty* id = icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY)) {
    event.recurrenceId = timeOf(id);
    if (!event.recurrenceId) problem(which + " has an invalid RECURRENCE-ID, ignored");
  }
  // An override stands for one occurrence: rules on it are not expanded.
  if (!event.recurrenceId) readRecurrence(component, event, which);

  event_ = nullptr;
  result_.events.push_back(std::move(event));
}

}  // namespace

ParsedCalendar parseCalendar(const std::string& text) {
  ParsedCalendar result;
  if (nestingDepth(text) > kMaxDepth) {
    result.problems.push_back("nests components more than " + std::to_string(kMaxDepth) +
                              " deep, skipped");
    return result;
  }
  bool truncated = false;
  ComponentPtr root = parseText(text, truncated);
  if (truncated) result.problems.emplace_back("ends inside a component (no END line)");
  if (!root) {
    result.problems.emplace_back("holds no iCalendar data, skipped");
    return result;
  }

  Reader reader(result);
  const icalcomponent_kind kind = icalcomponent_isa(root.get());
  if (kind == ICAL_VCALENDAR_COMPONENT) {
    reader.readCalendar(root.get());
  } else if (kind == ICAL_VEVENT_COMPONENT) {
    reader.readLoneEvent(root.get());
  } else if (kind == ICAL_XROOT_COMPONENT) {
    for (icalcompiter it = icalcomponent_begin_component(root.get(), ICAL_ANY_COMPONENT);
         icalcompiter_deref(&it) != nullptr; icalcompiter_next(&it)) {
      icalcomponent* child = icalcompiter_deref(&it);
      if (icalcomponent_isa(child) == ICAL_VCALENDAR_COMPONENT) reader.readCalendar(child);
      if (icalcomponent_isa(child) == ICAL_VEVENT_COMPONENT) reader.readLoneEvent(child);
    }
  } else {
    result.problems.emplace_back("holds no iCalendar data, skipped");
    return result;
  }

  result.zones =
      std::make_shared<std::vector<std::unique_ptr<DefinedZone>>>(std::move(reader.ownZones));
  return result;
}

std::optional<RecurrenceRule> ruleFromText(const std::string& text, const TimeValue& start) {
  icalrecurrencetype recur = icalrecurrencetype_from_string(text.c_str());
  std::string why;
  std::optional<RecurrenceRule> rule = ruleOf(recur, start, why);
  if (recur.rscale != nullptr) icalmemory_free_buffer(recur.rscale);
  return rule;
}

}  // namespace quorvel::calendar::ics
