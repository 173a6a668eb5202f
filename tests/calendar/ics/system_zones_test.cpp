#include "calendar/ics/system_zones.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fcntl.h>

#include "calendar/ics/expand.h"
#include "support/time_zone.h"

namespace quorvel::calendar::ics {
namespace {

using testing::ScopedTimeZone;

// Far past the last transition a zoneinfo file lists (2037), its closing rule
// still gives daylight-saving time, as the C library's localtime_r has it.
TEST(SystemZone, AgreesWithTheCLibraryFarIntoTheFuture) {
  for (const char* name : {"America/New_York", "Europe/Berlin", "Australia/Sydney",
                           "America/Santiago", "Pacific/Chatham"}) {
    const SystemZoneLookup found = systemZone(name);
    ASSERT_TRUE(found.zone) << name;
    const ScopedTimeZone zone(name);
    for (const int year : {2026, 2038, 2100, 2500, 3998, 9999}) {
      for (const int month : {1, 4, 7, 10}) {
        const std::int64_t t = wallSeconds({year, month, 1, 12, 0, 0});
        EXPECT_EQ(found.zone->offsetAt(t), localZone().offsetAt(t))
            << name << " " << year << "-" << month;
      }
    }
  }
  // New York keeps its daylight-saving time in July 3998.
  EXPECT_EQ(systemZone("America/New_York").zone->offsetAt(wallSeconds({3998, 7, 1})), -4 * 3600);
}

TEST(SystemZone, KnowsOnlyZonesThatExist) {
  for (const char* tzid :
       {"Nowhere/Zone", "Atlantis Standard Time", "../../etc/passwd", "America", ""}) {
    const SystemZoneLookup found = systemZone(tzid);
    EXPECT_FALSE(found.zone) << tzid;
    EXPECT_FALSE(found.failure) << tzid;
  }
}

// A zone file that can't be opened for want of descriptors is a failure to
// read, not an unknown zone: the text's events can't be read as meant. In a
// child process, whose descriptors can all be used up, and with zones no other
// test loads (the zones loaded stay loaded).
TEST(SystemZone, AZoneThatCannotBeOpenedIsAFailureNotAnUnknownZone) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 256);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    while (::open("/dev/null", O_RDONLY) >= 0) {
    }
    const SystemZoneLookup found = systemZone("Antarctica/Troll");
    bool ok = !found.zone && found.failure &&
              *found.failure == "/usr/share/zoneinfo/Antarctica/Troll: Too many open files";
#ifndef __SANITIZE_ADDRESS__  // its checks of virtual calls need descriptors too
    // An event in the window needs its zone; one far from it doesn't, and
    // its zone is never looked up. (Another zone: CCTZ keeps a failed load.)
    const TextEvents near = eventsInText(
        "BEGIN:VEVENT\r\nDTSTART;TZID=Antarctica/Vostok:20260302T100000\r\nEND:VEVENT\r\n",
        {1772409600.0, 1772496000.0}, {});
    const TextEvents far =
        eventsInText("BEGIN:VEVENT\r\nDTSTART;TZID=Asia/Dili:20200302T100000\r\nEND:VEVENT\r\n",
                     {1772409600.0, 1772496000.0}, {});
    ok = ok && near.failure &&
         *near.failure == "/usr/share/zoneinfo/Antarctica/Vostok: Too many open files" &&
         !far.failure;
#endif
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // With descriptors to spare, the same zone is there.
  EXPECT_TRUE(systemZone("Antarctica/Troll").zone);
}

}  // namespace
}  // namespace quorvel::calendar::ics
