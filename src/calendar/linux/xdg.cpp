#include "calendar/linux/xdg.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace quorvel::calendar::linuxstore {
namespace fs = std::filesystem;
namespace {

// The folder an XDG base directory variable names, else its default below
// the home folder; empty when there is no home.
fs::path baseFolder(const char* variable, const char* belowHome) {
  // Relative values are to be ignored, as the XDG base directory rules say.
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return value;
  const fs::path home = homeFolder();
  return home.empty() ? home : home / belowHome;
}

}  // namespace

fs::path homeFolder() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* user = getpwuid(getuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] != '/') return {};
  return home;
}

fs::path defaultStoreRoot() {
  const fs::path data = baseFolder("XDG_DATA_HOME", ".local/share");
  return data.empty() ? data : data / "calendars";
}

fs::path configHome() { return baseFolder("XDG_CONFIG_HOME", ".config"); }

fs::path cacheHome() { return baseFolder("XDG_CACHE_HOME", ".cache"); }

std::optional<std::string> environmentVariable(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return value;
}

}  // namespace quorvel::calendar::linuxstore
