#include "calendar/linux/thunderbird/items.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "calendar/ical/event.h"
#include "calendar/ical/lines.h"
#include "calendar/ical/reader.h"
#include "calendar/ical/time.h"
#include "calendar/linux/sqlite/database.h"

namespace quorvel::calendar::linuxstore::thunderbird {
namespace {

// The flags column's bits that say how to read a row's times.
constexpr std::int64_t kAllDay = 8;
constexpr std::int64_t kRecurrenceIdIsDate = 512;

// A time as a row keeps it: microseconds since the epoch of the instant
// (for a floating time or a date, of its wall clock read as UTC), and the
// zone it was written in: "UTC", "floating", a zone's name or a whole
// VTIMEZONE.
struct StoredTime {
  std::optional<std::int64_t> micros;
  std::string zone;
};

// One VEVENT of an event: its series, or one override.
struct Component {
  std::optional<std::string> title;
  std::int64_t flags = 0;
  StoredTime start;
  StoredTime end;
  StoredTime recurrenceId;
  std::optional<std::string> duration;
  std::vector<std::string> lines;  // attendees, TRANSP, busy status
};

// An override by the start it replaces, as the rows name it.
using OverrideKey = std::pair<std::int64_t, std::string>;

struct Event {
  std::optional<Component> series;
  std::map<OverrideKey, Component> overrides;
  std::vector<std::string> recurrence;  // RRULE, RDATE, EXDATE lines
};

// Events by calendar id, then UID.
using Events = std::map<std::string, std::map<std::string, Event>, std::less<>>;

// The event a row of a side table belongs to (its first columns: cal_id,
// item_id), when it is read.
Event* eventOf(Events& events, const Row& row) {
  const auto calendar = events.find(row.text(0).value_or(""));
  if (calendar == events.end()) return nullptr;
  const auto event = calendar->second.find(std::string(row.text(1).value_or("")));
  return event == calendar->second.end() ? nullptr : &event->second;
}

// The component a row of a side table belongs to (columns: cal_id,
// item_id, recurrence_id, recurrence_id_tz), when its event is read.
Component* componentOf(Events& events, const Row& row) {
  Event* event = eventOf(events, row);
  if (event == nullptr) return nullptr;
  const auto recurrenceId = row.integer(2);
  if (!recurrenceId) return event->series ? &*event->series : nullptr;
  const auto found = event->overrides.find({*recurrenceId, std::string(row.text(3).value_or(""))});
  return found == event->overrides.end() ? nullptr : &found->second;
}

// The first content line of a stored piece of iCalendar text, unfolded,
// when it is one of `names`: anything after it (a second line) is dropped,
// so that no stored text can add components of its own.
std::optional<std::string> oneLine(std::string_view text,
                                   std::initializer_list<std::string_view> names) {
  ical::LineReader lines(text);
  ical::ContentLine line;
  if (!lines.next(line) || !line.hasValue) return std::nullopt;
  for (const std::string_view name : names) {
    if (ical::sameName(line.name, name)) return std::string(line.text);
  }
  return std::nullopt;
}

// `text` as an iCalendar TEXT value.
std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case ';':
        out += "\\;";
        break;
      case ',':
        out += "\\,";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        break;
      default:
        out += c;
    }
  }
  return out;
}

