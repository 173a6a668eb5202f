// Reading the calendars that Evolution Data Server (EDS) lists: GNOME's
// calendars (Personal, Birthdays & Anniversaries, CalDAV, Google and
// Exchange accounts...), beside the user's iCalendar files.
//
// Each enabled calendar source is read from what EDS has cached of it
// (cache.h), or, without a cache, connected and asked one query (text.h:
// queryFor); what it holds is turned back into iCalendar text, one
// VCALENDAR per UID with the definitions of the zones it names, for the store
// to read with the same reader and expansion as its files. EDS's own
// expansion is not used: EDS 3.46 lists occurrences that an override moved
// out of the window and misses floating times near the window's edges.
//
// Every call that waits on EDS is bounded, whatever the session bus does:
// the registry and the calendars (connected in parallel) are each created
// and read on a thread of their own, which is waited for until a deadline.
// Calendars are cancelled at theirs, and a calendar that didn't answer in
// time is skipped with a line. A thread whose call doesn't return even then
// (EDS can wait on threads of its own that nothing cancels) is left behind,
// never joined, and EDS is not called again in that run.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "calendar/linux/eds/api.h"
#include "calendar/linux/eds/text.h"
#include "calendar/window.h"

namespace quorvel::calendar::linuxstore::eds {

struct Calendar {
  std::string uid;          // its source's UID, unique and stable
  std::string displayName;  // as the user named it
  // The calendar's own address (a CalDAV account's), as addressKey gives it.
  std::vector<std::string> addresses;
  std::vector<EventText> events;
  // Why it was skipped, as a line says it after the calendar's name.
  std::optional<std::string> problem;
  // What lines say after its name about it although it was read.
  std::vector<std::string> notes;

  // How lines name it: "Work (EDS 1f2e…)".
  std::string subject() const { return displayName + " (EDS " + uid + ")"; }
};

// What EDS gave for a window.
struct Reply {
  std::vector<Calendar> calendars;  // by UID
  // The addresses and aliases of the enabled mail identities, as
  // addressKey gives them: the user's on every calendar.
  std::vector<std::string> userAddresses;
  // Why no calendar could be listed although EDS is there (its registry
  // failed or didn't answer in time), as a whole line says it.
  std::optional<std::string> problem;
};

struct Limits {
  // The registry may have to be started (D-Bus activation) first.
  std::chrono::milliseconds registry{5000};
  // Calendars are connected and asked in parallel, each within this.
  std::chrono::milliseconds calendar{2000};
};

// Reads every calendar source EDS lists as enabled, shown or hidden, for
// `window` (the store's search window): a calendar EDS has cached from its
// cache below `cacheFolder` (`<uid>/cache.db`; cache.h), without asking EDS
// and whatever its server does, any other through EDS. A session bus that
// can't be reached gives nothing, without a problem. Throws IncompleteRead
// when the system lacked memory, descriptors or threads to read them all.
// `eds` lives as long as the process: threads left behind go on using it.
Reply readCalendars(const api::Functions& eds, const Window& window,
                    const std::filesystem::path& cacheFolder, const Limits& limits = {});

}  // namespace quorvel::calendar::linuxstore::eds
