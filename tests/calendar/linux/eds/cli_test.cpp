// The built tool over GNOME's calendars: Evolution Data Server's own daemons
// on a private session bus (dbus-run-session starts them by D-Bus activation
// and ends them with the bus), with the user's home in a temporary folder.
// Expected answers are worked out by hand from the events below, not taken
// from EDS, whose own expansion gets some of them wrong.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/caldav.h"
#include "support/listing.h"
#include "support/process.h"
#include "support/temp_store.h"

namespace quorvel::testing {
namespace {

namespace fs = std::filesystem;

// 2026-06-01T00:00:00Z to 2026-06-08T00:00:00Z, in milliseconds.
const std::vector<std::string> kWeek = {"1780272000000", "1780876800000"};

// A user's home in a temporary folder: EDS's configuration and data, and a
// store of iCalendar files.
class Home {
 public:
  Home() {
    fs::create_directories(runtime());
    fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directories(sources());
  }

  const fs::path& base() const { return store_.dataHome(); }
  fs::path runtime() const { return base() / "run"; }
  fs::path config() const { return base() / "config"; }
  fs::path sources() const { return config() / "evolution/sources"; }

  // Writes `text` below the store of iCalendar files.
  void writeFile(const std::string& relative, const std::string& text) const {
    store_.write(relative, text);
  }
  // A source's key file; its name is the source's UID.
  void addSource(const std::string& uid, const std::string& keyFile) const {
    std::ofstream(sources() / (uid + ".source")) << keyFile;
  }
  // A calendar of EDS's local back end holding `ics`.
  void addLocalCalendar(const std::string& uid, const std::string& name, const std::string& ics,
                        bool enabled = true, bool selected = true) const {
    addSource(uid, "[Data Source]\nDisplayName=" + name +
                       "\nEnabled=" + (enabled ? "true" : "false") +
                       "\nParent=local-stub\n\n[Calendar]\nBackendName=local\nSelected=" +
                       (selected ? "true" : "false") + "\n");
    writeCalendarData(uid, ics);
  }
  // The data of a calendar of the local back end (`system` is Personal).
  void writeCalendarData(const std::string& uid, const std::string& ics) const {
    const fs::path folder = base() / "evolution/calendar" / uid;
    fs::create_directories(folder);
    std::ofstream(folder / "calendar.ics", std::ios::binary) << ics;
  }

  // The environment of a session in this home, without a session bus.
  std::map<std::string, std::string> environment(const std::string& zone) const {
    return {{"HOME", base().string()},
            {"XDG_CONFIG_HOME", config().string()},
            {"XDG_DATA_HOME", base().string()},
            {"XDG_CACHE_HOME", (base() / "cache").string()},
            {"XDG_RUNTIME_DIR", runtime().string()},
            {"GSETTINGS_BACKEND", "memory"},
            {"DBUS_SESSION_BUS_ADDRESS", ""},
            {"TZ", zone}};
  }

  // The tool in a session of its own, with a private bus and EDS's daemons.
  ProcessResult runInSession(const std::string& zone,
                             const std::vector<std::string>& busOptions = {}) const {
    std::vector<std::string> argv = {QUORVEL_DBUS_RUN_SESSION};
    argv.insert(argv.end(), busOptions.begin(), busOptions.end());
    argv.insert(argv.end(), {"--", toolPath(), kWeek[0], kWeek[1]});
    ProcessOptions options;
    options.environment = environment(zone);
    return runProcess(argv, options);
  }

 private:
  TempStore store_;
};

// The tool's own lines on standard error; the bus and the daemons, which
// share it, write lines of their own.
std::vector<std::string> toolLines(const std::string& err) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < err.size()) {
    const std::size_t end = std::min(err.find('\n', at), err.size());
    std::string line = err.substr(at, end - at);
    if (line.starts_with("quorvel-calendar:")) lines.push_back(std::move(line));
    at = end + 1;
  }
  return lines;
}

// The document, which the tool writes before it exits (and so before the
// daemons' lines at the end of the session), as listing lines
// (support/listing.h).
std::vector<std::string> listed(const ProcessResult& result) {
  std::vector<std::string> events;
  for (const auto& record : nlohmann::json::parse(result.out)) {
    const std::string status = record["participantStatus"];
    const std::string availability = record["availability"];
    events.push_back(described({record["startsAt"], record["endsAt"], record["title"],
                                record["isAllDay"], availability, status}));
  }
  return events;
}

