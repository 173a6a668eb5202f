// The benchmark's floor: walks the calendar store as quorvel-calendar does and
// reads every file it would read, on as many threads as the tool, without
// parsing anything. No way of listing events can take less time than this, so
// the tool's times are shown as multiples of it.
//
// It is called as the tool is (`quorvel_floor <startMs> <endMs>`, the times
// ignored), finds the store the same way
// (`${XDG_DATA_HOME:-$HOME/.local/share}/calendars`), and prints the number of
// files and bytes it read. The walk: the store's `addresses` file; each entry
// of the store by name, names starting with a dot left out; in each folder its
// `addresses` file and its *.ics files by name; each *.ics file directly in
// the store. A missing store is an empty one; a missing `addresses` file is no
// problem.
//
// How a file is read is fixed, so that the floor stays where it is whatever
// the tool does: opened with openat() relative to its folder's descriptor,
// fstat() for its size, one read() into the thread's buffer of size + 1 bytes
// (another only when that one filled the buffer: the file grew), closed.
//
// Threads: std::thread::hardware_concurrency() (at least 1), as the tool uses,
// or QUORVEL_FLOOR_THREADS; QUORVEL_FLOOR_THREADS=1 gives the single-thread
// floor. The main thread walks the store and collects the files to read (a
// folder's descriptor and a file name); then the threads, the main one among
// them, take the files in the order of the walk from a shared counter. When
// many files or folders have been collected, they are read before the walk
// goes on, so that memory and open descriptors stay bounded however big the
// store is.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace {

struct Totals {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t problems = 0;

  void add(const Totals& other) {
    files += other.files;
    bytes += other.bytes;
    problems += other.problems;
  }
};

void report(Totals& totals, std::string_view path, int error) {
  ++totals.problems;
  std::fprintf(stderr, "quorvel_floor: %.*s: %s\n", static_cast<int>(path.size()), path.data(),
               std::strerror(error));
}

// A folder of the store, open until the files collected from it are read.
struct Folder {
  int fd;
  std::string path;  // for messages only
};

// A file to read: its folder, and where its name starts in the batch's names.
struct Work {
  std::uint32_t folder;
  std::uint32_t name;
  bool optional;  // an `addresses` file, whose absence is no problem
};

// A buffer one thread reads one file after another into; it only grows.
class Buffer {
 public:
  // At least `size` bytes, the first `keep` of them as they were.
  char* reserve(std::size_t size, std::size_t keep = 0) {
    if (size > capacity_) {
      const std::size_t capacity = std::max(size, capacity_ * 2);
      auto data = std::make_unique_for_overwrite<char[]>(capacity);
      if (keep > 0) std::memcpy(data.get(), data_.get(), keep);
      data_ = std::move(data);
      capacity_ = capacity;
    }
    return data_.get();
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
};

// What one thread has: its buffer and its counts, on a cache line of their own.
struct alignas(64) ThreadState {
  Buffer buffer;
  Totals totals;
};

// Reads `name` of the folder open as `folder`: openat, fstat, one read into a
// buffer one byte longer than the file, close.
void readFileAt(const Folder& folder, const char* name, bool optional, ThreadState& thread) {
  Buffer& buffer = thread.buffer;
  Totals& totals = thread.totals;
  const auto problem = [&](int error) {
    report(totals, folder.path + "/" + name, error);
  };
  const int fd = ::openat(folder.fd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (!(optional && errno == ENOENT)) problem(errno);
    return;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    problem(errno);
    ::close(fd);
    return;
  }
  std::size_t capacity = static_cast<std::size_t>(status.st_size) + 1;
  char* data = buffer.reserve(capacity);
  std::size_t filled = 0;
  for (;;) {
    const ssize_t got = ::read(fd, data + filled, capacity - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      problem(errno);
      break;
    }
    filled += static_cast<std::size_t>(got);
    if (filled < capacity) break;  // the whole file, as fstat said or shorter
    // The read filled the buffer: the file grew since fstat.
    capacity *= 2;
    data = buffer.reserve(capacity, filled);
  }
  ::close(fd);
  totals.bytes += filled;
  ++totals.files;
}

// The files collected so far, with the folders they are in.
class Batch {
 public:
  // Past this many files or open folders, the batch is read before the walk
  // goes on.
  static constexpr std::size_t kMaxFiles = std::size_t{1} << 16;
  static constexpr std::size_t kMaxFolders = 256;

  explicit Batch(unsigned threads) : threads_(threads), states_(threads) {}
  ~Batch() { closeFolders(); }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  // Takes `fd` over; returns the folder's number in the batch.
  std::uint32_t addFolder(int fd, std::string path) {
    folders_.push_back(Folder{fd, std::move(path)});
    return static_cast<std::uint32_t>(folders_.size() - 1);
  }

  void addFile(std::uint32_t folder, std::string_view name, bool optional) {
    work_.push_back(Work{folder, static_cast<std::uint32_t>(names_.size()), optional});
    names_.append(name);
    names_.push_back('\0');
  }

  bool full() const { return work_.size() >= kMaxFiles || folders_.size() >= kMaxFolders; }

