// The access request and its decision, as a run sees them.
#include "calendar/access.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "support/captured_run.h"

namespace quorvel::calendar {
namespace {

// One request, in the form the system supports (full access from macOS 14
// on). Its decision comes from a thread of the platform's and ends the run or
// lets it go on; a later, contrary delivery changes nothing.
TEST(Access, OneRequestDecidesTheRun) {
  const std::tuple<OperatingSystemVersion, bool, std::optional<AccessError>, std::string,
                   std::string>
      cases[] = {
          {{14, 0, 0}, false, std::nullopt, "full", "calendar access denied\n"},
          {{13, 99, 99}, false, AccessError{"The user said no."}, "events", "The user said no.\n"},
          {{12, 7, 1}, false, AccessError{""}, "events", "\n"},
          {{15, 2, 0}, true, AccessError{"ignored"}, "full", ""}};
  for (const auto& [version, granted, error, request, line] : cases) {
    testing::FakeCalendar calendar;
    calendar.systemVersion = version;
    std::thread platform;
    calendar.decide = [&, granted = granted, error = error](AccessCompletion completion) {
      platform = std::thread([=] {
        completion(granted, error);
        completion(!granted, std::nullopt);
      });
    };
    const auto result = testing::runCaptured({"q", "0", "1"}, calendar);
    platform.join();
    EXPECT_EQ(calendar.requests, std::vector<std::string>{request}) << line;
    EXPECT_EQ(result.status, granted ? 0 : 3) << line;
    EXPECT_EQ(result.out, granted ? "[]" : "") << line;
    EXPECT_EQ(result.err, line);
  }
}

}  // namespace
}  // namespace quorvel::calendar
