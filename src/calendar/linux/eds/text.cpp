#include "calendar/linux/eds/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <tuple>

#include "calendar/ical/lines.h"
#include "calendar/ical/time.h"

namespace quorvel::calendar::linuxstore::eds {
using ical::civilOf;
using ical::CivilTime;
using ical::ContentLine;
using ical::kEndSecond;
using ical::kFirstSecond;
using ical::kSecondsPerDay;
using ical::LineReader;
using ical::sameName;
namespace {

// "(make-time \"20260601T000000Z\")" for a second within the years 1 to 9999.
std::string makeTime(std::int64_t second) {
  const CivilTime civil = civilOf(second);
  char text[40];
  std::snprintf(text, sizeof text, "(make-time \"%04d%02d%02dT%02d%02d%02dZ\")", civil.year,
                civil.month, civil.day, civil.hour, civil.minute, civil.second);
  return text;
}

// Whether `name` can be a tz database name, and so be put between quotes in
// a query as it is: letters, digits and "/_+-." only, not starting with a
// dot or a slash.
bool isQuotableZoneName(std::string_view name) {
  if (name.empty() || name.front() == '.' || name.front() == '/') return false;
  return std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '_' || c == '+' || c == '-' || c == '.';
  });
}

// Appends `text` and, when it doesn't end in one, a line end, so that the
// next component starts on a line of its own.
void appendLines(std::string& to, std::string_view text) {
  to += text;
  if (!text.empty() && text.back() != '\n') to += "\r\n";
}

}  // namespace

QueryRange queryRange(const Window& window) {
  const auto first = static_cast<double>(kFirstSecond);
  const auto last = static_cast<double>(kEndSecond - 1);
  return {
      static_cast<std::int64_t>(std::clamp(std::floor(window.start) - kSecondsPerDay, first, last)),
      static_cast<std::int64_t>(std::clamp(std::ceil(window.end) + kSecondsPerDay, first, last))};
}

std::string queryFor(const Window& window, std::string_view zoneName) {
  const QueryRange range = queryRange(window);
  std::string query =
      "(or (occur-in-time-range? " + makeTime(range.start) + " " + makeTime(range.end);
  if (isQuotableZoneName(zoneName)) {
    query += " \"";
    query += zoneName;
    query += '"';
  }
  query += ") (has-recurrences?))";
  return query;
}

Component describe(std::string text) {
  Component component;
  {
    LineReader reader(text);
    ContentLine line;
    int depth = 0;
    while (reader.next(line)) {
      if (sameName(line.name, "BEGIN")) {
        ++depth;
      } else if (sameName(line.name, "END")) {
        --depth;
      } else if (depth == 1 && line.hasValue && sameName(line.name, "UID")) {
        component.uid = line.value;
      } else if (depth == 1 && line.hasValue && sameName(line.name, "RECURRENCE-ID")) {
        component.recurrenceId = line.value;
      }
      if (line.hasParameter("TZID")) component.tzids.push_back(line.parameter("TZID"));
    }
  }
  std::sort(component.tzids.begin(), component.tzids.end());
  component.tzids.erase(std::unique(component.tzids.begin(), component.tzids.end()),
                        component.tzids.end());
  component.text = std::move(text);
  return component;
}

std::vector<EventText> eventTexts(std::vector<Component> components,
                                  const std::map<std::string, std::string, std::less<>>& zones) {
  std::vector<const Component*> order;
  order.reserve(components.size());
  for (const Component& component : components) order.push_back(&component);
  std::sort(order.begin(), order.end(), [](const Component* a, const Component* b) {
    return std::tie(a->uid, a->recurrenceId, a->text) < std::tie(b->uid, b->recurrenceId, b->text);
  });
  std::vector<EventText> texts;
  for (auto group = order.begin(); group != order.end();) {
    const std::string& uid = (*group)->uid;
    const auto end =
        std::find_if(group, order.end(), [&uid](const Component* c) { return c->uid != uid; });
    std::set<std::string_view> tzids;
    for (auto it = group; it != end; ++it) tzids.insert((*it)->tzids.begin(), (*it)->tzids.end());

    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//quorvel//EDS//EN\r\n";
    for (const std::string_view tzid : tzids) {
      if (const auto zone = zones.find(tzid); zone != zones.end()) appendLines(text, zone->second);
    }
    for (auto it = group; it != end; ++it) appendLines(text, (*it)->text);
    text += "END:VCALENDAR\r\n";
    texts.push_back({uid, std::move(text)});
    group = end;
  }
  return texts;
}

}  // namespace quorvel::calendar::linuxstore::eds