std::string crlf(const std::string& text) {
  std::string result;
  for (const char c : text) {
    if (c == '\n') result.push_back('\r');
    result.push_back(c);
  }
  return result;
}

// Zones and events of every kind, around the week of 1 June 2026. Berlin
// (Outlook's "W. Europe Standard Time") is UTC+2 in June, New York UTC-4,
// "Office Time" UTC+5:30; floating times and dates are in the user's zone.
// Kept in data/eds-work.ics, with line feeds for ends of lines.
std::string work() {
  std::ifstream file(QUORVEL_TEST_DATA_DIR "/eds-work.ics", std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), {}};
  EXPECT_FALSE(text.empty()) << "no test calendar data";
  return crlf(text);
}

// One event in a calendar of its own.
std::string calendarWith(const std::string& uid, const std::string& summary,
                         const std::string& start, const std::string& end) {
  return calendarOf("BEGIN:VEVENT\nUID:" + uid + "\nSUMMARY:" + summary + "\nDTSTART:" + start +
                    "\nDTEND:" + end + "\nEND:VEVENT\n");
}

class EdsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(QUORVEL_DBUS_RUN_SESSION) ||
        !fs::exists("/usr/share/dbus-1/services/org.gnome.evolution.dataserver.Sources5.service")) {
      GTEST_SKIP() << "needs dbus-run-session and Evolution Data Server "
                      "(Debian: dbus evolution-data-server)";
    }
  }
};

// Every enabled calendar (the built-in Personal one, a hidden one), merged
// with the files; the user's addresses from a mail identity's address and
// alias and from the store's `addresses` file. In Tokyo (UTC+9), where
// floating times near the window's edges move across it.
TEST_F(EdsCli, ListsEveryEnabledCalendarWithTheFilesAsWorkedOutByHand) {
  const Home home;
  home.addLocalCalendar("work", "Work", work());
  home.writeCalendarData(
      "system", calendarWith("dentist@test", "Dentist", "20260602T050000Z", "20260602T060000Z"));
  home.addLocalCalendar(
      "quiet", "Quiet",
      calendarWith("quiet@test", "Quiet time", "20260602T050000Z", "20260602T060000Z"), true,
      false);
  home.addLocalCalendar(
      "old", "Old", calendarWith("old@test", "Hidden away", "20260602T070000Z", "20260602T080000Z"),
      false);
  home.addSource("me",
                 "[Data Source]\nDisplayName=Me\nEnabled=true\n\n[Mail Identity]\n"
                 "Address=me@example.com\nAliases=Alias <Alias@Example.net>, "
                 "other@example.net\nName=Me\n");
  home.writeFile("addresses", "files-me@example.org\n");
  home.writeFile("home/gym.ics",
                 calendarWith("gym@test", "Gym", "20260604T120000Z", "20260604T133000Z"));

  const ProcessResult result = home.runInSession("Asia/Tokyo");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(toolLines(result.err), std::vector<std::string>{});
  // Not listed: the series' slots of 1 June (moved to 2 June), 3 June
  // (excluded) and 5 June (moved out to 12 June); "Late call" (31 May,
  // 23:00Z) and "Evening call" (31 May, 11:00Z); "Before", which ends as
  // the window starts; "After", which starts as it ends; the disabled
  // calendar's event. Equal times: the file first, then EDS's calendars by
  // source UID ("quiet" before "system"), then by the planned start.
  const std::vector<std::string> expected = {
      "2026-05-29 15:00 +71h59m59s 'Trip' all-day unavailable",
      "2026-06-01 00:00 'At start'",
      "2026-06-02 02:00 +1h 'Focus (from Monday)'",
      "2026-06-02 02:00 +1h 'Focus'",
      "2026-06-02 05:00 +1h 'Quiet time'",
      "2026-06-02 05:00 +1h 'Dentist'",
      "2026-06-02 09:00 +15m 'Standup (moved within)'",
      "2026-06-02 13:00 +1h 'Flight' unavailable",
      "2026-06-02 15:00 +23h59m59s 'Holiday' all-day free",
      "2026-06-03 01:00 +1h 'Planning' tentative",
      "2026-06-03 02:00 +1h 'Focus'",
      "2026-06-03 09:30 +1h 'Review, plan; decide – café'",
      "2026-06-04 01:00 +1h 'Retro' accepted",
      "2026-06-04 08:00 +15m 'Standup'",
      "2026-06-04 12:00 +1h30m 'Gym'",
      "2026-06-04 12:00 +1h30m 'Workshop'",
      "2026-06-05 01:00 +1h 'Offsite' declined",
      "2026-06-05 12:00 +1h",
      "2026-06-05 14:00 +1h",
      "2026-06-06 08:00 +15m 'Standup (moved in)'",
      "2026-06-07 20:00 +30m 'Early call'",
      "2026-06-07 23:00 +2h 'Across end'",
  };
  EXPECT_EQ(listed(result), expected);
}

