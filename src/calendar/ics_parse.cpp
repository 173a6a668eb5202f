#include "calendar/ics_parse.h"

#include <libical/ical.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

namespace quorvel::calendar::ics {
namespace {

struct ComponentDeleter {
  void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view withoutMailto(std::string_view address) {
  constexpr std::string_view kScheme = "mailto:";
  if (address.size() >= kScheme.size() &&
      equalsIgnoringCase(address.substr(0, kScheme.size()), kScheme)) {
    address.remove_prefix(kScheme.size());
  }
  return address;
}

// A zone libical knows, either from a VTIMEZONE in the text or from the
// system's tz database.
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
    return icaltimezone_get_utc_offset_of_utc_time(zone_, &time, &isDaylight);
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

  std::vector<std::unique_ptr<IcalZone>> ownZones;

 private:
  void readEvent(icalcomponent* component);
  void problem(std::string text) { result_.problems.push_back(std::move(text)); }
  const Zone* zoneFor(const char* tzid);
  std::optional<TimeValue> timeOf(icalproperty* property);

  ParsedCalendar& result_;
  icalcomponent* calendar_ = nullptr;
  std::map<std::string, const Zone*, std::less<>> zones_;
  int eventNumber_ = 0;
};

const Zone* Reader::zoneFor(const char* tzid) {
  if (const auto found = zones_.find(tzid); found != zones_.end()) return found->second;
  const Zone* zone = nullptr;
  if (calendar_ != nullptr) {
    if (icaltimezone* own = icalcomponent_get_timezone(calendar_, tzid)) {
      ownZones.push_back(std::make_unique<IcalZone>(own));
      zone = ownZones.back().get();
    }
  }
  if (zone == nullptr) zone = systemZone(tzid);
  if (zone == nullptr) {
    problem("unknown time zone \"" + std::string(tzid) + "\", its times are read as local time");
    zone = &localZone();
  }
  zones_.emplace(tzid, zone);
  return zone;
}

std::optional<TimeValue> Reader::timeOf(icalproperty* property) {
  const icalvalue* value = icalproperty_get_value(property);
  if (value == nullptr) return std::nullopt;
  const icalvalue_kind kind = icalvalue_isa(value);
  if (kind != ICAL_DATE_VALUE && kind != ICAL_DATETIME_VALUE) return std::nullopt;
  const icaltimetype time =
      kind == ICAL_DATE_VALUE ? icalvalue_get_date(value) : icalvalue_get_datetime(value);
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

void Reader::readEvent(icalcomponent* component) {
  ++eventNumber_;
  VEvent event;

  const std::string which = "event " + std::to_string(eventNumber_);
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
    if (!icaldurationtype_is_bad_duration(d)) {
      const std::int64_t sign = d.is_neg ? -1 : 1;
      event.duration = Duration{
          sign * (std::int64_t{d.weeks} * 7 + d.days),
          sign * (std::int64_t{d.hours} * 3600 + std::int64_t{d.minutes} * 60 + d.seconds)};
    }
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
    event.attendees->push_back(Attendee{
        std::string(withoutMailto(address != nullptr ? address : "")), participantStatusOf(p)});
  }

  result_.events.push_back(std::move(event));
}

}  // namespace

ParsedCalendar parseCalendar(const std::string& text) {
  ParsedCalendar result;
  ComponentPtr root(icalparser_parse_string(text.c_str()));
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

  // The text's own zones live inside the parsed tree: keep both together.
  struct Keep {
    ComponentPtr root;
    std::vector<std::unique_ptr<IcalZone>> zones;
  };
  result.zones = std::make_shared<Keep>(Keep{std::move(root), std::move(reader.ownZones)});
  return result;
}

}  // namespace quorvel::calendar::ics
