// The whole run over the Linux store with memory or descriptors running out
// at each allocation or open it makes, in turn: it writes the whole document
// with status 0, or status 5 with its line and nothing on standard output,
// and never crashes. Built into a test program of its own, whose operator
// new, open and openat fail on request (support/faults.h).
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "calendar/linux/store.h"
#include "main/run.h"
#include "support/faults.h"
#include "support/temp_store.h"
#include "support/thunderbird.h"

namespace quorvel::testing {
namespace {

// The store and Thunderbird's calendars in the test's home, on `threads`
// threads: on one, a run allocates and opens in the same order every time.
class StorePlatform final : public calendar::Platform {
 public:
  StorePlatform(std::filesystem::path root, unsigned threads)
      : root_(std::move(root)), threads_(threads) {}
  std::unique_ptr<calendar::CalendarStore> createStore(calendar::Diagnostics lines) override {
    return calendar::linuxstore::createStore(root_, std::move(lines), {threads_},
                                             {.home = root_.parent_path() / "home"});
  }
  bool isOperatingSystemAtLeast(calendar::OperatingSystemVersion) override { return true; }

 private:
  std::filesystem::path root_;
  unsigned threads_;
};

struct Outcome {
  int status = -1;  // 128 + the signal when one ended it
  std::string out;
  std::string err;
  std::size_t calls = 0;    // of the kind counted
  std::string failedOpens;  // the names the failed opens were given, a line each
};

std::string contents(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

// Which calls a run counts and fails.
enum class Calls { allocations, opens };

// One run of the week of 1 June 2026 in a process of its own, as the tool
// runs: nothing a run loads or keeps (zones, a thread's caches) is there
// before it starts.
Outcome runFailing(const TempStore& store, Calls calls, FailingCalls failing,
                   unsigned threads = 1) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::FILE* told = std::tmpfile();
  const pid_t child = ::fork();
  if (child == 0) {
    StorePlatform platform(store.root(), threads);
    const std::vector<std::string> args = {"quorvel-calendar", "1780272000000", "1780876800000"};
    calls == Calls::allocations ? startFailingAllocations(failing) : startFailingOpens(failing);
    int status = 0;
    try {
      status = run(args, platform, {fileno(out), fileno(err)});
    } catch (...) {
      std::abort();  // as in the tool, where nothing is left to catch it
    }
    const std::size_t counted =
        calls == Calls::allocations ? stopFailingAllocations() : stopFailingOpens();
    const std::string failedOpens = failedOpenNames();
    std::fprintf(told, "%zu %s", counted, failedOpens.c_str());
    std::fflush(told);
    ::_exit(status);
  }
  int waitStatus = 0;
  ::waitpid(child, &waitStatus, 0);
  Outcome outcome;
  outcome.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
  outcome.out = contents(out);
  outcome.err = contents(err);
  const std::string said = contents(told);
  outcome.calls = std::strtoull(said.c_str(), nullptr, 10);
  if (const std::size_t space = said.find(' '); space != std::string::npos) {
    outcome.failedOpens = said.substr(space + 1);
  }
  for (std::FILE* file : {out, err, told}) std::fclose(file);
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
  // A weekly lunch in Thunderbird, one of them moved.
  ThunderbirdProfile(store.dataHome() / "home",
                     "user_pref(\"calendar.registry.t.type\", \"storage\");\n"
                     "user_pref(\"calendar.registry.t.uri\", \"moz-storage-calendar://\");\n")
      .sql("local.sqlite",
           "INSERT INTO cal_events (cal_id, id, title, flags, event_start, event_start_tz,"
           " event_end, event_end_tz, recurrence_id, recurrence_id_tz) VALUES"
           " ('t', 'lunch', 'Lunch', 16, 1779962400000000, 'Europe/Berlin', 1779966000000000,"
           " 'Europe/Berlin', NULL, NULL),"
           " ('t', 'lunch', 'Lunch (moved)', 0, 1780578000000000, 'Europe/Berlin',"
           " 1780581600000000, 'Europe/Berlin', 1780567200000000, 'Europe/Berlin');\n"
           "INSERT INTO cal_recurrence VALUES ('lunch', 't', 'RRULE:FREQ=WEEKLY;COUNT=3');\n");
}

// Each run with calls of the kind failing, from the first to the last one a
// whole run makes (`every` apart), alone and from there on, ends with the
// whole document or with status 5, nothing on standard output and its line
// last, which `check` looks at too.
void failEachCall(const TempStore& store, Calls calls, unsigned threads, std::size_t every,
                  const std::function<void(const Outcome&, const std::string&)>& check) {
  const Outcome whole = runFailing(store, calls, {}, threads);
  ASSERT_EQ(whole.status, 0) << whole.err;
  ASSERT_GT(whole.calls, 10u);
  ASSERT_NE(whole.out.find("Stand-up (moved)"), std::string::npos);
  ASSERT_NE(whole.out.find("Lunch (moved)"), std::string::npos);

  const std::string incomplete = "quorvel-calendar: the calendar could not be read completely: ";
  for (std::size_t n = 1; n <= whole.calls; n += every) {
    for (const bool onward : {false, true}) {
      const Outcome run = runFailing(store, calls, {n, onward}, threads);
      const std::string where = "call " + std::to_string(n) + (onward ? " on" : " alone");
      if (run.status == 0) {
        if (threads == 1) {
          EXPECT_EQ(run.err, whole.err) << where;
        }
        EXPECT_EQ(run.out, whole.out) << where;
        continue;
      }
      ASSERT_EQ(run.status, 5) << where << "\n" << run.err;
      EXPECT_EQ(run.out, "") << where;
      const std::size_t last = run.err.rfind(incomplete);
      ASSERT_TRUE(last != std::string::npos && run.err.find('\n', last) == run.err.size() - 1)
          << where << "\n"
          << run.err;
      check(run, run.err.substr(last + incomplete.size()));
    }
  }
}

TEST(Faults, MemoryRunningOutAtEachAllocationEndsInTheWholeDocumentOrStatusFive) {
  ::setenv("TZ", "Europe/Berlin", 1);
  const TempStore store;
  fill(store);
  failEachCall(store, Calls::allocations, 1, 1, [](const Outcome&, const std::string& said) {
    EXPECT_TRUE(said.ends_with("out of memory\n")) << said;
  });
}

// On two reading threads, memory may run out on either; so as not to take
// long, every 17th allocation.
// `store` with two batches of files and more, so that two threads read.
void fillForTwoThreads(const TempStore& store) {
  fill(store);
  for (int i = 0; i < 150; ++i) {
    store.write("many/" + std::to_string(i) + ".ics",
                calendarOf(eventOf("DTSTART;TZID=Asia/Tokyo:20260602T1000" +
                                   std::to_string(10 + i % 50) + "\n")));
  }
}

TEST(Faults, MemoryRunningOutOnAReadingThreadEndsInTheWholeDocumentOrStatusFive) {
  ::setenv("TZ", "Europe/Berlin", 1);
  const TempStore store;
  fillForTwoThreads(store);
  failEachCall(store, Calls::allocations, 2, 17, [](const Outcome&, const std::string& said) {
    EXPECT_TRUE(said.ends_with("out of memory\n")) << said;
  });
}

// Wherever the run opens something (the store's folder, a calendar's folder,
// an `addresses` file, a calendar file, a zone file, Thunderbird's profiles,
// settings and databases) and finds no
// descriptor, it fails, naming what it couldn't open. (The access check
// tells nothing from a folder it can't open for want of a descriptor, and
// leaves the failure to the read.)
TEST(Faults, DescriptorsRunningOutAtEachOpenEndInTheWholeDocumentOrStatusFive) {
  ::setenv("TZ", "Europe/Berlin", 1);
  const TempStore store;
  fill(store);
  failEachCall(store, Calls::opens, 1, 1, [](const Outcome& run, const std::string& said) {
    // A folder or file by its path; a zone file of an event's by its path
    // after the calendar file's.
    bool named = false;
    std::size_t from = 0;
    for (std::size_t end; (end = run.failedOpens.find('\n', from)) != std::string::npos;
         from = end + 1) {
      const std::string name = run.failedOpens.substr(from, end - from);
      const std::string tail = name + ": Too many open files\n";
      named = named || said == tail || said.ends_with("/" + tail) ||
              (name.starts_with("/") && said.ends_with(".ics: " + tail));
    }
    EXPECT_TRUE(named) << said << " for " << run.failedOpens;
  });
}

// The same on two reading threads, either of which may find no descriptor
// (and which failure is met first is theirs to decide).
TEST(Faults, DescriptorsRunningOutOnAReadingThreadEndInTheWholeDocumentOrStatusFive) {
  ::setenv("TZ", "Europe/Berlin", 1);
  const TempStore store;
  fillForTwoThreads(store);
  failEachCall(store, Calls::opens, 2, 1, [](const Outcome&, const std::string& said) {
    EXPECT_TRUE(said.ends_with(": Too many open files\n")) << said;
  });
}

}  // namespace
}  // namespace quorvel::testing
