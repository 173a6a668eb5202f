// The macOS platform: the system calendar, through EventKit.
//
// Decisions:
// - Lifetime: the framework may fail when its store is released before the
//   objects it handed out, so every predicate, event and attendee wrapper holds
//   a strong reference to the store until it is itself destroyed.
// - Values: every date, string and number is copied into a C++ type before it
//   leaves the wrapper, and every entry point runs in an autorelease pool of its
//   own, so nothing the framework autoreleases outlives the call. Strings are
//   converted to UTF-8 with lossy conversion allowed: a character UTF-8 can't
//   hold (an unpaired surrogate) is altered rather than the whole title lost,
//   and a NUL inside a title doesn't cut it short.
// - Access: the full-access request where the system has it (macOS 14), the
//   older request for the entity type below that. The handler the framework
//   calls, on a queue of its choosing, holds its own copy of the completion.
//   A store the framework could not create refuses access at once rather than
//   leave the run waiting for a decision that would never come.
// - The window: one with a not-a-number bound, or whose start is not before its
//   end, holds nothing and is never queried, as on Linux. Bounds beyond the
//   framework's own range of dates (infinities included) are clamped to
//   `distantPast` / `distantFuture`. The framework searches at most four years
//   from the start; a longer window is not split, so it covers its first four
//   years only.
// - Matching and order: the framework documents neither its order nor its
//   exact rule at the window's edges, so its result is held to the calendar
//   layer's rule (calendar/window.h), as every back end's is: an event is kept
//   when it starts before the window's end and ends after its start (an
//   instant when start <= it < end), an all-day event matched up to the
//   second after its 23:59:59 end; the kept events are ordered by start, then
//   end, keeping the framework's order among equals. nil from the fetch is no
//   events.
#import <EventKit/EventKit.h>
#import <Foundation/Foundation.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "calendar/calendar.h"
#include "calendar/window.h"

#if !__has_feature(objc_arc)
#error "eventkit/store.mm must be compiled with -fobjc-arc"
#endif

namespace quorvel::calendar {
namespace {

std::string utf8Of(NSString* text) {
  if (text == nil) return {};
  NSData* bytes = [text dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:YES];
  if (bytes == nil || bytes.length == 0) return {};
  return std::string(static_cast<const char*>(bytes.bytes), bytes.length);
}

std::optional<Instant> instantOf(NSDate* date) {
  if (date == nil) return std::nullopt;
  return Instant{date.timeIntervalSince1970};
}

std::optional<AccessError> accessErrorOf(NSError* error) {
  if (error == nil) return std::nullopt;
  return AccessError{utf8Of(error.localizedDescription)};
}

// The framework's handler for `completion`. The block keeps a copy of it for as
// long as the framework keeps the block.
EKEventStoreRequestAccessCompletionHandler handlerFor(AccessCompletion completion) {
  return ^(BOOL granted, NSError* error) {
    @autoreleasepool {
      completion(static_cast<bool>(granted), accessErrorOf(error));
    }
  };
}

class EventKitParticipant final : public Participant {
 public:
  EventKitParticipant(EKEventStore* store, EKParticipant* participant)
      : store_(store), participant_(participant) {}
  ~EventKitParticipant() override {
    @autoreleasepool {
      participant_ = nil;
      store_ = nil;
    }
  }

  bool isCurrentUser() const override {
    @autoreleasepool {
      return participant_.currentUser;
    }
  }
  std::int64_t participantStatus() const override {
    @autoreleasepool {
      return static_cast<std::int64_t>(participant_.participantStatus);
    }
  }

 private:
  EKEventStore* store_;
  EKParticipant* participant_;
};

class EventKitEvent final : public Event {
 public:
  EventKitEvent(EKEventStore* store, EKEvent* event) : store_(store), event_(event) {}
  ~EventKitEvent() override {
    @autoreleasepool {
      event_ = nil;
      store_ = nil;
    }
  }

  std::optional<Instant> startDate() const override {
    @autoreleasepool {
      return instantOf(event_.startDate);
    }
  }
  std::optional<Instant> endDate() const override {
    @autoreleasepool {
      return instantOf(event_.endDate);
    }
  }
  std::optional<std::string> title() const override {
    @autoreleasepool {
      NSString* title = event_.title;
      if (title == nil) return std::nullopt;
      return utf8Of(title);
    }
  }
  bool isAllDay() const override {
    @autoreleasepool {
      return event_.allDay;
    }
  }
  std::int64_t availability() const override {
    @autoreleasepool {
      return static_cast<std::int64_t>(event_.availability);
    }
  }
  std::optional<Participants> attendees() const override {
    @autoreleasepool {
      NSArray<EKParticipant*>* attendees = event_.attendees;
      if (attendees == nil) return std::nullopt;
      Participants participants;
      participants.reserve(attendees.count);
      for (EKParticipant* attendee in attendees) {
        participants.push_back(std::make_unique<EventKitParticipant>(store_, attendee));
      }
      return participants;
    }
  }

