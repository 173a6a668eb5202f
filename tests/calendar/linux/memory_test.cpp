// The whole run over the iCalendar store with memory running out at every
// allocation it makes, in turn: it writes the whole document with status 0,
// or status 5 with its line and nothing on standard output, and never
// crashes. Built into a test program of its own, whose operator new fails on
// request (support/failing_allocations.h).
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "calendar/linux/store.h"
#include "main/run.h"
#include "support/failing_allocations.h"
#include "support/temp_store.h"

namespace quorvel::testing {
namespace {

// The store alone, on one thread, so that a run allocates in the same order
// every time.
class OneThreadPlatform final : public calendar::Platform {
 public:
  explicit OneThreadPlatform(std::filesystem::path root) : root_(std::move(root)) {}
  std::unique_ptr<calendar::CalendarStore> createStore(calendar::Diagnostics lines) override {
    return calendar::linuxstore::createStore(root_, std::move(lines), {1});
  }
  bool isOperatingSystemAtLeast(calendar::OperatingSystemVersion) override { return true; }

 private:
  std::filesystem::path root_;
};

struct Outcome {
  int status = -1;  // 128 + the signal when one ended it
  std::string out;
  std::string err;
  std::size_t allocations = 0;
};

std::string contents(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

// One run of the week of 1 June 2026 in a process of its own, as the tool
// runs: nothing a run loads or keeps (zones, a thread's caches) is there
// before it starts.
Outcome runFailing(const TempStore& store, FailingAllocations failing) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::FILE* counted = std::tmpfile();
  const pid_t child = ::fork();
  if (child == 0) {
    OneThreadPlatform platform(store.root());
    const std::vector<std::string> args = {"quorvel-calendar", "1780272000000", "1780876800000"};
    startFailingAllocations(failing);
    int status = 0;
    try {
      status = run(args, platform, {fileno(out), fileno(err)});
    } catch (...) {
      std::abort();  // as in the tool, where nothing is left to catch it
    }
    const std::size_t allocations = stopFailingAllocations();
    ::write(fileno(counted), &allocations, sizeof allocations);
    ::_exit(status);
  }
  int waitStatus = 0;
  ::waitpid(child, &waitStatus, 0);
  Outcome outcome;
  outcome.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
  outcome.out = contents(out);
  outcome.err = contents(err);
  std::rewind(counted);
  if (std::fread(&outcome.allocations, sizeof outcome.allocations, 1, counted) != 1) {
    outcome.allocations = 0;
  }
  for (std::FILE* file : {out, err, counted}) std::fclose(file);
  return outcome;
}

// Files of every kind the store reads: zones of the file's own, of the tz
// database and Windows names; series with overrides and exceptions,
// attendees, all-day and floating events; and files and values it skips
// with a line.
void fill(const TempStore& store) {
  const std::string office = officeZone();
  store.write("addresses", "me@example.org\n");
  store.write("work/addresses", "mailto:work-me@example.org\n");
  store.write(
      "work/standup.ics",
      calendarOf(office + "BEGIN:VEVENT\nUID:standup\nSUMMARY:Stand-up\n"
                          "DTSTART;TZID=Office:20260504T091500\nDURATION:PT15M\n"
                          "RRULE:FREQ=WEEKLY;BYDAY=MO,WE,FR\nEXDATE;TZID=Office:20260603T091500\n"
                          "ATTENDEE;PARTSTAT=ACCEPTED:mailto:work-me@example.org\nEND:VEVENT\n"
                          "BEGIN:VEVENT\nUID:standup\nRECURRENCE-ID;TZID=Office:20260605T091500\n"
                          "SUMMARY:Stand-up (moved)\nDTSTART;TZID=Office:20260605T140000\n"
                          "DURATION:PT15M\nEND:VEVENT\n"));
  store.write("work/review.ics",
              calendarOf("BEGIN:VEVENT\nUID:review\nSUMMARY:Review \\, plan\n"
                         "DTSTART;TZID=America/New_York:20260602T100000\n"
                         "DTEND;TZID=America/New_York:20260602T110000\n"
                         "X-MICROSOFT-CDO-BUSYSTATUS:TENTATIVE\nEND:VEVENT\n"
                         "BEGIN:VEVENT\nUID:call\nSUMMARY:Call\n"
                         "DTSTART;TZID=W. Europe Standard Time:20260603T160000\n"
                         "DTEND;TZID=W. Europe Standard Time:20260603T163000\n"
                         "ATTENDEE;PARTSTAT=DECLINED:mailto:me@example.org\nEND:VEVENT\n"));
  store.write("personal/days.ics",
              calendarOf("BEGIN:VEVENT\nUID:trip\nSUMMARY:Trip\nDTSTART;VALUE=DATE:20260530\n"
                         "DTEND;VALUE=DATE:20260602\nTRANSP:TRANSPARENT\nEND:VEVENT\n"
                         "BEGIN:VEVENT\nUID:run\nSUMMARY:Run\nDTSTART:20260601T063000\n"
                         "DURATION:PT45M\nRRULE:FREQ=DAILY;COUNT=5\nRDATE:20260607T080000\n"
                         "END:VEVENT\n"
                         "BEGIN:VEVENT\nUID:pulse\nSUMMARY:Pulse\nDTSTART:20260604T120000Z\n"
                         "RRULE:FREQ=HOURLY;COUNT=6\nEXDATE:nonsense\nEND:VEVENT\n"));
  store.write("personal/mars.ics",
              calendarOf("BEGIN:VEVENT\nUID:mars\nSUMMARY:Landing\n"
                         "DTSTART;TZID=Mars/Olympus:20260602T120000\nEND:VEVENT\n"));
  store.write("personal/cut.ics",
              calendarOf("BEGIN:VEVENT\nUID:cut\nDTSTART:20260602T1").substr(0, 80));
}

TEST(MemoryRunningOut, EndsInTheWholeDocumentOrStatusFiveAtEveryAllocation) {
  ::setenv("TZ", "Europe/Berlin", 1);
  const TempStore store;
  fill(store);
  const Outcome whole = runFailing(store, {});
  ASSERT_EQ(whole.status, 0) << whole.err;
  ASSERT_GT(whole.allocations, 100u);
  EXPECT_NE(whole.out.find("Stand-up (moved)"), std::string::npos);

  const std::string incomplete = "quorvel-calendar: the calendar could not be read completely: ";
  for (std::size_t n = 1; n <= whole.allocations; ++n) {
    for (const bool onward : {false, true}) {
      const Outcome run = runFailing(store, {n, onward});
      const std::string where = "allocation " + std::to_string(n) + (onward ? " on" : " alone");
      if (run.status == 0) {
        EXPECT_EQ(run.out, whole.out) << where;
        EXPECT_EQ(run.err, whole.err) << where;
        continue;
      }
      ASSERT_EQ(run.status, 5) << where << "\n" << run.err;
      EXPECT_EQ(run.out, "") << where;
      const std::size_t last = run.err.rfind(incomplete);
      EXPECT_TRUE(last != std::string::npos && run.err.ends_with("out of memory\n") &&
                  run.err.find('\n', last) == run.err.size() - 1)
          << where << "\n"
          << run.err;
    }
  }
}

}  // namespace
}  // namespace quorvel::testing
