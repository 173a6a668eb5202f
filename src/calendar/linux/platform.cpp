// The Linux platform: the store over the user's iCalendar files, with
// GNOME's calendars through Evolution Data Server, Thunderbird's, KDE's, and
// khal's and vdirsyncer's folders beside them.
#include "calendar/calendar.h"
#include "calendar/linux/store.h"
#include "calendar/linux/xdg.h"

namespace quorvel::calendar {
namespace {

class LinuxPlatform final : public Platform {
 public:
  std::unique_ptr<CalendarStore> createStore(Diagnostics diagnostics) override {
    const std::filesystem::path configHome = linuxstore::configHome();
    const std::filesystem::path cacheHome = linuxstore::cacheHome();
    return linuxstore::createStore(
        linuxstore::defaultStoreRoot(), std::move(diagnostics), {},
        {.evolutionConfig = configHome.empty() ? configHome : configHome / "evolution",
         .evolutionCache = cacheHome.empty() ? cacheHome : cacheHome / "evolution",
         .home = linuxstore::homeFolder(),
         .configHome = configHome,
         .variable = linuxstore::environmentVariable});
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
