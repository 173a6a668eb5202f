// The built tool over iCalendar stores, run as a host runs it.
#include <fcntl.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "support/process.h"
#include "support/temp_store.h"

namespace quorvel::testing {
namespace fs = std::filesystem;
namespace {

// 2 March 2026, UTC, in milliseconds.
const std::vector<std::string> kMonday = {"1772409600000", "1772496000000"};

// Runs the tool over `store` in UTC; unprivileged, as a user whom
// permission bits bind (root's aren't): then a copy of the tool beside the
// store, which that user can run whatever the permissions of the build folder.
ProcessResult runTool(const TempStore& store, const std::vector<std::string>& times,
                      StdoutMode output = StdoutMode::capture, bool unprivileged = false) {
  ProcessOptions options;
  options.environment = {{"XDG_DATA_HOME", store.dataHome().string()}, {"TZ", "UTC"}};
  options.output = output;
  std::string tool = toolPath();
  if (unprivileged && ::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    options.userId = static_cast<int>(nobody->pw_uid);
    options.groupId = static_cast<int>(nobody->pw_gid);
    tool = store.dataHome() / "quorvel-calendar";
    fs::copy_file(toolPath(), tool);
    fs::permissions(store.dataHome(), fs::perms::all);
  }
  return runProcess({tool, times[0], times[1]}, options);
}

// The store as the documentation shows it, in Berlin's summer time (UTC+2),
// for the week from 1 June 2026.
TEST(IcsCli, ListsTheSampleStoreByteForByte) {
  ProcessOptions options;
  options.environment = {{"XDG_DATA_HOME", QUORVEL_SAMPLE_DIR}, {"TZ", "Europe/Berlin"}};
  const ProcessResult result = runProcess({toolPath(), "1780272000000", "1780876800000"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            R"([{"startsAt":1780299000000,"endsAt":1780299900000,"title":"Team stand-up",)"
            R"("isAllDay":false,"availability":"busy","participantStatus":"accepted"},)"
            R"({"startsAt":1780405200000,"endsAt":1780408800000,"title":"Design review",)"
            R"("isAllDay":false,"availability":"busy","participantStatus":"tentative"},)"
            R"({"startsAt":1780416000000,"endsAt":1780419600000,"title":"Gym",)"
            R"("isAllDay":false,"availability":"free","participantStatus":"unknown"},)"
            R"({"startsAt":1780479000000,"endsAt":1780482600000,)"
            R"("title":"Call with the Mumbai office","isAllDay":false,)"
            R"("availability":"tentative","participantStatus":"pending"},)"
            R"({"startsAt":1780524000000,"endsAt":1780610399000,"title":"Corpus Christi",)"
            R"("isAllDay":true,"availability":"free","participantStatus":"unknown"},)"
            R"({"startsAt":1780552800000,"endsAt":1780560000000,"title":"Busy",)"
            R"("isAllDay":false,"availability":"busy","participantStatus":"unknown"},)"
            R"({"startsAt":1780610400000,"endsAt":1780869599000,"title":"Trip to Lisbon",)"
            R"("isAllDay":true,"availability":"unavailable","participantStatus":"unknown"}])");
}

// A store folder that is absent is empty; one that can't be read refuses
// access, with the reason.
TEST(IcsCli, TheStoreFolderDecidesAccess) {
  const std::pair<std::function<void(const fs::path&)>, std::string> cases[] = {
      {[](const fs::path&) {}, ""},
      {[](const fs::path& root) { std::ofstream(root) << "not a folder"; }, "Not a directory"},
      {[](const fs::path& root) { fs::create_directory_symlink("calendars", root); },
       "Too many levels of symbolic links"},
      {[](const fs::path& root) {
         fs::create_directory(root);
         fs::permissions(root, fs::perms::none);
       },
       "Permission denied"},
  };
  for (const auto& [make, reason] : cases) {
    const TempStore store;
    fs::remove(store.root());
    make(store.root());
    const ProcessResult result = runTool(store, {"0", "1"}, StdoutMode::capture, true);
    EXPECT_EQ(result.status, reason.empty() ? 0 : 3) << reason;
    EXPECT_EQ(result.out, reason.empty() ? "[]" : "") << reason;
    EXPECT_EQ(result.err, reason.empty() ? ""
                                         : "cannot read the calendar folder " +
                                               store.root().string() + ": " + reason + "\n");
  }
}

TEST(IcsCli, AFailedWriteIsNeverReportedAsSuccess) {
  const TempStore store;
  const std::pair<StdoutMode, std::string> cases[] = {{StdoutMode::closed, "Bad file descriptor"},
                                                      {StdoutMode::full, "No space left on device"},
                                                      {StdoutMode::brokenPipe, "Broken pipe"}};
  for (const auto& [mode, reason] : cases) {
    const ProcessResult result = runTool(store, {"0", "1"}, mode);
    EXPECT_EQ(result.status, 4) << reason;
    EXPECT_EQ(result.err, "quorvel-calendar: cannot write the events: " + reason + "\n");
  }
}

// Files no calendar program should have to read: each is skipped with one
// line naming it, every good event around them is listed, and the run ends
// as usual, at once. A FIFO is looked at, never opened: opening it would let
// a writer waiting on it go.
TEST(IcsCli, HostileFilesAreSkippedAndGoodEventsStillListed) {
  const TempStore store;
  const std::string good = calendarOf(eventOf("SUMMARY:good\nDTSTART:20260302T100000Z\n"));
  store.write("cal/good.ics", good);
  store.write("cal/garbage.ics", std::string("\x00\xff\xfe garbage \x01\x02\n\r\n", 18));
  store.write("cal/empty.ics", "");
  store.write("cal/zone.ics", calendarOf(eventOf("SUMMARY:zone\nDTSTART;TZID=Atlantis Standard "
                                                 "Time:20260302T100000\n")));
  store.write("cal/truncated.ics", good.substr(0, good.size() - 40));
  store.write("cal/no-end.ics", good.substr(0, good.size() - 15));
  store.write("cal/long-line.ics", calendarOf(eventOf("SUMMARY:" + std::string(5 << 20, 'x') +
                                                      "\nDTSTART:20260302T110000Z\n")));
  // Sparse: one byte over the limit costs no disk.
  const fs::path huge = store.write("cal/huge.ics", good);
  fs::resize_file(huge, (std::uintmax_t{64} << 20) + 1);
  std::string nested;
  for (int i = 0; i < 20000; ++i) nested += "BEGIN:VEVENT\r\n";
  store.write("cal/nested.ics", "BEGIN:VCALENDAR\r\n" + nested);
  store.write("cal/mixed.ics", calendarOf(eventOf("SUMMARY:no start\n") +
                                          eventOf("SUMMARY:good\nDTSTART:20260302T100000Z\n") +
                                          eventOf("DTSTART:20260230T100000Z\n")));
  store.write("cal/stray-end.ics", "END:VEVENT\r\n" + good);
  store.write("cal/unreadable.ics", good);
  fs::permissions(store.root() / "cal/unreadable.ics", fs::perms::none);
  const fs::path fifo = store.root() / "cal/fifo.ics";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(::inotify_add_watch(watch, fifo.c_str(), IN_OPEN), 0);
  fs::create_symlink("loop.ics", store.root() / "cal/loop.ics");
  fs::create_directory_symlink("looping", store.root() / "looping");

  const ProcessResult result = runTool(store, kMonday, StdoutMode::capture, true);
  EXPECT_EQ(result.status, 0);
  std::vector<std::string> titles;
  for (const auto& record : nlohmann::json::parse(result.out)) {
    titles.push_back(record["title"].get<std::string>().substr(0, 8));
  }
  // good.ics, mixed.ics, no-end.ics and stray-end.ics at 10:00 (truncated.ics
  // ends inside its only event), the long line at 11:00, and the unknown zone
  // read as local time (UTC here) at 10:00 too.
  EXPECT_EQ(titles, (std::vector<std::string>{"good", "good", "good", "good", "zone", "xxxxxxxx"}));
  const std::string cal = "quorvel-calendar: " + store.root().string() + "/cal/";
  EXPECT_EQ(result.err,
            cal + "empty.ics: holds no iCalendar data, skipped\n" + cal +
                "fifo.ics: not a regular file\n" + cal +
                "garbage.ics: holds no iCalendar data, skipped\n" + cal +
                "huge.ics: larger than 64 MiB\n" + cal +
                "loop.ics: Too many levels of symbolic links\n" + cal +
                "mixed.ics: event 1 has no start (DTSTART), skipped\n" + cal +
                "mixed.ics: event 3 has an invalid start (DTSTART), skipped\n" + cal +
                "nested.ics: nests components more than 64 deep, skipped\n" + cal +
                "no-end.ics: ends inside a component (no END line)\n" + cal +
                "truncated.ics: ends inside a component (no END line)\n" + cal +
                "truncated.ics: event 1 is cut short (the text ends before its END), skipped\n" +
                cal + "unreadable.ics: Permission denied\n" + cal +
                "zone.ics: event 1 has an unknown time zone \"Atlantis Standard Time\"; its "
                "times are read as local time\n" +
                "quorvel-calendar: " + store.root().string() +
                "/looping: Too many levels of symbolic links\n");
  char events[4096];
  EXPECT_EQ(::read(watch, events, sizeof events), -1) << "the FIFO was opened";
  ::close(watch);
}

// Short of descriptors, a run either lists everything or fails with status
// 5 and writes nothing: never a partial list with status 0, never a refusal
// of access. With 3 descriptors (only the standard ones) the tool can open
// nothing at all; with 4 or 5, its two reading threads may find none free.
TEST(IcsCli, RunningOutOfDescriptorsNeverGivesAPartialList) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers need descriptors of their own";
#endif
  const TempStore store;
  const char* zones[] = {"Europe/Berlin", "Asia/Tokyo", "America/New_York", "Australia/Perth"};
  constexpr int kFiles = 600;  // enough for two reading threads
  for (int i = 0; i < kFiles; ++i) {
    store.write("cal" + std::to_string(i % 2) + "/" + std::to_string(i) + ".ics",
                calendarOf(eventOf("DTSTART;TZID=" + std::string(zones[i % 4]) + ":20260302T" +
                                   std::to_string(100000 + i / 60 * 100 + i % 60) + "\n")));
  }
  const ProcessResult whole = runTool(store, kMonday);
  ASSERT_EQ(whole.status, 0);
  ASSERT_EQ(nlohmann::json::parse(whole.out).size(), std::size_t{kFiles});
  for (const int limit : {3, 4, 5}) {
    ProcessOptions options;
    options.environment = {{"XDG_DATA_HOME", store.dataHome().string()}, {"TZ", "UTC"}};
    options.environment["LD_PRELOAD"] = QUORVEL_FILE_LIMIT_LIBRARY;
    options.environment["QUORVEL_TEST_FILE_LIMIT"] = std::to_string(limit);
    const ProcessResult result = runProcess({toolPath(), kMonday[0], kMonday[1]}, options);
    if (limit == 3 || result.status != 0) {
      EXPECT_EQ(result.status, 5) << limit;
      EXPECT_EQ(result.out, "") << limit;
      EXPECT_TRUE(
          result.err.starts_with("quorvel-calendar: the calendar could not be read completely: "))
          << result.err;
      EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    } else {
      EXPECT_TRUE(result.out == whole.out) << "a partial list with " << limit << " descriptors";
      EXPECT_EQ(result.err.substr(0, 200), "") << limit;
    }
  }
}

// Four years of a daily event, about 190 KB, through a 4 KB non-blocking
// pipe that the host drains a byte at a time.
TEST(IcsCli, ANonBlockingOutputWithASlowReaderGetsTheWholeDocument) {
  const TempStore store;
  store.write("cal/daily.ics", calendarOf(eventOf("DTSTART:20260302T100000Z\nRRULE:FREQ=DAILY\n")));
  const ProcessResult result =
      runTool(store, {kMonday[0], "1898640000000"}, StdoutMode::slowNonBlockingPipe);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(nlohmann::json::parse(result.out).size(), 1461u);
}

// Twelve minutely series of 1000 occurrences, each a second after the one
// before and all ending at half past: the run lists the earliest 10000 of
// their 12000 (833 whole minutes of twelve, and four of the 834th), and says
// so once; eleven of them in one file, the earliest in another.
TEST(IcsCli, ListsAtMostTheEarliestTenThousandSubDailyOccurrences) {
  const TempStore store;
  std::string series;
  for (int i = 0; i < 12; ++i) {
    series = (i > 1 ? series : "") +
             eventOf("DTSTART:20260302T0000" + std::to_string(10 + i) + "Z\nDURATION:PT" +
                     std::to_string(20 - i) + "S\nRRULE:FREQ=MINUTELY;COUNT=1000\n");
    if (i == 0) store.write("cal/b.ics", calendarOf(series));
  }
  store.write("cal/a.ics", calendarOf(series));
  const ProcessResult result = runTool(store, kMonday);
  EXPECT_EQ(result.status, 0);
  const nlohmann::json listed = nlohmann::json::parse(result.out);
  ASSERT_EQ(listed.size(), 10000u);
  EXPECT_EQ(listed.back()["startsAt"], (1772409600 + 833 * 60 + 13) * std::int64_t{1000});
  EXPECT_EQ(result.err,
            "quorvel-calendar: events that repeat more often than daily have more than 10000 "
            "occurrences in the window; only the earliest 10000 are listed\n");
}

}  // namespace
}  // namespace quorvel::testing
