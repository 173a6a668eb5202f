// Whether Evolution Data Server (EDS) is to be asked for calendars at all,
// and loading its client library when it is.
//
// A run that has no use for EDS pays nothing for it: the library (and GLib
// with it) is loaded only when a session bus exists to reach EDS by and the
// user has used EDS, so that a run never starts EDS's daemons for someone who
// never used them, and the executable depends on neither.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "calendar/linux/eds/api.h"

namespace quorvel::calendar::linuxstore::eds {

// Whether EDS may be asked: a session bus is there to ask it on (`busAddress`,
// the value of DBUS_SESSION_BUS_ADDRESS, is set, or `runtimeFolder`, the value
// of XDG_RUNTIME_DIR, holds the bus's socket `bus`) and the user has used EDS
// (its configuration folder `configFolder` exists). Looks at two paths at
// most, and starts nothing. Null or empty values are unset.
bool mayAsk(const char* busAddress, const char* runtimeFolder,
            const std::filesystem::path& configFolder);

// The same, for this process's environment.
bool mayAsk(const std::filesystem::path& configFolder);

// Whether dlopen's message says the system lacked descriptors or memory
// rather than that the library (or one it needs) isn't there or is broken.
// The loader keeps errno to itself, so its message, in the "C" locale the
// tool runs in, is all there is to tell by.
bool saysResourceFailure(std::string_view dlopenMessage);

// The name of EDS's client library, loaded by this name alone.
inline constexpr const char* kLibraryName = "libecal-2.0.so.2";

struct Library {
  // Null when the library can't be used: then EDS's calendars are not listed.
  const api::Functions* functions = nullptr;
  // Why an installed library can't be used (it lacks an entry point); empty
  // when it is simply not installed, which is no problem at all.
  std::string problem;
};

// Loads the library once per process and looks up every entry point of
// api.h in it; it is never unloaded (GLib's types can't be). Throws
// IncompleteRead when it couldn't be loaded for want of descriptors or
// memory: EDS's calendars would be missing from a document that looked whole.
Library loadLibrary();

}  // namespace quorvel::calendar::linuxstore::eds
