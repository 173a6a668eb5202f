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

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace quorvel::calendar::linuxstore
