#include "calendar/linux/thunderbird/source.h"

#include <fcntl.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "calendar/ical/problem.h"
#include "calendar/linux/sqlite/database.h"
#include "calendar/linux/thunderbird/items.h"
#include "calendar/linux/thunderbird/prefs.h"
#include "calendar/linux/thunderbird/profiles.h"

namespace quorvel::calendar::linuxstore::thunderbird {
namespace fs = std::filesystem;
namespace {

std::string subjectOf(const Calendar& calendar) {
  return calendar.name + " (Thunderbird " + calendar.id + ")";
}

// Claims the iCalendar file `file` for a calendar: false when a source
// before (the store's folder, say) reads it already.
bool claimFile(const fs::path& file, Gathering& gathering) {
  const auto id = diskIdOf(file.c_str());
  const auto folder = diskIdOf(file.parent_path().c_str());
  // One that can't be looked at is read, and says why it can't be.
  if (!id || !folder) return true;
  return gathering.claimFile(*id, *folder, file.filename().string());
}

class ThunderbirdSource final : public Source {
 public:
  explicit ThunderbirdSource(fs::path home) : home_(std::move(home)) {}

  void gather(const Window&, const ical::Addresses& storeAddresses, Gathering& gathering) override {
    if (home_.empty()) return;
    const auto profiles = profilesInUse(
        home_, [&gathering](std::string line) { gathering.say({}, std::move(line)); });
    if (profiles.empty()) return;
    const auto addresses = std::make_shared<const ical::Addresses>(storeAddresses);
    for (const fs::path& profile : profiles) {
      if (!gathering.going()) return;
      gatherProfile(profile, addresses, gathering);
    }
  }

 private:
  // Reads the calendars `profile` registers (its prefs.js is small), and
  // claims those kept in files, here, so that a file reached by another
  // source too keeps its first place; hands the reading of their events
  // on as one piece of work.
  static void gatherProfile(const fs::path& profile,
                            const std::shared_ptr<const ical::Addresses>& storeAddresses,
                            Gathering& gathering) {
    const std::string key = profile.string() + '\n';
    const fs::path prefsPath = profile / "prefs.js";
    ical::ReadBuffer buffer;
    if (const auto reason = ical::readFileAt(AT_FDCWD, "", prefsPath.c_str(), false, buffer)) {
      gathering.say({key, ""}, ical::lineAbout(prefsPath.string(), *reason));
      return;
    }
    std::vector<Calendar> calendars = registeredCalendars(readPrefs(buffer.contents()));
    std::erase_if(calendars, [&](const Calendar& calendar) {
      if (calendar.kept == Kept::nowhere) {
        gathering.say({key + calendar.id, ""},
                      ical::lineAbout(subjectOf(calendar),
                                      "has no copy on this machine (Thunderbird's offline "
                                      "support is off for it); not listed"));
        return true;
      }
      return calendar.kept == Kept::file && !claimFile(calendar.file, gathering);
    });
    gathering.hand(
        [profile, key, calendars = std::move(calendars), storeAddresses](Reading& reading) {
          readProfile(profile, key, calendars, *storeAddresses, reading);
        });
  }

  static void readProfile(const fs::path& profile, const std::string& key,
                          const std::vector<Calendar>& calendars,
                          const ical::Addresses& storeAddresses, Reading& reading) {
    std::set<std::string, std::less<>> local;
    std::set<std::string, std::less<>> cached;
    for (const Calendar& calendar : calendars) {
      switch (calendar.kept) {
        case Kept::local:
          local.insert(calendar.id);
          break;
        case Kept::cache:
          cached.insert(calendar.id);
          break;
        case Kept::file:
          readFile(calendar, {key + calendar.id, ""}, storeAddresses, reading);
          break;
        case Kept::nowhere:
          break;
      }
    }
    readDatabase(profile / "calendar-data" / "local.sqlite", key, local, calendars, storeAddresses,
                 reading);
    readDatabase(profile / "calendar-data" / "cache.sqlite", key, cached, calendars, storeAddresses,
                 reading);
  }

  static void readFile(const Calendar& calendar, const Place& place,
                       const ical::Addresses& storeAddresses, Reading& reading) {
    if (const auto reason =
            ical::readFileAt(AT_FDCWD, "", calendar.file.c_str(), false, reading.buffer())) {
      reading.say(place,
                  ical::lineAbout(subjectOf(calendar) + ", " + calendar.file.string(), *reason));
      return;
    }
    const ical::Addresses addresses = ical::userAddresses(calendar.addresses, storeAddresses);
    reading.read(
        {reading.buffer().contents(), addresses}, [&] { return place; },
        [&] { return subjectOf(calendar) + ", " + calendar.file.string(); });
  }

  static void readDatabase(const fs::path& path, const std::string& key,
                           const std::set<std::string, std::less<>>& wanted,
                           const std::vector<Calendar>& calendars,
                           const ical::Addresses& storeAddresses, Reading& reading) {
    if (wanted.empty()) return;
    auto database = Database::read(path);
    if (const auto* reason = std::get_if<std::string>(&database)) {
      reading.say({key, path.string()}, ical::lineAbout(path.string(), *reason));
      return;
    }
    auto stored = readStored(std::get<Database>(database), wanted);
    if (const auto* reason = std::get_if<std::string>(&stored)) {
      reading.say({key, path.string()}, ical::lineAbout(path.string(), *reason));
      return;
    }
    const Stored& events = std::get<Stored>(stored);
    for (const Calendar& calendar : calendars) {
      const auto texts = events.events.find(calendar.id);
      if (!wanted.contains(calendar.id) || texts == events.events.end()) continue;
      ical::Addresses own = calendar.addresses;
      if (const auto server = events.addresses.find(calendar.id);
          server != events.addresses.end()) {
        own.insert(server->second.begin(), server->second.end());
      }
      const ical::Addresses addresses = ical::userAddresses(own, storeAddresses);
      const std::string subject = subjectOf(calendar);
      for (const EventText& event : texts->second) {
        reading.read(
            {event.text, addresses, true},
            [&] {
              return Place{key + calendar.id, event.uid};
            },
            [&] { return subject + ", event " + event.uid; });
      }
    }
  }

  fs::path home_;
};

}  // namespace

std::unique_ptr<Source> thunderbirdSource(fs::path home) {
  return std::make_unique<ThunderbirdSource>(std::move(home));
}

}  // namespace quorvel::calendar::linuxstore::thunderbird
