#include "calendar/linux/sqlite/database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <optional>
#include <thread>
#include <utility>

#include "calendar/ical/file.h"

namespace quorvel::calendar::linuxstore::sqlite {
namespace {

// A file that changes while it is read is read again, this many times.
constexpr int kTries = 5;
// How long the second try waits for a write in place to end; each later one
// waits that much longer.
constexpr std::chrono::milliseconds kWriteWait{10};

constexpr char kDatabaseMagic[] = "SQLite format 3";  // with its NUL, 16 bytes
constexpr std::size_t kDatabaseHeaderBytes = 100;
constexpr std::uint32_t kLogMagic = 0x377f0682;  // the low bit picks the checksums' byte order
constexpr std::uint32_t kLogVersion = 3007000;
constexpr std::size_t kLogHeaderBytes = 32;
constexpr std::size_t kFrameHeaderBytes = 24;

std::uint32_t bigEndian32(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

bool validPageSize(std::uint32_t size) {
  return size >= 512 && size <= 65536 && std::has_single_bit(size);
}

// The page size a database header gives (65536 is written as 1), or 0.
std::uint32_t databasePageSize(const unsigned char* header) {
  const std::uint32_t size = std::uint32_t{header[16]} << 8 | header[17];
  return size == 1 ? 65536 : size;
}

// Whether a SQLite call's result says that memory ran out.
bool outOfMemory(int code) { return (code & 0xff) == SQLITE_NOMEM || code == SQLITE_IOERR_NOMEM; }

// The write-ahead log's checksum over `size` bytes (a multiple of 8), from
// `sums`: 32-bit words, big-endian or little-endian as the log's magic says,
// summed in pairs, each sum carrying the other.
void checksum(const unsigned char* bytes, std::size_t size, bool bigEndian, std::uint32_t sums[2]) {
  std::uint32_t first = sums[0];
  std::uint32_t second = sums[1];
  const bool swap = bigEndian != (std::endian::native == std::endian::big);
  for (std::size_t at = 0; at < size; at += 8) {
    std::uint32_t words[2];
    std::memcpy(words, bytes + at, 8);
    if (swap) {
      words[0] = __builtin_bswap32(words[0]);
      words[1] = __builtin_bswap32(words[1]);
    }
    first += words[0] + second;
    second += words[1] + first;
  }
  sums[0] = first;
  sums[1] = second;
}

// What a write-ahead log has committed: its first `frames` frames, after
// which the database is `pages` pages of `pageSize` bytes. No frames when it
// has committed nothing or is to be ignored.
struct Committed {
  std::uint32_t pageSize = 0;
  std::uint32_t pages = 0;
  std::size_t frames = 0;
};

// Finds what the log `log` (of `size` bytes) has committed, as SQLite does
// when it recovers a log: a log with a bad header is ignored; frames count
// up to the first one whose salts are not the header's or whose checksum
// breaks the chain, and those after the last commit among them are left
// out. Returns why the log can't be used when it is of a version SQLite
// refuses to open.
std::variant<Committed, std::string> findCommitted(const unsigned char* log, std::size_t size) {
  if (size <= kLogHeaderBytes) return Committed{};
  const std::uint32_t magic = bigEndian32(log);
  const std::uint32_t pageSize = bigEndian32(log + 8);
  if ((magic & ~std::uint32_t{1}) != kLogMagic || !validPageSize(pageSize)) return Committed{};
  const bool bigEndian = (magic & 1) != 0;
  std::uint32_t sums[2] = {0, 0};
  checksum(log, 24, bigEndian, sums);
  if (sums[0] != bigEndian32(log + 24) || sums[1] != bigEndian32(log + 28)) return Committed{};
  if (bigEndian32(log + 4) != kLogVersion) {
    return std::string("its write-ahead log is of an unknown version");
  }

  Committed committed;
  committed.pageSize = pageSize;
  const std::size_t frameBytes = kFrameHeaderBytes + pageSize;
  const std::size_t frames = (size - kLogHeaderBytes) / frameBytes;
  for (std::size_t index = 0; index < frames; ++index) {
    const unsigned char* frame = log + kLogHeaderBytes + index * frameBytes;
    if (std::memcmp(frame + 8, log + 16, 8) != 0 || bigEndian32(frame) == 0) break;
    checksum(frame, 8, bigEndian, sums);
    checksum(frame + kFrameHeaderBytes, pageSize, bigEndian, sums);
    if (sums[0] != bigEndian32(frame + 16) || sums[1] != bigEndian32(frame + 20)) break;
    if (const std::uint32_t pages = bigEndian32(frame + 4); pages != 0) {
      committed.pages = pages;
      committed.frames = index + 1;
    }
  }
  return committed;
}

// The database with what its log committed laid over it, `size` bytes of
// room for `capacity`.
struct Image {
  std::unique_ptr<unsigned char[]> data;
  std::size_t size = 0;
  std::size_t capacity = 0;
};

// The files changed while they were read.
struct Changed {};

using Attempt = std::variant<Image, std::string, Changed>;

// Why a call on `subject` that failed with `error` leaves the database
// unusable, after `what`; throws when the system lacked a resource.
std::string problemOf(const std::string& subject, int error, std::string_view what = {}) {
  if (ical::isResourceError(error)) ical::failIncomplete(subject, error);
  std::string reason(what);
  reason += std::strerror(error);
  return reason;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Opens the regular file `path` that `seen` describes. Returns -1 and sets
// `error` when that fails, to 0 when it is no longer that file.
int openSeen(const std::string& path, const struct stat& seen, int& error) {
  // Not blocking: a FIFO put in its place since it was looked at must not
  // hold the read up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  ical::FileDescriptor file(fd);
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) {
    error = errno;
    return -1;
  }
  if (!S_ISREG(opened.st_mode) || !sameFile(opened, seen)) {
    error = 0;
    return -1;
  }
  return file.release();
}

// Reads the `size` bytes of `file` into `data`; false when it ends sooner
// (errno 0: it was cut short while read).
bool readAll(int file, unsigned char* data, std::size_t size) {
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t got = ::read(file, data + filled, size - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = 0;
      return false;
    }
    filled += static_cast<std::size_t>(got);
  }
  return true;
}

// Whether `path` still names what `seen` describes (or, without `seen`,
// still names nothing), and the open `file` too.
bool unchanged(const std::string& path, int file, const struct stat* seen) {
  struct stat now {};
  if (::stat(path.c_str(), &now) != 0) {
    if (errno != ENOENT && ical::isResourceError(errno)) ical::failIncomplete(path, errno);
    return seen == nullptr;
  }
  if (seen == nullptr || !sameFile(now, *seen)) return false;
  return ::fstat(file, &now) == 0 && sameFile(now, *seen);
}

// The bytes SQLite locks to share a database between processes (its
// os_unix.c): a reader holds a read lock on the shared range, a writer a
// write lock on the reserved byte while it fills the journal, and a write
// lock on the shared range, which no reader may then hold, while it changes
// the database in place.
constexpr off_t kPendingByte = 0x40000000;
constexpr off_t kReservedByte = kPendingByte + 1;
constexpr off_t kSharedFirst = kPendingByte + 2;
constexpr off_t kSharedSize = 510;

// Locks `size` bytes of `file` from `start`, or tells whether another
// process holds a lock there. Locks of the open file itself (not of this
// process, so that no other descriptor's closing drops them), which SQLite's
// own locks in other processes conflict with.
int lockRange(int file, int command, short type, off_t start, off_t size, short* held = nullptr) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = start;
  range.l_len = size;
  const int result = ::fcntl(file, command, &range);
  if (held != nullptr) *held = range.l_type;
  return result;
}

// Why a database can't be locked: a file system without locks (NFS without
// its lock service, some FUSE ones) leaves it unread, never the run failed.
std::string cannotLock(int error) {
  return std::string("cannot be locked for reading: ") + std::strerror(error);
}

// Takes SQLite's shared lock on the database `file`, as its readers do:
// not while a writer waits for one to change it (it holds the pending
// byte), so that readers can't starve it. Returns Changed when a writer has
// it or waits for it, why not when the file system takes no locks.
std::optional<Attempt> lockShared(int file) {
  if (lockRange(file, F_OFD_SETLK, F_RDLCK, kPendingByte, 1) != 0 ||
      lockRange(file, F_OFD_SETLK, F_RDLCK, kSharedFirst, kSharedSize) != 0) {
    if (errno == EAGAIN || errno == EACCES) return Changed{};
    return cannotLock(errno);
  }
  lockRange(file, F_OFD_SETLK, F_UNLCK, kPendingByte, 1);
  return std::nullopt;
}

// Whether the journal beside a database under a shared lock is hot: left by
// a write that was cut short after it changed the database in place, which
// SQLite takes back from the journal before anyone reads the database. A
// journal that a writer holding the reserved byte is filling is not: the
// database is whole until it has the shared range too.
std::optional<std::string> hotJournal(const std::string& path, int file) {
  const std::string journalPath = path + "-journal";
  const ical::FileDescriptor journal(
      ::open(journalPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (journal.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    return problemOf(journalPath, errno, "its journal: ");
  }
  unsigned char first = 0;
  const ssize_t got = ::pread(journal.get(), &first, 1, 0);
  if (got < 0) return problemOf(journalPath, errno, "its journal: ");
  if (got == 0 || first == 0) return std::nullopt;  // empty, or emptied
  short held = F_UNLCK;
  if (lockRange(file, F_OFD_GETLK, F_WRLCK, kReservedByte, 1, &held) != 0) {
    return cannotLock(errno);
  }
  if (held != F_UNLCK) return std::nullopt;
  return std::string("a write to it was cut short");
}

// One try at reading the database at `path` and its log at `logPath`.
Attempt tryRead(const std::string& path, const std::string& logPath, Journal journal) {
  struct stat database {};
  if (::stat(path.c_str(), &database) != 0) return problemOf(path, errno);
  // Look before opening: opening a FIFO would let a writer blocked on it go.
  if (!S_ISREG(database.st_mode)) return std::string("not a regular file");
  // SQLite takes an empty file for an empty database, whatever log is beside
  // it (it deletes the log), and so does this.
  if (database.st_size == 0) return std::string("empty");
  struct stat log {};
  const bool hasLog = ::stat(logPath.c_str(), &log) == 0;
  if (!hasLog && errno != ENOENT) return problemOf(logPath, errno, "its write-ahead log: ");
  if (hasLog && !S_ISREG(log.st_mode)) {
    return std::string("its write-ahead log is not a regular file");
  }
  const auto databaseBytes = static_cast<std::uint64_t>(database.st_size);
  const std::uint64_t logBytes = hasLog ? static_cast<std::uint64_t>(log.st_size) : 0;
  if (databaseBytes + logBytes > kMaxDatabaseBytes) return std::string("larger than 1 GiB");

  int error = 0;
  const ical::FileDescriptor databaseFile(openSeen(path, database, error));
  if (databaseFile.get() < 0) {
    if (error == 0 || error == ENOENT) return Changed{};
    return problemOf(path, error);
  }
  if (journal == Journal::rollback) {
    if (auto busy = lockShared(databaseFile.get())) return std::move(*busy);
    if (auto hot = hotJournal(path, databaseFile.get())) return std::move(*hot);
  }
  const ical::FileDescriptor logFile(hasLog ? openSeen(logPath, log, error) : -1);
  if (hasLog && logFile.get() < 0) {
    if (error == 0 || error == ENOENT) return Changed{};
    return problemOf(logPath, error, "its write-ahead log: ");
  }

  // The log first: what it has committed says how large the image is.
  std::unique_ptr<unsigned char[]> logData;
  Committed committed;
  if (logBytes > 0) {
    logData = std::make_unique_for_overwrite<unsigned char[]>(logBytes);
    if (!readAll(logFile.get(), logData.get(), logBytes)) {
      if (errno == 0) return Changed{};
      return problemOf(logPath, errno, "its write-ahead log: ");
    }
    auto found = findCommitted(logData.get(), logBytes);
    if (auto* reason = std::get_if<std::string>(&found)) return std::move(*reason);
    committed = std::get<Committed>(found);
  }
  const std::uint64_t committedBytes = std::uint64_t{committed.pages} * committed.pageSize;
  if (committedBytes > kMaxDatabaseBytes) return std::string("larger than 1 GiB");

  Image image;
  image.capacity = std::max(databaseBytes, committedBytes);
  image.data =
      std::make_unique_for_overwrite<unsigned char[]>(std::max<std::size_t>(image.capacity, 1));
  if (!readAll(databaseFile.get(), image.data.get(), databaseBytes)) {
    if (errno == 0) return Changed{};
    return problemOf(path, errno);
  }
  if (!unchanged(path, databaseFile.get(), &database) ||
      !unchanged(logPath, logFile.get(), hasLog ? &log : nullptr)) {
    return Changed{};
  }

  // A log of another page size than the database's is not its own: SQLite
  // would read its frames as pages of the wrong size.
  unsigned char* data = image.data.get();
  if (committed.frames > 0 && databaseBytes >= kDatabaseHeaderBytes &&
      std::memcmp(data, kDatabaseMagic, sizeof kDatabaseMagic) == 0 &&
      databasePageSize(data) != committed.pageSize) {
    committed.frames = 0;
  }
  if (committed.frames == 0) {
    image.size = databaseBytes;
  } else {
    image.size = committedBytes;
    if (committedBytes > databaseBytes) {
      std::memset(data + databaseBytes, 0, committedBytes - databaseBytes);
    }
    const std::size_t frameBytes = kFrameHeaderBytes + committed.pageSize;
    for (std::size_t index = 0; index < committed.frames; ++index) {
      const unsigned char* frame = logData.get() + kLogHeaderBytes + index * frameBytes;
      const std::uint32_t page = bigEndian32(frame);
      if (page > committed.pages) continue;  // cut off by the commit
      std::memcpy(data + std::size_t{page - 1} * committed.pageSize, frame + kFrameHeaderBytes,
                  committed.pageSize);
    }
  }

  if (image.size < kDatabaseHeaderBytes ||
      std::memcmp(data, kDatabaseMagic, sizeof kDatabaseMagic) != 0 ||
      !validPageSize(databasePageSize(data))) {
    return std::string("not a SQLite database");
  }
  // Versions 2 say "write-ahead log", which a database in memory can't
  // have; its pages are all in the image now.
  if (data[18] == 2) data[18] = 1;
  if (data[19] == 2) data[19] = 1;
  return image;
}

// Why the call on `db` that returned `code` failed; throws std::bad_alloc
// when it ran out of memory.
std::string failureOf(sqlite3* db, int code) {
  if (outOfMemory(code)) throw std::bad_alloc();
  return db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
}

}  // namespace

std::optional<std::string_view> Row::text(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  // A value that converts to text needs memory for it.
  if (text == nullptr) {
    if (outOfMemory(sqlite3_errcode(sqlite3_db_handle(statement_)))) throw std::bad_alloc();
    return std::string_view();
  }
  return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

std::optional<std::int64_t> Row::integer(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_int64(statement_, column);
}

struct Database::State {
  // The connection reads `image` in place: it goes first.
  ~State() { sqlite3_close(db); }
  Image image;
  sqlite3* db = nullptr;
};

Database::Database(std::unique_ptr<State> state) : state_(std::move(state)) {}
Database::Database(Database&&) noexcept = default;
Database& Database::operator=(Database&&) noexcept = default;
Database::~Database() = default;

std::variant<Database, std::string> Database::read(const std::filesystem::path& path,
                                                   Journal journal) {
  const std::string databasePath = path.string();
  const std::string logPath = databasePath + "-wal";
  auto state = std::make_unique<State>();
  for (int attempt = 0;; ++attempt) {
    if (attempt == kTries) return std::string("changed on every try while it was read");
    // A write in place holds the database for a moment: the next try waits
    // for it a little longer each time.
    if (attempt > 0 && journal == Journal::rollback) {
      std::this_thread::sleep_for(kWriteWait * attempt);
    }
    Attempt read = tryRead(databasePath, logPath, journal);
    if (auto* reason = std::get_if<std::string>(&read)) return std::move(*reason);
    if (auto* image = std::get_if<Image>(&read)) {
      state->image = std::move(*image);
      break;
    }
  }

  // A connection to an empty database in memory, whose main database then
  // becomes the image: SQLite opens no file for it, and nothing in it is
  // ever written.
  int code =
      sqlite3_open_v2(":memory:", &state->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (code != SQLITE_OK) return failureOf(state->db, code);
  sqlite3_extended_result_codes(state->db, 1);
  // Its schema is not trusted to run functions with side effects, nor may
  // it be changed by the queries.
  sqlite3_db_config(state->db, SQLITE_DBCONFIG_DEFENSIVE, 1, static_cast<int*>(nullptr));
  sqlite3_db_config(state->db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, static_cast<int*>(nullptr));
  Image& image = state->image;
  code = sqlite3_deserialize(
      state->db, "main", image.data.get(), static_cast<sqlite3_int64>(image.size),
      static_cast<sqlite3_int64>(image.capacity), SQLITE_DESERIALIZE_READONLY);
  if (code != SQLITE_OK) return failureOf(state->db, code);
  // Temporary tables, indexes and sorts stay in memory, never in a file;
  // nothing is written; and the pages are read where they are in the image
  // (mapped, in SQLite's words) rather than copied into its page cache.
  const std::string settings = "PRAGMA temp_store=MEMORY; PRAGMA query_only=ON; PRAGMA mmap_size=" +
                               std::to_string(image.capacity) + ";";
  code = sqlite3_exec(state->db, settings.c_str(), nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) return failureOf(state->db, code);

  Database opened(std::move(state));
  // Reading the schema finds a database that is damaged or cut short.
  if (auto failure = opened.query("SELECT count(*) FROM sqlite_schema", [](const Row&) {})) {
    return std::move(*failure);
  }
  return opened;
}

std::optional<std::string> Database::query(std::string_view sql,
                                           const std::function<void(const Row&)>& each) const {
  sqlite3* db = state_->db;
  sqlite3_stmt* prepared = nullptr;
  const int code =
      sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &prepared, nullptr);
  const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(prepared, sqlite3_finalize);
  if (code != SQLITE_OK) return failureOf(db, code);
  if (statement == nullptr) return std::string("no statement to run");
  const Row row(statement.get());
  for (;;) {
    const int step = sqlite3_step(statement.get());
    if (step == SQLITE_DONE) return std::nullopt;
    if (step != SQLITE_ROW) return failureOf(db, step);
    each(row);
  }
}

}  // namespace quorvel::calendar::linuxstore::sqlite
