#include "calendar/linux/thunderbird/profiles.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <variant>

#include "calendar/ical/file.h"
#include "calendar/ical/problem.h"
#include "calendar/linux/source/settings.h"

namespace quorvel::calendar::linuxstore::thunderbird {
namespace fs = std::filesystem;
using ical::failIncomplete;
using ical::FileDescriptor;
using ical::isResourceError;
using ical::lineAbout;
namespace {

// Where Flatpak keeps Thunderbird's (and Betterbird's) home, by application.
constexpr const char* kFlatpakIds[] = {
    "org.mozilla.Thunderbird",
    "org.mozilla.thunderbird",
    "net.thunderbird.Thunderbird",
    "eu.betterbird.Betterbird",
};

// An INI file as Mozilla's nsINIParser reads it: `[Section]` lines and
// `Key=Value` lines below them, keys and values exactly as written (only
// the line's leading blanks dropped), a later key replacing an earlier one.
struct Ini {
  std::vector<std::string> order;  // the sections, as first named
  std::map<std::string, std::map<std::string, std::string>, std::less<>> sections;

  const std::string* get(std::string_view section, std::string_view key) const {
    const auto found = sections.find(section);
    if (found == sections.end()) return nullptr;
    const auto value = found->second.find(std::string(key));
    return value == found->second.end() ? nullptr : &value->second;
  }
};

// The INI file `text`, or why it isn't one. Where Mozilla passes over a
// line it can't use, this refuses the file: Thunderbird writes these files
// itself, and one it didn't write whole is not to be guessed at.
std::variant<Ini, std::string> parseIni(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (text.find('\0') != std::string_view::npos) return std::string("not a text file");
  Ini ini;
  std::map<std::string, std::string>* section = nullptr;
  std::size_t number = 0;
  while (!text.empty()) {
    // Lines end at LF, CRLF or a lone CR.
    const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
    std::string_view line = text.substr(0, end);
    std::size_t next = end;
    if (next < text.size()) next += text.substr(end, 2) == "\r\n" ? 2 : 1;
    text.remove_prefix(next);
    ++number;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.starts_with('#') || line.starts_with(';')) continue;
    const auto bad = [&number](const char* what) {
      return "line " + std::to_string(number) + " " + what;
    };
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) return bad("opens a section it doesn't close");
      if (line.find_first_not_of(" \t", close + 1) != std::string_view::npos) {
        return bad("has text after its section's name");
      }
      const std::string name(line.substr(1, close - 1));
      if (name.empty()) return bad("names no section");
      const auto [slot, added] = ini.sections.try_emplace(name);
      if (added) ini.order.push_back(name);
      section = &slot->second;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals == 0) return bad("is not a key=value");
    if (section == nullptr) return bad("comes before any section");
    (*section)[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
  }
  return ini;
}

// The INI file `name` of the root at `rootPath`; nothing,
// silently, when there is none; nothing, with a line, when it can't be
// read or isn't an INI file.
std::optional<Ini> readIni(const std::string& rootPath, const char* name,
                           const std::function<void(std::string)>& say) {
  const std::string path = rootPath + "/" + name;
  ical::ReadBuffer buffer;
  const std::optional<std::string_view> text = readSettingsFile(path, buffer, say);
  if (!text) return std::nullopt;
  auto parsed = parseIni(*text);
  if (auto* reason = std::get_if<std::string>(&parsed)) {
    say(lineAbout(path, *reason));
    return std::nullopt;
  }
  return std::get<Ini>(std::move(parsed));
}

// A profile's path as the files give it: relative to the root unless it
// starts at "/".
fs::path profilePath(const fs::path& root, const std::string& path) {
  return path.starts_with('/') ? fs::path(path) : root / path;
}

// The profiles a root's files say are in use, in their order: those the
// installs name (profiles.ini's [Install…] sections, then every section of
// installs.ini, its copy); when none does, the profile marked Default=1,
// or the only one there is.
std::vector<fs::path> profilesOfRoot(const fs::path& root,
                                     const std::function<void(std::string)>& say) {
  const std::string rootPath = root.string();
  const FileDescriptor rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (rootFd.get() < 0) {
    const int error = errno;
    if (isResourceError(error)) failIncomplete(rootPath, error);
    // A root the user can't even look at (a home folder closed to them) is
    // as good as absent; one that is there and can't be opened says so.
    struct stat status {};
    if (error != ENOENT && error != ENOTDIR && ::stat(root.c_str(), &status) == 0) {
      say(lineAbout(rootPath, std::strerror(error)));
    }
    return {};
  }
  const std::optional<Ini> profiles = readIni(rootPath, "profiles.ini", say);
  if (!profiles) return {};

  std::vector<fs::path> inUse;
  for (const std::string& section : profiles->order) {
    if (!section.starts_with("Install")) continue;
    const std::string* path = profiles->get(section, "Default");
    if (path != nullptr && !path->empty()) inUse.push_back(profilePath(root, *path));
  }
  if (const std::optional<Ini> installs = readIni(rootPath, "installs.ini", say)) {
    for (const std::string& section : installs->order) {
      const std::string* path = installs->get(section, "Default");
      if (path != nullptr && !path->empty()) inUse.push_back(profilePath(root, *path));
    }
  }
  if (!inUse.empty()) return inUse;

  std::optional<fs::path> marked;
  std::vector<fs::path> all;
  for (const std::string& section : profiles->order) {
    if (!section.starts_with("Profile")) continue;
    const std::string* path = profiles->get(section, "Path");
    if (path == nullptr || path->empty()) continue;
    const std::string* relative = profiles->get(section, "IsRelative");
    fs::path folder;
    if (relative != nullptr && *relative == "1") {
      folder = root / *path;
    } else if (path->starts_with('/')) {
      folder = *path;
    } else {
      continue;  // Thunderbird can't use a relative path it isn't told is one
    }
    const std::string* isDefault = profiles->get(section, "Default");
    if (isDefault != nullptr && *isDefault == "1" && !marked) marked = folder;
    all.push_back(std::move(folder));
  }
  if (marked) return {*marked};
  if (all.size() == 1) return all;
  say(lineAbout(rootPath + "/profiles.ini", "names no profile in use"));
  return {};
}

// Whether `path` is a folder; nothing when it isn't there. A line says why
// one can't be looked at.
std::optional<struct stat> folderAt(const fs::path& path,
                                    const std::function<void(std::string)>& say) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    if (isResourceError(errno)) failIncomplete(path.string(), errno);
    if (errno != ENOENT && errno != ENOTDIR) say(lineAbout(path.string(), std::strerror(errno)));
    return std::nullopt;
  }
  if (!S_ISDIR(status.st_mode)) return std::nullopt;
  return status;
}

}  // namespace

std::vector<fs::path> profilesInUse(const fs::path& home,
                                    const std::function<void(std::string)>& say) {
  std::vector<fs::path> roots = {home / ".thunderbird",
                                 home / "snap/thunderbird/common/.thunderbird"};
  for (const char* id : kFlatpakIds) roots.push_back(home / ".var/app" / id / ".thunderbird");

  std::set<std::pair<dev_t, ino_t>> seen;
  std::vector<fs::path> found;
  for (const fs::path& root : roots) {
    for (fs::path& profile : profilesOfRoot(root, say)) {
      const auto folder = folderAt(profile, say);
      if (!folder || !folderAt(profile / "calendar-data", say)) continue;
      if (!seen.emplace(folder->st_dev, folder->st_ino).second) continue;
      found.push_back(std::move(profile));
    }
  }
  return found;
}

}  // namespace quorvel::calendar::linuxstore::thunderbird
