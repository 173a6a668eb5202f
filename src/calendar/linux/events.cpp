#include "calendar/linux/events.h"

#include <utility>

namespace quorvel::calendar::linuxstore {
namespace {

std::int64_t platformCode(ical::Participation answer) {
  using ical::Participation;
  switch (answer) {
    case Participation::needsAction:
      return 1;
    case Participation::accepted:
      return 2;
    case Participation::declined:
      return 3;
    case Participation::tentative:
      return 4;
    case Participation::delegated:
      return 5;
    case Participation::completed:
      return 6;
    case Participation::inProcess:
      return 7;
  }
  return 0;
}

std::int64_t platformCode(ical::Availability availability) {
  using ical::Availability;
  switch (availability) {
    case Availability::busy:
      return 0;
    case Availability::free:
      return 1;
    case Availability::tentative:
      return 2;
    case Availability::unavailable:
      return 3;
  }
  return -1;
}

class OccurrenceParticipant final : public Participant {
 public:
  explicit OccurrenceParticipant(const ical::EventDetails::ShownAttendee& attendee)
      : attendee_(attendee) {}
  bool isCurrentUser() const override { return attendee_.isCurrentUser; }
  std::int64_t participantStatus() const override { return platformCode(attendee_.status); }

 private:
  ical::EventDetails::ShownAttendee attendee_;
};

class OccurrenceEvent final : public Event {
 public:
  explicit OccurrenceEvent(ical::Occurrence occurrence) : occurrence_(std::move(occurrence)) {}

  std::optional<Instant> startDate() const override {
    return Instant{static_cast<double>(occurrence_.start)};
  }
  std::optional<Instant> endDate() const override {
    return Instant{static_cast<double>(occurrence_.end)};
  }
  std::optional<std::string> title() const override { return occurrence_.details->title; }
  bool isAllDay() const override { return occurrence_.details->isAllDay; }
  std::int64_t availability() const override {
    return platformCode(occurrence_.details->availability);
  }
  std::optional<Participants> attendees() const override {
    const auto& attendees = occurrence_.details->attendees;
    if (!attendees) return std::nullopt;
    Participants participants;
    participants.reserve(attendees->size());
    for (const auto& attendee : *attendees) {
      participants.push_back(std::make_unique<OccurrenceParticipant>(attendee));
    }
    return participants;
  }

 private:
  ical::Occurrence occurrence_;
};

}  // namespace

std::unique_ptr<Event> eventOf(ical::Occurrence occurrence) {
  return std::make_unique<OccurrenceEvent>(std::move(occurrence));
}

}  // namespace quorvel::calendar::linuxstore
