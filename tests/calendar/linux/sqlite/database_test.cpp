#include "calendar/linux/sqlite/database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "support/temp_store.h"

using quorvel::calendar::linuxstore::sqlite::Database;
using quorvel::calendar::linuxstore::sqlite::kMaxDatabaseBytes;
using quorvel::calendar::linuxstore::sqlite::Row;
using quorvel::testing::TempStore;
namespace sqlite = quorvel::calendar::linuxstore::sqlite;
namespace fs = std::filesystem;

namespace {

void exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db));
  }
}

// A database whose table `events` holds "a" in the database file, with a
// table `filler` that makes it a few dozen pages, left in WAL mode.
sqlite3* create(const fs::path& path) {
  fs::create_directories(path.parent_path());
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  exec(db,
       "PRAGMA synchronous=OFF;"
       "CREATE TABLE events(id INTEGER PRIMARY KEY, title TEXT); CREATE TABLE filler(data);"
       "INSERT INTO events(title) VALUES('a');"
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40)"
       "  INSERT INTO filler SELECT randomblob(1000) FROM n;"
       "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
  return db;
}

// The titles of `events` as "a b c ", or why they couldn't be read.
std::string titles(const fs::path& path) {
  auto read = Database::read(path);
  if (const auto* reason = std::get_if<std::string>(&read)) return "reason: " + *reason;
  std::string rows;
  const auto failure =
      std::get<Database>(read).query("SELECT title FROM events ORDER BY id",
                                     [&](const Row& row) { (rows += *row.text(0)) += " "; });
  return failure ? "query: " + *failure : rows;
}

std::string contents(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

std::map<std::string, std::string> filesOf(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename()] = contents(entry.path());
  }
  return files;
}

// Changes the byte at `offset` of `path` (from its end when negative).
void flipByte(const fs::path& path, long offset) {
  std::string bytes = contents(path);
  bytes[offset < 0 ? bytes.size() + offset : offset] ^= 0x55;
  std::ofstream(path, std::ios::binary) << bytes;
}

// Runs `during` on the database at `path` in another process, as another
// program's writer (through SQLite's `vfs`, or its default one), then
// `check`, then `after` (or nothing: the writer dies there).
void whileWriting(const fs::path& path, const char* during, const char* after,
                  const std::function<void()>& check, const char* vfs = nullptr) {
  int ready[2];
  int release[2];
  ASSERT_TRUE(::pipe(ready) == 0 && ::pipe(release) == 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(release[1]);
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, vfs);
    char byte = 0;
    if (sqlite3_exec(db, during, nullptr, nullptr, nullptr) != SQLITE_OK ||
        ::write(ready[1], &byte, 1) != 1 || ::read(release[0], &byte, 1) != 0) {
      ::_exit(1);
    }
    if (after != nullptr) sqlite3_exec(db, after, nullptr, nullptr, nullptr);
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char byte = 0;
  EXPECT_EQ(::read(ready[0], &byte, 1), 1);
  check();
  ::close(ready[0]);
  ::close(release[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace

// As while Thunderbird runs: another process holds the database under an
// exclusive lock, its newest rows are only in the log, and a transaction it
// has not committed has spilt pages into the log too.
TEST(SqliteDatabase, ReadsWhatAnotherProcessCommittedAndChangesNothing) {
  const TempStore store;
  const fs::path path = store.root() / "profile" / "local.sqlite";
  sqlite3_close(create(path));
  whileWriting(
      path,
      "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
      "INSERT INTO events(title) VALUES('b'); INSERT INTO events(title) VALUES('c');"
      "PRAGMA cache_size=5; BEGIN; UPDATE events SET title = 'uncommitted';"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100)"
      "  INSERT INTO filler SELECT randomblob(1000) FROM n;",
      nullptr,
      [&] {
        // The commits take a few pages of the log; the uncommitted 100 KB
        // most of the rest.
        ASSERT_GT(fs::file_size(path.string() + "-wal"), 64u * 1024)
            << "the uncommitted transaction wrote nothing to the log";
        const auto before = filesOf(path.parent_path());
        EXPECT_EQ(titles(path), "a b c ");
        EXPECT_EQ(filesOf(path.parent_path()), before);
      },
      "unix-excl");
}

TEST(SqliteDatabase, GivesAReasonForWhatItCantRead) {
  const auto log = [](const fs::path& path) { return fs::path(path.string() + "-wal"); };
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> damage;
    std::string expected;
  };
  const Case cases[] = {
      // The last commit's frame: the commit before it still holds.
      {"bad checksum", [&](const fs::path& path) { flipByte(log(path), -100); }, "a b "},
      // Frames left from before the log was last restarted.
      {"another log's salt", [&](const fs::path& path) { flipByte(log(path), 32 + 8); }, "a "},
      {"text", [](const fs::path& path) { std::ofstream(path) << "BEGIN:VCALENDAR\r\n"; },
       "reason: not a SQLite database"},
      {"truncated", [&](const fs::path& p) { fs::remove(log(p)), fs::resize_file(p, 8192); },
       "reason: database disk image is malformed"},
      {"empty", [](const fs::path& p) { fs::resize_file(p, 0); }, "reason: empty"},
      {"fifo", [](const fs::path& p) { fs::remove(p), ::mkfifo(p.c_str(), 0600); },
       "reason: not a regular file"},
      // Sparse: no disk is written.
      {"too large", [](const fs::path& path) { fs::resize_file(path, kMaxDatabaseBytes + 1); },
       "reason: larger than 1 GiB"},
  };
  const TempStore store;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = store.root() / c.name / "local.sqlite";
    sqlite3* db = create(path);
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, static_cast<int*>(nullptr));
    exec(db, "INSERT INTO events(title) VALUES('b'); INSERT INTO events(title) VALUES('c');");
    sqlite3_close(db);
    c.damage(path);
    EXPECT_EQ(titles(path), c.expected);
  }
}

