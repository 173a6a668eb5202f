#include "calendar/linux/files/source.h"

#include <utility>
#include <vector>

#include "calendar/linux/files/folders.h"

namespace quorvel::calendar::linuxstore::files {
namespace {

class StoreFolderSource final : public Source {
 public:
  explicit StoreFolderSource(std::filesystem::path root) : root_(std::move(root)) {}

  void gather(const Window&, const ical::Addresses& storeAddresses, Gathering& gathering) override {
    walkStore(root_, storeAddresses, gathering);
  }

 private:
  std::filesystem::path root_;
};

class ConfiguredFoldersSource final : public Source {
 public:
  explicit ConfiguredFoldersSource(
      std::function<std::vector<std::filesystem::path>(const std::function<void(std::string)>& say)>
          folders)
      : folders_(std::move(folders)) {}

  void gather(const Window&, const ical::Addresses& storeAddresses, Gathering& gathering) override {
    const auto folders =
        folders_([&gathering](std::string line) { gathering.say({}, std::move(line)); });
    for (const std::filesystem::path& folder : folders) {
      if (!gathering.going()) return;
      walkFolder(folder, storeAddresses, gathering);
    }
  }

 private:
  FolderList folders_;
};

}  // namespace

std::unique_ptr<Source> folderSource(std::filesystem::path root) {
  return std::make_unique<StoreFolderSource>(std::move(root));
}

std::unique_ptr<Source> configuredFolderSource(FolderList folders) {
  return std::make_unique<ConfiguredFoldersSource>(std::move(folders));
}

}  // namespace quorvel::calendar::linuxstore::files
