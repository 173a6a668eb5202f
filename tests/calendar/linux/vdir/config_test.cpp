// The calendar folders khal's and vdirsyncer's configurations name, from
// files under a temporary home.
#include "calendar/linux/vdir/config.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "support/temp_store.h"

namespace quorvel::calendar::linuxstore::vdir {
namespace {
namespace fs = std::filesystem;

using Finder = std::vector<fs::path> (*)(const fs::path&, const fs::path&, const Variable&,
                                         const std::function<void(std::string)>&);

struct Case {
  const char* what;
  // Below the home: a path ending in "/" is a folder, any other a file with
  // its text ("@" stands for the home, in variables and lines too).
  std::vector<std::pair<std::string, std::string>> files;
  std::map<std::string, std::string> variables;
  std::vector<std::string> folders;  // below the home
  std::string lines;
};

void check(Finder find, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const testing::TempStore temp;
    const fs::path& home = temp.dataHome();
    const auto withHome = [&home](std::string text) {
      for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, home);
      return text;
    };
    for (const auto& [relative, text] : c.files) {
      fs::create_directories((home / relative).parent_path());
      if (!relative.ends_with('/')) std::ofstream(home / relative, std::ios::binary) << text;
    }
    // No system-wide configuration leaks in from the machine the test runs on.
    std::map<std::string, std::string, std::less<>> variables = {{"XDG_CONFIG_DIRS", "@/etc"}};
    for (const auto& [name, value] : c.variables) variables[name] = value;
    const Variable variable = [&](std::string_view name) -> std::optional<std::string> {
      const auto found = variables.find(name);
      if (found == variables.end()) return std::nullopt;
      return withHome(found->second);
    };
    std::string lines;
    std::vector<std::string> found;
    for (const fs::path& folder :
         find(home / ".config", home, variable, [&](std::string line) { lines += line + "\n"; })) {
      found.push_back(folder.lexically_relative(home).string());
    }
    EXPECT_EQ(found, c.folders) << c.what;
    EXPECT_EQ(lines, withHome(c.lines)) << c.what;
  }
}

TEST(VdirConfig, KhalFolders) {
  const std::string khal = ".config/khal/config";
  const std::vector<std::pair<std::string, std::string>> folders = {
      {"cal/work/", ""},     {"cals/b/", ""},   {"cals/a/", ""}, {"cals/.hidden/", ""},
      {"cals/file.ics", ""}, {"more/p/q/", ""}, {"more/r/", ""}};
  const auto with = [&folders](std::string path, std::string text) {
    auto files = folders;
    files.emplace_back(std::move(path), std::move(text));
    return files;
  };
  check(khalFolders,
        {
            {"calendar, discover (innermost folders) and birthdays, with ~ and $VARs",
             with(khal,
                  "# mine\n[calendars]\n  [[work]]\n    path = ~/cal/work/\n"
                  "  [[all]]\n    path = $CALS/*  # each one\n    type = discover\n"
                  "  [[people]]\n    path = ~/cal\n    type = birthdays\n"
                  "  [[more]]\n    path = '${HOME}/more/**'\n    type = discover\n"
                  "  [[again]]\n    path = ~/cals/a\n"
                  "  [[unset]]\n    path = $NOPE/cal\n"
                  "[default]\ndefault_calendar = work\n"),
             {{"CALS", "@/cals"}, {"HOME", "@"}},
             {"cal/work", "cals/a", "cals/b", "more/p/q", "more/r"},
             "@/.config/khal/config: calendar \"unset\": path \"$NOPE/cal\" is not absolute\n"},
            {"quoted names and values, with #s in them, triple quotes and glob sets",
             with(khal,
                  "[ calendars ] # mine\n[[ \"home\" ]]\npath = \"~/cal/work\" # not 'cal'\n"
                  "color = '#ff0000'\n[[two]]\npath = '''~/cals/[!b]'''\ntype = discover\n"),
             {},
             {"cal/work", "cals/a"},
             ""},
            {"the system-wide configuration, when the user has none",
             with("etc/khal/config", "[calendars]\n[[w]]\npath = ~/cal/work\n"),
             {},
             {"cal/work"},
             ""},
            {"a value never closed: one line, nothing",
             with(khal, "[calendars]\n[[w]]\npath = ~/cal/work\n[[x]]\npath = \"~/cals\n"),
             {},
             {},
             "@/.config/khal/config: line 5 has a malformed value\n"},
            {"a type khal doesn't know: one line, nothing",
             with(khal, "[calendars]\n[[w]]\npath = ~/cal/work\ntype = birthday\n"),
             {},
             {},
             "@/.config/khal/config: calendar \"w\" has an unknown type\n"},
            {"a file that isn't text: one line, nothing",
             with(khal, std::string("[calendars]\n[[w]]\npath = ~/cal/work\n") + '\0'),
             {},
             {},
             "@/.config/khal/config: not a text file\n"},
        });
}

