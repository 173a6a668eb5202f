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
#include <map>

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
                      StdoutMode output = StdoutMode::capture, bool unprivileged = false,
                      std::map<std::string, std::string> environment = {}) {
  ProcessOptions options;
  options.environment = std::move(environment);
  options.environment["XDG_DATA_HOME"] = store.dataHome().string();
  options.environment["TZ"] = "UTC";
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

// A store folder that is absent is empty; one that can't be read refuses
// access, with the reason.
TEST(LinuxCli, TheStoreFolderDecidesAccess) {
  const std::pair<std::function<void(const fs::path&)>, std::string> cases[] = {
      {[](const fs::path&) {}, ""},
      {[](const fs::path& root) { std::ofstream(root) << "not a folder"; }, "Not a directory"},
      {[](const fs::path& root) { fs::create_directory_symlink("calendars", root); },
       "Too many levels of symbolic links"},
  };
  for (const auto& [make, reason] : cases) {
    const TempStore store;
    fs::remove(store.root());
    make(store.root());
    const ProcessResult result = runTool(store, {"0", "1"});
    EXPECT_EQ(result.status, reason.empty() ? 0 : 3) << reason;
    EXPECT_EQ(result.out, reason.empty() ? "[]" : "") << reason;
    EXPECT_EQ(result.err, reason.empty() ? ""
                                         : "cannot read the calendar folder " +
                                               store.root().string() + ": " + reason + "\n");
  }
}

TEST(LinuxCli, AFailedWriteIsNeverReportedAsSuccess) {
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
TEST(LinuxCli, HostileFilesAreSkippedAndGoodEventsStillListed) {
  const TempStore store;
  const std::string good = calendarOf(eventOf("SUMMARY:good\nDTSTART:20260302T100000Z\n"));
  store.write("cal/good.ics", good);
  store.write("cal/garbage.ics", std::string("\x00\xff\xfe garbage \x01\x02\n\r\n", 18));
  store.write("cal/empty.ics", "");
  store.write("cal/truncated.ics", good.substr(0, good.size() - 40));
  store.write("cal/no-end.ics", good.substr(0, good.size() - 15));
  // Sparse: one byte over the limit costs no disk.
  const fs::path huge = store.write("cal/huge.ics", good);
  fs::resize_file(huge, (std::uintmax_t{64} << 20) + 1);
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
  // good.ics, no-end.ics and stray-end.ics; truncated.ics ends inside its
  // only event.
  EXPECT_EQ(nlohmann::json::parse(result.out).size(), 3u);
  std::string expected;
  for (const char* line :
       {"cal/empty.ics: holds no iCalendar data, skipped", "cal/fifo.ics: not a regular file",
        "cal/garbage.ics: holds no iCalendar data, skipped", "cal/huge.ics: larger than 64 MiB",
        "cal/loop.ics: Too many levels of symbolic links",
        "cal/no-end.ics: ends inside a component (no END line)",
        "cal/truncated.ics: ends inside a component (no END line)",
        "cal/truncated.ics: event 1 is cut short (the text ends before its END), skipped",
        "cal/unreadable.ics: Permission denied", "looping: Too many levels of symbolic links"}) {
    expected += "quorvel-calendar: " + store.root().string() + "/" + line + "\n";
  }
  EXPECT_EQ(result.err, expected);
  char events[4096];
  EXPECT_EQ(::read(watch, events, sizeof events), -1) << "the FIFO was opened";
  ::close(watch);
}

// Four years of a daily event, about 190 KB, through a 4 KB non-blocking
// pipe that the host drains a byte at a time.
TEST(LinuxCli, ANonBlockingOutputWithASlowReaderGetsTheWholeDocument) {
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
TEST(LinuxCli, ListsAtMostTheEarliestTenThousandSubDailyOccurrences) {
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
