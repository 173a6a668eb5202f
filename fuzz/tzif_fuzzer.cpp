// Fuzzes the readers of the tz database's TZif files and of POSIX TZ
// strings. The first byte chooses which reads the rest. A zone read must give
// offsets within the bound every search relies on, changes that come after
// the instant asked about, and instants for wall-clock times within that
// bound of them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "calendar/ical/posix_tz.h"
#include "calendar/ical/tzif.h"

namespace {

using namespace quorvel::calendar::ical;

void check(const Zone& zone) {
  for (std::int64_t t = wallSeconds({1850, 1, 1}); t < wallSeconds({2450, 1, 1});
       t += 97 * 86400 + 12345) {
    const std::int64_t offset = zone.offsetAt(t);
    if (offset < -kMaxUtcOffset || offset > kMaxUtcOffset) std::abort();
    if (const auto change = zone.nextChange(t, t + 86400 * 30)) {
      if (*change <= t || *change > t + 86400 * 30) std::abort();
    }
    const std::int64_t utc = toUtc(zone, t);
    if (utc < t - kMaxUtcOffset || utc > t + kMaxUtcOffset) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    if (const auto zone = TzifZone::read(rest)) check(*zone);
  } else if (const auto rule = PosixTz::parse(rest)) {
    check(PosixZone(*rule));
  }
  return 0;
}
