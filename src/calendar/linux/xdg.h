// Where the user's calendars are kept, by the XDG base directory rules.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::calendar::linuxstore {

// `${XDG_DATA_HOME:-$HOME/.local/share}/calendars`, the store's folder of
// iCalendar files.
std::filesystem::path defaultStoreRoot();

// `${XDG_CONFIG_HOME:-$HOME/.config}`, where programs keep their settings.
std::filesystem::path configHome();

// `${XDG_CACHE_HOME:-$HOME/.cache}`, where programs keep what they can
// fetch again.
std::filesystem::path cacheHome();

// The variable of the process's environment named `name`.
std::optional<std::string> environmentVariable(std::string_view name);

// The user's home folder: `$HOME`, else the user database's; empty when
// there is none.
std::filesystem::path homeFolder();

}  // namespace quorvel::calendar::linuxstore