// `text` with no line break, for a value that isn't TEXT (a UID, a TZID).
std::string oneLineValue(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

// How the engine reads the times of one stored zone.
struct ZoneAsRead {
  std::string tzid;                  // empty for UTC and floating times
  std::string definition;            // the VTIMEZONE to carry along, if any
  const ical::Zone* zone = nullptr;  // null: written in UTC
  std::shared_ptr<const std::vector<std::shared_ptr<const ical::Zone>>> keep;
  bool floating = false;
};

// The TZID of a stored VTIMEZONE.
std::string tzidOf(std::string_view vtimezone) {
  ical::LineReader lines(vtimezone);
  ical::ContentLine line;
  while (lines.next(line)) {
    if (line.hasValue && ical::sameName(line.name, "TZID")) {
      return oneLineValue(line.value);
    }
  }
  return {};
}

// The zone a stored zone stands for, as the engine reads a TZID naming it in
// a calendar that carries its VTIMEZONE, if it has one. A zone nobody knows
// is written in UTC: the instant is what the row keeps.
ZoneAsRead zoneAsRead(const std::string& stored) {
  ZoneAsRead read;
  if (stored.empty() || stored == "floating") {
    read.floating = true;
    return read;
  }
  if (stored == "UTC") return read;
  if (stored.starts_with("BEGIN:VTIMEZONE")) {
    read.definition = stored;
    read.tzid = tzidOf(stored);
    if (read.tzid.empty()) return {};
  } else {
    read.tzid = oneLineValue(stored);
  }
  const ical::ParsedCalendar probe = ical::readCalendar(
      "BEGIN:VCALENDAR\n" + read.definition + "\nBEGIN:VEVENT\nDTSTART;TZID=" + read.tzid +
      ":20000101T000000\nEND:VEVENT\nEND:VCALENDAR\n");
  if (probe.events.empty() || probe.events.front().start.zone->unknownName()) return {};
  read.zone = probe.events.front().start.zone;
  read.keep = probe.events.front().zones;
  return read;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

std::string civilText(std::int64_t wall, bool date) {
  const ical::CivilTime civil = ical::civilOf(wall);
  char text[32];
  if (date) {
    std::snprintf(text, sizeof text, "%04d%02d%02d", civil.year, civil.month, civil.day);
  } else {
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d", civil.year, civil.month,
                  civil.day, civil.hour, civil.minute, civil.second);
  }
  return text;
}

// Builds the VCALENDARs of one database's events.
class Writer {
 public:
  std::string calendarOf(const std::string& uid, const Event& event) {
    definitions_.clear();
    std::string body;
    component(body, uid, *event.series, &event.recurrence);
    for (const auto& [key, override] : event.overrides) component(body, uid, override, nullptr);
    std::string text = "BEGIN:VCALENDAR\r\n";
    for (const std::string* definition : definitions_) {
      text += *definition;
      text += "\r\n";
    }
    text += body;
    text += "END:VCALENDAR\r\n";
    return text;
  }

 private:
  void component(std::string& out, const std::string& uid, const Component& c,
                 const std::vector<std::string>* recurrence) {
    out += "BEGIN:VEVENT\r\nUID:";
    out += oneLineValue(uid);
    out += "\r\n";
    const bool allDay = (c.flags & kAllDay) != 0;
    if (c.recurrenceId.micros) {
      time(out, "RECURRENCE-ID", c.recurrenceId, (c.flags & kRecurrenceIdIsDate) != 0);
    }
    if (c.start.micros) time(out, "DTSTART", c.start, allDay);
    if (c.duration) {
      out += "DURATION:" + oneLineValue(*c.duration) + "\r\n";
    } else if (c.end.micros) {
      time(out, "DTEND", c.end, allDay);
    }
    if (c.title) out += "SUMMARY:" + escaped(*c.title) + "\r\n";
    for (const std::string& line : c.lines) out += line + "\r\n";
    if (recurrence) {
      for (const std::string& line : *recurrence) out += line + "\r\n";
    }
    out += "END:VEVENT\r\n";
  }

  // A date is the day its wall clock falls on; a time in a zone nobody
  // knows is written in UTC.
  void time(std::string& out, std::string_view name, const StoredTime& time, bool date) {
    const ZoneAsRead& zone = zoneOf(time.zone);
    const std::int64_t seconds = floorDiv(*time.micros, 1'000'000);
    out += name;
    if (date) {
      out += ";VALUE=DATE:";
    } else if (zone.zone != nullptr) {
      if (!zone.definition.empty()) definitions_.insert(&zone.definition);
      out.append(";TZID=").append(zone.tzid) += ':';
    } else {
      out += ':';
    }
    out += civilText(zone.zone != nullptr ? ical::toWall(*zone.zone, seconds) : seconds, date);
    if (!date && zone.zone == nullptr && !zone.floating) out += 'Z';
    out += "\r\n";
  }

  const ZoneAsRead& zoneOf(const std::string& stored) {
    auto found = zones_.find(stored);
    if (found == zones_.end()) found = zones_.emplace(stored, zoneAsRead(stored)).first;
    return found->second;
  }

  std::map<std::string, ZoneAsRead, std::less<>> zones_;
  std::set<const std::string*> definitions_;
};

// The queries, each run once for the whole database.
constexpr std::string_view kVersion = "SELECT version FROM cal_calendar_schema_version";
constexpr std::string_view kEvents =
    "SELECT cal_id, id, title, flags, event_start, event_start_tz, event_end, event_end_tz,"
    " recurrence_id, recurrence_id_tz FROM cal_events"
    // 4 in the offline journal marks a row deleted while offline.
    " WHERE offline_journal IS NOT 4";
constexpr std::string_view kRecurrence = "SELECT cal_id, item_id, icalString FROM cal_recurrence";
constexpr std::string_view kAttendees =
    "SELECT cal_id, item_id, recurrence_id, recurrence_id_tz, icalString FROM cal_attendees";
constexpr std::string_view kProperties =
    "SELECT cal_id, item_id, recurrence_id, recurrence_id_tz, key, value FROM cal_properties"
    " WHERE key IN ('TRANSP', 'X-MICROSOFT-CDO-BUSYSTATUS', 'DURATION')";
constexpr std::string_view kServerAddresses =
    "SELECT cal_id, value FROM cal_metadata WHERE item_id = 'calendar-properties'";

StoredTime storedTime(const Row& row, int column) {
  return {row.integer(column), std::string(row.text(column + 1).value_or(""))};
}

}  // namespace

