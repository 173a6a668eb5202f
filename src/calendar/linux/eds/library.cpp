#include "calendar/linux/eds/library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "calendar/calendar.h"

namespace quorvel::calendar::linuxstore::eds {
namespace fs = std::filesystem;
namespace {

bool isSet(const char* value) { return value != nullptr && value[0] != '\0'; }

bool pathExists(const fs::path& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

}  // namespace

bool saysResourceFailure(std::string_view message) {
  for (const int error : {EMFILE, ENFILE, ENOMEM, EIO}) {
    if (message.find(std::strerror(error)) != std::string_view::npos) return true;
  }
  for (const std::string_view words :
       {"failed to map segment", "cannot allocate", "out of memory", "cannot create"}) {
    if (message.find(words) != std::string_view::npos) return true;
  }
  return false;
}

bool mayAsk(const char* busAddress, const char* runtimeFolder, const fs::path& configFolder) {
  const bool bus = isSet(busAddress) || (isSet(runtimeFolder) && runtimeFolder[0] == '/' &&
                                         pathExists(fs::path(runtimeFolder) / "bus"));
  return bus && !configFolder.empty() && pathExists(configFolder);
}

bool mayAsk(const fs::path& configFolder) {
  return mayAsk(std::getenv("DBUS_SESSION_BUS_ADDRESS"), std::getenv("XDG_RUNTIME_DIR"),
                configFolder);
}

Library loadLibrary() {
  static std::mutex mutex;
  static api::Functions functions;
  static bool loaded = false;
  const std::lock_guard lock(mutex);
  if (loaded) return {&functions, {}};

  void* handle = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* message = ::dlerror();
    const std::string why = message != nullptr ? message : "cannot be loaded";
    if (saysResourceFailure(why)) throw IncompleteRead(why);
    return {};  // not installed (or not loadable): the files alone
  }
  // Every symbol, its dependencies' included, is found through the one
  // handle. Never closed: GLib's types can't be unloaded.
  api::Functions found;
#define QUORVEL_EDS_LOOKUP(name, result, parameters)                                            \
  found.name = reinterpret_cast<decltype(found.name)>(::dlsym(handle, #name));                  \
  if (found.name == nullptr) {                                                                  \
    return {nullptr, std::string(kLibraryName) +                                                \
                         " lacks " #name "; Evolution Data Server's calendars are not listed"}; \
  }
  QUORVEL_EDS_FUNCTIONS(QUORVEL_EDS_LOOKUP)
#undef QUORVEL_EDS_LOOKUP
  functions = found;
  loaded = true;
  return {&functions, {}};
}

}  // namespace quorvel::calendar::linuxstore::eds
