// The built tool over iCalendar stores, run as a host runs it.
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "support/process.h"
#include "support/temp_store.h"

namespace quorvel::testing {
namespace {

ProcessResult runTool(const std::vector<std::string>& args, const TempStore& store,
                      const std::string& zone = "UTC", StdoutMode output = StdoutMode::capture) {
  std::vector<std::string> argv = {toolPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions options;
  options.environment = {{"XDG_DATA_HOME", store.dataHome().string()}, {"TZ", zone}};
  options.output = output;
  return runProcess(argv, options);
}

TEST(IcsCli, AMissingStoreGivesExactlyAnEmptyArray) {
  for (const bool dangling : {false, true}) {
    const TempStore store;
    std::filesystem::remove(store.root());
    if (dangling) std::filesystem::create_directory_symlink("nowhere", store.root());
    const ProcessResult result = runTool({"0", "1e15"}, store);
    EXPECT_EQ(result.status, 0) << dangling;
    EXPECT_EQ(result.out, "[]") << dangling;
    EXPECT_EQ(result.err, "") << dangling;
  }
}

// One event of each kind of time, in a store with two calendars. Expected
// values are worked out from the zones' offsets on 2 March 2026: New York
// UTC-5, Tokyo UTC+9, Berlin UTC+1, and the file's own zone UTC+5:30.
TEST(IcsCli, ListsEveryKindOfTimeInStartOrderUnderTwoZones) {
  const TempStore store;
  store.write("work/addresses", "me@example.org\n");
  store.write(
      "work/utc.ics",
      calendarOf(eventOf("SUMMARY:Review\nDTSTART:20260302T150000Z\nDTEND:20260302T160000Z\n"
                         "ATTENDEE;PARTSTAT=DECLINED:mailto:boss@example.org\n"
                         "ATTENDEE;PARTSTAT=ACCEPTED:mailto:me@example.org\n")));
  store.write(
      "work/kolkata.ics",
      calendarOf("BEGIN:VTIMEZONE\nTZID:Office Time\nBEGIN:STANDARD\nDTSTART:19700101T000000\n"
                 "TZOFFSETFROM:+0530\nTZOFFSETTO:+0530\nEND:STANDARD\nEND:VTIMEZONE\n" +
                 eventOf("SUMMARY:Sync\nDTSTART;TZID=Office Time:20260302T100000\nDURATION:PT30M\n"
                         "X-MICROSOFT-CDO-BUSYSTATUS:TENTATIVE\n")));
  store.write("work/berlin.ics",
              calendarOf(eventOf("DTSTART;TZID=Europe/Berlin:20260302T100000\nDTEND;TZID=Europe/"
                                 "Berlin:20260302T110000\n")));
  store.write(
      "home/floating.ics",
      calendarOf(eventOf(
          "SUMMARY:Gym\nDTSTART:20260302T090000\nDTEND:20260302T100000\nTRANSP:TRANSPARENT\n")));
  store.write(
      "home/trip.ics",
      calendarOf(eventOf("SUMMARY:Trip\nDTSTART;VALUE=DATE:20260303\nDTEND;VALUE=DATE:20260305\n"
                         "X-MICROSOFT-CDO-BUSYSTATUS:OOF\n")));

  const auto record = [](std::int64_t start, std::int64_t end, const char* title, bool allDay,
                         const char* availability, const char* status) {
    return nlohmann::json{{"startsAt", start},
                          {"endsAt", end},
                          {"title", title},
                          {"isAllDay", allDay},
                          {"availability", availability},
                          {"participantStatus", status}};
  };
  const auto sync = record(1772425800000, 1772427600000, "Sync", false, "tentative", "unknown");
  const auto berlin = record(1772442000000, 1772445600000, "Busy", false, "busy", "unknown");
  const auto review = record(1772463600000, 1772467200000, "Review", false, "busy", "accepted");
  const struct {
    const char* zone;
    nlohmann::json expected;
  } cases[] = {
      {"America/New_York",
       {sync, berlin, record(1772460000000, 1772463600000, "Gym", false, "free", "unknown"), review,
        record(1772514000000, 1772686799000, "Trip", true, "unavailable", "unknown")}},
      {"Asia/Tokyo",
       {record(1772409600000, 1772413200000, "Gym", false, "free", "unknown"), sync, berlin, review,
        record(1772463600000, 1772636399000, "Trip", true, "unavailable", "unknown")}},
  };
  for (const auto& c : cases) {
    // 1 March to 8 March, UTC.
    const ProcessResult result = runTool({"1772323200000", "1772928000000"}, store, c.zone);
    EXPECT_EQ(result.status, 0) << c.zone;
    EXPECT_EQ(result.err, "") << c.zone;
    EXPECT_EQ(nlohmann::json::parse(result.out), c.expected) << c.zone;
    EXPECT_NE(result.out.back(), '\n');
  }
}

TEST(IcsCli, AFailedWriteIsNeverReportedAsSuccess) {
  const TempStore store;
  const struct {
    StdoutMode mode;
    std::string reason;
  } cases[] = {
      {StdoutMode::closed, "Bad file descriptor"},
      {StdoutMode::full, "No space left on device"},
      {StdoutMode::brokenPipe, "Broken pipe"},
  };
  for (const auto& c : cases) {
    const ProcessResult result = runTool({"0", "1"}, store, "UTC", c.mode);
    EXPECT_EQ(result.status, 4) << c.reason;
    EXPECT_EQ(result.err, "quorvel-calendar: cannot write the events: " + c.reason + "\n");
  }
}

TEST(IcsCli, AStoreThatCannotBeReadRefusesAccess) {
  const struct {
    const char* what;
    std::function<void(const TempStore&)> make;
    std::string reason;
  } cases[] = {
      {"a plain file",
       [](const TempStore& store) {
         std::filesystem::remove(store.root());
         std::ofstream(store.root()) << "not a folder";
       },
       "Not a directory"},
      {"a symlink loop",
       [](const TempStore& store) {
         std::filesystem::remove(store.root());
         std::filesystem::create_directory_symlink("calendars", store.root());
       },
       "Too many levels of symbolic links"},
  };
  for (const auto& c : cases) {
    const TempStore store;
    c.make(store);
    const ProcessResult result = runTool({"0", "1"}, store);
    EXPECT_EQ(result.status, 3) << c.what;
    EXPECT_EQ(result.out, "") << c.what;
    EXPECT_EQ(result.err,
              "cannot read the calendar folder " + store.root().string() + ": " + c.reason + "\n")
        << c.what;
  }
}

// Runs the tool over `store` as an unprivileged user, since permission bits
// don't bind root: a copy of the tool beside the store, where that user can
// run it whatever the permissions of the build folder.
ProcessResult runUnprivileged(const TempStore& store, const std::vector<std::string>& args) {
  ProcessOptions options;
  options.environment = {{"XDG_DATA_HOME", store.dataHome().string()}, {"TZ", "UTC"}};
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) throw std::runtime_error("no user nobody");
    options.userId = static_cast<int>(nobody->pw_uid);
    options.groupId = static_cast<int>(nobody->pw_gid);
  }
  const std::filesystem::path tool = store.dataHome() / "quorvel-calendar";
  std::filesystem::copy_file(toolPath(), tool);
  std::filesystem::permissions(store.dataHome(), std::filesystem::perms::all);
  std::vector<std::string> argv = {tool.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProcess(argv, options);
}

TEST(IcsCli, AFolderTheUserMayNotReadRefusesAccess) {
  const TempStore store;
  store.write("work/event.ics", "");
  std::filesystem::permissions(store.root(), std::filesystem::perms::none);
  const ProcessResult result = runUnprivileged(store, {"0", "1"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "cannot read the calendar folder " + store.root().string() + ": Permission denied\n");
}

// Files no calendar program should have to read: each is skipped with one
// line naming it, every good event around them is listed, and the run ends
// as usual, at once.
TEST(IcsCli, HostileFilesAreSkippedAndGoodEventsStillListed) {
  const TempStore store;
  const std::string good = eventOf("SUMMARY:good\nDTSTART:20260302T100000Z\n");
  store.write("cal/good.ics", calendarOf(good));
  store.write("cal/garbage.ics", std::string("\x00\xff\xfe garbage \x01\x02\n\r\n", 18));
  store.write("cal/empty.ics", "");
  store.write("cal/zone.ics", calendarOf(eventOf("SUMMARY:zone\nDTSTART;TZID=Atlantis Standard "
                                                 "Time:20260302T100000\n")));
  store.write("cal/truncated.ics", calendarOf(good).substr(0, calendarOf(good).size() - 40));
  store.write("cal/no-end.ics", calendarOf(good).substr(0, calendarOf(good).size() - 15));
  store.write("cal/long-line.ics", calendarOf(eventOf("SUMMARY:" + std::string(5 << 20, 'x') +
                                                      "\nDTSTART:20260302T110000Z\n")));
  std::string nested;
  for (int i = 0; i < 20000; ++i) nested += "BEGIN:VEVENT\r\n";
  store.write("cal/nested.ics", "BEGIN:VCALENDAR\r\n" + nested);
  store.write("cal/mixed.ics", calendarOf(eventOf("SUMMARY:no start\n") + good +
                                          eventOf("DTSTART:20260230T100000Z\n")));
  // libical warns on its own stderr about this one; nothing of it may show.
  store.write("cal/stray-end.ics", "END:VEVENT\r\n" + calendarOf(good));
  store.write("cal/unreadable.ics", calendarOf(good));
  std::filesystem::permissions(store.root() / "cal/unreadable.ics", std::filesystem::perms::none);
  ASSERT_EQ(::mkfifo((store.root() / "cal/fifo.ics").c_str(), 0644), 0);
  std::filesystem::create_symlink("loop.ics", store.root() / "cal/loop.ics");
  std::filesystem::create_directory_symlink("looping", store.root() / "looping");

  const ProcessResult result = runUnprivileged(store, {"1772409600000", "1772496000000"});
  EXPECT_EQ(result.status, 0);
  std::vector<std::string> titles;
  for (const auto& record : nlohmann::json::parse(result.out)) {
    titles.push_back(record["title"].get<std::string>().substr(0, 8));
  }
  // good.ics, mixed.ics, no-end.ics and stray-end.ics at 10:00 (truncated.ics
  // ends inside its only event), the long line at 11:00, and the unknown zone
  // read as local time (UTC here) at 10:00 too.
  EXPECT_EQ(titles, (std::vector<std::string>{"good", "good", "good", "good", "zone", "xxxxxxxx"}));

  const std::string cal = store.root().string() + "/cal/";
  const std::string prefix = "quorvel-calendar: ";
  EXPECT_EQ(result.err,
            prefix + cal + "empty.ics: holds no iCalendar data, skipped\n" + prefix + cal +
                "fifo.ics: not a regular file\n" + prefix + cal +
                "garbage.ics: holds no iCalendar data, skipped\n" + prefix + cal +
                "loop.ics: Too many levels of symbolic links\n" + prefix + cal +
                "mixed.ics: event 1 has no start (DTSTART), skipped\n" + prefix + cal +
                "mixed.ics: event 3 has an invalid start (DTSTART), skipped\n" + prefix + cal +
                "nested.ics: nests components more than 64 deep, skipped\n" + prefix + cal +
                "no-end.ics: ends inside a component (no END line)\n" + prefix + cal +
                "truncated.ics: ends inside a component (no END line)\n" + prefix + cal +
                "truncated.ics: event 1 is cut short (the text ends before its END), "
                "skipped\n" +
                prefix + cal + "unreadable.ics: Permission denied\n" + prefix + cal +
                "zone.ics: event 1 has an unknown time zone \"Atlantis Standard "
                "Time\"; its times are read as local time\n" +
                prefix + store.root().string() + "/looping: Too many levels of symbolic links\n");
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
    char start[16];
    std::snprintf(start, sizeof start, "20260302T%02d%02d00", 8 + i / 60, i % 60);
    store.write(
        "cal" + std::to_string(i % 2) + "/" + std::to_string(i) + ".ics",
        calendarOf(eventOf("DTSTART;TZID=" + std::string(zones[i % 4]) + ":" + start + "\n")));
  }
  const std::vector<std::string> week = {"1772323200000", "1772928000000"};
  const ProcessResult whole = runTool(week, store);
  ASSERT_EQ(whole.status, 0);
  ASSERT_EQ(nlohmann::json::parse(whole.out).size(), std::size_t{kFiles});
  for (const int limit : {3, 4, 5}) {
    ProcessOptions options;
    options.environment = {{"XDG_DATA_HOME", store.dataHome().string()},
                           {"TZ", "UTC"},
                           {"LD_PRELOAD", QUORVEL_FILE_LIMIT_LIBRARY},
                           {"QUORVEL_TEST_FILE_LIMIT", std::to_string(limit)}};
    const ProcessResult result = runProcess({toolPath(), week[0], week[1]}, options);
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

TEST(IcsCli, ANonBlockingOutputWithASlowReaderGetsTheWholeDocument) {
  const TempStore store;
  store.write("cal/daily.ics", calendarOf(eventOf("DTSTART:20260302T100000Z\nRRULE:FREQ=DAILY\n")));
  // Four years of a daily event: about 190 KB, through a 4 KB pipe.
  const ProcessResult result =
      runTool({"1772409600000", "1898640000000"}, store, "UTC", StdoutMode::slowNonBlockingPipe);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(nlohmann::json::parse(result.out).size(), 1461u);
}

// Opening a FIFO would let a writer waiting on it go: it is looked at, never
// opened.
TEST(IcsCli, AFifoNamedIcsIsNeverOpened) {
  const TempStore store;
  store.write("cal/good.ics", calendarOf(eventOf("DTSTART:20260302T100000Z\n")));
  const std::filesystem::path fifo = store.root() / "cal/pipe.ics";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, fifo.c_str(), IN_OPEN), 0);
  const ProcessResult result = runTool({"1772409600000", "1772496000000"}, store);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(nlohmann::json::parse(result.out).size(), 1u);
  EXPECT_EQ(result.err, "quorvel-calendar: " + fifo.string() + ": not a regular file\n");
  char events[4096];
  EXPECT_EQ(::read(watch, events, sizeof events), -1) << "the FIFO was opened";
  ::close(watch);
}

// Twelve minutely series of 1000 occurrences, each a second after the one
// before: the run lists the earliest 10000 of their 12000 (833 whole minutes
// of twelve, and four of the 834th), and says so once.
TEST(IcsCli, ListsAtMostTheEarliestTenThousandSubDailyOccurrences) {
  const TempStore store;
  for (int i = 0; i < 12; ++i) {
    store.write("cal/" + std::to_string(i) + ".ics",
                calendarOf(eventOf("DTSTART:20260302T0000" + std::to_string(10 + i) +
                                   "Z\nRRULE:FREQ=MINUTELY;COUNT=1000\n")));
  }
  const ProcessResult result = runTool({"1772409600000", "1772496000000"}, store);
  EXPECT_EQ(result.status, 0);
  const nlohmann::json listed = nlohmann::json::parse(result.out);
  ASSERT_EQ(listed.size(), 10000u);
  EXPECT_EQ(listed.back()["startsAt"], (1772409600 + 833 * 60 + 13) * std::int64_t{1000});
  EXPECT_EQ(result.err,
            "quorvel-calendar: events that repeat more often than daily have more than 10000 "
            "occurrences in the window; only the earliest 10000 are listed\n");
}

TEST(IcsCli, TheSampleStoreShowsItsEvents) {
  ProcessOptions options;
  options.environment = {{"XDG_DATA_HOME", QUORVEL_SAMPLE_DIR}, {"TZ", "Europe/Berlin"}};
  const ProcessResult result = runProcess({toolPath(), "1780272000000", "1780876800000"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_GE(nlohmann::json::parse(result.out).size(), 6u);
}

}  // namespace
}  // namespace quorvel::testing
