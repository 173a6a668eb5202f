// A Thunderbird profile in a test's home folder: `profiles.ini` naming it as
// the one in use, its `prefs.js`, and calendar databases of Thunderbird's
// schema, filled by SQL.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace quorvel::testing {

// The tables of Thunderbird's calendar databases (schema version 23) that
// hold events.
inline constexpr const char* kThunderbirdSchema = R"(
CREATE TABLE cal_calendar_schema_version (version INTEGER);
INSERT INTO cal_calendar_schema_version VALUES (23);
CREATE TABLE cal_events (cal_id TEXT, id TEXT, time_created INTEGER, last_modified INTEGER,
  title TEXT, priority INTEGER, privacy TEXT, ical_status TEXT, flags INTEGER,
  event_start INTEGER, event_end INTEGER, event_stamp INTEGER, event_start_tz TEXT,
  event_end_tz TEXT, recurrence_id INTEGER, recurrence_id_tz TEXT, alarm_last_ack INTEGER,
  offline_journal INTEGER);
CREATE TABLE cal_attendees (item_id TEXT, recurrence_id INTEGER, recurrence_id_tz TEXT,
  cal_id TEXT, icalString TEXT);
CREATE TABLE cal_recurrence (item_id TEXT, cal_id TEXT, icalString TEXT);
CREATE TABLE cal_properties (item_id TEXT, key TEXT, value BLOB, recurrence_id INTEGER,
  recurrence_id_tz TEXT, cal_id TEXT);
CREATE TABLE cal_metadata (cal_id TEXT, item_id TEXT, value BLOB);
)";

class ThunderbirdProfile {
 public:
  // A profile "p.default" below `home`'s `root` (~/.thunderbird, or the
  // snap's or Flatpak's), with `prefs`.
  ThunderbirdProfile(const std::filesystem::path& home, const std::string& prefs,
                     const std::string& root = ".thunderbird")
      : folder_(home / root / "p.default") {
    std::filesystem::create_directories(folder_ / "calendar-data");
    std::ofstream(home / root / "profiles.ini")
        << "[Profile0]\nName=default\nIsRelative=1\nPath=p.default\nDefault=1\n\n"
           "[Install4F96D1932A9F858E]\nDefault=p.default\nLocked=1\n";
    std::ofstream(folder_ / "prefs.js") << prefs;
  }

  // Runs `statements` on the database `name` (local.sqlite, cache.sqlite),
  // made with Thunderbird's tables when it is new.
  void sql(const std::string& name, const std::string& statements) const {
    const std::filesystem::path path = folder_ / "calendar-data" / name;
    const bool fresh = !std::filesystem::exists(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("open " + name);
    const std::string all = (fresh ? std::string(kThunderbirdSchema) : "") + statements;
    char* error = nullptr;
    const int status = sqlite3_exec(db, all.c_str(), nullptr, nullptr, &error);
    const std::string message = error != nullptr ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (status != SQLITE_OK) throw std::runtime_error(message);
  }

  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
};

}  // namespace quorvel::testing
