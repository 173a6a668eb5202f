// Zones of the tz database, read from their TZif files (RFC 9636).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "calendar/ical/posix_tz.h"
#include "calendar/ical/time.h"

namespace quorvel::calendar::ical {

// The offsets a TZif file lists up to its last change, found by a binary
// search, and after it those of the POSIX TZ string that closes a file of
// version 2 or later, worked out for the year asked about.
class TzifZone final : public Zone {
 public:
  // The zone that `bytes` hold: versions 1 (32-bit data) to 4 (64-bit
  // data). Null for bytes that aren't TZif, are cut short, contradict
  // themselves (changes out of order, a type that isn't there), give an
  // offset of more than 26 hours, or list leap seconds (the zones of
  // `right/`, which count leap seconds into their times, as no calendar
  // does). Every count is checked against the size of the bytes before
  // anything is set aside for it.
  static std::unique_ptr<TzifZone> read(std::string_view bytes);

  std::int64_t offsetAt(std::int64_t utcSeconds) const override;
  std::optional<std::int64_t> nextChange(std::int64_t utcSeconds,
                                         std::int64_t until) const override;

 private:
  TzifZone() = default;

  std::vector<std::int64_t> changes_;  // instants, in order
  std::vector<std::int32_t> offsets_;  // in force from each change on
  std::int32_t first_ = 0;             // before the first change: the file's first type's
  std::optional<PosixTz> rule_;        // from the last change on
};

// A zone that a POSIX TZ string gives alone (the TZ variable's).
class PosixZone final : public Zone {
 public:
  explicit PosixZone(PosixTz rule) : rule_(rule) {}
  std::int64_t offsetAt(std::int64_t utcSeconds) const override {
    return rule_.offsetAt(utcSeconds);
  }
  std::optional<std::int64_t> nextChange(std::int64_t utcSeconds,
                                         std::int64_t until) const override {
    return rule_.nextChange(utcSeconds, until);
  }

 private:
  PosixTz rule_;
};

}  // namespace quorvel::calendar::ical
