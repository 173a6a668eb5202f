// KDE's local calendars, and khal's and vdirsyncer's folders, beside the
// store's: each file and folder listed once, at its first place.
#include "calendar/linux/kde/source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/listing.h"

namespace quorvel::testing {
namespace {

namespace fs = std::filesystem;

// An event at 09:00 UTC on 2 March 2026, titled `title`.
std::string at9(const std::string& title) {
  return calendarOf("BEGIN:VEVENT\nUID:" + title + "\nDTSTART:20260302T090000Z\nSUMMARY:" + title +
                    "\nEND:VEVENT\n");
}

void put(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

const std::string kAgents =
    "[Instances]\nakonadi_ical_resource_0\\AgentType=akonadi_ical_resource\n"
    "akonadi_icaldir_resource_1\\AgentType=akonadi_icaldir_resource\n";

const std::string kGeneral = "[general]\nstatus_path = \"~/.vdirsyncer/status/\"\n";

struct Case {
  const char* name;
  // Writes the case's files below the store `store` and the home `home`.
  std::function<void(const TempStore& store, const fs::path& home)> write;
  std::vector<std::string> events;
};

TEST(ElsewhereSources, ListEachFileAndFolderOnceAtItsFirstPlace) {
  const Case cases[] = {
      {"one of each, equal times in the store's order",
       [](const TempStore& store, const fs::path& home) {
         store.write("own.ics", at9("Store"));
         put(home / ".config/akonadi/agentsrc", kAgents);
         put(home / ".config/akonadi_ical_resource_0rc", "[General]\nPath[$e]=$HOME/std.ics\n");
         put(home / "std.ics", at9("Kde file"));
         put(home / ".config/akonadi_icaldir_resource_1rc",
             "[General]\nPath=" + (home / "dir").string() + "\n");
         put(home / "dir/b1", at9("Kde folder"));
         put(home / "dir/WARNING_README.txt", "not iCalendar");
         put(home / ".config/khal/config", "[calendars]\n[[w]]\npath = ~/khal/w\n");
         put(home / "khal/w/x.ics", at9("Khal"));
         put(home / ".config/vdirsyncer/config",
             kGeneral +
                 "[storage s]\ntype = \"filesystem\"\npath = \"~/vd\"\nfileext = \".ics\"\n");
         put(home / "vd/one/y.ics", at9("Vdirsyncer"));
       },
       {"2026-03-02 09:00 'Store'", "2026-03-02 09:00 'Kde folder'", "2026-03-02 09:00 'Kde file'",
        "2026-03-02 09:00 'Khal'", "2026-03-02 09:00 'Vdirsyncer'"}},
      {"a file and folders reached twice",
       [](const TempStore& store, const fs::path& home) {
         store.write("work/x.ics", at9("Work"));
         store.write("std.ics", at9("Kde file"));
         put(home / ".config/akonadi/agentsrc", kAgents);
         put(home / ".config/akonadi_ical_resource_0rc",
             "[General]\nPath=" + store.root().string() + "/std.ics\n");
         fs::create_directories(home);
         fs::create_directory_symlink(store.root() / "work", home / "work");
         put(home / ".config/khal/config",
             "[calendars]\n[[w]]\npath = ~/work\n[[v]]\npath = ~/v\n");
         put(home / "v/z.ics", at9("Both"));
         put(home / "v/k.ics", at9("Kde in khal's"));
         put(home / ".config/akonadi_icaldir_resource_1rc", "[General]\nPath=/nowhere\n");
         put(home / ".config/akonadi/agentsrc",
             kAgents + "akonadi_ical_resource_2\\AgentType=akonadi_ical_resource\n");
         put(home / ".config/akonadi_ical_resource_2rc", "[General]\nPath[$e]=$HOME/v/k.ics\n");
         put(home / ".config/vdirsyncer/config",
             kGeneral +
                 "[pair p]\na = \"s\"\nb = \"r\"\ncollections = null\n"
                 "[storage s]\ntype = \"filesystem\"\npath = \"~/v\"\nfileext = \".ics\"\n"
                 "[storage r]\ntype = \"caldav\"\nurl = \"https://d.example/\"\n");
       },
       {"2026-03-02 09:00 'Kde file'", "2026-03-02 09:00 'Work'",
        "2026-03-02 09:00 'Kde in khal's'", "2026-03-02 09:00 'Both'"}},
      {"a folder's event and its override in files of their own, and a file cut short",
       [](const TempStore&, const fs::path& home) {
         put(home / ".config/akonadi/agentsrc", kAgents);
         put(home / ".config/akonadi_icaldir_resource_1rc", "[General]\nPath[$e]=$HOME/dir\n");
         put(home / "dir/s", calendarOf("BEGIN:VEVENT\nUID:s\nDTSTART:20260302T090000Z\n"
                                        "RRULE:FREQ=DAILY;COUNT=3\nSUMMARY:Daily\nEND:VEVENT\n"));
         put(home / "dir/s2026-03-03T09:00:00Z",
             calendarOf("BEGIN:VEVENT\nUID:s\nRECURRENCE-ID:20260303T090000Z\n"
                        "DTSTART:20260303T120000Z\nSUMMARY:Moved\nEND:VEVENT\n"));
         put(home / "dir/cut",
             "BEGIN:VCALENDAR\nBEGIN:VEVENT\nUID:c\nDTSTART:20260302T100000Z\n"
             "SUMMARY:Cut\nEND:VEVENT\nBEGIN:VEV");
       },
       {"2026-03-02 09:00 'Daily'", "2026-03-02 10:00 'Cut'", "2026-03-03 12:00 'Moved'",
        "2026-03-04 09:00 'Daily'"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempStore store;
    const fs::path home = store.dataHome() / "home";
    c.write(store, home);
    const Listing listed = listing(
        store, "2026-03-01", "2026-03-06", 2,
        {.home = home, .configHome = home / ".config", .variable = [&home](std::string_view name) {
           return name == "HOME" ? std::optional(home.string()) : std::nullopt;
         }});
    EXPECT_EQ(listed.events, c.events);
    EXPECT_EQ(listed.lines.find("/config:"), std::string::npos) << listed.lines;
  }
}

}  // namespace
}  // namespace quorvel::testing
