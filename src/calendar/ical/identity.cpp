#include "calendar/ical/identity.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

namespace quorvel::calendar::ical {

std::string addressKey(std::string_view address) {
  constexpr std::string_view kScheme = "mailto:";
  if (address.size() >= kScheme.size() &&
      strncasecmp(address.data(), kScheme.data(), kScheme.size()) == 0) {
    address.remove_prefix(kScheme.size());
  }
  std::string key(address);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return key;
}

std::vector<std::string> parseAddresses(std::string_view text) {
  std::vector<std::string> addresses;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);

    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!line.empty() && isSpace(line.front())) line.remove_prefix(1);
    while (!line.empty() && isSpace(line.back())) line.remove_suffix(1);
    std::string address = addressKey(line);
    if (!address.empty()) addresses.push_back(std::move(address));
  }
  return addresses;
}

}  // namespace quorvel::calendar::ical
