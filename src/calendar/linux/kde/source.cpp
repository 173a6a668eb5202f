#include "calendar/linux/kde/source.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "calendar/ical/file.h"
#include "calendar/ical/lines.h"
#include "calendar/ical/problem.h"
#include "calendar/linux/kde/config.h"

namespace quorvel::calendar::linuxstore::kde {
namespace fs = std::filesystem;
namespace {

// The file the folder resource keeps beside its calendar's files.
constexpr std::string_view kReadme = "WARNING_README.txt";

// Reads the iCalendar file `path`, claimed for this source, as one item.
void readFile(const fs::path& path, const ical::Addresses& addresses, Reading& reading) {
  const std::string key = path.string();
  if (const auto reason = ical::readFileAt(AT_FDCWD, "", key.c_str(), false, reading.buffer())) {
    reading.say({key, ""}, ical::lineAbout(key, *reason));
    return;
  }
  reading.read(
      {reading.buffer().contents(), addresses},
      [&key] {
        return Place{key, ""};
      },
      [&key] { return key; });
}

// Reads the files of the folder `path`, claimed for this source, but those
// in `taken` (read at their first place), joining those of one UID.
void readFolder(const fs::path& path, const std::vector<std::string>& taken,
                const ical::Addresses& addresses, Reading& reading) {
  const std::string key = path.string();
  const ical::FileDescriptor folder(::open(key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) {
    if (ical::isResourceError(errno)) ical::failIncomplete(key, errno);
    reading.say({key, ""}, ical::lineAbout(key, std::strerror(errno)));
    return;
  }
  std::vector<std::pair<std::string, bool>> names;  // and whether known regular
  if (const int error = ical::forEachEntry(folder.get(), key, [&](const dirent& entry) {
        const std::string_view name = entry.d_name;
        if (name == kReadme || std::find(taken.begin(), taken.end(), name) != taken.end()) return;
        names.emplace_back(name, entry.d_type == DT_REG);
      })) {
    reading.say({key, ""}, ical::lineAbout(key, std::strerror(error)));
    return;
  }
  std::sort(names.begin(), names.end());

  // Every file's text, then the whole ones grouped by UID.
  struct File {
    const std::string* name;
    std::string text;
    FileShape shape;
  };
  std::vector<File> files;
  files.reserve(names.size());
  for (const auto& [name, knownRegular] : names) {
    if (const auto reason =
            ical::readFileAt(folder.get(), key, name.c_str(), knownRegular, reading.buffer())) {
      reading.say({key, name}, ical::lineAbout(key + "/" + name, *reason));
      continue;
    }
    const std::string_view text = reading.buffer().contents();
    files.push_back({&name, std::string(text), shapeOf(text)});
  }
  std::map<std::string_view, std::vector<const File*>> byUid;
  for (const File& file : files) {
    if (file.shape.whole && !file.shape.uid.empty()) byUid[file.shape.uid].push_back(&file);
  }
  for (const File& file : files) {
    const auto group = byUid.find(file.shape.uid);
    const bool joined = file.shape.whole && group != byUid.end() && group->second.size() > 1;
    const std::string& name = *file.name;
    if (!joined) {
      reading.read(
          {file.text, addresses},
          [&] {
            return Place{key, name};
          },
          [&] { return key + "/" + name; });
      continue;
    }
    // A group is read once, at its first file's place.
    if (group->second.front() != &file) continue;
    std::string text;
    for (const File* member : group->second) text += member->text;
    reading.read(
        {text, addresses, true},
        [&] {
          return Place{key, name};
        },
        [&] { return key + ", event " + file.shape.uid; });
  }
}

class KdeSource final : public Source {
 public:
  KdeSource(fs::path configHome, Variable variable)
      : configHome_(std::move(configHome)), variable_(std::move(variable)) {}

  void gather(const Window&, const ical::Addresses& storeAddresses, Gathering& gathering) override {
    if (configHome_.empty()) return;
    const auto say = [&gathering](std::string line) { gathering.say({}, std::move(line)); };
    const std::vector<Resource> resources = localResources(configHome_, variable_, say);
    if (resources.empty()) return;
    const auto addresses = std::make_shared<const ical::Addresses>(
        ical::userAddresses(identityAddresses(configHome_, variable_, say), storeAddresses));
    for (const Resource& resource : resources) {
      if (!gathering.going()) return;
      const auto id = diskIdOf(resource.path.c_str());
      // One that doesn't exist yet is an empty calendar: KDE writes it with
      // the first event.
      if (!id && errno == ENOENT) continue;
      if (resource.kind == Resource::Kind::file) {
        const auto folder = diskIdOf(resource.path.parent_path().c_str());
        if (id && folder && !gathering.claimFile(*id, *folder, resource.path.filename().string())) {
          continue;
        }
        gathering.hand([path = resource.path, addresses](Reading& reading) {
          readFile(path, *addresses, reading);
        });
        continue;
      }
      std::vector<std::string> taken;
      if (id) {
        auto claimed = gathering.claimFolder(*id, true);
        if (!claimed) continue;
        taken = std::move(*claimed);
      }
      gathering.hand([path = resource.path, taken = std::move(taken), addresses](Reading& reading) {
        readFolder(path, taken, *addresses, reading);
      });
    }
  }

 private:
  fs::path configHome_;
  Variable variable_;
};

}  // namespace

FileShape shapeOf(std::string_view text) {
  FileShape shape;
  ical::LineReader lines(text);
  ical::ContentLine line;
  std::vector<std::string> open;  // the components begun and not yet ended
  bool began = false;
  bool inEvent = false;
  while (lines.next(line)) {
    if (ical::sameName(line.name, "BEGIN")) {
      if (open.size() == 64) return shape;  // nested deeper than the reader reads
      open.emplace_back(line.value);
      began = true;
      inEvent = ical::sameName(line.value, "VEVENT");
    } else if (ical::sameName(line.name, "END")) {
      if (open.empty() || !ical::sameName(open.back(), line.value)) return shape;
      open.pop_back();
      inEvent = false;
    } else if (inEvent && shape.uid.empty() && ical::sameName(line.name, "UID")) {
      shape.uid = line.value;
    }
  }
  shape.whole = began && open.empty();
  return shape;
}

std::unique_ptr<Source> kdeSource(fs::path configHome, Variable variable) {
  return std::make_unique<KdeSource>(std::move(configHome), std::move(variable));
}

}  // namespace quorvel::calendar::linuxstore::kde
