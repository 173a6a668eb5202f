// The tz database read from its TZif files, and POSIX TZ strings, against
// CCTZ (Google's reader, a test-only oracle) over every installed zone, and
// the local zone against the C library's.
#include "calendar/ical/tzif.h"

#include <cctz/time_zone.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "calendar/ical/posix_tz.h"
#include "calendar/ical/system_zones.h"
#include "support/listing.h"

namespace quorvel::calendar::ical {
namespace {

namespace fs = std::filesystem;

const fs::path kZoneFolder = "/usr/share/zoneinfo";

std::string bytesOf(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::int64_t cctzOffset(const cctz::time_zone& zone, std::int64_t utc) {
  return zone.lookup(cctz::time_point<cctz::seconds>(cctz::seconds(utc))).offset;
}

std::int64_t secondsOf(int year) { return wallSeconds({year, 1, 1}); }

// Every TZif file of the tz database outside right/ (whose leap seconds CCTZ
// doesn't read and the tool refuses) gives CCTZ's offsets: at instants from
// 1800 to 2500 a week and some hours apart, and a second either side of
// every change CCTZ knows up to 2100, its closing rule's included. Under the
// sanitizers, every seventh zone.
TEST(TzifZones, EveryInstalledZoneGivesCctzsOffsets) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr int kEvery = 7;
#else
  constexpr int kEvery = 1;
#endif
  int zones = 0;
  int compared = 0;
  for (auto entry = fs::recursive_directory_iterator(kZoneFolder);
       entry != fs::recursive_directory_iterator(); ++entry) {
    if (entry->is_directory() && entry->path().filename() == "right") {
      entry.disable_recursion_pending();
      continue;
    }
    if (!entry->is_regular_file() || entry->is_symlink()) continue;
    const std::string bytes = bytesOf(entry->path());
    if (!bytes.starts_with("TZif") || zones++ % kEvery != 0) continue;
    const std::string name = fs::relative(entry->path(), kZoneFolder).string();
    const std::unique_ptr<TzifZone> ours = TzifZone::read(bytes);
    cctz::time_zone theirs;
    ASSERT_TRUE(ours) << name;
    ASSERT_TRUE(cctz::load_time_zone(name, &theirs)) << name;

    std::vector<std::int64_t> instants;
    for (std::int64_t t = secondsOf(1800); t < secondsOf(2500); t += 7 * 86400 + 3 * 3600 + 17) {
      instants.push_back(t);
    }
    cctz::time_zone::civil_transition change;
    const auto end = cctz::time_point<cctz::seconds>(cctz::seconds(secondsOf(2100)));
    for (auto t = cctz::time_point<cctz::seconds>(cctz::seconds(secondsOf(1800)));
         t < end && theirs.next_transition(t, &change);) {
      t = theirs.lookup(change.to).trans;
      const std::int64_t at = t.time_since_epoch().count();
      instants.insert(instants.end(), {at - 1, at, at + 1});
    }
    int mismatches = 0;
    for (const std::int64_t t : instants) {
      if (ours->offsetAt(t) != cctzOffset(theirs, t) && mismatches++ < 3) {
        ADD_FAILURE() << name << " at " << t << ": " << ours->offsetAt(t) << " against "
                      << cctzOffset(theirs, t);
      }
    }
    compared += static_cast<int>(instants.size());
  }
  EXPECT_GT(zones, 300);
  EXPECT_GT(compared, 1000000 / kEvery);
}

// The POSIX TZ strings of TZif footers and the TZ variable, with RFC 9636's
// extensions, worked out by hand: a second before and at each change.
TEST(TzifZones, ReadPosixTzStrings) {
  const auto at = [](const char* utc) { return static_cast<std::int64_t>(testing::utc(utc)); };
  const std::tuple<const char*, const char*, std::int64_t> cases[] = {
      // Nuuk: the last Sunday of March at -1:00, 28 March 23:00 at -02.
      {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", "2026-03-29 00:59:59", -7200},
      {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", "2026-03-29 01:00", -3600},
      {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", "2026-10-25 01:00", -7200},
      // Santiago, south of the equator: the first Saturday at 24:00.
      {"<-04>4<-03>,M9.1.6/24,M4.1.6/24", "2026-01-15", -10800},
      {"<-04>4<-03>,M9.1.6/24,M4.1.6/24", "2026-04-05 02:59:59", -10800},
      {"<-04>4<-03>,M9.1.6/24,M4.1.6/24", "2026-04-05 03:00", -14400},
      {"<-04>4<-03>,M9.1.6/24,M4.1.6/24", "2026-09-06 03:59:59", -14400},
      {"<-04>4<-03>,M9.1.6/24,M4.1.6/24", "2026-09-06 04:00", -10800},
      // Gaza: the fourth Thursday at 50:00, two days later.
      {"EET-2EEST,M3.4.4/50,M10.4.4/50", "2026-03-27 23:59:59", 7200},
      {"EET-2EEST,M3.4.4/50,M10.4.4/50", "2026-03-28", 10800},
      {"EET-2EEST,M3.4.4/50,M10.4.4/50", "2026-10-23 23:00", 7200},
      {"<+0330>-3:30", "2026-06-01", 12600},
      // Dublin: winter is the "daylight-saving" time, an hour behind.
      {"IST-1GMT0,M10.5.0,M3.5.0/1", "2026-01-15", 0},
      {"IST-1GMT0,M10.5.0,M3.5.0/1", "2026-07-01", 3600},
      {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", "2026-01-15", 39600},
      {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", "2026-07-01", 37800},
      // Jn never counts 29 February (J60 is 1 March); n counts from 0.
      {"AAA3BBB,J60/2,J300/2", "2028-03-01 04:59:59", -10800},
      {"AAA3BBB,J60/2,J300/2", "2028-03-01 05:00", -7200},
      {"AAA3BBB,J60/2,J300/2", "2028-10-27 04:00", -10800},
      {"AAA3BBB,59/2,299/2", "2028-02-29 05:00", -7200},
      {"AAA3BBB,59/2,299/2", "2027-03-01 04:59:59", -10800},
      {"AAA3BBB,J1/2,J300/2", "2027-01-01 04:59:59", -10800},
      {"AAA3BBB,J1/2,J300/2", "2027-01-01 05:00", -7200},
      // The fifth Sunday of December 2023 is its last day.
      {"AAA3BBB,M3.2.0,M12.5.0", "2023-12-31 03:59:59", -7200},
      {"AAA3BBB,M3.2.0,M12.5.0", "2023-12-31 04:00", -10800},
      // Without rules, those of the United States since 2007.
      {"EST5EDT", "2026-03-08 07:00", -14400},
      {"EST5EDT", "2026-11-01 06:00", -18000},
  };
  for (const auto& [text, utc, offset] : cases) {
    const auto zone = PosixTz::parse(text);
    ASSERT_TRUE(zone) << text;
    EXPECT_EQ(zone->offsetAt(at(utc)), offset) << text << " at " << utc;
  }
  // A rule whose changes fall in the last week of the year before: the next
  // change after them is a year on, found without looping back.
  const auto early = PosixTz::parse("AAA3BBB,J1/-167,J1/-160");
  ASSERT_TRUE(early);
  EXPECT_EQ(early->nextChange(at("2026-12-31"), at("2027-12-31")), at("2027-12-25 04:00"));
  for (const char* text :
       {"", "EST", "ES5", "EST5EDT,M3.2.0", "EST5EDT,M13.1.0,M11.1.0", "EST5EDT,M3.6.0,M11.1.0",
        "EST5EDT,M3.2.7,M11.1.0", "EST5EDT,M3.2.0/168,M11.1.0", "<+03", "<+0>-3", "EST25",
        "EST5EDT,J0,J365", "EST5EDT,366,5", "EST5x", "EST5:60", "EST0005"}) {
    EXPECT_FALSE(PosixTz::parse(text)) << text;
  }
}

// A TZif file of one type (UTC+1) and the changes given, each to the type
// given, in the version given; its first block is a valid empty one.
std::string tzif(char version, const std::vector<std::pair<std::int64_t, int>>& changes,
                 const std::vector<std::int32_t>& offsets, const std::string& footer) {
  const auto number = [](std::string& to, std::uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i) to.push_back(static_cast<char>(value >> (8 * i)));
  };
  const auto block = [&](std::string& to, int timeSize, bool empty) {
    to += "TZif";
    to.push_back(version);
    to.append(15, '\0');
    const std::size_t types = empty ? 1 : offsets.size();
    for (const std::uint64_t count :
         {std::uint64_t{0}, std::uint64_t{0}, std::uint64_t{0},
          std::uint64_t{empty ? 0 : changes.size()}, std::uint64_t{types}, std::uint64_t{4}}) {
      number(to, count, 4);
    }
    if (!empty) {
      for (const auto& change : changes)
        number(to, static_cast<std::uint64_t>(change.first), timeSize);
      for (const auto& change : changes) to.push_back(static_cast<char>(change.second));
    }
    for (std::size_t type = 0; type < types; ++type) {
      number(to, static_cast<std::uint32_t>(empty ? 0 : offsets[type]), 4);
      to.append({'\0', '\0'});
    }
    to.append("UTC", 4);
  };
  std::string bytes;
  block(bytes, 4, version != '\0');
  if (version != '\0') {
    block(bytes, 8, false);
    bytes += "\n" + footer + "\n";
  }
  return bytes;
}

// Files that aren't usable TZif are unknown zones, found so without setting
// aside more than the file holds, however large the counts its header gives.
TEST(TzifZones, RefuseMalformedFilesAndLeapSeconds) {
  const std::vector<std::int32_t> offsets = {3600, 7200};
  const std::string good = tzif('2', {{0, 1}, {86400, 0}}, offsets, "<+01>-1");
  const auto zone = TzifZone::read(good);
  ASSERT_TRUE(zone);
  EXPECT_EQ(zone->offsetAt(-1), 3600);
  EXPECT_EQ(zone->offsetAt(0), 7200);
  EXPECT_EQ(zone->offsetAt(86400), 3600);
  EXPECT_EQ(zone->nextChange(-1, 86400), 0);
  EXPECT_EQ(zone->nextChange(0, 86399), std::nullopt);
  const auto old = TzifZone::read(tzif('\0', {{0, 1}}, offsets, ""));
  ASSERT_TRUE(old);
  EXPECT_EQ(old->offsetAt(1000), 7200);

  // A header claiming 10^8 changes, in 60 bytes.
  std::string huge = good.substr(0, 44);
  huge[4] = '\0';
  huge.replace(32, 4, "\x05\xF5\xE1\x00", 4);
  huge.resize(60, '\0');
  const std::string refused[] = {
      huge,
      tzif('2', {{86400, 1}, {0, 0}}, offsets, ""),  // changes out of order
      tzif('2', {{0, 2}}, offsets, ""),              // a type that isn't there
      tzif('2', {{0, 1}}, {3600, 27 * 3600}, ""),    // an offset of 27 hours
      tzif('1', {{0, 1}}, offsets, ""),              // no such version
      "TZjf" + good.substr(4),
      bytesOf(kZoneFolder / "right/Europe/Berlin"),  // leap seconds
  };
  for (const std::string& bytes : refused) EXPECT_FALSE(TzifZone::read(bytes)) << bytes.size();
  // Cut anywhere, a file is refused or read, never read past its end.
  const std::string berlin = bytesOf(kZoneFolder / "Europe/Berlin");
  for (std::size_t size = 0; size < berlin.size(); ++size) {
    const auto cut = TzifZone::read(berlin.substr(0, size));
    if (cut) cut->offsetAt(0);
  }
}

// TZ as the C library reads it gives the C library's offsets: a name (with
// or without ':'), a path, a POSIX TZ string, and UTC for what names
// nothing. A FIFO is never opened.
TEST(TzifZones, ReadTheLocalZoneAsTheCLibraryDoes) {
  const testing::TempStore folder;
  const std::string fifo = (folder.dataHome() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::pair<const char*, const char*> cases[] = {
      {"Europe/Berlin", "Europe/Berlin"},
      {":America/New_York", "America/New_York"},
      {"/usr/share/zoneinfo/Asia/Tokyo", "Asia/Tokyo"},
      {"EST5EDT", "EST5EDT"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", ""},
      {"<-04>4<-03>,M9.1.6/24,M4.1.6/24", ""},
      {"<+0330>-3:30", ""},
      {"", "UTC"},
      {"Nowhere/Zone", "UTC"},
      {"junk!", "UTC"},
  };
  for (const auto& [tz, name] : cases) {
    const LocalZone local = readLocalZone(tz);
    EXPECT_EQ(local.name, name) << tz;
    const testing::ScopedTimeZone glibc(tz);
    int mismatches = 0;
    for (std::int64_t t = secondsOf(1970); t < secondsOf(2100); t += 11 * 86400 + 3607) {
      const std::time_t time = t;
      std::tm fields{};
      localtime_r(&time, &fields);
      if (local.zone->offsetAt(t) != fields.tm_gmtoff && mismatches++ < 3) {
        ADD_FAILURE() << tz << " at " << t << ": " << local.zone->offsetAt(t) << " against "
                      << fields.tm_gmtoff;
      }
    }
  }
  EXPECT_EQ(readLocalZone(fifo.c_str()).name, "UTC");
  EXPECT_EQ(readLocalZone(nullptr, "/nonexistent").name, "UTC");
}

}  // namespace
}  // namespace quorvel::calendar::ical
