// Reading the small files where other programs keep their settings, to
// find where the user's calendars are.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "calendar/ical/file.h"

namespace quorvel::calendar::linuxstore {

// Settings files are written by hand or by their program, and small: a
// larger one is not such a file.
inline constexpr std::size_t kMaxSettingsSize = std::size_t{1} << 20;

// Reads the settings file `path` into `buffer`, and gives its text. Nothing,
// with no line, when there is no such file (`absent`, when given, is set
// then); nothing, with a line about it through `say`, when it can't be
// read, is larger than kMaxSettingsSize or isn't text (holds a NUL). Throws
// IncompleteRead when the system lacks a resource.
std::optional<std::string_view> readSettingsFile(const std::string& path, ical::ReadBuffer& buffer,
                                                 const std::function<void(std::string)>& say,
                                                 bool* absent = nullptr);

// What settings files' escapes are undone with: the value of the
// hexadecimal digit `c` (-1 when it is none), and the code point `code`
// appended as UTF-8 (a lone surrogate, which an escape may name, as its
// three bytes).
int hexDigit(char c);
void appendUtf8(std::string& out, char32_t code);

}  // namespace quorvel::calendar::linuxstore
