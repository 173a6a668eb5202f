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

Addresses userAddresses(const Addresses& calendar, const Addresses& store) {
  Addresses all = store;
  all.insert(calendar.begin(), calendar.end());
  return all;
}

}  // namespace quorvel::calendar::ical
