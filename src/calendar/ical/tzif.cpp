#include "calendar/ical/tzif.h"

#include <algorithm>

namespace quorvel::calendar::ical {
namespace {

constexpr std::size_t kHeaderSize = 44;
// RFC 9636, 3.2: offsets SHOULD lie within 26 hours of UTC.
constexpr std::int64_t kMostOffset = 93599;

std::uint64_t bigEndian(std::string_view bytes, std::size_t at, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

// A TZif header and the size of the data block after it.
struct Header {
  char version = 0;
  std::uint64_t isUtCount = 0;
  std::uint64_t isStdCount = 0;
  std::uint64_t leapCount = 0;
  std::uint64_t timeCount = 0;
  std::uint64_t typeCount = 0;
  std::uint64_t charCount = 0;

  // The data block's size, with times of `timeSize` bytes.
  std::uint64_t blockSize(std::uint64_t timeSize) const {
    return timeCount * (timeSize + 1) + typeCount * 6 + charCount + leapCount * (timeSize + 4) +
           isStdCount + isUtCount;
  }
};

// The header at `at`, when one is there and its counts agree with each other.
std::optional<Header> headerAt(std::string_view bytes, std::size_t at) {
  if (bytes.size() < kHeaderSize || at > bytes.size() - kHeaderSize) return std::nullopt;
  if (bytes.substr(at, 4) != "TZif") return std::nullopt;
  Header header;
  header.version = bytes[at + 4];
  if (header.version != '\0' && header.version < '2') return std::nullopt;
  const auto count = [&](int field) { return bigEndian(bytes, at + 20 + 4 * field, 4); };
  header.isUtCount = count(0);
  header.isStdCount = count(1);
  header.leapCount = count(2);
  header.timeCount = count(3);
  header.typeCount = count(4);
  header.charCount = count(5);
  if (header.typeCount == 0) return std::nullopt;
  if (header.isUtCount != 0 && header.isUtCount != header.typeCount) return std::nullopt;
  if (header.isStdCount != 0 && header.isStdCount != header.typeCount) return std::nullopt;
  return header;
}

}  // namespace

std::unique_ptr<TzifZone> TzifZone::read(std::string_view bytes) {
  std::optional<Header> header = headerAt(bytes, 0);
  if (!header) return nullptr;
  std::size_t data = kHeaderSize;
  std::uint64_t timeSize = 4;
  if (header->version != '\0') {
    // Version 2 and later: the 64-bit data follows the 32-bit data.
    const std::uint64_t skip = header->blockSize(4);
    if (skip > bytes.size() - kHeaderSize) return nullptr;
    header = headerAt(bytes, kHeaderSize + skip);
    if (!header || header->version < '2') return nullptr;
    data = kHeaderSize + skip + kHeaderSize;
    timeSize = 8;
  }
  if (header->blockSize(timeSize) > bytes.size() - data) return nullptr;
  // Leap seconds: the zones of right/, whose clocks count them.
  if (header->leapCount != 0) return nullptr;

  const std::size_t times = data;
  const std::size_t indices = times + header->timeCount * timeSize;
  const std::size_t types = indices + header->timeCount;
  std::vector<std::int32_t> typeOffsets(header->typeCount);
  for (std::size_t type = 0; type < typeOffsets.size(); ++type) {
    const auto offset = static_cast<std::int32_t>(bigEndian(bytes, types + 6 * type, 4));
    if (offset < -kMostOffset || offset > kMostOffset) return nullptr;
    typeOffsets[type] = offset;
  }

  auto zone = std::unique_ptr<TzifZone>(new TzifZone());
  zone->first_ = typeOffsets[0];
  zone->changes_.reserve(header->timeCount);
  zone->offsets_.reserve(header->timeCount);
  for (std::size_t i = 0; i < header->timeCount; ++i) {
    const std::uint64_t raw = bigEndian(bytes, times + i * timeSize, timeSize);
    const std::int64_t at =
        timeSize == 4 ? static_cast<std::int32_t>(raw) : static_cast<std::int64_t>(raw);
    const auto type = static_cast<unsigned char>(bytes[indices + i]);
    if (type >= typeOffsets.size()) return nullptr;
    if (!zone->changes_.empty() && at <= zone->changes_.back()) return nullptr;
    zone->changes_.push_back(at);
    zone->offsets_.push_back(typeOffsets[type]);
  }

  if (timeSize == 8) {
    // The footer: a POSIX TZ string between two line feeds; an empty one
    // (or one this reader can't use) leaves the last offset in force.
    const std::string_view footer = bytes.substr(data + header->blockSize(timeSize));
    if (footer.size() >= 2 && footer.front() == '\n') {
      const std::size_t end = footer.find('\n', 1);
      if (end != std::string_view::npos) zone->rule_ = PosixTz::parse(footer.substr(1, end - 1));
    }
  }
  return zone;
}

std::int64_t TzifZone::offsetAt(std::int64_t utcSeconds) const {
  if (changes_.empty()) return rule_ ? rule_->offsetAt(utcSeconds) : first_;
  if (utcSeconds < changes_.front()) return first_;
  if (rule_ && utcSeconds >= changes_.back()) return rule_->offsetAt(utcSeconds);
  const auto after = std::upper_bound(changes_.begin(), changes_.end(), utcSeconds);
  return offsets_[static_cast<std::size_t>(after - changes_.begin()) - 1];
}

std::optional<std::int64_t> TzifZone::nextChange(std::int64_t utcSeconds,
                                                 std::int64_t until) const {
  const auto after = std::upper_bound(changes_.begin(), changes_.end(), utcSeconds);
  if (after != changes_.end()) return *after <= until ? std::optional(*after) : std::nullopt;
  if (rule_) return rule_->nextChange(utcSeconds, until);
  return std::nullopt;
}

}  // namespace quorvel::calendar::ical
