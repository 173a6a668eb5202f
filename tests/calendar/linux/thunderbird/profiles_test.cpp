// Which Thunderbird profiles are in use, from the files of each of its roots
// under a temporary home.
#include "calendar/linux/thunderbird/profiles.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_store.h"

namespace quorvel::calendar::linuxstore::thunderbird {
namespace {
namespace fs = std::filesystem;

TEST(ThunderbirdProfiles, FindsTheProfilesInUseOnce) {
  struct Case {
    const char* what;
    // Below the home: a path ending in "/" is a folder, a text "-> x" makes
    // a link to x, any other text a file ("$" stands for the home).
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> profiles;  // below the home
    std::string lines;
  };
  const std::string dummyAndReal =
      "[Profile0]\nName=default\nIsRelative=1\nPath=dummy\nDefault=1\n\n"
      "[Profile1]\nName=default-release\nIsRelative=1\nPath=Profiles/real\n";
  const std::string tb = ".thunderbird/", snap = "snap/thunderbird/common/.thunderbird/",
                    flatpak = ".var/app/org.mozilla.Thunderbird/.thunderbird/";
  const Case cases[] = {
      {"every install's profile with calendars, not the Default=1 dummy",
       {{tb + "profiles.ini",
         dummyAndReal + "[Install4F96D1]\nDefault=Profiles/real\n[InstallB]\nDefault=empty\n"},
        {tb + "installs.ini", "[C0FFEE]\nDefault=other\n"},
        {tb + "dummy/calendar-data/", ""},
        {tb + "Profiles/real/calendar-data/", ""},
        {tb + "other/calendar-data/", ""},
        {tb + "empty/", ""}},
       {tb + "Profiles/real", tb + "other"},
       ""},
      {"Default=1, relative, in a file with a BOM and CRLFs",
       {{tb + "profiles.ini",
         "\xEF\xBB\xBF[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile0]\r\nIsRelative=1\r\n"
         "Path=a\r\n\r\n[Profile1]\r\nIsRelative=1\r\nPath=b\r\nDefault=1\r\n"},
        {tb + "a/calendar-data/", ""},
        {tb + "b/calendar-data/", ""}},
       {tb + "b"},
       ""},
      {"one folder reached three ways",
       {{tb + "profiles.ini",
         "[InstallA]\nDefault=p\n[InstallB]\nDefault=$/.thunderbird/p\n[InstallC]\nDefault=l\n"},
        {tb + "p/calendar-data/", ""},
        {tb + "l", "-> p"}},
       {tb + "p"},
       ""},
      {"the snap's root (Default=1, absolute) and Flatpak's after a malformed profiles.ini",
       {{tb + "profiles.ini", "[Profile0]\nIsRelative=1\nPath=p\nDefault=1\nDefault\n"},
        {tb + "p/calendar-data/", ""},
        {flatpak + "profiles.ini", "[InstallA]\nDefault=f\n"},
        {flatpak + "f/calendar-data/", ""},
        {snap + "profiles.ini", "[Profile0]\nIsRelative=0\nPath=$/else/s\nDefault=1\n"},
        {"else/s/calendar-data/", ""}},
       {"else/s", flatpak + "f"},
       "$/.thunderbird/profiles.ini: line 5 is not a key=value\n"},
  };
  for (const Case& c : cases) {
    const testing::TempStore temp;
    const fs::path& home = temp.dataHome();
    const auto withHome = [&home](std::string text) {
      for (std::size_t at; (at = text.find('$')) != std::string::npos;) text.replace(at, 1, home);
      return text;
    };
    for (const auto& [relative, text] : c.files) {
      fs::create_directories((home / relative).parent_path());
      if (text.starts_with("-> ")) {
        fs::create_directory_symlink(text.substr(3), home / relative);
      } else if (!relative.ends_with('/')) {
        std::ofstream(home / relative, std::ios::binary) << withHome(text);
      }
    }
    std::string lines;
    std::vector<std::string> found;
    for (const fs::path& profile : profilesInUse(home, [&](std::string l) { lines += l + "\n"; })) {
      found.push_back(profile.lexically_relative(home).string());
    }
    EXPECT_EQ(found, c.profiles) << c.what;
    EXPECT_EQ(lines, withHome(c.lines)) << c.what;
  }
}

}  // namespace
}  // namespace quorvel::calendar::linuxstore::thunderbird
