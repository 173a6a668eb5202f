// A calendar platform the tests program: the events it holds, the system
// version it reports and how it delivers the access decision; it records what
// the run asked of it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
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

  // What the run did, in order: "createStore", "requestFullAccess",
  // "requestAccess(<type>)", "predicate", "fetch", and the event reads.
  std::vector<std::string> calls;
  std::vector<std::pair<double, double>> predicates;  // start and end, in seconds
};

// Records each read in `calls`, so that tests can see what was read, in
// which order.
class Logged {
 protected:
  explicit Logged(std::vector<std::string>& calls) : calls_(calls) {}
  template <typename T>
  T logged(const char* read, T value) const {
    calls_.push_back(read);
    return value;
  }

 private:
  std::vector<std::string>& calls_;
};

class FakeParticipant final : public calendar::Participant, Logged {
 public:
  FakeParticipant(FakeAttendee data, std::vector<std::string>& calls)
      : Logged(calls), data_(data) {}
  bool isCurrentUser() const override { return logged("isCurrentUser", data_.isCurrentUser); }
  std::int64_t participantStatus() const override {
    return logged("participantStatus", data_.status);
  }

 private:
  FakeAttendee data_;
};

class FakeEvent final : public calendar::Event, Logged {
 public:
  FakeEvent(FakeEventData data, std::vector<std::string>& calls)
      : Logged(calls), data_(std::move(data)), calls_(calls) {}

  std::optional<calendar::Instant> startDate() const override {
    return logged("startDate", instant(data_.start));
  }
  std::optional<calendar::Instant> endDate() const override {
    return logged("endDate", instant(data_.end));
  }
  std::optional<std::string> title() const override { return logged("title", data_.title); }
  bool isAllDay() const override { return logged("isAllDay", data_.isAllDay); }
  std::int64_t availability() const override { return logged("availability", data_.availability); }
  std::optional<calendar::Participants> attendees() const override {
    std::optional<calendar::Participants> participants;
    if (data_.attendees) {
      participants.emplace();
      for (const FakeAttendee& attendee : *data_.attendees) {
        participants->push_back(std::make_unique<FakeParticipant>(attendee, calls_));
      }
    }
    return logged("attendees", std::move(participants));
  }

 private:
  static std::optional<calendar::Instant> instant(std::optional<double> seconds) {
    if (!seconds) return std::nullopt;
    return calendar::Instant{*seconds};
  }

  FakeEventData data_;
  std::vector<std::string>& calls_;
};

class FakeStore final : public calendar::CalendarStore {
 public:
  FakeStore(FakeCalendar& calendar, calendar::Diagnostics diagnostics)
      : calendar_(calendar), diagnostics_(std::move(diagnostics)) {}

  void requestFullAccessToEvents(calendar::AccessCompletion completion) override {
    calendar_.calls.push_back("requestFullAccess");
    calendar_.decide(std::move(completion));
  }
  void requestAccess(calendar::EntityType type, calendar::AccessCompletion completion) override {
    calendar_.calls.push_back("requestAccess(" + std::to_string(static_cast<int>(type)) + ")");
    calendar_.decide(std::move(completion));
  }
  std::unique_ptr<calendar::Predicate> predicateForEvents(calendar::Instant start,
                                                          calendar::Instant end) override {
    calendar_.calls.push_back("predicate");
    calendar_.predicates.emplace_back(start.secondsSince1970, end.secondsSince1970);
    return std::make_unique<calendar::Predicate>();
  }
  calendar::Events eventsMatching(const calendar::Predicate&) override {
    calendar_.calls.push_back("fetch");
    for (const std::string& line : calendar_.skipped) diagnostics_(line);
    if (calendar_.fetchFailure) throw calendar::IncompleteRead(*calendar_.fetchFailure);
    calendar::Events events;
    for (const FakeEventData& data : calendar_.events) {
      events.push_back(std::make_unique<FakeEvent>(data, calendar_.calls));
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
    calendar_.calls.push_back("createStore");
    return std::make_unique<FakeStore>(calendar_, std::move(diagnostics));
  }
  bool isOperatingSystemAtLeast(calendar::OperatingSystemVersion v) override {
    const auto& have = calendar_.systemVersion;
    if (have.major != v.major) return have.major > v.major;
    if (have.minor != v.minor) return have.minor > v.minor;
    return have.patch >= v.patch;
  }

 private:
  FakeCalendar& calendar_;
};

}  // namespace quorvel::testing
