// Fuzzes the path from iCalendar text and a window to the listed events.
// The first four bytes choose the window: a start within 2020 to 2199, and a
// length of up to 8191 hours (about 341 days), so that a text of daily events
// filling -max_len stays far from the per-input timeout. The rest is the
// file's text. Every occurrence must lie in the window.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "calendar/ical/expand.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A zone with daylight-saving changes, for floating and all-day times.
  setenv("TZ", "America/New_York", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const double start = 1577836800.0 + (data[0] | data[1] << 8) * 86400.0;
  const double length = (data[2] | (data[3] & 0x1f) << 8) * 3600.0;
  const std::string text(reinterpret_cast<const char*>(data) + 4, size - 4);
  const quorvel::calendar::Window window{start, start + length};

  const auto found = quorvel::calendar::ical::eventsInText(text, window, {"me@example.org"});
  for (const auto& occurrence : found.occurrences) {
    if (!occurrence.details || occurrence.coveredTo < occurrence.start) std::abort();
    if (!quorvel::calendar::overlaps(window, occurrence.start, occurrence.coveredTo)) {
      std::abort();
    }
  }
  return 0;
}
