// EDS's cache of a remote calendar, as EDS 3.46 lays it out, read as the
// query EDS is asked would find its rows.
#include "calendar/linux/eds/cache.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_store.h"

namespace quorvel::calendar::linuxstore::eds {
namespace {

namespace fs = std::filesystem;

// 2026-06-01T00:00:00Z to 2026-06-08T00:00:00Z: the cache is asked for
// 31 May to 9 June.
constexpr Window kWeek{1780272000.0, 1780876800.0};

// The tables EDS 3.46 makes (version 4), with the columns that are read.
constexpr const char* kSchema =
    "CREATE TABLE ECacheKeys (key TEXT PRIMARY KEY, value TEXT);"
    "CREATE TABLE ECacheObjects (ECacheUID TEXT PRIMARY KEY, ECacheREV TEXT, ECacheOBJ TEXT,"
    " ECacheState INTEGER, occur_start TEXT, occur_end TEXT, has_recurrences INTEGER);"
    "CREATE TABLE timezones (tzid TEXT PRIMARY KEY, zone TEXT, refs INTEGER);";

void exec(sqlite3* db, const std::string& sql) {
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db));
  }
}

// A cache at `path` made by running `sql` after the schema.
void makeCache(const fs::path& path, const std::string& sql) {
  fs::create_directories(path.parent_path());
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  exec(db, kSchema + sql);
  sqlite3_close(db);
}

std::string event(const std::string& uid, const std::string& extra = "") {
  return "BEGIN:VEVENT\r\nUID:" + uid + "\r\n" + extra + "END:VEVENT\r\n";
}

// A row of ECacheObjects: its UID, object, state and bounds.
std::string row(const std::string& uid, const std::string& object, int state,
                const std::string& start, const std::string& end, int recurs) {
  const auto quoted = [](const std::string& text) {
    return text.empty() ? std::string("NULL") : "'" + text + "'";
  };
  return "INSERT INTO ECacheObjects VALUES('" + uid + "','rev','" + object + "'," +
         std::to_string(state) + "," + quoted(start) + "," + quoted(end) + "," +
         std::to_string(recurs) + ");";
}

constexpr const char* kSynchronised =
    "INSERT INTO ECacheKeys VALUES('version','4'),('user::ecmb::ever-connected','1');";

TEST(EdsCache, ReadsTheRowsTheQueryFindsAndTheCalendarsOwnZones) {
  const testing::TempStore store;
  const fs::path path = store.dataHome() / "cal/cache.db";
  const std::string zone = "BEGIN:VTIMEZONE\r\nTZID:Office Time\r\nEND:VTIMEZONE\r\n";
  makeCache(path, std::string(kSynchronised) +
                      row("in", event("in"), 0, "20260602100000", "20260602110000", 0) +
                      row("edge", event("edge"), 1, "20260608230000", "20260609000000", 0) +
                      row("before", event("before"), 0, "20260530100000", "20260530235959", 0) +
                      row("after", event("after"), 2, "20260609000001", "20260609010000", 0) +
                      row("floating", event("floating"), 0, "", "", 0) +
                      row("gone", event("gone"), 3, "20260602100000", "20260602110000", 0) +
                      row("series", event("series", "RRULE:FREQ=DAILY\r\n"), 0, "20200101000000",
                          "20200101010000", 1) +
                      row("series\n20200102T000000",
                          event("series", "RECURRENCE-ID;TZID=Office Time:20200102T000000\r\n"), 0,
                          "20200102000000", "20200102010000", 1) +
                      "INSERT INTO timezones VALUES('Office Time','" + zone +
                      "',1),('No definition',NULL,0);");

  const auto read = readCache(path, kWeek);
  ASSERT_TRUE(std::holds_alternative<Cached>(read)) << std::get<Uncached>(read).why;
  const Cached& cached = std::get<Cached>(read);
  std::vector<std::string> found;
  for (const Component& component : cached.components) {
    found.push_back(component.uid + (component.recurrenceId.empty() ? "" : " override"));
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found,
            (std::vector<std::string>{"edge", "floating", "in", "series", "series override"}));
  EXPECT_EQ(cached.zones.size(), 1u);
  EXPECT_EQ(cached.zones.at("Office Time"), zone);
}

// A cache that isn't there or was never filled from the server is left
// without a word; one that can't be used says why.
TEST(EdsCache, SaysWhyACacheIsNotRead) {
  const testing::TempStore store;
  const struct {
    const char* what;
    std::string sql;  // empty: no cache at all
    std::string why;
  } cases[] = {
      {"no cache", "", ""},
      {"never synchronised", "INSERT INTO ECacheKeys VALUES('version','4');", ""},
      {"another layout",
       "INSERT INTO ECacheKeys VALUES('version','5'),('user::ecmb::ever-connected','1');",
       "a layout not known (version 5)"},
      {"no version", "INSERT INTO ECacheKeys VALUES('user::ecmb::ever-connected','1');",
       "a layout not known (version none)"},
      {"a column missing",
       std::string(kSynchronised) + "ALTER TABLE ECacheObjects DROP COLUMN has_recurrences;",
       "no such column: has_recurrences"},
  };
  int index = 0;
  for (const auto& c : cases) {
    const fs::path path = store.dataHome() / std::to_string(++index) / "cache.db";
    if (!c.sql.empty()) makeCache(path, c.sql);
    const auto read = readCache(path, kWeek);
    ASSERT_TRUE(std::holds_alternative<Uncached>(read)) << c.what;
    EXPECT_EQ(std::get<Uncached>(read).why, c.why) << c.what;
  }
}

}  // namespace
}  // namespace quorvel::calendar::linuxstore::eds