TEST(VdirConfig, VdirsyncerFolders) {
  const std::string general = "[general]\nstatus_path = \"~/.vdirsyncer/status/\"\n";
  const auto storage = [](std::string name, std::string path, std::string ext = ".ics") {
    return "[storage " + name + "]\ntype = \"filesystem\"\npath = \"" + path + "\"\nfileext = \"" +
           ext + "\"\n";
  };
  const std::vector<std::pair<std::string, std::string>> folders = {{".calendars/work/", ""},
                                                                    {".calendars/home/", ""},
                                                                    {".calendars/.git/", ""},
                                                                    {"one/", ""},
                                                                    {".contacts/friends/", ""}};
  const auto with = [&folders](std::vector<std::pair<std::string, std::string>> configs) {
    auto files = folders;
    files.insert(files.end(), configs.begin(), configs.end());
    return files;
  };
  const std::string full =
      general +
      "[pair cal]\na = \"cal_local\"\nb = \"cal_remote\"\n"
      "collections = [\"from a\",\n  \"from b\"]\n" +
      storage("cal_local", "~/.calendars/") +
      "[storage cal_remote]\ntype = \"caldav\"\nurl = \"https://example.com/\"\n"
      "[pair single]\na = \"one_remote\"\nb = \"one_local\"\ncollections = null\n" +
      storage("one_local", "~/one") + storage("contacts", "~/.contacts", ".vcf");
  const std::string onlyOne = general + storage("one", "~/one");
  check(vdirsyncerFolders,
        {
            {"collections below the path, the path itself for null, contacts skipped",
             with({{".config/vdirsyncer/config", full}}),
             {},
             {".calendars/home", ".calendars/work", "one"},
             ""},
            {"$VDIRSYNCER_CONFIG before ~/.vdirsyncer/config",
             with({{".vdirsyncer/config", onlyOne}, {"custom", full}}),
             {{"VDIRSYNCER_CONFIG", "@/custom"}},
             {".calendars/home", ".calendars/work", "one"},
             ""},
            {"~/.vdirsyncer/config before the XDG one",
             with({{".vdirsyncer/config", onlyOne}, {".config/vdirsyncer/config", full}}),
             {},
             {},  // a storage no pair syncs: its collections, of which there are none
             ""},
            {"a named collection with null on one side: that side's path itself",
             with({{".config/vdirsyncer/config",
                    general + "[pair p]\na = \"mine\"\nb = \"cals\"\n" +
                        "collections = [[\"n\", null, \"work\"]]\n" + storage("mine", "~/one/") +
                        storage("cals", "~/.calendars")}}),
             {},
             {"one", ".calendars/home", ".calendars/work"},
             ""},
            {"a path that is a file: a line",
             with({{".config/vdirsyncer/config", general + storage("f", "~/f")}, {"f", "x"}}),
             {},
             {},
             "@/f: Not a directory\n"},
            {"a value that isn't JSON: one line, nothing",
             with({{".config/vdirsyncer/config", full + "[storage more]\npath = ~/x\n"}}),
             {},
             {},
             "@/.config/vdirsyncer/config: section \"storage more\": \"path\" is not JSON\n"},
        });
}

}  // namespace
}  // namespace quorvel::calendar::linuxstore::vdir
