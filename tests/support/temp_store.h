// A calendar store in a temporary folder, removed when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace quorvel::testing {

class TempStore {
 public:
  TempStore() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-XXXXXX").string();
    base_ = ::mkdtemp(pattern.data());
    std::filesystem::create_directories(root());
  }
  ~TempStore() {
    std::error_code ignored;
    std::filesystem::permissions(root(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(base_, ignored);
  }
  TempStore(const TempStore&) = delete;
  TempStore& operator=(const TempStore&) = delete;

  // The folder to use as XDG_DATA_HOME.
  const std::filesystem::path& dataHome() const { return base_; }
  std::filesystem::path root() const { return base_ / "calendars"; }

  // Writes `text` to `relative` below the store's root, creating folders.
  std::filesystem::path write(const std::string& relative, const std::string& text) const {
    const std::filesystem::path path = root() / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

 private:
  std::filesystem::path base_;
};

// VEVENT bodies wrapped into one VCALENDAR, with CRLF line ends.
inline std::string calendarOf(const std::string& body) {
  std::string text =
      "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//quorvel//tests//EN\n" + body + "END:VCALENDAR\n";
  std::string crlf;
  for (const char c : text) {
    if (c == '\n') crlf.push_back('\r');
    crlf.push_back(c);
  }
  return crlf;
}

// A VTIMEZONE named "Office" that keeps central European time (UTC+1, and
// UTC+2 from the last Sunday of March to the last Sunday of October), as
// calendar servers write one into every file.
inline std::string officeZone() {
  return "BEGIN:VTIMEZONE\nTZID:Office\nBEGIN:STANDARD\nDTSTART:19701025T030000\n"
         "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\nTZOFFSETFROM:+0200\nTZOFFSETTO:+0100\n"
         "END:STANDARD\nBEGIN:DAYLIGHT\nDTSTART:19700329T020000\n"
         "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\nTZOFFSETFROM:+0100\nTZOFFSETTO:+0200\n"
         "END:DAYLIGHT\nEND:VTIMEZONE\n";
}

inline std::string eventOf(const std::string& properties) {
  return "BEGIN:VEVENT\nUID:" + std::to_string(std::hash<std::string>{}(properties)) + "@tests\n" +
         properties + "END:VEVENT\n";
}

}  // namespace quorvel::testing
