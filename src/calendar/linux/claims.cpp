#include "calendar/linux/claims.h"

namespace quorvel::calendar::linuxstore {

std::optional<std::vector<std::string>> Claims::claimFolder(DiskId id, bool everyFile) {
  if (!folders_.try_emplace(id, everyFile).second) return std::nullopt;
  std::vector<std::string> taken;
  for (const auto& [file, claimed] : files_) {
    if (claimed.folder == id) taken.push_back(claimed.name);
  }
  return taken;
}

bool Claims::claimFile(DiskId id, DiskId folder, std::string_view name) {
  if (const auto reader = folders_.find(folder); reader != folders_.end()) {
    // Folders are read without their hidden files, and most only for
    // their *.ics files.
    if (!name.starts_with('.') && (reader->second || name.ends_with(".ics"))) return false;
  }
  return files_.try_emplace(id, File{folder, std::string(name)}).second;
}

}  // namespace quorvel::calendar::linuxstore
