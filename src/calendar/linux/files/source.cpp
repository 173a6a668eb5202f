#include "calendar/linux/files/source.h"

#include "calendar/ical/problem.h"
#include "calendar/linux/files/folders.h"

namespace quorvel::calendar::linuxstore::files {
namespace {

// Reads each file of `batch` into the thread's buffer, and it as an item.
void readBatch(const FileBatch& batch, Reading& reading) {
  const CalendarFolder& folder = *batch.folder;
  for (const FileBatch::File& file : batch.files) {
    const char* name = batch.nameOf(file);
    const auto place = [&folder, name] { return folder.placeOf(name); };
    const auto path = [&folder, name] { return folder.path() + "/" + name; };
    ical::ReadBuffer& buffer = reading.buffer();
    if (const auto reason =
            ical::readFileAt(folder.fd(), folder.path(), name, file.knownRegular, buffer)) {
      reading.say(place(), ical::lineAbout(path(), *reason));
      continue;
    }
    reading.read({buffer.contents(), folder.userAddresses()}, place, path);
  }
}

class FolderSource final : public Source {
 public:
  explicit FolderSource(std::filesystem::path root) : root_(std::move(root)) {}

  void gather(const Window&, const ical::Addresses& storeAddresses, Gathering& gathering) override {
    walkStore(
        root_, storeAddresses,
        [&gathering](FileBatch batch) {
          if (!gathering.going()) return;
          gathering.hand(
              [batch = std::move(batch)](Reading& reading) { readBatch(batch, reading); });
        },
        [&gathering](Place place, std::string line) {
          gathering.say(std::move(place), std::move(line));
        });
  }

 private:
  std::filesystem::path root_;
};

}  // namespace

std::unique_ptr<Source> folderSource(std::filesystem::path root) {
  return std::make_unique<FolderSource>(std::move(root));
}

}  // namespace quorvel::calendar::linuxstore::files
