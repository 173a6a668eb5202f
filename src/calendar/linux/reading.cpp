#include "calendar/linux/reading.h"

#include <algorithm>
#include <new>

#include "calendar/calendar.h"
#include "calendar/ical/expand.h"
#include "calendar/ical/problem.h"

namespace quorvel::calendar::linuxstore {

void ThreadReading::read(const Item& item, const std::function<Place()>& place,
                         const std::function<std::string()>& subject) {
  ical::TextEvents events;
  try {
    events = ical::eventsInText(item.text, window_, item.addresses);
  } catch (const IncompleteRead& failure) {
    throw IncompleteRead(ical::lineAbout(subject(), failure.what()));
  } catch (const std::bad_alloc&) {
    throw IncompleteRead(ical::outOfMemory(subject));
  }
  subDailyCut_ = subDailyCut_ || events.subDailyCut;
  if (events.occurrences.empty() && events.problems.empty()) return;
  if (item.byPlannedStart) {
    std::stable_sort(events.occurrences.begin(), events.occurrences.end(),
                     [](const ical::Occurrence& a, const ical::Occurrence& b) {
                       return a.originalStart < b.originalStart;
                     });
  }
  Outcome outcome{source_, place(), std::move(events.occurrences), {}};
  for (const std::string& problem : events.problems) {
    outcome.lines.push_back(ical::lineAbout(subject(), problem));
  }
  keep(std::move(outcome));
}

void ThreadReading::sayFor(std::size_t source, Place place, std::string line) {
  kept_.push_back({source, std::move(place), {}, {std::move(line)}});
}

void ThreadReading::keep(Outcome outcome) {
  for (const ical::Occurrence& occurrence : outcome.occurrences) subDaily_ += occurrence.subDaily;
  kept_.push_back(std::move(outcome));
  if (subDaily_ > ical::kSubDailyTrimAt) {
    subDailyCut_ = keepEarliestSubDaily(kept_) || subDailyCut_;
    subDaily_ = std::min(subDaily_, ical::kMaxSubDailyOccurrencesPerRun);
  }
}

}  // namespace quorvel::calendar::linuxstore
