// What the store keeps of what its sources gave, and the one order it lists
// it in.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "calendar/ical/event.h"
#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore {

// What one item gave, or one line about something that isn't an item, at
// its place in the store: its source's rank among the store's, then its
// place among the source's.
struct Outcome {
  std::size_t source = 0;
  Place place;
  std::vector<ical::Occurrence> occurrences;
  std::vector<std::string> lines;  // whole lines, without the tool's name
};

// The store's order: by source, then by place.
bool storeOrder(const Outcome& a, const Outcome& b);

// Keeps, of the occurrences of sub-daily events among `outcomes`, the
// earliest that a run lists (ical::keepEarliestSubDaily), equal times in the
// store's order; true when some were left out.
bool keepEarliestSubDaily(std::vector<Outcome>& outcomes);

// What the store lists, and says.
struct Listing {
  std::vector<ical::Occurrence> occurrences;  // in the listing's order
  std::vector<std::string> lines;             // in the store's order
};

// Every outcome's occurrences and lines in the store's order; of the
// occurrences of sub-daily events, the run's earliest, with a line when some
// were left out here or before (`subDailyCut`). Occurrences at equal times
// keep the store's order.
Listing merge(std::vector<Outcome> outcomes, bool subDailyCut);

}  // namespace quorvel::calendar::linuxstore
