// Who the user is: the addresses that make an attendee the user, and how
// addresses are compared.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

namespace quorvel::calendar::ical {

// Addresses as addressKey gives them.
using Addresses = std::unordered_set<std::string>;

// An address as the user's addresses are compared: without a leading
// "mailto:", in lower case.
std::string addressKey(std::string_view address);

// The user's addresses in one calendar: those that calendar knows as the
// user's (its folder's `addresses` file, the mail identities and its own
// address in EDS), and the store's (the `addresses` file of the store's
// folder), which count in every calendar.
Addresses userAddresses(const Addresses& calendar, const Addresses& store);

}  // namespace quorvel::calendar::ical