// The same events in EDS and in a file give the same records, but for the
// empty title, which EDS's parser drops (it reads as none: "Busy"). In Los
// Angeles (UTC-7), where "Evening call" (31 May, 20:00) falls in the window.
TEST_F(EdsCli, GivesTheRecordsThatTheSameEventsGiveAsAFile) {
  const Home inEds;
  inEds.addLocalCalendar("work", "Work", work());
  inEds.writeFile("addresses", "me@example.com\nalias@example.net\nfiles-me@example.org\n");
  const ProcessResult fromEds = inEds.runInSession("America/Los_Angeles");
  ASSERT_EQ(fromEds.status, 0) << fromEds.err;
  EXPECT_EQ(toolLines(fromEds.err), std::vector<std::string>{});

  const Home inFiles;
  inFiles.writeFile("addresses", "me@example.com\nalias@example.net\nfiles-me@example.org\n");
  inFiles.writeFile("work/work.ics", work());
  ProcessOptions options;
  options.environment = inFiles.environment("America/Los_Angeles");
  const ProcessResult fromFiles = runProcess({toolPath(), kWeek[0], kWeek[1]}, options);
  ASSERT_EQ(fromFiles.status, 0) << fromFiles.err;
  EXPECT_EQ(fromFiles.err, "");

  // Events at equal times may come in another order (files keep their order
  // in the file, EDS's events go by UID), and EDS reads the empty title as none.
  std::vector<std::string> eds = listed(fromEds);
  std::vector<std::string> files = listed(fromFiles);
  const auto emptyTitle = std::find_if(
      files.begin(), files.end(), [](const std::string& line) { return line.ends_with(" ''"); });
  ASSERT_NE(emptyTitle, files.end());
  emptyTitle->resize(emptyTitle->size() - 3);
  std::sort(eds.begin(), eds.end());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(eds, files);
  const auto titled = [&eds](const char* title) {
    return std::count_if(eds.begin(), eds.end(), [title](const std::string& line) {
      return line.find(title) != line.npos;
    });
  };
  EXPECT_EQ(titled("'Evening call'"), 1);
  EXPECT_EQ(titled("'Early call'"), 0);
}

// A CalDAV calendar whose server never answers holds EDS's connection for
// about 90 s; the tool skips it with one line at its deadline and lists the
// rest, run after run: what EDS caches of a calendar it never reached is
// not taken for the calendar.
TEST_F(EdsCli, SkipsACalendarWhoseServerNeverAnswersAndListsTheRest) {
  Relay server(0);  // answering never, it asks no server
  server.setMode(Relay::Mode::silent);
  const Home home;
  home.addLocalCalendar("work", "Work",
                        calendarWith("one@test", "One", "20260602T100000Z", "20260602T110000Z"));
  home.addSource("remote",
                 "[Data Source]\nDisplayName=Remote\nEnabled=true\n"
                 "Parent=caldav-stub\n\n[Calendar]\nBackendName=caldav\n\n"
                 "[Authentication]\nHost=127.0.0.1\nPort=" +
                     std::to_string(server.port()) +
                     "\nUser=me\nMethod=none\n\n[Security]\nMethod=none\n\n"
                     "[WebDAV Backend]\nResourcePath=/calendars/me/\n"
                     "EmailAddress=me@example.com\n");
  // The second run finds the cache EDS made of it in the first, empty.
  for (int run = 1; run <= 2; ++run) {
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult result = home.runInSession("UTC");
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(toolLines(result.err),
              std::vector<std::string>{
                  "quorvel-calendar: Remote (EDS remote): no answer within 2 s, skipped"})
        << "run " << run;
    EXPECT_EQ(listed(result), std::vector<std::string>{"2026-06-02 10:00 +1h 'One'"});
    EXPECT_LT(took, std::chrono::seconds(45));
  }
  EXPECT_TRUE(fs::exists(home.base() / "cache/evolution/calendar/remote/cache.db"));
}

