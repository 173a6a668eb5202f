// What a query for a window matches, and the order the matches are listed in:
// one rule for every back end, whatever its store says at the window's edges.
#pragma once

#include <algorithm>
#include <vector>

namespace quorvel::calendar {

// The span of time a query covers, in seconds since the epoch.
struct Window {
  double start = 0;
  double end = 0;
};

// Whether an event covering [start, coveredTo) falls in `window`: it starts
// before the window's end and ends after its start; an instant (an event that
// ends where it starts) counts when start <= it < end.
bool overlaps(const Window& window, double start, double coveredTo);

// The time up to which an event covers: its end, or for an all-day event the
// midnight a second after the 23:59:59 it is shown ending at.
inline double coveredTo(double shownEnd, bool isAllDay) {
  return isAllDay ? shownEnd + 1 : shownEnd;
}

// Whether an event starting at `start` and ending at `end` is listed before
// one at `otherStart`..`otherEnd`: by start, then by end.
inline bool listedBefore(double start, double end, double otherStart, double otherEnd) {
  return start != otherStart ? start < otherStart : end < otherEnd;
}

// Puts `events` in the order they are listed in; events with equal times keep
// the order they came in, the store's own stable key. `times` gives an
// element's start and end as a pair.
template <typename T, typename Times>
void putInListingOrder(std::vector<T>& events, Times times) {
  std::stable_sort(events.begin(), events.end(), [&times](const T& a, const T& b) {
    const auto [aStart, aEnd] = times(a);
    const auto [bStart, bEnd] = times(b);
    return listedBefore(aStart, aEnd, bStart, bEnd);
  });
}

}  // namespace quorvel::calendar
