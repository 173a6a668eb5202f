#include "record/record.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace quorvel {

std::string_view availabilityName(std::int64_t code) {
  switch (code) {
    case 0:
      return "busy";
    case 1:
      return "free";
    case 2:
      return "tentative";
    case 3:
      return "unavailable";
    default:
      return "notSupported";
  }
}

std::string_view statusName(std::int64_t code) {
  switch (code) {
    case 1:
      return "pending";
    case 2:
      return "accepted";
    case 3:
      return "declined";
    case 4:
      return "tentative";
    default:
      return "unknown";
  }
}

std::int64_t millisecondsOf(std::optional<calendar::Instant> instant) {
  if (!instant) return 0;
  const double ms = instant->secondsSince1970 * 1000.0;
  if (std::isnan(ms)) return 0;
  // 2^63 is exactly representable; -2^63 is the smallest value that converts.
  constexpr double kLimit = 9223372036854775808.0;
  if (ms >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (ms < -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(ms);  // truncates toward zero
}

namespace {

// The status of the first attendee who is the user; later ones don't count,
// even when the first one's status means nothing.
std::string_view ownParticipantStatus(const std::optional<calendar::Participants>& attendees) {
  if (!attendees) return statusName(0);
  for (const auto& participant : *attendees) {
    if (participant->isCurrentUser()) return statusName(participant->participantStatus());
  }
  return statusName(0);
}

}  // namespace

EventRecord buildRecord(const calendar::Event& event) {
  EventRecord record;
  record.startsAt = millisecondsOf(event.startDate());
  record.endsAt = millisecondsOf(event.endDate());
  record.title = event.title().value_or("Busy");
  record.isAllDay = event.isAllDay();
  record.availability = availabilityName(event.availability());
  record.participantStatus = ownParticipantStatus(event.attendees());
  return record;
}

void appendRecord(std::string& out, const EventRecord& record) {
  // The numbers, flags and names are written here; the title, the one member
  // that needs escaping (and U+FFFD for bytes that aren't UTF-8), by the JSON
  // library's writer.
  const auto number = [&out](std::int64_t value) {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, written.ptr);
  };
  out += "{\"startsAt\":";
  number(record.startsAt);
  out += ",\"endsAt\":";
  number(record.endsAt);
  out += ",\"title\":";
  out +=
      nlohmann::json(record.title).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  out += record.isAllDay ? ",\"isAllDay\":true" : ",\"isAllDay\":false";
  out.append(",\"availability\":\"").append(record.availability);
  out.append("\",\"participantStatus\":\"").append(record.participantStatus) += "\"}";
}

}  // namespace quorvel