// A session bus on a socket of its own that takes connections and never
// answers a call: either it never says a word, or it answers the client's
// first bytes (it takes its authentication, as a bus does) and then stalls.
class StallingBus {
 public:
  StallingBus(const fs::path& path, bool authenticates)
      : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)), authenticates_(authenticates) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 8) != 0) {
      ADD_FAILURE() << "no listening socket at " << path;
    }
    serving_ = std::thread([this] { serve(); });
  }
  ~StallingBus() {
    ::shutdown(fd_, SHUT_RDWR);  // ends the wait for a connection
    serving_.join();
    for (const int client : clients_) ::close(client);
    ::close(fd_);
  }
  StallingBus(const StallingBus&) = delete;
  StallingBus& operator=(const StallingBus&) = delete;

 private:
  void serve() {
    for (int client; (client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
      clients_.push_back(client);
      if (authenticates_) authenticate(client);
    }
  }
  // The bus's side of D-Bus authentication, up to the client's BEGIN: after
  // it the client's Hello is never answered.
  static void authenticate(int client) {
    std::string said;
    char buffer[512];
    for (ssize_t got; (got = ::read(client, buffer, sizeof buffer)) > 0;) {
      said.append(buffer, static_cast<std::size_t>(got));
      for (std::size_t end; (end = said.find("\r\n")) != std::string::npos;
           said.erase(0, end + 2)) {
        const std::size_t start = std::min(said.find_first_not_of('\0'), end);
        const std::string line = said.substr(start, end - start);
        const char* answer = line == "AUTH"            ? "REJECTED EXTERNAL\r\n"
                             : line == "AUTH EXTERNAL" ? "DATA\r\n"
                             : line.starts_with("AUTH") || line.starts_with("DATA")
                                 ? "OK 0123456789abcdef0123456789abcdef\r\n"
                             : line == "NEGOTIATE_UNIX_FD" ? "AGREE_UNIX_FD\r\n"
                                                           : nullptr;
        if (line == "BEGIN") return;
        if (answer != nullptr && ::write(client, answer, std::strlen(answer)) < 0) return;
      }
    }
  }

  int fd_;
  bool authenticates_;
  std::vector<int> clients_;
  std::thread serving_;
};

// Whatever the bus does, the run ends at the registry's deadline, with the
// files listed and one line, and without waiting for the threads that
// GLib's calls left blocked.
TEST_F(EdsCli, ABusThatNeverAnswersCostsTheRegistrysDeadline) {
  const Home home;
  home.writeFile("home/gym.ics",
                 calendarWith("gym@test", "Gym", "20260604T120000Z", "20260604T133000Z"));
  for (const bool authenticates : {false, true}) {
    const fs::path socket = home.base() / (authenticates ? "stalls" : "silent");
    const StallingBus bus(socket, authenticates);
    ProcessOptions options;
    options.environment = home.environment("UTC");
    options.environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + socket.string();
    options.timeLimit = std::chrono::seconds(20);
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult result = runProcess({toolPath(), kWeek[0], kWeek[1]}, options);
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(listed(result), std::vector<std::string>{"2026-06-04 12:00 +1h30m 'Gym'"});
    EXPECT_EQ(result.err,
              "quorvel-calendar: Evolution Data Server: no answer within 5 s; its calendars are "
              "not listed\n");
    EXPECT_LT(took, std::chrono::seconds(7)) << (authenticates ? "stalls" : "silent");
  }
}

