// Components are followed by their BEGIN and END lines on a stack that the
// reader counts itself, so no input reaches the C++ stack however deep it
// nests. What a VEVENT says is kept as written until its calendar ends: only
// then are all the calendar's VTIMEZONEs known, and its TZIDs can be
// resolved, each once.
#include "calendar/ical/reader.h"

#include <algorithm>
#include <map>

#include "calendar/ical/lines.h"
#include "calendar/ical/problem.h"
#include "calendar/ical/system_zones.h"
#include "calendar/ical/values.h"
#include "calendar/ical/zone.h"

namespace quorvel::calendar::ical {
namespace {

constexpr std::size_t kMaxNesting = 64;
// Zones of the tz database an event keeps to name when nobody knows them:
// enough to say what went wrong.
constexpr std::size_t kMaxNamedZones = 8;

enum class Kind { calendar, event, timezone, observance, other };

// A DATE or DATE-TIME as written, its TZID not yet resolved.
struct WrittenTime {
  std::int64_t wall = 0;
  bool isDate = false;
  bool utc = false;
  int tzid = -1;  // index into the calendar's TZIDs; -1 for none
};

struct WrittenDate {
  WrittenTime start;
  std::optional<WrittenTime> end;
  std::optional<Duration> duration;
};

// A VEVENT's properties as written.
struct WrittenEvent {
  int number = 0;
  bool complete = false;
  bool sawStart = false;
  std::optional<WrittenTime> start;
  bool sawEnd = false;
  std::optional<WrittenTime> end;
  bool sawDuration = false;
  std::optional<Duration> duration;
  std::optional<std::string> title;
  std::optional<Availability> busyStatus;
  std::optional<bool> transparent;
  std::optional<std::vector<Attendee>> attendees;
  std::optional<std::string> uid;
  bool sawRecurrenceId = false;
  std::optional<WrittenTime> recurrenceId;
  std::vector<std::string> rules;
  std::vector<WrittenDate> dates;
  int invalidDates = 0;
  std::vector<WrittenTime> exceptions;
  int invalidExceptions = 0;
};

// A STANDARD or DAYLIGHT part of a VTIMEZONE, as written.
struct WrittenObservance {
  std::optional<DateTime> start;
  std::optional<std::int64_t> offsetFrom;
  std::optional<std::int64_t> offsetTo;
  std::vector<std::string> rules;
  std::vector<DateTime> dates;
};

// One VCALENDAR (or the text's top level, for components outside any).
struct Scope {
  std::vector<WrittenEvent> events;
  // The zones of its VTIMEZONEs, by TZID; null for one with nothing usable.
  std::map<std::string, std::shared_ptr<const Zone>, std::less<>> definedZones;
  std::vector<std::string> tzids;
  std::map<std::string, int, std::less<>> tzidIndex;

