#include "calendar/access.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <latch>
#include <thread>

#include "main/exit_status.h"
#include "main/run.h"
#include "support/captured_run.h"
#include "support/fake_platform.h"

namespace quorvel::calendar {
namespace {

using testing::FakeCalendar;
using testing::FakePlatform;

using Outcome = testing::CapturedRun;

Outcome runWith(FakeCalendar& calendar) {
  return testing::runCaptured({"q", "0", "1000"}, calendar);
}

std::function<void(AccessCompletion)> deliver(bool granted, std::optional<AccessError> error) {
  return [=](AccessCompletion completion) { completion(granted, error); };
}

TEST(Access, RefusalEndsTheRunWithTheReason) {
  const struct {
    std::optional<AccessError> error;
    std::string line;
  } cases[] = {
      {std::nullopt, "calendar access denied\n"},
      {AccessError{"The user said no."}, "The user said no.\n"},
      {AccessError{""}, "\n"},
  };
  for (const auto& c : cases) {
    FakeCalendar calendar;
    calendar.decide = deliver(false, c.error);
    const Outcome outcome = runWith(calendar);
    EXPECT_EQ(outcome.status, kExitAccessRefused);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, c.line);
    // Nothing is read from the store after a refusal.
    EXPECT_EQ(calendar.calls, (std::vector<std::string>{"createStore", "requestFullAccess"}));
  }
}

TEST(Access, AGrantWithAnErrorIsStillAGrant) {
  FakeCalendar calendar;
  calendar.decide = deliver(true, AccessError{"ignored"});
  const Outcome outcome = runWith(calendar);
  EXPECT_EQ(outcome.status, kExitSuccess);
  EXPECT_EQ(outcome.out, "[]");
  EXPECT_EQ(outcome.err, "");
}

TEST(Access, SendsOneRequestInTheFormTheSystemSupports) {
  const struct {
    OperatingSystemVersion version;
    std::string request;
  } cases[] = {
      {{12, 7, 1}, "requestAccess(0)"},   {{13, 6, 0}, "requestAccess(0)"},
      {{13, 99, 99}, "requestAccess(0)"}, {{14, 0, 0}, "requestFullAccess"},
      {{14, 0, 1}, "requestFullAccess"},  {{15, 2, 0}, "requestFullAccess"},
  };
  for (const auto& c : cases) {
    FakeCalendar calendar;
    calendar.systemVersion = c.version;
    runWith(calendar);
    EXPECT_EQ(calendar.calls,
              (std::vector<std::string>{"createStore", c.request, "predicate", "fetch"}))
        << c.version.major << "." << c.version.minor << "." << c.version.patch;
  }
}

// The decision delivered from a thread of the platform's, no earlier than the
// end of the request call: the main thread is then about to wait, or waiting.
TEST(Access, WaitsForADecisionFromAnotherThread) {
  for (const bool granted : {true, false}) {
    FakeCalendar calendar;
    std::latch requestDone(1);
    std::thread platformThread;
    calendar.decide = [&](AccessCompletion completion) {
      platformThread = std::thread([&requestDone, granted, completion] {
        requestDone.wait();
        completion(granted, std::nullopt);
      });
      requestDone.count_down();
    };
    const Outcome outcome = runWith(calendar);
    platformThread.join();
    EXPECT_EQ(outcome.status, granted ? kExitSuccess : kExitAccessRefused);
    EXPECT_EQ(outcome.out, granted ? "[]" : "");
    EXPECT_EQ(outcome.err, granted ? "" : "calendar access denied\n");
  }
}

// The platform may call the handler again, late, or from two threads at once:
// the first decision stands and the shared state outlives the run.
TEST(Access, LaterDeliveriesChangeNothing) {
  FakeCalendar calendar;
  AccessCompletion kept;
  calendar.decide = [&](AccessCompletion completion) {
    kept = completion;
    std::thread first([completion] { completion(false, AccessError{"first"}); });
    std::thread second([completion] { completion(true, std::nullopt); });
    first.join();
    second.join();
  };
  const Outcome outcome = runWith(calendar);
  // Either thread may win, but exactly one decision is read, whole.
  EXPECT_TRUE((outcome.status == kExitAccessRefused && outcome.err == "first\n") ||
              (outcome.status == kExitSuccess && outcome.err.empty()));

  // After the run: the handler's state is still there to be ignored.
  std::thread late([kept] { kept(true, AccessError{"late"}); });
  late.join();
}

TEST(Access, TheFirstOfTwoSequentialDeliveriesStands) {
  auto decision = std::make_shared<AccessDecision>();
  const AccessCompletion completion = completionFor(decision);
  completion(false, AccessError{"no"});
  completion(true, std::nullopt);
  decision->sema.acquire();  // returns at once: the signal was counted
  EXPECT_FALSE(decision->granted);
  EXPECT_EQ(refusalMessage(*decision), "no");
  EXPECT_FALSE(decision->sema.try_acquire());  // signalled only once
}

}  // namespace
}  // namespace quorvel::calendar