// EDS is asked only with a session bus and an EDS configuration, and its
// library is loaded only then (the loader's log shows it). Without a bus to
// reach, or without EDS on it, the files alone are listed, without a line.
TEST_F(EdsCli, AsksEdsOnlyWithASessionBusAndListsTheFilesAloneWithoutIt) {
  const Home home;
  home.writeFile("home/gym.ics",
                 calendarWith("gym@test", "Gym", "20260604T120000Z", "20260604T133000Z"));
  const std::vector<std::string> gym = std::vector<std::string>{"2026-06-04 12:00 +1h30m 'Gym'"};
  const std::string missingBus = "unix:path=" + (home.base() / "no-bus").string();
  const fs::path noConfig = home.base() / "elsewhere";
  const fs::path noServices = home.base() / "no-services";
  fs::create_directories(noServices);
  std::ofstream(home.base() / "bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
         "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>"
         "<type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
         "<servicedir>"
      << noServices.string()
      << "</servicedir><policy context=\"default\"><allow send_destination=\"*\" "
         "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
         "</busconfig>\n";

  const struct {
    const char* what;
    std::map<std::string, std::string> changes;
    bool inSessionWithoutEds;
    bool loads;
  } cases[] = {
      {"no bus", {}, false, false},
      {"a bus, but no EDS configuration",
       {{"DBUS_SESSION_BUS_ADDRESS", missingBus}, {"XDG_CONFIG_HOME", noConfig.string()}},
       false,
       false},
      {"a bus address that leads nowhere", {{"DBUS_SESSION_BUS_ADDRESS", missingBus}}, false, true},
      {"a bus socket in XDG_RUNTIME_DIR that isn't one",
       {{"XDG_RUNTIME_DIR", "bus-file"}},
       false,
       true},
      {"the default configuration folder",
       {{"DBUS_SESSION_BUS_ADDRESS", missingBus}, {"XDG_CONFIG_HOME", ""}},
       false,
       true},
      {"a bus without EDS", {}, true, true},
  };
  fs::create_directories(home.base() / ".config/evolution");
  const fs::path busFile = home.base() / "run-with-bus-file";
  fs::create_directories(busFile);
  std::ofstream(busFile / "bus") << "";

  for (const auto& c : cases) {
    ProcessOptions options;
    options.environment = home.environment("UTC");
    options.environment["LD_DEBUG"] = "files";
    for (const auto& [name, value] : c.changes) {
      options.environment[name] = value == "bus-file" ? busFile.string() : value;
    }
    std::vector<std::string> argv = {toolPath(), kWeek[0], kWeek[1]};
    if (c.inSessionWithoutEds) {
      argv.insert(argv.begin(), {QUORVEL_DBUS_RUN_SESSION,
                                 "--config-file=" + (home.base() / "bus.conf").string(), "--"});
    }
    const ProcessResult result = runProcess(argv, options);
    ASSERT_EQ(result.status, 0) << c.what << "\n" << result.err.substr(0, 2000);
    EXPECT_EQ(listed(result), gym) << c.what;
    EXPECT_EQ(toolLines(result.err), std::vector<std::string>{}) << c.what;
    EXPECT_EQ(result.err.find("file=libecal-2.0.so.2") != std::string::npos, c.loads) << c.what;
  }
}

// A library that can't be loaded for want of descriptors leaves EDS's
// calendars unread: the run fails rather than pass the files for the whole.
TEST_F(EdsCli, FailsWhenTheLibraryCantBeLoadedForWantOfDescriptors) {
  const Home home;
  home.writeFile("home/gym.ics",
                 calendarWith("gym@test", "Gym", "20260604T120000Z", "20260604T133000Z"));
  ProcessOptions options;
  // A local zone that is a POSIX TZ string alone, which no file gives.
  options.environment = home.environment("UTC0");
  options.environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (home.base() / "bus").string();
  options.environment["LD_PRELOAD"] = QUORVEL_FILE_LIMIT_LIBRARY;
  options.environment["QUORVEL_TEST_FILE_LIMIT"] = "3";  // standard input, output and error
  const ProcessResult result = runProcess({toolPath(), kWeek[0], kWeek[1]}, options);
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "quorvel-calendar: the calendar could not be read completely: libecal-2.0.so.2: "
            "cannot open shared object file: Too many open files\n");
}

