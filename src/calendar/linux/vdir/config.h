// The calendar folders the user's khal and vdirsyncer configurations name:
// folders of *.ics files (vdirs), wherever the user keeps them.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore::vdir {

// The calendar folders khal's configuration names, in the order it names
// them. The configuration is the first of `configHome/khal/config` and
// `dir/khal/config` for each dir of `$XDG_CONFIG_DIRS` (else /etc/xdg) that
// exists, as khal looks for it. Its `[calendars]` `[[name]]` sections have a
// `path` and a `type`: `calendar` (the default) is one folder, `discover` a
// glob (`*`, `?`, `[…]`, `**` for any depth) whose matching folders that
// hold no other match are each one (in sorted order), `birthdays` holds
// vCards and is skipped. `$VAR`s and then `~` in paths are expanded as khal
// does (a variable that is unset is left as written). Nothing, silently,
// when there is no configuration or a path names nothing; one line through
// `say` (ical::lineAbout(path, reason)) when the configuration can't be
// read or used, and then nothing from it; one line for a calendar whose
// folder can't be used. A folder reached twice is listed once. Throws
// IncompleteRead (ical::failIncomplete) when the system lacks a resource
// (ical::isResourceError).
std::vector<std::filesystem::path> khalFolders(const std::filesystem::path& configHome,
                                               const std::filesystem::path& home,
                                               const Variable& variable,
                                               const std::function<void(std::string)>& say);

// The calendar folders of vdirsyncer's configuration: the file
// `$VDIRSYNCER_CONFIG`, else `home/.vdirsyncer/config`, else
// `configHome/vdirsyncer/config`. Each `[storage name]` with
// `type = "filesystem"` and `fileext = ".ics"` (values are JSON) gives
// one folder per folder below its `path` (sorted, names starting with a dot
// left out), and `path` itself when a `[pair …]` using it (as `a` or `b`)
// syncs it without a collection (`collections = null`, or a
// `["name", "a's", "b's"]` entry with null on its side); `~` is expanded.
// Storages of other files (`.vcf` contacts) are skipped silently. Same
// lines and failures as khalFolders; a `$VDIRSYNCER_CONFIG` that names no
// file gives a line, as vdirsyncer refuses to run then.
std::vector<std::filesystem::path> vdirsyncerFolders(const std::filesystem::path& configHome,
                                                     const std::filesystem::path& home,
                                                     const Variable& variable,
                                                     const std::function<void(std::string)>& say);

}  // namespace quorvel::calendar::linuxstore::vdir
