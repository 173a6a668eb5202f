// A calendar platform the tests program: the events it holds, the system
// version it reports, how it delivers the access decision and what its fetch
// says or fails with.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "calendar/calendar.h"

namespace quorvel::testing {

struct FakeAttendee {
  bool isCurrentUser = false;
  std::int64_t status = 0;
};

struct FakeEventData {
  std::optional<double> start;  // seconds since the epoch
  std::optional<double> end;
  std::optional<std::string> title;
  bool isAllDay = false;
  std::int64_t availability = 0;
  std::optional<std::vector<FakeAttendee>> attendees;
};

struct FakeCalendar {
  std::vector<FakeEventData> events;
  calendar::OperatingSystemVersion systemVersion{14, 0, 0};
  // Receives the completion handler of each access request; grants at once
  // unless a test says otherwise.
  std::function<void(calendar::AccessCompletion)> decide =
      [](calendar::AccessCompletion completion) { completion(true, std::nullopt); };
  // Set: the fetch fails with this reason, as a store that can't be read
  // completely does.
  std::optional<std::string> fetchFailure;
  // Lines the fetch reports about what it skipped.
  std::vector<std::string> skipped;

  // The access requests sent ("full" or "events"), and the window asked for.
  std::vector<std::string> requests;
  std::optional<std::pair<double, double>> window;
};

class FakeEvent final : public calendar::Event {
 public:
  explicit FakeEvent(FakeEventData data) : data_(std::move(data)) {}
  std::optional<calendar::Instant> startDate() const override { return instant(data_.start); }
  std::optional<calendar::Instant> endDate() const override { return instant(data_.end); }
  std::optional<std::string> title() const override { return data_.title; }
  bool isAllDay() const override { return data_.isAllDay; }
  std::int64_t availability() const override { return data_.availability; }
  std::optional<calendar::Participants> attendees() const override {
    struct Attendee final : calendar::Participant {
      explicit Attendee(FakeAttendee data) : data(data) {}
      bool isCurrentUser() const override { return data.isCurrentUser; }
      std::int64_t participantStatus() const override { return data.status; }
      FakeAttendee data;
    };
    if (!data_.attendees) return std::nullopt;
    calendar::Participants participants;
    for (const FakeAttendee& a : *data_.attendees)
      participants.push_back(std::make_unique<Attendee>(a));
    return participants;
  }

 private:
  static std::optional<calendar::Instant> instant(std::optional<double> seconds) {
    return seconds ? std::optional(calendar::Instant{*seconds}) : std::nullopt;
  }
  FakeEventData data_;
};

class FakeStore final : public calendar::CalendarStore {
 public:
  FakeStore(FakeCalendar& calendar, calendar::Diagnostics diagnostics)
      : calendar_(calendar), diagnostics_(std::move(diagnostics)) {}

  void requestFullAccessToEvents(calendar::AccessCompletion completion) override {
    calendar_.requests.push_back("full");
    calendar_.decide(std::move(completion));
  }
  void requestAccess(calendar::EntityType type, calendar::AccessCompletion completion) override {
    calendar_.requests.push_back(type == calendar::EntityType::event ? "events" : "reminders");
    calendar_.decide(std::move(completion));
  }
  std::unique_ptr<calendar::Predicate> predicateForEvents(calendar::Instant start,
                                                          calendar::Instant end) override {
    calendar_.window.emplace(start.secondsSince1970, end.secondsSince1970);
    return std::make_unique<calendar::Predicate>();
  }
  calendar::Events eventsMatching(const calendar::Predicate&) override {
    for (const std::string& line : calendar_.skipped) diagnostics_(line);
    if (calendar_.fetchFailure) throw calendar::IncompleteRead(*calendar_.fetchFailure);
    calendar::Events events;
    for (const FakeEventData& data : calendar_.events) {
      events.push_back(std::make_unique<FakeEvent>(data));
    }
    return events;
  }

 private:
  FakeCalendar& calendar_;
  calendar::Diagnostics diagnostics_;
};

class FakePlatform final : public calendar::Platform {
 public:
  explicit FakePlatform(FakeCalendar& calendar) : calendar_(calendar) {}
  std::unique_ptr<calendar::CalendarStore> createStore(calendar::Diagnostics diagnostics) override {
    return std::make_unique<FakeStore>(calendar_, std::move(diagnostics));
  }
  bool isOperatingSystemAtLeast(calendar::OperatingSystemVersion v) override {
    const auto& have = calendar_.systemVersion;
    return std::tie(have.major, have.minor, have.patch) >= std::tie(v.major, v.minor, v.patch);
  }

 private:
  FakeCalendar& calendar_;
};

}  // namespace quorvel::testing
