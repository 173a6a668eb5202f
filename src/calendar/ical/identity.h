// Who the user is: the addresses that make an attendee the user, and how
// addresses are compared.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel::calendar::ical {

// An address as the user's addresses are compared: without a leading
// "mailto:", in lower case.
std::string addressKey(std::string_view address);

// The addresses in the text of an `addresses` file: one per line, blank lines
// ignored, "mailto:" optional, compared without regard to case.
std::vector<std::string> parseAddresses(std::string_view text);

}  // namespace quorvel::calendar::ical
