#include "calendar/ical/event.h"

#include <algorithm>

namespace quorvel::calendar::ical {

Length lengthOf(const VEvent& event) {
  const TimeValue& start = event.start;
  if (start.isDate) {
    // All-day events last whole days, at least one.
    std::int64_t days = 1;
    if (event.end) {
      days = (startOfDay(event.end->wall) - start.wall) / kSecondsPerDay;
    } else if (event.duration) {
      days = event.duration->days + event.duration->seconds / kSecondsPerDay;
    }
    return Length{std::max<std::int64_t>(days, 1) * kSecondsPerDay, 0};
  }
  if (event.end) {
    // Every occurrence lasts exactly as long as the first (RFC 5545,
    // 3.8.5.3), whatever daylight-saving change lies between its start and
    // end. A DATE end with a timed start means midnight in the start's zone.
    const Zone& endZone = event.end->isDate ? *start.zone : *event.end->zone;
    const std::int64_t exact = toUtc(endZone, event.end->wall) - toUtc(*start.zone, start.wall);
    return Length{0, std::max<std::int64_t>(exact, 0)};
  }
  if (event.duration) {
    // A negative duration is malformed; the event is then an instant.
    return Length{std::max<std::int64_t>(event.duration->days * kSecondsPerDay, 0),
                  std::max<std::int64_t>(event.duration->seconds, 0)};
  }
  return Length{};
}

Occurrence occurrenceAt(const VEvent& event, const Length& length, std::int64_t startWall) {
  const Zone& zone = *event.start.zone;
  Occurrence occurrence;
  occurrence.start = toUtc(zone, startWall);
  occurrence.originalStart = occurrence.start;
  occurrence.coveredTo =
      std::max(occurrence.start, toUtc(zone, startWall + length.wall) + length.exact);
  // All-day events are shown ending a second before the midnight that ends
  // them, as the system calendar presents them.
  occurrence.end =
      event.start.isDate ? toUtc(zone, startWall + length.wall - 1) : occurrence.coveredTo;
  return occurrence;
}

}  // namespace quorvel::calendar::ical
