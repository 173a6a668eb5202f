#include "calendar/window.h"

namespace quorvel::calendar {

bool overlaps(const Window& window, double start, double coveredTo) {
  if (coveredTo > start) return start < window.end && coveredTo > window.start;
  return window.start <= start && start < window.end;
}

}  // namespace quorvel::calendar
