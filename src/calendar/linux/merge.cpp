#include "calendar/linux/merge.h"

#include <algorithm>
#include <iterator>
#include <tuple>

#include "calendar/ical/expand.h"
#include "calendar/window.h"

namespace quorvel::calendar::linuxstore {

bool storeOrder(const Outcome& a, const Outcome& b) {
  return std::tie(a.source, a.place) < std::tie(b.source, b.place);
}

bool keepEarliestSubDaily(std::vector<Outcome>& outcomes) {
  std::vector<Outcome*> ordered;
  ordered.reserve(outcomes.size());
  for (Outcome& outcome : outcomes) ordered.push_back(&outcome);
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const Outcome* a, const Outcome* b) { return storeOrder(*a, *b); });
  std::vector<std::vector<ical::Occurrence>*> lists;
  lists.reserve(ordered.size());
  for (Outcome* outcome : ordered) lists.push_back(&outcome->occurrences);
  return ical::keepEarliestSubDaily(lists);
}

Listing merge(std::vector<Outcome> outcomes, bool subDailyCut) {
  // In the store's order, so that the output doesn't depend on the order
  // the system lists folders in or on which thread read which item.
  std::stable_sort(outcomes.begin(), outcomes.end(), storeOrder);
  if (keepEarliestSubDaily(outcomes)) subDailyCut = true;

  Listing listing;
  for (Outcome& outcome : outcomes) {
    std::move(outcome.lines.begin(), outcome.lines.end(), std::back_inserter(listing.lines));
    std::move(outcome.occurrences.begin(), outcome.occurrences.end(),
              std::back_inserter(listing.occurrences));
  }
  if (subDailyCut) {
    const std::string cap = std::to_string(ical::kMaxSubDailyOccurrencesPerRun);
    listing.lines.push_back("events that repeat more often than daily have more than " + cap +
                            " occurrences in the window; only the earliest " + cap + " are listed");
  }
  // Equal times keep their place in the store.
  putInListingOrder(listing.occurrences, [](const ical::Occurrence& o) {
    return std::pair{o.start, o.end};
  });
  return listing;
}

}  // namespace quorvel::calendar::linuxstore
