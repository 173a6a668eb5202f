// Where the user's calendars are kept, by the XDG base directory rules.
#pragma once

#include <filesystem>

namespace quorvel::calendar::linuxstore {

// `${XDG_DATA_HOME:-$HOME/.local/share}/calendars`, the store's folder of
// iCalendar files.
std::filesystem::path defaultStoreRoot();

// `${XDG_CONFIG_HOME:-$HOME/.config}/evolution`, where Evolution Data Server
// keeps the user's calendar sources.
std::filesystem::path defaultEvolutionConfig();

// The user's home folder: `$HOME`, else the user database's; empty when
// there is none.
std::filesystem::path homeFolder();

}  // namespace quorvel::calendar::linuxstore