// A calendar of EDS's CalDAV back end at http://127.0.0.1:<port><path>,
// reached without a login, as the existing accounts of a user are.
void addCalDavCalendar(const Home& home, const std::string& uid, const std::string& name, int port,
                       const std::string& path) {
  home.addSource(uid, "[Data Source]\nDisplayName=" + name +
                          "\nEnabled=true\nParent=caldav-stub\n\n[Calendar]\nBackendName=caldav\n\n"
                          "[Authentication]\nHost=127.0.0.1\nPort=" +
                          std::to_string(port) +
                          "\nUser=me\nMethod=none\n\n[Security]\nMethod=none\n\n"
                          "[WebDAV Backend]\nResourcePath=" +
                          path + "\nEmailAddress=me@example.com\n");
}

struct TimedRun {
  ProcessResult result;
  std::chrono::milliseconds took{std::chrono::hours(1)};  // the tool's own time
};

// The tool on a private bus with EDS's daemons, as Home runs it, but with
// the registry and the calendar factory started before it, as they are on
// a desktop; and the time the tool alone took.
TimedRun runTimed(const Home& home, const std::string& zone) {
  const std::string send =
      (fs::path(QUORVEL_DBUS_RUN_SESSION).parent_path() / "dbus-send").string() +
      " --session --print-reply --dest=org.gnome.evolution.dataserver.";
  const std::string script =
      send + "Sources5 / org.freedesktop.DBus.Peer.Ping >/dev/null && " + send +
      "Calendar8 / org.freedesktop.DBus.Peer.Ping >/dev/null || exit 99\n"
      "start=$(date +%s%N); \"$@\"; status=$?\n"
      "echo \"tool took $((($(date +%s%N) - start) / 1000000)) ms\" >&2; exit $status\n";
  ProcessOptions options;
  options.environment = home.environment(zone);
  TimedRun run;
  run.result = runProcess({QUORVEL_DBUS_RUN_SESSION, "--", "/bin/sh", "-c", script, "sh",
                           toolPath(), kWeek[0], kWeek[1]},
                          options);
  if (const std::size_t at = run.result.err.rfind("tool took "); at != std::string::npos) {
    run.took = std::chrono::milliseconds(std::atoi(run.result.err.c_str() + at + 10));
  }
  return run;
}

// A team's calendar on a CalDAV server, one item per event as servers keep
// them: a weekly series in a zone of the calendar's own ("Office", central
// European time) with an exception, a slot moved within the week, one moved
// out of it and one moved into it; a time in Europe/Berlin that the
// account's address accepted, one in "Office Time" (UTC+5:30), a day, a
// floating time, and an event after the week.
std::vector<std::string> teamEvents() {
  std::string berlin = officeZone();
  berlin.replace(berlin.find("Office"), 6, "Europe/Berlin");
  return {
      calendarOf(officeZone() +
                 "BEGIN:VEVENT\nUID:standup@test\nSUMMARY:Standup\n"
                 "DTSTART;TZID=Office:20260504T100000\nDTEND;TZID=Office:20260504T101500\n"
                 "RRULE:FREQ=WEEKLY;BYDAY=MO,WE,TH,FR\nEXDATE;TZID=Office:20260603T100000\n"
                 "END:VEVENT\n"
                 "BEGIN:VEVENT\nUID:standup@test\nRECURRENCE-ID;TZID=Office:20260601T100000\n"
                 "SUMMARY:Standup (moved within)\nDTSTART;TZID=Office:20260602T110000\n"
                 "DTEND;TZID=Office:20260602T111500\nEND:VEVENT\n"
                 "BEGIN:VEVENT\nUID:standup@test\nRECURRENCE-ID;TZID=Office:20260605T100000\n"
                 "SUMMARY:Standup (moved out)\nDTSTART;TZID=Office:20260612T100000\n"
                 "DTEND;TZID=Office:20260612T101500\nEND:VEVENT\n"
                 "BEGIN:VEVENT\nUID:standup@test\nRECURRENCE-ID;TZID=Office:20260608T100000\n"
                 "SUMMARY:Standup (moved in)\nDTSTART;TZID=Office:20260606T100000\n"
                 "DTEND;TZID=Office:20260606T101500\nEND:VEVENT\n"),
      calendarOf(berlin + "BEGIN:VEVENT\nUID:lunch@test\nSUMMARY:Lunch\n"
                          "DTSTART;TZID=Europe/Berlin:20260603T123000\n"
                          "DTEND;TZID=Europe/Berlin:20260603T133000\n"
                          "ATTENDEE;PARTSTAT=ACCEPTED:mailto:me@example.com\nEND:VEVENT\n"),
      calendarOf("BEGIN:VTIMEZONE\nTZID:Office Time\nBEGIN:STANDARD\nDTSTART:19700101T000000\n"
                 "TZOFFSETFROM:+0530\nTZOFFSETTO:+0530\nEND:STANDARD\nEND:VTIMEZONE\n"
                 "BEGIN:VEVENT\nUID:review@test\nSUMMARY:Review\n"
                 "DTSTART;TZID=Office Time:20260603T150000\n"
                 "DTEND;TZID=Office Time:20260603T160000\nEND:VEVENT\n"),
      calendarOf("BEGIN:VEVENT\nUID:holiday@test\nSUMMARY:Holiday\nDTSTART;VALUE=DATE:20260603\n"
                 "DTEND;VALUE=DATE:20260604\nTRANSP:TRANSPARENT\nEND:VEVENT\n"),
      calendarOf("BEGIN:VEVENT\nUID:call@test\nSUMMARY:Call\nDTSTART:20260605T180000\n"
                 "DTEND:20260605T183000\nEND:VEVENT\n"),
      calendarOf("BEGIN:VEVENT\nUID:after@test\nSUMMARY:After\nDTSTART:20260610T100000Z\n"
                 "DTEND:20260610T110000Z\nEND:VEVENT\n"),
  };
}

