// The Linux platform: the store over the user's iCalendar files.
#include "calendar/calendar.h"
#include "calendar/ics_store.h"
#include "main/output.h"

namespace quorvel::calendar {
namespace {

class LinuxPlatform final : public Platform {
 public:
  std::unique_ptr<CalendarStore> createStore() override {
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
