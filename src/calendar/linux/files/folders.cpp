#include "calendar/linux/files/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "calendar/ical/problem.h"

namespace quorvel::calendar::linuxstore::files {
namespace fs = std::filesystem;
using ical::Addresses;
using ical::failIncomplete;
using ical::FileDescriptor;
using ical::isResourceError;
using ical::lineAbout;
namespace {

struct DirCloser {
  void operator()(DIR* listing) const { ::closedir(listing); }
};

bool hasIcsSuffix(std::string_view name) {
  return name.size() > 4 && name.substr(name.size() - 4) == ".ics";
}

// Calls `each` with every entry of the folder open as `fd` whose name doesn't
// start with a dot, as the system lists them; returns the error that stopped
// the listing (0 for none). One that says the system lacked a resource throws.
template <typename Each>
int forEachEntry(int fd, const std::string& path, Each each) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) failIncomplete(path, errno);
  const std::unique_ptr<DIR, DirCloser> listing(::fdopendir(copy));
  if (!listing) {
    const int error = errno;
    ::close(copy);
    if (isResourceError(error)) failIncomplete(path, error);
    return error;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing.get());
    if (entry == nullptr) break;
    if (entry->d_name[0] != '.') each(*entry);
  }
  if (errno != 0 && isResourceError(errno)) failIncomplete(path, errno);
  return errno;
}

// The addresses of the `addresses` file in the folder open as `folder`, if
// there is one; a line about one that can't be read goes to `problem`.
template <typename Problem>
Addresses readAddresses(int folder, const std::string& folderPath, Problem problem) {
  struct stat status {};
  if (::fstatat(folder, "addresses", &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (isResourceError(errno)) failIncomplete(folderPath + "/addresses", errno);
    return {};
  }
  ical::ReadBuffer buffer;
  if (const auto reason = ical::readFileAt(folder, folderPath, "addresses", false, buffer)) {
    problem(lineAbout(folderPath + "/addresses", *reason));
    return {};
  }
  const std::vector<std::string> addresses = parseAddresses(buffer.contents());
  return Addresses(addresses.begin(), addresses.end());
}

}  // namespace

std::vector<std::string> parseAddresses(std::string_view text) {
  std::vector<std::string> addresses;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);

    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!line.empty() && isSpace(line.front())) line.remove_prefix(1);
    while (!line.empty() && isSpace(line.back())) line.remove_suffix(1);
    std::string address = ical::addressKey(line);
    if (!address.empty()) addresses.push_back(std::move(address));
  }
  return addresses;
}

CalendarFolder::CalendarFolder(int fd, std::string entry, std::string path,
                               std::shared_ptr<const Addresses> userAddresses)
    : fd_(fd),
      entry_(std::move(entry)),
      path_(std::move(path)),
      userAddresses_(std::move(userAddresses)) {}

Place CalendarFolder::placeOf(std::string_view name) const {
  if (entry_.empty()) return {std::string(name), {}};
  return {entry_, std::string(name)};
}

std::optional<std::string> unreadableRoot(const fs::path& root) {
  const auto failure = [&root](int error) -> std::optional<std::string> {
    return "cannot read the calendar folder " + root.string() + ": " + std::strerror(error);
  };
  const FileDescriptor folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) {
    // Absent (or a link to nothing): an empty store. Short of a resource:
    // nothing to say about access; reading the store will fail.
    if (errno == ENOENT || isResourceError(errno)) return std::nullopt;
    return failure(errno);
  }
  // Listed with the system call itself, into a buffer on the stack.
  alignas(8) char entries[4096];
  for (;;) {
    const long got = ::syscall(SYS_getdents64, folder.get(), entries, sizeof entries);
    if (got == 0) return std::nullopt;
    if (got < 0) {
      if (errno == EINTR) continue;
      if (isResourceError(errno)) return std::nullopt;
      return failure(errno);
    }
  }
}

Addresses storeAddresses(const fs::path& root, const std::function<void(Place, std::string)>& say) {
  const std::string rootPath = root.string();
  const FileDescriptor rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (rootFd.get() < 0) {
    // Absent, or not a folder: the walk says so.
    if (isResourceError(errno)) failIncomplete(rootPath, errno);
    return {};
  }
  return readAddresses(rootFd.get(), rootPath, [&](std::string line) {
    say({"addresses", ""}, std::move(line));
  });
}

