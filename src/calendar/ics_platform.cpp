// The Linux platform: the store over the user's iCalendar files.
#include <libical/ical.h>

#include <cstdio>
#include <mutex>

#include "calendar/calendar.h"
#include "calendar/ics_store.h"
#include "main/output.h"

namespace quorvel::calendar {
namespace {

// libical prints some parse warnings through stdio's stderr, whatever the
// caller wants. The tool reports problems itself, one line per file, with
// whole-buffer writes to descriptor 2 that don't go through stdio, so stdio's
// stderr is pointed at /dev/null once, before libical is first used.
void silenceLibraryWarnings() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (std::FILE* sink = std::fopen("/dev/null", "w")) stderr = sink;
  });
}

class LinuxPlatform final : public Platform {
 public:
  std::unique_ptr<CalendarStore> createStore() override {
    silenceLibraryWarnings();
    // Parse errors become X-LIC-ERROR properties; never let libical abort.
    icalerror_set_errors_are_fatal(0);
    return ics::createIcsStore(ics::defaultStoreRoot(),
                               [](std::string_view line) { writeLine(2, line); });
  }

  // There is no older access request to fall back to on Linux: report a
  // system new enough for the full-access form.
  bool isOperatingSystemAtLeast(OperatingSystemVersion) override { return true; }
};

}  // namespace

Platform& systemPlatform() {
  static LinuxPlatform platform;
  return platform;
}

}  // namespace quorvel::calendar
