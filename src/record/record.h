// The event record: the JSON object the host reads for each calendar event.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "calendar/calendar.h"

namespace quorvel {

struct EventRecord {
  std::int64_t startsAt = 0;  // milliseconds since the epoch; 0 without a start
  std::int64_t endsAt = 0;    // milliseconds since the epoch; 0 without an end
  std::string title;          // "Busy" when the event has no title
  bool isAllDay = false;
  std::string_view availability;       // availabilityName of the event's code
  std::string_view participantStatus;  // statusName of the user's own attendee

  bool operator==(const EventRecord&) const = default;
};

// "busy", "free", "tentative", "unavailable" for 0 to 3; "notSupported" else.
std::string_view availabilityName(std::int64_t code);

// "pending", "accepted", "declined", "tentative" for 1 to 4; "unknown" else.
std::string_view statusName(std::int64_t code);

// An instant as whole milliseconds since the epoch, truncated toward zero; 0
// when there is no instant. Values beyond the 64-bit range saturate, and a
// not-a-number instant counts as none.
std::int64_t millisecondsOf(std::optional<calendar::Instant> instant);

// Reads the event's start, end, title, all-day flag, availability and
// attendees, in that order, and nothing else.
EventRecord buildRecord(const calendar::Event& event);

// Appends the record to `out` as one compact JSON object, members in record
// order. Bytes of a title that aren't valid UTF-8 become U+FFFD.
void appendRecord(std::string& out, const EventRecord& record);

}  // namespace quorvel