// The team's week in New York (UTC-4), where the day and the floating time
// are. Not listed: the series' slots of 1 June (moved to 2 June), 3 June
// (excluded), 5 June (moved out) and 8 June (moved in to 6 June), "After".
const std::vector<std::string> kTeamWeek = {
    "2026-06-02 09:00 +15m 'Standup (moved within)'",
    "2026-06-03 04:00 +23h59m59s 'Holiday' all-day free",
    "2026-06-03 09:30 +1h 'Review'",
    "2026-06-03 10:30 +1h 'Lunch' accepted",
    "2026-06-04 08:00 +15m 'Standup'",
    "2026-06-05 22:00 +30m 'Call'",
    "2026-06-06 08:00 +15m 'Standup (moved in)'",
};

// Once EDS has synchronised a CalDAV calendar (in a first run through a
// relay that passes everything on), a server that answers late, or never,
// costs nothing: the calendar is listed as EDS last saw it, with its
// account's address for the user's, at once, run after run.
TEST_F(EdsCli, ListsASynchronisedCalDavCalendarAtOnceWhenItsServerIsSlowOrSilent) {
  if (!CalDavServer::available()) GTEST_SKIP() << "needs Radicale (Debian: python3-radicale)";
  const CalDavServer team("me/team", teamEvents());
  ASSERT_TRUE(team.running()) << team.log();
  Relay relay(team.port());
  const Home home;
  addCalDavCalendar(home, "team", "Team", relay.port(), "/me/team/");
  const struct {
    Relay::Mode mode;
    const char* what;
  } runs[] = {{Relay::Mode::pass, "synchronising"},
              {Relay::Mode::delay, "slow"},
              {Relay::Mode::delay, "slow again"},
              {Relay::Mode::silent, "silent"},
              {Relay::Mode::silent, "silent again"}};
  for (const auto& run : runs) {
    relay.setMode(run.mode, std::chrono::seconds(1));
    const TimedRun timed = runTimed(home, "America/New_York");
    ASSERT_EQ(timed.result.status, 0) << timed.result.err;
    EXPECT_EQ(toolLines(timed.result.err), std::vector<std::string>{}) << run.what;
    EXPECT_EQ(listed(timed.result), kTeamWeek) << run.what;
    if (run.mode != Relay::Mode::pass) {
      EXPECT_LT(timed.took, std::chrono::seconds(1)) << run.what;
    }
  }
}

}  // namespace
}  // namespace quorvel::testing