void walkStore(const fs::path& root, const Addresses& storeAddresses,
               const std::function<void(FileBatch)>& onBatch,
               const std::function<void(Place, std::string)>& say) {
  const std::string rootPath = root.string();
  FileDescriptor rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (rootFd.get() < 0) {
    if (errno == ENOENT) return;  // absent, or a link to nothing
    if (isResourceError(errno)) failIncomplete(rootPath, errno);
    say({"", ""}, lineAbout(rootPath, std::strerror(errno)));
    return;
  }
  const auto rootAddresses = std::make_shared<const Addresses>(storeAddresses);

  // Fills batches of one folder's files and hands each on when full.
  struct Batcher {
    const std::function<void(FileBatch)>& onBatch;
    FileBatch batch;
    void add(const std::shared_ptr<const CalendarFolder>& folder, std::string_view name,
             bool knownRegular) {
      if (batch.folder != folder) flush();
      batch.folder = folder;
      batch.files.push_back({static_cast<std::uint32_t>(batch.names.size()), knownRegular});
      batch.names.append(name).push_back('\0');
      if (batch.files.size() == kBatchFiles) flush();
    }
    void flush() {
      if (!batch.files.empty()) onBatch(std::move(batch));
      batch = FileBatch{};
    }
  } batcher{onBatch, {}};

  // The store's own folder: its *.ics files are calendars of their own.
  const int rootCopy = ::fcntl(rootFd.get(), F_DUPFD_CLOEXEC, 0);
  if (rootCopy < 0) failIncomplete(rootPath, errno);
  const auto rootFolder =
      std::make_shared<const CalendarFolder>(rootCopy, "", rootPath, rootAddresses);
  std::vector<std::string> folders;
  const int error = forEachEntry(rootFd.get(), rootPath, [&](const dirent& entry) {
    const std::string_view name = entry.d_name;
    bool isFolder = entry.d_type == DT_DIR;
    bool knownRegular = entry.d_type == DT_REG;
    if (entry.d_type == DT_LNK || entry.d_type == DT_UNKNOWN) {
      struct stat status {};
      if (::fstatat(rootFd.get(), entry.d_name, &status, 0) != 0) {
        if (isResourceError(errno)) failIncomplete(rootPath + "/" + entry.d_name, errno);
        // A dangling link, a link loop, or an entry we may not look at.
        say({std::string(name), ""},
            lineAbout(rootPath + "/" + entry.d_name,
                      errno == ENOENT ? "dangling link" : std::strerror(errno)));
        return;
      }
      isFolder = S_ISDIR(status.st_mode);
      knownRegular = S_ISREG(status.st_mode);
    }
    if (isFolder) {
      folders.emplace_back(name);
    } else if (hasIcsSuffix(name)) {
      batcher.add(rootFolder, name, knownRegular);
    }
  });
  if (error != 0) {
    say({"", ""}, lineAbout(rootPath, std::strerror(error)));
    return;
  }

  for (const std::string& name : folders) {
    const std::string path = rootPath + "/" + name;
    FileDescriptor folderFd(
        ::openat(rootFd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0) {
      if (isResourceError(errno)) failIncomplete(path, errno);
      say({name, ""}, lineAbout(path, std::strerror(errno)));
      continue;
    }
    const Addresses own = readAddresses(folderFd.get(), path, [&](std::string line) {
      say({name, "addresses"}, std::move(line));
    });
    auto addresses = std::make_shared<const Addresses>(ical::userAddresses(own, storeAddresses));
    const int listed = folderFd.get();
    const auto folder = std::make_shared<const CalendarFolder>(folderFd.release(), name, path,
                                                               std::move(addresses));
    const int listError = forEachEntry(listed, path, [&](const dirent& entry) {
      const std::string_view file = entry.d_name;
      if (hasIcsSuffix(file)) batcher.add(folder, file, entry.d_type == DT_REG);
    });
    batcher.flush();
    if (listError != 0) say({name, ""}, lineAbout(path, std::strerror(listError)));
  }
  batcher.flush();
}

}  // namespace quorvel::calendar::linuxstore::files