// A database that its writer changes in place (a rollback journal, as EDS
// keeps its caches) is read only when it is whole: while a writer only
// fills its journal, not while it changes the database, nor once a write
// was cut short.
TEST(SqliteDatabase, ReadsADatabaseChangedInPlaceOnlyWhenItIsWhole) {
  const TempStore store;
  const fs::path path = store.root() / "cache.db";
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  exec(db,
       "CREATE TABLE events(id INTEGER PRIMARY KEY, title TEXT);"
       "INSERT INTO events(title) VALUES('a');");
  sqlite3_close(db);
  const auto read = [&path] {
    auto read = Database::read(path, sqlite::Journal::rollback);
    if (const auto* reason = std::get_if<std::string>(&read)) return "reason: " + *reason;
    std::string rows;
    std::get<Database>(read).query("SELECT title FROM events ORDER BY id",
                                   [&](const Row& row) { (rows += *row.text(0)) += " "; });
    return rows;
  };

  // Without syncs its journal starts as one a write cut short would leave.
  whileWriting(path, "PRAGMA synchronous=OFF; BEGIN IMMEDIATE; UPDATE events SET title = 'b';",
               "COMMIT;", [&] {
                 ASSERT_TRUE(fs::exists(path.string() + "-journal"));
                 EXPECT_EQ(read(), "a ");
               });
  EXPECT_EQ(read(), "b ");
  // A writer that spills its changes into the database (a cache of two
  // pages) and dies there.
  whileWriting(path,
               "PRAGMA cache_size=2; BEGIN EXCLUSIVE; WITH RECURSIVE n(i) AS (SELECT 1 UNION "
               "ALL SELECT i + 1 FROM n WHERE i < 100) INSERT INTO events(title) SELECT "
               "hex(randomblob(1000)) FROM n;",
               nullptr,
               [&] { EXPECT_EQ(read(), "reason: changed on every try while it was read"); });
  EXPECT_EQ(read(), "reason: a write to it was cut short");
}

// Sorts stay in memory, where SQLite would write large ones to a temporary
// file; and SQLite running out of memory fails the read as a whole, never
// leaving fewer rows than the database holds.
TEST(SqliteDatabase, KeepsToMemory) {
  const TempStore store;
  const fs::path path = store.root() / "local.sqlite";
  sqlite3_close(create(path));
  auto read = Database::read(path);
  const Database& database = std::get<Database>(read);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(::inotify_add_watch(watch, store.root().c_str(), IN_CREATE), 0);
  sqlite3_temp_directory = sqlite3_mprintf("%s", store.root().c_str());
  EXPECT_EQ(database.query("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                           "WHERE i < 20000) SELECT randomblob(500) FROM n ORDER BY 1",
                           [](const Row&) {}),
            std::nullopt);
  char event[4096];
  EXPECT_LT(::read(watch, event, sizeof event), 0) << "a temporary file was made";
  ::close(watch);
  sqlite3_free(std::exchange(sqlite3_temp_directory, nullptr));

  sqlite3_hard_heap_limit64(sqlite3_memory_used() + 16 * 1024);
  EXPECT_THROW(database.query("SELECT * FROM filler ORDER BY data", [](const Row&) {}),
               std::bad_alloc);
  EXPECT_THROW(Database::read(path), std::bad_alloc);
  sqlite3_hard_heap_limit64(0);
}
