// The benchmark's floor: walks the calendar store as quorvel-calendar does and
// reads every file it would read, without parsing anything. No way of listing
// events can take less time than this, so the tool's times are shown as
// multiples of it.
//
// It is called as the tool is (`quorvel_floor <startMs> <endMs>`, the times
// ignored), finds the store the same way
// (`${XDG_DATA_HOME:-$HOME/.local/share}/calendars`), and prints the number of
// files and bytes it read. The walk: the store's `addresses` file; each entry
// of the store by name, names starting with a dot left out; in each folder its
// `addresses` file and its *.ics files by name; each *.ics file directly in
// the store. A missing store is an empty one.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Totals {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t problems = 0;
};

void report(Totals& totals, const std::string& path, int error) {
  ++totals.problems;
  std::fprintf(stderr, "quorvel_floor: %s: %s\n", path.c_str(), std::strerror(error));
}

// Reads the whole file into a buffer that is reused for every file.
void readFile(const std::string& path, Totals& totals) {
  static std::vector<char> buffer(std::size_t{1} << 20);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    report(totals, path, errno);
    return;
  }
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      report(totals, path, errno);
      break;
    }
    if (got == 0) break;
    totals.bytes += static_cast<std::uint64_t>(got);
  }
  ::close(fd);
  ++totals.files;
}

// Reads the file if it exists; its absence is no problem.
void readIfPresent(const std::string& path, Totals& totals) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0) readFile(path, totals);
}

struct Entry {
  std::string name;
  unsigned char type;  // d_type: DT_UNKNOWN when the file system doesn't say
};

// The entries of a folder whose names don't start with a dot, sorted by name.
// False when the folder can't be listed, with the reason in `error`.
bool listFolder(const std::string& path, std::vector<Entry>& entries, int& error) {
  DIR* folder = ::opendir(path.c_str());
  if (folder == nullptr) {
    error = errno;
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(folder);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    if (entry->d_name[0] == '.') continue;
    entries.push_back(Entry{entry->d_name, entry->d_type});
  }
  ::closedir(folder);
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return error == 0;
}

bool hasIcsSuffix(std::string_view name) {
  return name.size() > 4 && name.substr(name.size() - 4) == ".ics";
}

// Whether the entry is a folder or a regular file, following links as the tool
// does. Neither when it can't be looked at.
enum class Kind { kFolder, kFile, kOther };
Kind kindOf(const std::string& path, unsigned char type) {
  if (type == DT_DIR) return Kind::kFolder;
  if (type == DT_REG) return Kind::kFile;
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return Kind::kOther;
  if (S_ISDIR(status.st_mode)) return Kind::kFolder;
  return S_ISREG(status.st_mode) ? Kind::kFile : Kind::kOther;
}

std::string storeRoot() {
  // As the tool finds it: a relative XDG_DATA_HOME or HOME is ignored.
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/') return std::string(dataHome) + "/calendars";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* user = ::getpwuid(::getuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/.local/share/calendars";
}

void walkStore(const std::string& root, Totals& totals) {
  std::vector<Entry> entries;
  int error = 0;
  if (!listFolder(root, entries, error)) {
    if (error != ENOENT) report(totals, root, error);  // absent: an empty store
    return;
  }
  readIfPresent(root + "/addresses", totals);
  for (const Entry& entry : entries) {
    const std::string path = root + "/" + entry.name;
    const Kind kind = kindOf(path, entry.type);
    if (kind == Kind::kFolder) {
      std::vector<Entry> files;
      int listError = 0;
      if (!listFolder(path, files, listError)) {
        report(totals, path, listError);
        continue;
      }
      readIfPresent(path + "/addresses", totals);
      for (const Entry& file : files) {
        if (hasIcsSuffix(file.name)) readFile(path + "/" + file.name, totals);
      }
    } else if (kind == Kind::kFile && hasIcsSuffix(entry.name)) {
      readFile(path, totals);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <startMs> <endMs>\n", argv[0]);
    return 2;
  }
  Totals totals;
  const std::string root = storeRoot();
  if (!root.empty()) walkStore(root, totals);
  std::printf("%llu files, %llu bytes\n", static_cast<unsigned long long>(totals.files),
              static_cast<unsigned long long>(totals.bytes));
  return totals.problems == 0 ? 0 : 1;
}
