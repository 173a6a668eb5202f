#include "main/run.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "main/exit_status.h"
#include "main/output.h"
#include "support/captured_run.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

using testing::contentsOf;
using testing::FakeCalendar;
using testing::FakePlatform;
using Captured = testing::CapturedRun;

constexpr std::string_view kUsage = "usage: quorvel-calendar <startMs> <endMs>\n";

Captured runWith(const std::vector<std::string>& args, FakeCalendar& calendar) {
  return testing::runCaptured(args, calendar);
}

TEST(Run, RejectsBadArgumentsBeforeTouchingTheCalendar) {
  const std::vector<std::string> cases[] = {
      {"quorvel-calendar"},
      {"quorvel-calendar", "0"},
      {"quorvel-calendar", "0", "1", "2"},
      {"quorvel-calendar", "abc", "1"},
      {"quorvel-calendar", "0", "abc"},
      {"/some/other/name", "x", "1"},  // the usage line never uses argv[0]
  };
  for (const auto& args : cases) {
    FakeCalendar calendar;
    const Captured result = runWith(args, calendar);
    EXPECT_EQ(result.status, kExitUsage);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kUsage);
    EXPECT_TRUE(calendar.calls.empty());
  }
}

TEST(Run, WritesExactlyAnEmptyArrayForNoEvents) {
  FakeCalendar calendar;
  const Captured result = runWith({"q", "0", "86400000"}, calendar);
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(result.out, "[]");
  EXPECT_EQ(result.err, "");
}

TEST(Run, PassesTheWindowOnAsDividedEvenWhenReversed) {
  FakeCalendar calendar;
  runWith({"q", "12.5", "-0x1p3"}, calendar);
  ASSERT_EQ(calendar.predicates.size(), 1u);
  EXPECT_EQ(calendar.predicates[0].first, 12.5 / 1000.0);
  EXPECT_EQ(calendar.predicates[0].second, -8 / 1000.0);
}

TEST(Run, KeepsThePlatformsOrderOfEvents) {
  FakeCalendar calendar;
  calendar.events.push_back({30, 40, "later", false, 0, std::nullopt});
  calendar.events.push_back({10, 20, std::nullopt, true, 1, std::nullopt});
  const Captured result = runWith({"q", "0", "1e5"}, calendar);
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(result.out, R"([{"startsAt":30000,"endsAt":40000,"title":"later","isAllDay":false,)"
                        R"("availability":"busy","participantStatus":"unknown"},)"
                        R"({"startsAt":10000,"endsAt":20000,"title":"Busy","isAllDay":true,)"
                        R"("availability":"free","participantStatus":"unknown"}])");
  EXPECT_EQ(calendar.calls[0], "createStore");
}

TEST(Run, ReportsAnOutputThatCannotBeWritten) {
  FakeCalendar calendar;
  FakePlatform platform(calendar);
  std::FILE* err = std::tmpfile();
  // A descriptor open for reading only: every write to it fails.
  const int readOnly = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(readOnly, 0);
  const int status = run({"q", "0", "1"}, platform, {readOnly, fileno(err)});
  ::close(readOnly);
  EXPECT_EQ(status, kExitOutputFailed);
  EXPECT_EQ(contentsOf(err), "quorvel-calendar: cannot write the events: Bad file descriptor\n");
}

// More than a pipe holds at once: the write has to go on after short writes.
TEST(Run, AStoreThatCannotBeReadCompletelyWritesNoDocument) {
  FakeCalendar calendar;
  calendar.events.resize(2);
  calendar.fetchFailure = "/usr/share/zoneinfo/Asia/Tokyo: Too many open files";
  const Captured result = runWith({"quorvel-calendar", "0", "1"}, calendar);
  EXPECT_EQ(result.status, kExitIncomplete);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "quorvel-calendar: the calendar could not be read completely: "
            "/usr/share/zoneinfo/Asia/Tokyo: Too many open files\n");
}

TEST(WriteAll, DeliversEveryByteThroughAPipe) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string payload(1 << 20, 'x');
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;)
      received.append(buffer, got);
  });
  EXPECT_EQ(writeAll(fds[1], payload), 0);
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);
  EXPECT_EQ(received, payload);
  EXPECT_EQ(writeAll(-1, "x"), EBADF);
}

}  // namespace
}  // namespace quorvel
