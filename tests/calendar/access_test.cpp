// The access request and its decision, as a run sees them.
#include "calendar/access.h"

#include <gtest/gtest.h>

#include <tuple>

#include <latch>
#include <thread>

#include "support/captured_run.h"

namespace quorvel::calendar {
namespace {

using testing::FakeCalendar;
using testing::runCaptured;

TEST(Access, TheDecisionEndsOrAllowsTheRun) {
  const std::tuple<bool, std::optional<AccessError>, std::string> cases[] = {
      {false, std::nullopt, "calendar access denied\n"},
      {false, AccessError{"The user said no."}, "The user said no.\n"},
      {false, AccessError{""}, "\n"},
      {true, AccessError{"ignored"}, ""}};
  for (const auto& [granted, error, line] : cases) {
    FakeCalendar calendar;
    calendar.decide = [&](AccessCompletion completion) { completion(granted, error); };
    const auto result = runCaptured({"q", "0", "1"}, calendar);
    EXPECT_EQ(result.status, granted ? 0 : 3) << line;
    EXPECT_EQ(result.out, granted ? "[]" : "") << line;
    EXPECT_EQ(result.err, line);
  }
}

TEST(Access, AsksOnceInTheFormTheSystemSupports) {
  const std::pair<OperatingSystemVersion, std::string> cases[] = {{{12, 7, 1}, "events"},
                                                                  {{13, 99, 99}, "events"},
                                                                  {{14, 0, 0}, "full"},
                                                                  {{14, 0, 1}, "full"},
                                                                  {{15, 2, 0}, "full"}};
  for (const auto& [version, request] : cases) {
    FakeCalendar calendar;
    calendar.systemVersion = version;
    runCaptured({"q", "0", "1"}, calendar);
    EXPECT_EQ(calendar.requests, std::vector<std::string>{request}) << version.minor;
  }
}

// The decision comes from a thread of the platform's, no earlier than the end
// of the request call (the run then waits, or is about to); later deliveries,
// even after the run, change nothing.
TEST(Access, WaitsForTheFirstDecisionFromAnotherThread) {
  for (const bool granted : {true, false}) {
    FakeCalendar calendar;
    std::latch requestDone(1);
    std::thread platform;
    calendar.decide = [&](AccessCompletion completion) {
      platform = std::thread([&requestDone, granted, completion] {
        requestDone.wait();
        completion(granted, AccessError{"first"});
        completion(!granted, AccessError{"second"});
      });
      requestDone.count_down();
    };
    const auto result = runCaptured({"q", "0", "1"}, calendar);
    platform.join();
    EXPECT_EQ(result.status, granted ? 0 : 3);
    EXPECT_EQ(result.err, granted ? "" : "first\n");
  }
}

}  // namespace
}  // namespace quorvel::calendar
