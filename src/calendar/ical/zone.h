// Time zones that a calendar file defines itself, in a VTIMEZONE.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "calendar/ical/recurrence.h"
#include "calendar/ical/time.h"

namespace quorvel::calendar::ical {

// A STANDARD or DAYLIGHT part of a VTIMEZONE: from each of its onsets on, the
// zone is `offsetTo` seconds east of UTC. Onsets are wall-clock times in the
// offset in force before them, `offsetFrom`.
struct Observance {
  std::int64_t offsetFrom = 0;
  std::int64_t offsetTo = 0;
  std::int64_t startWall = 0;           // DTSTART: the first onset
  std::vector<RecurrenceRule> rules;    // RRULEs from DTSTART
  std::vector<std::int64_t> dateWalls;  // RDATEs
};

// A zone made of observances. Offsets are worked out with the bounded rule
// expansion that events use, a year at a time, and remembered, so that a
// hostile rule costs no more than its budget.
//
// Not safe for use by several threads at once (it fills its cache as it is
// asked); each file's zones are read by one thread.
class DefinedZone final : public Zone {
 public:
  explicit DefinedZone(std::vector<Observance> observances);
  std::int64_t offsetAt(std::int64_t utcSeconds) const override;
  std::optional<std::int64_t> nextChange(std::int64_t utcSeconds,
                                         std::int64_t until) const override;

 private:
  struct Year {
    std::int64_t startOffset = 0;                                // in force at 1 January 00:00 UTC
    std::vector<std::pair<std::int64_t, std::int64_t>> changes;  // onset (UTC), new offset
  };
  const Year& yearOf(int year) const;
  std::optional<std::int64_t> latestOnset(const Observance& observance, std::int64_t utc) const;

  std::vector<Observance> observances_;
  std::int64_t offsetBeforeAll_ = 0;
  mutable std::map<int, Year> years_;
};

}  // namespace quorvel::calendar::ical
