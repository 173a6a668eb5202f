#include "calendar/ics_files.h"

#include "calendar/calendar.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

namespace quorvel::calendar::ics {
namespace fs = std::filesystem;
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Calendar files are small; one this large is not something to parse.
constexpr off_t kMaxFileSize = off_t{64} << 20;

// Calls `each` with every name in `folder` that doesn't start with a dot, as
// the system lists them; returns the error that stopped the listing, if any.
std::error_code forEachName(const fs::path& folder, const std::function<void(const char*)>& each) {
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) {
    if (isResourceError(errno)) throw IncompleteRead(folder.string() + ": " + std::strerror(errno));
    return {errno, std::generic_category()};
  }
  std::error_code error;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing);
    if (entry == nullptr) {
      if (errno != 0) error.assign(errno, std::generic_category());
      break;
    }
    if (entry->d_name[0] != '.') each(entry->d_name);
  }
  ::closedir(listing);
  if (error && isResourceError(error.value())) {
    throw IncompleteRead(folder.string() + ": " + error.message());
  }
  return error;
}

bool hasIcsSuffix(std::string_view name) {
  return name.size() > 4 && name.substr(name.size() - 4) == ".ics";
}

std::string reasonFor(const std::error_code& error) { return error.message(); }

// The addresses of an `addresses` file, if there is one; why it can't be
// read goes to `problem`.
std::vector<std::string> readAddresses(const fs::path& path,
                                       const std::function<void(std::string)>& problem) {
  std::error_code error;
  if (!fs::exists(fs::symlink_status(path, error))) return {};
  const FileRead read = readRegularFile(path);
  if (read.incomplete) throw IncompleteRead(path.string() + ": " + read.problem);
  if (!read.problem.empty()) {
    problem(path.string() + ": " + read.problem);
    return {};
  }
  return parseAddresses(read.contents);
}

}  // namespace

bool isResourceError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
    case EACCES:
    case EPERM:
    case EISDIR:
    case ENXIO:
    case ENODEV:
    case EFBIG:
    case EOVERFLOW:
      return false;
    default:
      return true;
  }
}

FileRead readRegularFile(const fs::path& path) {
  FileRead result;
  const auto fail = [&result](int error) {
    result.problem = std::strerror(error);
    result.incomplete = isResourceError(error);
    return std::move(result);
  };
  // Look before opening: opening a FIFO would let a writer blocked on it go.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return fail(errno);
  if (!S_ISREG(status.st_mode)) {
    result.problem = "not a regular file";
    return result;
  }
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.get() < 0) return fail(errno);
  // It may have been replaced since it was looked at.
  if (::fstat(file.get(), &status) != 0) return fail(errno);
  if (!S_ISREG(status.st_mode)) {
    result.problem = "not a regular file";
    return result;
  }
  if (status.st_size > kMaxFileSize) {
    result.problem = "larger than 64 MiB";
    return result;
  }

  std::string& contents = result.contents;
  contents.resize(static_cast<std::size_t>(status.st_size));
  std::size_t filled = 0;
  for (;;) {
    if (filled == contents.size()) {
      // The file grew while being read.
      if (contents.size() >= kMaxFileSize) {
        result.problem = "larger than 64 MiB";
        return result;
      }
      contents.resize(contents.size() + 4096);
    }
    const ssize_t got = ::read(file.get(), contents.data() + filled, contents.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  contents.resize(filled);
  return result;
}

std::optional<std::string> unreadableRoot(const fs::path& root) {
  const auto failure = [&root](int error) -> std::optional<std::string> {
    return "cannot read the calendar folder " + root.string() + ": " + std::strerror(error);
  };
  DIR* folder = ::opendir(root.c_str());
  if (folder == nullptr) {
    // Absent (or a link to nothing): an empty store. Short of a resource:
    // nothing to say about access; reading the store will fail.
    if (errno == ENOENT || isResourceError(errno)) return std::nullopt;
    return failure(errno);
  }
  int error = 0;
  for (;;) {
    errno = 0;
    if (::readdir(folder) != nullptr) continue;
    error = errno;
    break;
  }
  ::closedir(folder);
  if (error != 0 && !isResourceError(error)) return failure(error);
  return std::nullopt;
}

std::string addressKey(std::string_view address) {
  constexpr std::string_view kScheme = "mailto:";
  if (address.size() >= kScheme.size() &&
      strncasecmp(address.data(), kScheme.data(), kScheme.size()) == 0) {
    address.remove_prefix(kScheme.size());
  }
  std::string key(address);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return key;
}

std::vector<std::string> parseAddresses(const std::string& text) {
  std::vector<std::string> addresses;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);

    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!line.empty() && isSpace(line.front())) line.remove_prefix(1);
    while (!line.empty() && isSpace(line.back())) line.remove_suffix(1);
    std::string address = addressKey(line);
    if (!address.empty()) addresses.push_back(std::move(address));
  }
  return addresses;
}

void walkStore(const fs::path& root, const std::function<void(StoreFile)>& onFile,
               const std::function<void(StorePlace, std::string)>& onProblem) {
  std::error_code error;
  const fs::file_status rootStatus = fs::status(root, error);
  if (error && isResourceError(error.value())) {
    throw IncompleteRead(root.string() + ": " + error.message());
  }
  if (rootStatus.type() == fs::file_type::not_found) return;  // absent, or a link to nothing

  using Addresses = std::unordered_set<std::string>;
  const std::vector<std::string> rootList =
      readAddresses(root / "addresses", [&](std::string line) {
        onProblem({"addresses", ""}, std::move(line));
      });
  const auto rootAddresses = std::make_shared<const Addresses>(rootList.begin(), rootList.end());

  std::vector<std::string> folders;
  error = forEachName(root, [&](const char* name) {
    const fs::path entry = root / name;
    std::error_code statusError;
    const fs::file_status status = fs::status(entry, statusError);
    if (statusError && isResourceError(statusError.value())) {
      throw IncompleteRead(entry.string() + ": " + statusError.message());
    }
    if (statusError || status.type() == fs::file_type::not_found) {
      // A dangling link, a link loop, or an entry we may not look at.
      onProblem({name, ""},
                entry.string() + ": " + (statusError ? reasonFor(statusError) : "dangling link"));
    } else if (fs::is_directory(status)) {
      folders.emplace_back(name);
    } else if (hasIcsSuffix(name)) {
      onFile({{name, ""}, entry, rootAddresses});
    }
  });
  if (error) {
    onProblem({"", ""}, root.string() + ": " + reasonFor(error));
    return;
  }

  for (const std::string& folder : folders) {
    const fs::path calendar = root / folder;
    auto addresses = std::make_shared<Addresses>(*rootAddresses);
    for (std::string& address : readAddresses(calendar / "addresses", [&](std::string line) {
           onProblem({folder, "addresses"}, std::move(line));
         })) {
      addresses->insert(std::move(address));
    }
    const std::shared_ptr<const Addresses> shared = std::move(addresses);
    const std::error_code listError = forEachName(calendar, [&](const char* name) {
      if (hasIcsSuffix(name)) onFile({{folder, name}, calendar / name, shared});
    });
    if (listError) onProblem({folder, ""}, calendar.string() + ": " + reasonFor(listError));
  }
}

}  // namespace quorvel::calendar::ics
