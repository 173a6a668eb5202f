#pragma once

#include <optional>
#include <string>

namespace quorvel {

// Parses a command-line time (milliseconds since the epoch) with the C
// library's strtod rules in the "C" locale, whatever locale the process is
// in: an optional sign, decimal or hexadecimal digits with optional fraction
// and exponent, or the infinity and not-a-number words. The whole text must be
// consumed, and it may not start with white space or be empty. Out-of-range
// magnitudes come back as strtod gives them (infinity, or zero for underflow).
std::optional<double> parseTime(const std::string& text);

}  // namespace quorvel
