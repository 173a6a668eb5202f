#include "calendar/linux/thunderbird/source.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "calendar/ical/problem.h"
#include "calendar/linux/thunderbird/database.h"
#include "calendar/linux/thunderbird/items.h"
#include "calendar/linux/thunderbird/prefs.h"
#include "calendar/linux/thunderbird/profiles.h"

namespace quorvel::calendar::linuxstore::thunderbird {
namespace fs = std::filesystem;
namespace {

std::string subjectOf(const Calendar& calendar) {
  return calendar.name + " (Thunderbird " + calendar.id + ")";
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the store's walk of `storeRoot` reads `file` too: a *.ics file
// directly in the store's folder or in a folder directly below it.
bool listedByStore(const fs::path& file, const fs::path& storeRoot) {
  std::error_code error;
  const fs::path real = fs::canonical(file, error);
  if (error || storeRoot.empty()) return false;
  const std::string name = real.filename().string();
  if (name.starts_with('.') || !name.ends_with(".ics")) return false;
  struct stat root {};
  struct stat folder {};
  if (::stat(storeRoot.c_str(), &root) != 0 || ::stat(real.parent_path().c_str(), &folder) != 0) {
    return false;
  }
  if (sameFile(folder, root)) return true;
  for (const fs::directory_entry& entry : fs::directory_iterator(storeRoot, error)) {
    struct stat below {};
    if (!entry.path().filename().string().starts_with('.') &&
        ::stat(entry.path().c_str(), &below) == 0 && sameFile(below, folder)) {
      return true;
    }
  }
  return false;
}

class ThunderbirdSource final : public Source {
 public:
  ThunderbirdSource(fs::path home, fs::path storeRoot)
      : home_(std::move(home)), storeRoot_(std::move(storeRoot)) {}

  void gather(const Window&, const ical::Addresses& storeAddresses, Gathering& gathering) override {
    if (home_.empty()) return;
    const auto profiles = profilesInUse(
        home_, [&gathering](std::string line) { gathering.say({}, std::move(line)); });
    if (profiles.empty()) return;
    const auto addresses = std::make_shared<const ical::Addresses>(storeAddresses);
    for (const fs::path& profile : profiles) {
      gathering.hand([this, profile, addresses](Reading& reading) {
        readProfile(profile, *addresses, reading);
      });
    }
  }

 private:
  void readProfile(const fs::path& profile, const ical::Addresses& storeAddresses,
                   Reading& reading) const {
    const std::string key = profile.string() + '\n';
    const fs::path prefsPath = profile / "prefs.js";
    if (const auto reason =
            ical::readFileAt(AT_FDCWD, "", prefsPath.c_str(), false, reading.buffer())) {
      reading.say({key, ""}, ical::lineAbout(prefsPath.string(), *reason));
      return;
    }
    const std::vector<Calendar> calendars =
        registeredCalendars(readPrefs(reading.buffer().contents()));

    std::set<std::string, std::less<>> local;
    std::set<std::string, std::less<>> cached;
    for (const Calendar& calendar : calendars) {
      const Place place{key + calendar.id, ""};
      switch (calendar.kept) {
        case Kept::local:
          local.insert(calendar.id);
          break;
        case Kept::cache:
          cached.insert(calendar.id);
          break;
        case Kept::nowhere:
          reading.say(place, ical::lineAbout(subjectOf(calendar),
                                             "has no copy on this machine (Thunderbird's offline "
                                             "support is off for it); not listed"));
          break;
        case Kept::file:
          readFile(calendar, place, storeAddresses, reading);
          break;
      }
    }
    readDatabase(profile / "calendar-data" / "local.sqlite", key, local, calendars, storeAddresses,
                 reading);
    readDatabase(profile / "calendar-data" / "cache.sqlite", key, cached, calendars, storeAddresses,
                 reading);
  }

  void readFile(const Calendar& calendar, const Place& place, const ical::Addresses& storeAddresses,
                Reading& reading) const {
    if (listedByStore(calendar.file, storeRoot_)) return;
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
  fs::path storeRoot_;
};

}  // namespace

std::unique_ptr<Source> thunderbirdSource(fs::path home, fs::path storeRoot) {
  return std::make_unique<ThunderbirdSource>(std::move(home), std::move(storeRoot));
}

}  // namespace quorvel::calendar::linuxstore::thunderbird