std::variant<Stored, std::string> readStored(const Database& database,
                                             const std::set<std::string, std::less<>>& wanted) {
  std::optional<std::int64_t> version;
  if (auto failed = database.query(kVersion, [&](const Row& row) { version = row.integer(0); })) {
    return *failed;
  }
  if (version != kSchemaVersion) {
    return "a calendar database of schema version " +
           (version ? std::to_string(*version) : std::string("unknown")) + ", not " +
           std::to_string(kSchemaVersion) + "; skipped";
  }

  Events events;
  auto failed = database.query(kEvents, [&](const Row& row) {
    const std::string_view calendar = row.text(0).value_or("");
    if (!wanted.contains(calendar)) return;
    Component c;
    // As Thunderbird reads it, an empty title is none.
    if (const auto title = row.text(2); title && !title->empty()) c.title = std::string(*title);
    c.flags = row.integer(3).value_or(0);
    c.start = storedTime(row, 4);
    c.end = storedTime(row, 6);
    c.recurrenceId = storedTime(row, 8);
    auto& event = events[std::string(calendar)][std::string(row.text(1).value_or(""))];
    if (c.recurrenceId.micros) {
      event.overrides.emplace(OverrideKey{*c.recurrenceId.micros, c.recurrenceId.zone},
                              std::move(c));
    } else {
      event.series = std::move(c);
    }
  });
  if (failed) return *failed;

  failed = database.query(kRecurrence, [&](const Row& row) {
    Event* event = eventOf(events, row);
    if (event == nullptr) return;
    if (auto line = oneLine(row.text(2).value_or(""), {"RRULE", "RDATE", "EXDATE", "EXRULE"})) {
      event->recurrence.push_back(std::move(*line));
    }
  });
  if (failed) return *failed;

  failed = database.query(kAttendees, [&](const Row& row) {
    if (Component* c = componentOf(events, row)) {
      if (auto line = oneLine(row.text(4).value_or(""), {"ATTENDEE", "ORGANIZER"})) {
        c->lines.push_back(std::move(*line));
      }
    }
  });
  if (failed) return *failed;

  failed = database.query(kProperties, [&](const Row& row) {
    Component* c = componentOf(events, row);
    if (c == nullptr) return;
    const std::string_view key = row.text(4).value_or("");
    const std::string value = oneLineValue(row.text(5).value_or(""));
    if (key == "DURATION") {
      c->duration = value;
    } else {
      c->lines.push_back(std::string(key) + ":" + value);
    }
  });
  if (failed) return *failed;

  Stored stored;
  // A CalDAV calendar keeps what it learnt of the server as JSON, the
  // user's address on it among that.
  failed = database.query(kServerAddresses, [&](const Row& row) {
    const std::string_view calendar = row.text(0).value_or("");
    if (!wanted.contains(calendar)) return;
    const auto properties = nlohmann::json::parse(row.text(1).value_or(""), nullptr, false);
    if (!properties.is_object()) return;
    const auto address = properties.find("mCalendarUserAddress");
    if (address == properties.end() || !address->is_string()) return;
    stored.addresses[std::string(calendar)].insert(ical::addressKey(address->get<std::string>()));
  });
  if (failed) return *failed;

  Writer writer;
  for (auto& [calendar, byUid] : events) {
    auto& texts = stored.events[calendar];
    for (const auto& [uid, event] : byUid) {
      if (!event.series) continue;  // Thunderbird shows no override without its series
      texts.push_back({uid, writer.calendarOf(uid, event)});
    }
  }
  return stored;
}

}  // namespace quorvel::calendar::linuxstore::thunderbird