  int tzidOf(std::string name) {
    const auto found = tzidIndex.find(name);
    if (found != tzidIndex.end()) return found->second;
    const int index = static_cast<int>(tzids.size());
    tzids.push_back(name);
    tzidIndex.emplace(std::move(name), index);
    return index;
  }
};

Kind kindOf(std::string_view name) {
  if (sameName(name, "VCALENDAR")) return Kind::calendar;
  if (sameName(name, "VEVENT")) return Kind::event;
  if (sameName(name, "VTIMEZONE")) return Kind::timezone;
  if (sameName(name, "STANDARD") || sameName(name, "DAYLIGHT")) return Kind::observance;
  return Kind::other;
}

Participation participationOf(const ContentLine& line) {
  const std::string partstat = line.parameter("PARTSTAT");
  constexpr std::pair<std::string_view, Participation> kAnswers[] = {
      {"NEEDS-ACTION", Participation::needsAction}, {"ACCEPTED", Participation::accepted},
      {"DECLINED", Participation::declined},        {"TENTATIVE", Participation::tentative},
      {"DELEGATED", Participation::delegated},      {"COMPLETED", Participation::completed},
      {"IN-PROCESS", Participation::inProcess},
  };
  for (const auto& [name, answer] : kAnswers) {
    if (sameName(partstat, name)) return answer;
  }
  return Participation::needsAction;  // none, an extension or an unknown value
}

Availability busyStatusOf(std::string_view value) {
  if (sameName(value, "FREE")) return Availability::free;
  if (sameName(value, "TENTATIVE")) return Availability::tentative;
  if (sameName(value, "OOF")) return Availability::unavailable;
  return Availability::busy;
}

// A time of a line whose TZID is `tzid` (see tzidOf).
std::optional<WrittenTime> timeOf(std::string_view value, int tzid) {
  const std::optional<DateTime> time = parseDateTime(value);
  if (!time) return std::nullopt;
  const bool zoned = !time->isDate && !time->utc;
  return WrittenTime{wallSeconds(time->civil), time->isDate, time->utc, zoned ? tzid : -1};
}

// The zone a VTIMEZONE's usable observances make; null when there are none.
std::shared_ptr<const Zone> zoneOf(std::vector<Observance> observances) {
  if (observances.empty()) return nullptr;
  return std::make_shared<const DefinedZone>(std::move(observances));
}

// The zones this thread has worked out, kept from one file to the next:
// files written by one program carry the same VTIMEZONEs and name the same
// zones, so each is worked out once per thread rather than once per file.
// Each thread has its own, so the threads share nothing here.
class KnownZones {
 public:
  // The zone of a whole VTIMEZONE, by its lines: `build` gives its
  // observances when this thread hasn't seen the same lines before.
  template <typename Build>
  std::shared_ptr<const Zone> defined(const std::string& key, Build build) {
    if (const auto known = defined_.find(key); known != defined_.end()) return known->second;
    std::shared_ptr<const Zone> zone = zoneOf(build());
    defined_.emplace(key, zone);
    return zone;
  }

  // Null for a zone the system doesn't know. Throws IncompleteRead when its
  // file couldn't be read for want of a resource (which is then not kept).
  std::shared_ptr<const Zone> system(const std::string& tzid) {
    if (const auto known = system_.find(tzid); known != system_.end()) return known->second;
    std::shared_ptr<const Zone> zone = systemZone(tzid);
    system_.emplace(tzid, zone);
    return zone;
  }

  // Bounds what a thread keeps, whatever the files hold.
  void trim() {
    if (defined_.size() > kKept) defined_.clear();
    if (system_.size() > kKept) system_.clear();
  }

 private:
  static constexpr std::size_t kKept = 64;
  std::map<std::string, std::shared_ptr<const Zone>, std::less<>> defined_;
  std::map<std::string, std::shared_ptr<const Zone>, std::less<>> system_;
};

thread_local KnownZones knownZones;

// A zone of the system's tz database, looked up when one of its offsets is
// first asked for: an event far from the window never needs it, and loading
// a zone costs more than reading a file. One that nobody knows reads as local
// time; one that can't be read for want of a resource throws IncompleteRead
// from the first use. Used by the thread that read the text, as its events
// are.
class SystemZoneOnDemand final : public Zone {
 public:
  explicit SystemZoneOnDemand(std::string tzid) : tzid_(std::move(tzid)) {}

  std::int64_t offsetAt(std::int64_t utcSeconds) const override {
    return resolved().offsetAt(utcSeconds);
  }
  std::optional<std::int64_t> nextChange(std::int64_t utcSeconds,
                                         std::int64_t until) const override {
    return resolved().nextChange(utcSeconds, until);
  }
  std::optional<std::string_view> unknownName() const override {
    if (resolved_ == nullptr) resolved();
    if (zone_) return std::nullopt;
    return tzid_;
  }

 private:
  const Zone& resolved() const {
    if (resolved_ == nullptr) {
      zone_ = knownZones.system(tzid_);
      resolved_ = zone_ ? zone_.get() : &localZone();
    }
    return *resolved_;
  }

