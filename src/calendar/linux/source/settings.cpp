#include "calendar/linux/source/settings.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "calendar/ical/problem.h"

namespace quorvel::calendar::linuxstore {

std::optional<std::string_view> readSettingsFile(const std::string& path, ical::ReadBuffer& buffer,
                                                 const std::function<void(std::string)>& say,
                                                 bool* absent) {
  if (absent != nullptr) *absent = false;
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    if (ical::isResourceError(errno)) ical::failIncomplete(path, errno);
    if (errno == ENOENT || errno == ENOTDIR) {
      if (absent != nullptr) *absent = true;
    } else {
      say(ical::lineAbout(path, std::strerror(errno)));
    }
    return std::nullopt;
  }
  const auto tooLarge = [&] {
    say(ical::lineAbout(path, "larger than 1 MiB"));
    return std::nullopt;
  };
  // Checked before reading, so that a large file isn't read, and after, as
  // it may have grown.
  if (S_ISREG(status.st_mode) && static_cast<std::size_t>(status.st_size) > kMaxSettingsSize) {
    return tooLarge();
  }
  if (const auto reason = ical::readFileAt(AT_FDCWD, "", path.c_str(), false, buffer)) {
    say(ical::lineAbout(path, *reason));
    return std::nullopt;
  }
  const std::string_view text = buffer.contents();
  if (text.size() > kMaxSettingsSize) return tooLarge();
  if (text.find('\0') != std::string_view::npos) {
    say(ical::lineAbout(path, "not a text file"));
    return std::nullopt;
  }
  return text;
}

}  // namespace quorvel::calendar::linuxstore
