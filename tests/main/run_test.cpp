#include "main/run.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "support/captured_run.h"

namespace quorvel {
namespace {

using testing::FakeCalendar;
using testing::runCaptured;

// The two times take the C library's number forms, whole, in the "C" locale
// whatever the process's; anything else gives the usage line before the
// calendar is touched. The window goes on as divided, even reversed.
TEST(Run, ReadsTwoTimesOrGivesTheUsageLine) {
  std::setlocale(LC_ALL, "de_DE.UTF-8");  // a decimal comma, where the machine has it
  FakeCalendar calendar;
  EXPECT_EQ(runCaptured({"q", "12.5", "-0x1p3"}, calendar).out, "[]");
  EXPECT_EQ(calendar.window, std::pair(0.0125, -0.008));
  EXPECT_EQ(runCaptured({"q", "+1e3", "-Infinity"}, calendar).status, 0);
  EXPECT_EQ(calendar.window, std::pair(1.0, -HUGE_VAL));
  const std::vector<std::string> rejected[] = {{"q"},
                                               {"q", "0", "1", "2"},
                                               {"/other", "1abc", "1"},
                                               {"q", "", "1"},
                                               {"q", " 1", "2"},
                                               {"q", "1", "2 "},
                                               {"q", "1", "12,5"},
                                               {"q", std::string("1\0", 2), "2"}};
  for (const auto& args : rejected) {
    FakeCalendar untouched;
    const auto result = runCaptured(args, untouched);
    EXPECT_EQ(result.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "usage: quorvel-calendar <startMs> <endMs>\n");
    EXPECT_TRUE(untouched.requests.empty() && !untouched.window);
  }
  std::setlocale(LC_ALL, "C");
}

// What the store says about what it skipped goes to the run's error handle,
// before the line of a failed read; a failed read writes no document.
TEST(Run, PassesTheStoresLinesOnAndFailsAnIncompleteRead) {
  FakeCalendar calendar;
  calendar.events.resize(1);
  calendar.skipped = {"quorvel-calendar: a.ics: bad", "quorvel-calendar: b.ics: worse"};
  const auto listed = runCaptured({"q", "0", "1"}, calendar);
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.out.find(R"("title":"Busy")"), std::string::npos);
  EXPECT_EQ(listed.err, "quorvel-calendar: a.ics: bad\nquorvel-calendar: b.ics: worse\n");

  calendar.fetchFailure = "/usr/share/zoneinfo/Asia/Tokyo: Too many open files";
  const auto failed = runCaptured({"q", "0", "1"}, calendar);
  EXPECT_EQ(failed.status, 5);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err, listed.err +
                            "quorvel-calendar: the calendar could not be read completely: "
                            "/usr/share/zoneinfo/Asia/Tokyo: Too many open files\n");
}

}  // namespace
}  // namespace quorvel