  std::string tzid_;
  mutable std::shared_ptr<const Zone> zone_;
  mutable const Zone* resolved_ = nullptr;
};

class Reader {
 public:
  explicit Reader(ParsedCalendar& result) : result_(result) { knownZones.trim(); }

  void read(std::string_view text);

 private:
  void begin(std::string_view name);
  void end(std::string_view name);
  void close(bool complete);
  void property(const ContentLine& line);
  void eventProperty(const ContentLine& line, WrittenEvent& event);
  void observanceProperty(const ContentLine& line, WrittenObservance& observance);
  std::vector<Observance> observancesOf() const;
  // The calendar's index of the line's TZID, read once per line however
  // many values it holds; -1 for none.
  int tzidOf(const ContentLine& line);
  void finish(Scope& scope);
  std::optional<VEvent> eventOf(const WrittenEvent& written, const std::vector<const Zone*>& zones,
                                const std::vector<bool>& onDemand);

  Scope& scope() { return inCalendar_ ? calendar_ : topLevel_; }

  ParsedCalendar& result_;
  std::vector<std::pair<Kind, std::string>> stack_;
  Scope topLevel_;
  Scope calendar_;
  bool inCalendar_ = false;
  bool sawData_ = false;
  int events_ = 0;
  std::string timezoneId_;
  std::string timezoneKey_;  // the VTIMEZONE's lines
  std::vector<WrittenObservance> observances_;
  bool inTimezone_ = false;
  std::optional<WrittenObservance> observance_;
  // The zones the text's events point at; each event keeps them alive.
  std::shared_ptr<std::vector<std::shared_ptr<const Zone>>> zones_ =
      std::make_shared<std::vector<std::shared_ptr<const Zone>>>();
};

void Reader::read(std::string_view text) {
  LineReader lines(text);
  ContentLine line;
  while (lines.next(line)) {
    if (sameName(line.name, "BEGIN") && line.hasValue) {
      if (stack_.size() == kMaxNesting) {
        result_ = ParsedCalendar{};
        result_.problems.push_back("nests components more than " + std::to_string(kMaxNesting) +
                                   " deep, skipped");
        return;
      }
      begin(line.value);
    } else if (sameName(line.name, "END") && line.hasValue) {
      end(line.value);
    } else if (line.hasValue) {
      property(line);
    }
  }
  result_.work = lines.work() + line.lookups;
  if (!stack_.empty()) result_.problems.emplace_back("ends inside a component (no END line)");
  while (!stack_.empty()) close(false);
  finish(topLevel_);
  if (!sawData_) result_.problems.emplace_back("holds no iCalendar data, skipped");
}

void Reader::begin(std::string_view name) {
  Kind kind = kindOf(name);
  const std::size_t depth = stack_.size();
  const bool inScope = depth == 0 || (depth == 1 && inCalendar_);
  if (kind == Kind::calendar && depth == 0) {
    sawData_ = true;
    inCalendar_ = true;
    calendar_ = Scope{};
  } else if (kind == Kind::event && inScope) {
    sawData_ = sawData_ || depth == 0;
    // Events don't nest, so the one open is always the scope's last.
    scope().events.push_back(WrittenEvent{});
    scope().events.back().number = ++events_;
  } else if (kind == Kind::timezone && inScope) {
    inTimezone_ = true;
    timezoneId_.clear();
    timezoneKey_.clear();
    observances_.clear();
  } else if (kind == Kind::observance && inTimezone_ && stack_.back().first == Kind::timezone) {
    observance_.emplace();
    timezoneKey_.append("BEGIN:").append(name) += '\n';
  } else {
    kind = Kind::other;
  }
  stack_.emplace_back(kind, name);
}

void Reader::end(std::string_view name) {
  // The END closes the innermost component of that name, and any left open
  // inside it; an END that matches nothing open is passed over.
  const auto open = std::find_if(stack_.rbegin(), stack_.rend(), [name](const auto& entry) {
    return sameName(entry.second, name);
  });
  if (open == stack_.rend()) return;
  const std::size_t keep = stack_.size() - 1 - static_cast<std::size_t>(open - stack_.rbegin());
  while (stack_.size() > keep) close(true);
}

void Reader::close(bool complete) {
  const Kind kind = stack_.back().first;
  stack_.pop_back();
  switch (kind) {
    case Kind::event:
      scope().events.back().complete = complete;
      break;
    case Kind::observance:
      if (complete) observances_.push_back(std::move(*observance_));
      timezoneKey_ += "END\n";
      break;
    case Kind::timezone:
      // Only a whole VTIMEZONE is kept for later files. One that the text
      // cuts short serves its own file alone: its lines so far can be those
      // of a whole one (cut in the END line of its last observance) while it
      // lacks that observance.
      // Of two VTIMEZONEs with one TZID, the first that has a usable
      // observance counts.
      if (!timezoneId_.empty()) {
        std::shared_ptr<const Zone> zone =
            complete ? knownZones.defined(timezoneKey_, [this] { return observancesOf(); })
                     : zoneOf(observancesOf());
        auto& known = scope().definedZones[timezoneId_];
        if (!known) known = std::move(zone);
      }
      observances_.clear();
      inTimezone_ = false;
      break;
    case Kind::calendar:
      finish(calendar_);
      inCalendar_ = false;
      break;
    case Kind::other:
      break;
  }
}

void Reader::property(const ContentLine& line) {
  if (stack_.empty()) return;
  switch (stack_.back().first) {
    case Kind::event:
      eventProperty(line, scope().events.back());
      break;
    case Kind::observance:
      timezoneKey_.append(line.text) += '\n';
      observanceProperty(line, *observance_);
      break;
    case Kind::timezone:
      timezoneKey_.append(line.text) += '\n';
      if (sameName(line.name, "TZID") && timezoneId_.empty())
        timezoneId_ = unescapeText(line.value);
      break;
    default:
      break;
  }
}

int Reader::tzidOf(const ContentLine& line) {
  if (!line.hasParameter("TZID")) return -1;
  std::string tzid = line.parameter("TZID");
  return tzid.empty() ? -1 : scope().tzidOf(std::move(tzid));
}

void Reader::eventProperty(const ContentLine& line, WrittenEvent& event) {
  const std::string_view name = line.name;
  const std::string_view value = line.value;
  if (sameName(name, "DTSTART")) {
    if (!event.sawStart) event.start = timeOf(value, tzidOf(line));
    event.sawStart = true;
  } else if (sameName(name, "DTEND")) {
    if (!event.sawEnd) event.end = timeOf(value, tzidOf(line));
    event.sawEnd = true;
  } else if (sameName(name, "DURATION")) {
    if (!event.sawDuration) event.duration = parseDuration(value);
    event.sawDuration = true;
  } else if (sameName(name, "SUMMARY")) {
    if (!event.title) event.title = unescapeText(value);
  } else if (sameName(name, "X-MICROSOFT-CDO-BUSYSTATUS")) {
    if (!event.busyStatus) event.busyStatus = busyStatusOf(value);
  } else if (sameName(name, "TRANSP")) {
    if (!event.transparent) event.transparent = sameName(value, "TRANSPARENT");
  } else if (sameName(name, "ATTENDEE")) {
    if (!event.attendees) event.attendees.emplace();
    event.attendees->push_back(Attendee{std::string(value), participationOf(line)});
  } else if (sameName(name, "UID")) {
    if (!event.uid) event.uid = unescapeText(value);
  } else if (sameName(name, "RECURRENCE-ID")) {
    if (!event.sawRecurrenceId) event.recurrenceId = timeOf(value, tzidOf(line));
    event.sawRecurrenceId = true;
  } else if (sameName(name, "RRULE")) {
    event.rules.emplace_back(value);
  } else if (sameName(name, "RDATE")) {
    const bool periods = sameName(line.parameter("VALUE"), "PERIOD");
    const int tzid = tzidOf(line);
    forEachItem(value, [&](std::string_view item) {
      const std::size_t slash = item.find('/');
      if (!periods && slash == std::string_view::npos) {
        if (const auto time = timeOf(item, tzid)) {
          event.dates.push_back({*time, std::nullopt, std::nullopt});
        } else {
          ++event.invalidDates;
        }
        return;
      }
      // A period: a start, then its end or its length.
      const auto start = timeOf(item.substr(0, slash), tzid);
      const std::string_view rest =
          slash == std::string_view::npos ? std::string_view() : item.substr(slash + 1);
      WrittenDate date{start.value_or(WrittenTime{}), timeOf(rest, tzid), std::nullopt};
      if (!date.end) date.duration = parseDuration(rest);
      if (start && (date.end || date.duration)) {
        event.dates.push_back(date);
      } else {
        ++event.invalidDates;
      }
    });
  } else if (sameName(name, "EXDATE")) {
    const int tzid = tzidOf(line);
    forEachItem(value, [&](std::string_view item) {
      if (const auto time = timeOf(item, tzid)) {
        event.exceptions.push_back(*time);
      } else {
        ++event.invalidExceptions;
      }
    });
  }
}

// The STANDARD and DAYLIGHT parts of the VTIMEZONE just read that can be
// used: those with a start and both offsets.
std::vector<Observance> Reader::observancesOf() const {
  std::vector<Observance> observances;
  for (const WrittenObservance& written : observances_) {
    if (!written.start || !written.offsetFrom || !written.offsetTo) continue;
    Observance observance;
    observance.offsetFrom = *written.offsetFrom;
    observance.offsetTo = *written.offsetTo;
    observance.startWall = wallSeconds(written.start->civil);
    // Rules finer than daily are left out: no real zone changes its offset
    // more than once a day.
    for (const std::string& text : written.rules) {
      if (auto rule = parseRule(text, false); rule && rule->frequency >= Frequency::daily) {
        observance.rules.push_back(std::move(*rule));
      }
    }
    for (const DateTime& date : written.dates) {
      // A UTC onset, as a wall-clock time in the offset before it.
      observance.dateWalls.push_back(wallSeconds(date.civil) +
                                     (date.utc ? observance.offsetFrom : 0));
    }
    observances.push_back(std::move(observance));
  }
  return observances;
}

void Reader::observanceProperty(const ContentLine& line, WrittenObservance& observance) {
  const std::string_view name = line.name;
  if (sameName(name, "DTSTART")) {
    if (!observance.start) observance.start = parseDateTime(line.value);
  } else if (sameName(name, "TZOFFSETFROM")) {
    if (!observance.offsetFrom) observance.offsetFrom = parseUtcOffset(line.value);
  } else if (sameName(name, "TZOFFSETTO")) {
    if (!observance.offsetTo) observance.offsetTo = parseUtcOffset(line.value);
  } else if (sameName(name, "RRULE")) {
    observance.rules.emplace_back(line.value);
  } else if (sameName(name, "RDATE")) {
    forEachItem(line.value, [&](std::string_view item) {
      // A period's start is the onset.
      if (const auto date = parseDateTime(item.substr(0, item.find('/')))) {
        observance.dates.push_back(*date);
      }
    });
  }
}

// Resolves the calendar's TZIDs, each once, and turns its events into plain
// data. A TZID is the calendar's own VTIMEZONE, else a zone of the system's
// tz database; one neither knows is read as local time.
void Reader::finish(Scope& scope) {
  std::vector<const Zone*> zones(scope.tzids.size(), nullptr);
  std::vector<bool> onDemand(scope.tzids.size(), false);
  for (std::size_t i = 0; i < scope.tzids.size(); ++i) {
    const std::string& tzid = scope.tzids[i];
    if (const auto defined = scope.definedZones.find(tzid);
        defined != scope.definedZones.end() && defined->second) {
      zones_->push_back(defined->second);
    } else {
      zones_->push_back(std::make_shared<const SystemZoneOnDemand>(tzid));
      onDemand[i] = true;
    }
    zones[i] = zones_->back().get();
  }
  for (const WrittenEvent& written : scope.events) {
    if (auto event = eventOf(written, zones, onDemand)) result_.events.push_back(std::move(*event));
  }
  scope = Scope{};
}

std::optional<VEvent> Reader::eventOf(const WrittenEvent& written,
                                      const std::vector<const Zone*>& zones,
                                      const std::vector<bool>& onDemand) {
  const auto problem = [this, &written](std::string_view text) {
    result_.problems.push_back(aboutEvent(written.number, text));
  };
  if (!written.complete) {
    problem("is cut short (the text ends before its END), skipped");
    return std::nullopt;
  }
  if (!written.sawStart) {
    problem("has no start (DTSTART), skipped");
    return std::nullopt;
  }
  if (!written.start) {
    problem("has an invalid start (DTSTART), skipped");
    return std::nullopt;
  }

  VEvent event;
  event.number = written.number;
  event.zones = zones_;
  const auto valueOf = [&](const WrittenTime& time) {
    TimeValue value{time.wall, time.isDate, &localZone()};
    if (time.isDate) return value;
    if (time.utc) {
      value.zone = &utcZone();
    } else if (time.tzid >= 0) {
      value.zone = zones[time.tzid];
      auto& named = event.systemZones;
      if (onDemand[time.tzid] && named.size() < kMaxNamedZones &&
          std::find(named.begin(), named.end(), value.zone) == named.end()) {
        named.push_back(value.zone);
      }
    }
    return value;
  };

  event.start = valueOf(*written.start);
  if (written.sawEnd) {
    if (written.end) {
      event.end = valueOf(*written.end);
    } else {
      problem("has an invalid end (DTEND), ignored");
    }
  } else if (written.duration) {
    event.duration = written.duration;
  }
  event.title = written.title;
  if (written.busyStatus) {
    event.availability = *written.busyStatus;
  } else {
    event.availability =
        written.transparent.value_or(false) ? Availability::free : Availability::busy;
  }
  event.attendees = written.attendees;
  event.uid = written.uid.value_or("");
  if (written.sawRecurrenceId) {
    if (written.recurrenceId) {
      event.recurrenceId = valueOf(*written.recurrenceId);
    } else {
      problem("has an invalid RECURRENCE-ID, ignored");
    }
  }
  // An override stands for one occurrence: rules on it are not expanded.
  if (event.recurrenceId) return event;

  for (const std::string& text : written.rules) {
    if (auto rule = parseRule(text, event.start.isDate)) {
      event.rules.push_back(std::move(*rule));
    } else {
      problem("has a recurrence rule (RRULE) that " + rule.problem().reason + ", ignored");
    }
  }
  for (const WrittenDate& date : written.dates) {
    RecurrenceDate value{valueOf(date.start), std::nullopt, date.duration};
    if (date.end) value.end = valueOf(*date.end);
    event.dates.push_back(value);
  }
  for (int i = 0; i < written.invalidDates; ++i) {
    problem("has an invalid extra date (RDATE), ignored");
  }
  for (const WrittenTime& time : written.exceptions) event.exceptions.push_back(valueOf(time));
  for (int i = 0; i < written.invalidExceptions; ++i) {
    problem("has an invalid exception date (EXDATE), ignored");
  }
  return event;
}

}  // namespace

ParsedCalendar readCalendar(std::string_view text) {
  ParsedCalendar result;
  Reader reader(result);
  reader.read(text);
  return result;
}

}  // namespace quorvel::calendar::ical