 private:
  EKEventStore* store_;
  EKEvent* event_;
};

class EventKitPredicate final : public Predicate {
 public:
  // A nil `predicate` stands for a window that holds nothing.
  EventKitPredicate(EKEventStore* store, NSPredicate* predicate, Window window)
      : store_(store), predicate_(predicate), window_(window) {}
  ~EventKitPredicate() override {
    @autoreleasepool {
      predicate_ = nil;
      store_ = nil;
    }
  }

  NSPredicate* predicate() const { return predicate_; }
  const Window& window() const { return window_; }

 private:
  EKEventStore* store_;
  NSPredicate* predicate_;
  Window window_;
};

class EventKitStore final : public CalendarStore {
 public:
  EventKitStore() {
    @autoreleasepool {
      store_ = [[EKEventStore alloc] init];
    }
  }
  ~EventKitStore() override {
    @autoreleasepool {
      store_ = nil;
    }
  }

  void requestFullAccessToEvents(AccessCompletion completion) override {
    @autoreleasepool {
      if (store_ == nil) {
        refuseWithoutStore(completion);
        return;
      }
      if (@available(macOS 14.0, *)) {
        [store_ requestFullAccessToEventsWithCompletion:handlerFor(std::move(completion))];
      } else {
        requestWithEntityType(EKEntityTypeEvent, std::move(completion));
      }
    }
  }

  void requestAccess(EntityType entityType, AccessCompletion completion) override {
    @autoreleasepool {
      if (store_ == nil) {
        refuseWithoutStore(completion);
        return;
      }
      requestWithEntityType(
          entityType == EntityType::reminder ? EKEntityTypeReminder : EKEntityTypeEvent,
          std::move(completion));
    }
  }

  std::unique_ptr<Predicate> predicateForEvents(Instant start, Instant end) override {
    @autoreleasepool {
      double from = start.secondsSince1970;
      double to = end.secondsSince1970;
      // Also false when either bound is not a number.
      if (!(from < to)) return std::make_unique<EventKitPredicate>(store_, nil, Window{from, to});
      const double earliest = NSDate.distantPast.timeIntervalSince1970;
      const double latest = NSDate.distantFuture.timeIntervalSince1970;
      from = std::clamp(from, earliest, latest);
      to = std::clamp(to, earliest, latest);
      if (!(from < to)) return std::make_unique<EventKitPredicate>(store_, nil, Window{from, to});
      NSPredicate* predicate =
          [store_ predicateForEventsWithStartDate:[NSDate dateWithTimeIntervalSince1970:from]
                                          endDate:[NSDate dateWithTimeIntervalSince1970:to]
                                        calendars:nil];
      return std::make_unique<EventKitPredicate>(store_, predicate, Window{from, to});
    }
  }

  Events eventsMatching(const Predicate& predicate) override {
    @autoreleasepool {
      const auto& query = static_cast<const EventKitPredicate&>(predicate);
      if (query.predicate() == nil) return {};
      NSArray<EKEvent*>* found = [store_ eventsMatchingPredicate:query.predicate()];
      if (found == nil) return {};

      struct Found {
        double start;
        double end;
        EKEvent* event;
      };
      std::vector<Found> kept;
      kept.reserve(found.count);
      for (EKEvent* event in found) {
        const double start = instantOf(event.startDate).value_or(Instant{}).secondsSince1970;
        const double end = instantOf(event.endDate).value_or(Instant{}).secondsSince1970;
        if (overlaps(query.window(), start, coveredTo(end, event.allDay))) {
          kept.push_back({start, end, event});
        }
      }
      putInListingOrder(kept, [](const Found& each) { return std::pair{each.start, each.end}; });
      Events events;
      events.reserve(kept.size());
      for (const Found& each : kept) {
        events.push_back(std::make_unique<EventKitEvent>(store_, each.event));
      }
      return events;
    }
  }

 private:
  // The request of macOS 12 and 13, deprecated from macOS 14 on, where it is
  // only reached for an explicit request of this form.
  void requestWithEntityType(EKEntityType entityType, AccessCompletion completion) {
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
    [store_ requestAccessToEntityType:entityType completion:handlerFor(std::move(completion))];
#pragma clang diagnostic pop
  }

  static void refuseWithoutStore(const AccessCompletion& completion) {
    completion(false, AccessError{"the system calendar store could not be opened"});
  }

  EKEventStore* store_;
};

class MacPlatform final : public Platform {
 public:
  // The system calendar reports nothing it skipped.
  std::unique_ptr<CalendarStore> createStore(Diagnostics) override {
    return std::make_unique<EventKitStore>();
  }

  bool isOperatingSystemAtLeast(OperatingSystemVersion version) override {
    @autoreleasepool {
      const NSOperatingSystemVersion wanted{static_cast<NSInteger>(version.major),
                                            static_cast<NSInteger>(version.minor),
                                            static_cast<NSInteger>(version.patch)};
      return [NSProcessInfo.processInfo isOperatingSystemAtLeastVersion:wanted];
    }
  }
};

}  // namespace

Platform& systemPlatform() {
  static MacPlatform platform;
  return platform;
}

}  // namespace quorvel::calendar
