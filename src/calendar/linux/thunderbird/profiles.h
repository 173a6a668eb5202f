// Where Thunderbird keeps the profiles in use: its roots under the user's
// home (its own, the snap's, Flatpak's), and in each the profiles that
// `profiles.ini` and `installs.ini` say are in use.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quorvel::calendar::linuxstore::thunderbird {

// The folders of the profiles in use below `home` that hold calendars (a
// `calendar-data` folder), in a stable order: by root (`~/.thunderbird`,
// the snap's, then Flatpak's by application id), then as the root's files
// name them. The profiles in use are those Thunderbird's installs default
// to (`profiles.ini`'s [Install…] sections and `installs.ini`'s copy of
// them); only when none names one, the profile marked `Default=1` (or the
// only profile there is). A folder reached twice (the same device and
// inode) is listed once. A root whose `profiles.ini` can't be read or used
// gives one line through `say`, and the others are still listed. Throws
// IncompleteRead when the system lacks a resource to read them.
std::vector<std::filesystem::path> profilesInUse(const std::filesystem::path& home,
                                                 const std::function<void(std::string)>& say);

}  // namespace quorvel::calendar::linuxstore::thunderbird
