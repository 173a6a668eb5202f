// What KDE's settings say about the user's local calendars and who the user
// is: the Akonadi resources that keep plain iCalendar files, and the mail
// identities' addresses.
//
// Akonadi lists its resource instances in `akonadi/agentsrc`, a QSettings
// INI file (`[Instances]` with `<instance>\AgentType=<type>` lines); each
// resource keeps its own settings in `<instance>rc`, a KConfig file, as do
// the identities (`emailidentities`). Values that KConfig would expand
// (`$HOME`, `${VAR}`, `$$`) are expanded the same way; one that would run a
// shell command (`$(…)`) is never used, and says so.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/ical/identity.h"
#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore::kde {

// One of the user's local KDE calendars: an Akonadi resource whose data is
// plain iCalendar.
struct Resource {
  std::string instance;  // e.g. "akonadi_ical_resource_0"
  enum class Kind {
    file,    // akonadi_ical_resource: one iCalendar file
    folder,  // akonadi_icaldir_resource: a folder of them
  } kind = Kind::file;
  std::filesystem::path path;  // absolute, variables expanded
};

// The ical and icaldir resources that `configHome/akonadi/agentsrc` lists
// under [Instances], in a stable order (by instance name), each with the
// `[General]` `Path` of `configHome/<instance>rc`: expanded as KConfig
// expands a path (always, with or without `[$e]`), a `file:` URL taken as
// its local path. A file that can't be read or used gives one line through
// `say` (ical::lineAbout(path, reason)); so does an instance with no usable
// Path (none, relative, another scheme's URL, a command), and the others are
// still listed; nothing at all (no line) when agentsrc is absent. Files
// larger than 1 MiB are refused. Throws IncompleteRead (ical::failIncomplete)
// when the system lacks a resource (ical::isResourceError).
std::vector<Resource> localResources(const std::filesystem::path& configHome,
                                     const Variable& variable,
                                     const std::function<void(std::string)>& say);

// The addresses of the user's KDE identities (`configHome/emailidentities`:
// each `[Identity #N]` group's `Email Address` and `Email Aliases`, a KConfig
// list), as ical::addressKey gives them. Nothing, silently, when the file is
// absent; one line through `say` when it can't be read or used, or when a
// value would run a command (that value is left out). Throws IncompleteRead
// as localResources does.
ical::Addresses identityAddresses(const std::filesystem::path& configHome, const Variable& variable,
                                  const std::function<void(std::string)>& say);

}  // namespace quorvel::calendar::linuxstore::kde
