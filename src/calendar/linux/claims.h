// The files and folders the store's sources have claimed, so that one
// reached twice (by two sources, or by two paths) is read once, at its
// first place.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore {

// Used on the store's calling thread alone, where the sources gather in the
// store's order.
class Claims {
 public:
  // Gathering::claimFolder.
  std::optional<std::vector<std::string>> claimFolder(DiskId id, bool everyFile);
  // Gathering::claimFile.
  bool claimFile(DiskId id, DiskId folder, std::string_view name);

 private:
  std::map<DiskId, bool> folders_;  // whether each reads every file
  struct File {
    DiskId folder;
    std::string name;
  };
  std::map<DiskId, File> files_;
};

}  // namespace quorvel::calendar::linuxstore
