// A SQLite database of another program's, read into memory with what its
// write-ahead log has committed, and queried there.
//
// Opened in place, another program's database may not be readable at all
// (Thunderbird holds its databases under an exclusive lock), may miss the
// newest rows (kept in the write-ahead log, the "-wal" file beside it), and
// opening it may change it. So the database and its log are read whole,
// checked not to have changed while they were read, the log's committed
// pages are laid over the database's, and SQLite reads the result from
// memory. No file is written or changed.
//
// A database kept with a rollback journal instead (EDS's caches) is written
// in place, page by page: it is read under SQLite's own shared lock, which
// keeps its writers from changing it meanwhile, and not at all while a
// write that was cut short (a "hot" journal) has left it half changed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

struct sqlite3;
struct sqlite3_stmt;

namespace quorvel::calendar::linuxstore::sqlite {

// One row of a query's result.
class Row {
 public:
  explicit Row(sqlite3_stmt* statement) : statement_(statement) {}
  // The column's value as text (a number or blob as SQLite gives it as
  // text), or nothing when it is NULL. Valid until `each` returns.
  std::optional<std::string_view> text(int column) const;
  // The column's value as an integer, or nothing when it is NULL.
  std::optional<std::int64_t> integer(int column) const;

 private:
  sqlite3_stmt* statement_;
};

// The largest database, with its log, that is read: a larger one is
// skipped with a line.
inline constexpr std::uint64_t kMaxDatabaseBytes = std::uint64_t{1} << 30;

// How the program that writes a database keeps it.
enum class Journal {
  writeAheadLog,  // or a program that holds its databases locked (Thunderbird)
  rollback,       // and takes no lock longer than a write (EDS)
};

class Database {
 public:
  // Reads the database at `path` and its log (`path` + "-wal", when there
  // is one). A log SQLite would ignore (a bad header, frames of an earlier
  // use of the file) is ignored, as is one of another page size than the
  // database's. Returns why the database can't be used (not a database,
  // damaged, empty, a log of a version SQLite doesn't know, too large,
  // changing on every try); throws IncompleteRead (ical::failIncomplete) or
  // std::bad_alloc when the system lacks a resource to read it. With a
  // rollback journal, also why it can't be read now (being written on every
  // try, a write cut short, no locks on its file system).
  static std::variant<Database, std::string> read(const std::filesystem::path& path,
                                                  Journal journal = Journal::writeAheadLog);

  Database(Database&&) noexcept;
  Database& operator=(Database&&) noexcept;
  ~Database();

  // Runs `sql`, one statement, and calls `each` for every row it gives.
  // Returns why it failed (a table or column the database lacks, a damaged
  // page...), which may be after some rows; throws std::bad_alloc when
  // SQLite runs out of memory.
  std::optional<std::string> query(std::string_view sql,
                                   const std::function<void(const Row&)>& each) const;

 private:
  struct State;
  explicit Database(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace quorvel::calendar::linuxstore::sqlite