  // Reads every file collected, on the threads, then closes the folders.
  void read(Totals& totals) {
    const std::size_t count = work_.size();
    std::atomic<std::size_t> next{0};
    const auto drain = [&](unsigned thread) {
      for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) {
        const Work& work = work_[i];
        readFileAt(folders_[work.folder], names_.data() + work.name, work.optional,
                   states_[thread]);
      }
    };
    {
      std::vector<std::jthread> helpers;
      const std::size_t wanted = std::min<std::size_t>(threads_, count);
      for (unsigned t = 1; t < wanted; ++t) {
        try {
          helpers.emplace_back(drain, t);
        } catch (const std::system_error&) {
          break;  // fewer threads: the main one still gets through the rest
        }
      }
      drain(0);
    }
    for (ThreadState& state : states_) {
      totals.add(state.totals);
      state.totals = Totals{};
    }
    work_.clear();
    names_.clear();
    closeFolders();
  }

 private:
  void closeFolders() {
    for (const Folder& folder : folders_) ::close(folder.fd);
    folders_.clear();
  }

  const unsigned threads_;
  std::vector<ThreadState> states_;  // one per thread, kept from batch to batch
  std::vector<Folder> folders_;
  std::vector<Work> work_;
  std::string names_;  // the files' names, each ending in a NUL
};

struct Entry {
  std::string name;
  unsigned char type;  // d_type: DT_UNKNOWN when the file system doesn't say
};

// The entries of the folder open as `fd` whose names don't start with a dot,
// sorted by name. False when the folder can't be listed, with the reason in
// `error`; `fd` stays open either way.
bool listFolder(int fd, std::vector<Entry>& entries, int& error) {
  const int listingFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (listingFd < 0) {
    error = errno;
    return false;
  }
  DIR* listing = ::fdopendir(listingFd);
  if (listing == nullptr) {
    error = errno;
    ::close(listingFd);
    return false;
  }
  error = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    if (entry->d_name[0] == '.') continue;
    entries.push_back(Entry{entry->d_name, entry->d_type});
  }
  ::closedir(listing);
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
Kind kindOf(int folder, const std::string& name, unsigned char type) {
  if (type == DT_DIR) return Kind::kFolder;
  if (type == DT_REG) return Kind::kFile;
  struct stat status {};
  if (::fstatat(folder, name.c_str(), &status, 0) != 0) return Kind::kOther;
  if (S_ISDIR(status.st_mode)) return Kind::kFolder;
  return S_ISREG(status.st_mode) ? Kind::kFile : Kind::kOther;
}

int openFolderAt(int parent, const char* path) {
  return ::openat(parent, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
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

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void walkStore(const std::string& root, unsigned threads, Totals& totals) {
  const Descriptor rootFd(openFolderAt(AT_FDCWD, root.c_str()));
  if (rootFd.get() < 0) {
    if (errno != ENOENT) report(totals, root, errno);  // absent: an empty store
    return;
  }
  std::vector<Entry> entries;
  int error = 0;
  if (!listFolder(rootFd.get(), entries, error)) {
    report(totals, root, error);
    return;
  }
  // Each batch has the store's folder among its own, for the store's
  // `addresses` and *.ics files: a copy of the descriptor the walk goes on
  // with, since a batch closes its folders once read.
  Batch batch(threads);
  std::uint32_t rootFolder = 0;
  const auto addRoot = [&] {
    const int fd = ::fcntl(rootFd.get(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
      report(totals, root, errno);
      return false;
    }
    rootFolder = batch.addFolder(fd, root);
    return true;
  };
  if (!addRoot()) return;
  batch.addFile(rootFolder, "addresses", true);
  std::vector<Entry> files;
  for (const Entry& entry : entries) {
    const Kind kind = kindOf(rootFd.get(), entry.name, entry.type);
    if (kind == Kind::kFolder) {
      const std::string path = root + "/" + entry.name;
      const int fd = openFolderAt(rootFd.get(), entry.name.c_str());
      if (fd < 0) {
        report(totals, path, errno);
        continue;
      }
      files.clear();
      int listError = 0;
      if (!listFolder(fd, files, listError)) {
        report(totals, path, listError);
        ::close(fd);
        continue;
      }
      const std::uint32_t folder = batch.addFolder(fd, path);
      batch.addFile(folder, "addresses", true);
      for (const Entry& file : files) {
        if (hasIcsSuffix(file.name)) batch.addFile(folder, file.name, false);
      }
    } else if (kind == Kind::kFile && hasIcsSuffix(entry.name)) {
      batch.addFile(rootFolder, entry.name, false);
    }
    if (batch.full()) {
      batch.read(totals);
      if (!addRoot()) return;
    }
  }
  batch.read(totals);
}

// The number of reading threads: QUORVEL_FLOOR_THREADS when set, else the
// tool's, at least 1. 0 when QUORVEL_FLOOR_THREADS isn't a positive number.
unsigned threadCount() {
  const char* given = std::getenv("QUORVEL_FLOOR_THREADS");
  if (given == nullptr || given[0] == '\0') return std::max(1u, std::thread::hardware_concurrency());
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(given, &end, 10);
  if (errno != 0 || *end != '\0' || given[0] == '-' || value == 0 || value > 1024) return 0;
  return static_cast<unsigned>(value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <startMs> <endMs>\n", argv[0]);
    return 2;
  }
  const unsigned threads = threadCount();
  if (threads == 0) {
    std::fprintf(stderr, "quorvel_floor: QUORVEL_FLOOR_THREADS must be a number from 1 to 1024\n");
    return 2;
  }
  Totals totals;
  const std::string root = storeRoot();
  if (!root.empty()) walkStore(root, threads, totals);
  std::printf("%llu files, %llu bytes\n", static_cast<unsigned long long>(totals.files),
              static_cast<unsigned long long>(totals.bytes));
  return totals.problems == 0 ? 0 : 1;
}
