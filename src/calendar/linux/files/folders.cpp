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
using ical::forEachEntry;
using ical::isResourceError;
using ical::lineAbout;
namespace {

bool hasIcsSuffix(std::string_view name) {
  return name.size() > 4 && name.substr(name.size() - 4) == ".ics";
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

// A calendar's folder, open for as long as its files are being read.
class CalendarFolder {
 public:
  CalendarFolder(int fd, std::string key, bool ownCalendars, std::string path,
                 std::shared_ptr<const Addresses> userAddresses)
      : fd_(fd),
        key_(std::move(key)),
        ownCalendars_(ownCalendars),
        path_(std::move(path)),
        userAddresses_(std::move(userAddresses)) {}

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  // The user's addresses in its calendars.
  const Addresses& userAddresses() const { return *userAddresses_; }
  // The place of its file `name`: for the store's own folder, whose *.ics
  // files are each a calendar of their own, the file's name; else the
  // folder's key, then the file's name.
  Place placeOf(std::string_view name) const {
    if (ownCalendars_) return {std::string(name), {}};
    return {key_, std::string(name)};
  }

 private:
  FileDescriptor fd_;
  std::string key_;
  bool ownCalendars_;
  std::string path_;
  std::shared_ptr<const Addresses> userAddresses_;
};

// Some files of one folder, read by one thread.
struct FileBatch {
  std::shared_ptr<const CalendarFolder> folder;
  std::string names;  // each name followed by a NUL
  struct File {
    std::uint32_t offset;  // of its name in `names`
    bool knownRegular;
  };
  std::vector<File> files;

  const char* nameOf(const File& file) const { return names.data() + file.offset; }
};

// Files a batch holds at most.
constexpr std::size_t kBatchFiles = 128;

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

// Fills batches of one folder's files and hands each to the gathering as
// work when full.
class Batcher {
 public:
  explicit Batcher(Gathering& gathering) : gathering_(gathering) {}
  Batcher(const Batcher&) = delete;
  Batcher& operator=(const Batcher&) = delete;

  void add(const std::shared_ptr<const CalendarFolder>& folder, std::string_view name,
           bool knownRegular) {
    if (batch_.folder != folder) flush();
    batch_.folder = folder;
    batch_.files.push_back({static_cast<std::uint32_t>(batch_.names.size()), knownRegular});
    batch_.names.append(name).push_back('\0');
    if (batch_.files.size() == kBatchFiles) flush();
  }
  void flush() {
    if (!batch_.files.empty() && gathering_.going()) {
      gathering_.hand([batch = std::move(batch_)](Reading& reading) { readBatch(batch, reading); });
    }
    batch_ = FileBatch{};
  }

 private:
  Gathering& gathering_;
  FileBatch batch_;
};

// Claims the folder open as `fd`, at `path`, for the store's reading: nothing
// when a source has claimed it before; else the names of its files claimed
// alone before it.
std::optional<std::vector<std::string>> claimFolder(int fd, const std::string& path,
                                                    Gathering& gathering) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) failIncomplete(path, errno);
  return gathering.claimFolder(
      {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)},
      false);
}

// Lists the *.ics files of the calendar folder open as `fd` (which it takes), at
// `path`, into `batcher`, at places keyed by `key`, unless a source has
// claimed it before; its `addresses` file's problems go to a line at
// {key, "addresses"}.
void listFolder(FileDescriptor& fd, const std::string& key, const std::string& path,
                const Addresses& storeAddresses, Batcher& batcher, Gathering& gathering) {
  const auto taken = claimFolder(fd.get(), path, gathering);
  if (!taken) return;
  const Addresses own = readAddresses(fd.get(), path, [&](std::string line) {
    gathering.say({key, "addresses"}, std::move(line));
  });
  auto addresses = std::make_shared<const Addresses>(ical::userAddresses(own, storeAddresses));
  const int listed = fd.get();
  const auto folder =
      std::make_shared<const CalendarFolder>(fd.release(), key, false, path, std::move(addresses));
  const int listError = forEachEntry(listed, path, [&](const dirent& entry) {
    const std::string_view file = entry.d_name;
    if (!hasIcsSuffix(file)) return;
    if (std::find(taken->begin(), taken->end(), file) != taken->end()) return;
    batcher.add(folder, file, entry.d_type == DT_REG);
  });
  batcher.flush();
  if (listError != 0) gathering.say({key, ""}, lineAbout(path, std::strerror(listError)));
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

void walkStore(const fs::path& root, const Addresses& storeAddresses, Gathering& gathering) {
  const std::string rootPath = root.string();
  FileDescriptor rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (rootFd.get() < 0) {
    if (errno == ENOENT) return;  // absent, or a link to nothing
    if (isResourceError(errno)) failIncomplete(rootPath, errno);
    gathering.say({"", ""}, lineAbout(rootPath, std::strerror(errno)));
    return;
  }
  if (!claimFolder(rootFd.get(), rootPath, gathering)) return;
  Batcher batcher(gathering);

  // The store's own folder: its *.ics files are calendars of their own.
  const int rootCopy = ::fcntl(rootFd.get(), F_DUPFD_CLOEXEC, 0);
  if (rootCopy < 0) failIncomplete(rootPath, errno);
  const auto rootFolder = std::make_shared<const CalendarFolder>(
      rootCopy, "", true, rootPath, std::make_shared<const Addresses>(storeAddresses));
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
        gathering.say({std::string(name), ""},
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
  batcher.flush();
  if (error != 0) {
    gathering.say({"", ""}, lineAbout(rootPath, std::strerror(error)));
    return;
  }

  // Its calendar folders, in the order of their names, so that one reached
  // by two names keeps the same place in every run.
  std::sort(folders.begin(), folders.end());
  for (const std::string& name : folders) {
    const std::string path = rootPath + "/" + name;
    FileDescriptor folderFd(
        ::openat(rootFd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0) {
      if (isResourceError(errno)) failIncomplete(path, errno);
      gathering.say({name, ""}, lineAbout(path, std::strerror(errno)));
      continue;
    }
    listFolder(folderFd, name, path, storeAddresses, batcher, gathering);
  }
}

void walkFolder(const fs::path& path, const Addresses& storeAddresses, Gathering& gathering) {
  const std::string key = path.string();
  FileDescriptor fd(::open(key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (isResourceError(errno)) failIncomplete(key, errno);
    gathering.say({key, ""}, lineAbout(key, std::strerror(errno)));
    return;
  }
  Batcher batcher(gathering);
  listFolder(fd, key, key, storeAddresses, batcher, gathering);
}

}  // namespace quorvel::calendar::linuxstore::files
