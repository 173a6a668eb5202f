#include "calendar/ical/zone.h"

#include <algorithm>

namespace quorvel::calendar::ical {
namespace {

// Onsets are wall-clock times in a fixed offset; rule expansion needs them as
// a zone to compare against a UTC UNTIL.
class FixedOffset final : public Zone {
 public:
  explicit FixedOffset(std::int64_t offset) : offset_(offset) {}
  std::int64_t offsetAt(std::int64_t) const override { return offset_; }
  std::optional<std::int64_t> nextChange(std::int64_t, std::int64_t) const override {
    return std::nullopt;
  }

 private:
  std::int64_t offset_;
};

// How far back from a time the last occurrence of a rule can lie, when the
// rule goes on past that time.
std::int64_t lookback(const RecurrenceRule& rule) {
  std::int64_t period = kSecondsPerDay;
  switch (rule.frequency) {
    case Frequency::yearly:
      period = 366 * kSecondsPerDay;
      break;
    case Frequency::monthly:
      period = 31 * kSecondsPerDay;
      break;
    case Frequency::weekly:
      period = 7 * kSecondsPerDay;
      break;
    default:
      break;
  }
  return 2 * period * rule.interval + kSecondsPerDay;
}

// The years whose offsets are remembered at once; a file whose events span
// more starts over.
constexpr std::size_t kYearsKept = 64;

}  // namespace

DefinedZone::DefinedZone(std::vector<Observance> observances)
    : observances_(std::move(observances)) {
  // Before its first onset a zone is taken to be at the offset that onset
  // leaves.
  const Observance* first = nullptr;
  for (const Observance& observance : observances_) {
    if (first == nullptr ||
        observance.startWall - observance.offsetFrom < first->startWall - first->offsetFrom) {
      first = &observance;
    }
  }
  if (first != nullptr) offsetBeforeAll_ = first->offsetFrom;
}

std::optional<std::int64_t> DefinedZone::latestOnset(const Observance& observance,
                                                     std::int64_t utc) const {
  std::optional<std::int64_t> latest;
  const auto consider = [&latest, &utc](std::int64_t onset) {
    if (onset <= utc && (!latest || onset > *latest)) latest = onset;
  };
  const std::int64_t startUtc = observance.startWall - observance.offsetFrom;
  consider(startUtc);
  for (const std::int64_t wall : observance.dateWalls) consider(wall - observance.offsetFrom);
  if (startUtc > utc) return latest;

  const FixedOffset zone(observance.offsetFrom);
  const std::int64_t limitWall = utc + observance.offsetFrom;
  for (const RecurrenceRule& rule : observance.rules) {
    std::optional<std::int64_t> found;
    const auto scan = [&](std::int64_t fromWall) {
      RuleExpansion expansion(rule, observance.startWall, false, fromWall, zone);
      while (const auto wall = expansion.next()) {
        if (*wall > limitWall) break;
        found = *wall;
      }
    };
    scan(limitWall - lookback(rule));
    // A rule that ended before the time: look back from its end instead.
    if (!found && (rule.untilWall || rule.untilUtc)) {
      const std::int64_t untilWall =
          rule.untilWall ? *rule.untilWall : *rule.untilUtc + observance.offsetFrom;
      if (untilWall < limitWall) scan(untilWall - lookback(rule));
    }
    if (found) consider(*found - observance.offsetFrom);
  }
  return latest;
}

const DefinedZone::Year& DefinedZone::yearOf(int year) const {
  if (const auto known = years_.find(year); known != years_.end()) return known->second;
  if (years_.size() >= kYearsKept) years_.clear();

  const std::int64_t yearStart = wallSeconds({year, 1, 1});
  const std::int64_t yearEnd = wallSeconds({year + 1, 1, 1});
  Year entry;
  entry.startOffset = offsetBeforeAll_;
  std::optional<std::int64_t> latest;
  for (const Observance& observance : observances_) {
    const auto onset = latestOnset(observance, yearStart - 1);
    if (onset && (!latest || *onset >= *latest)) {
      latest = onset;
      entry.startOffset = observance.offsetTo;
    }

    const auto add = [&](std::int64_t onsetUtc) {
      if (onsetUtc >= yearStart && onsetUtc < yearEnd) {
        entry.changes.emplace_back(onsetUtc, observance.offsetTo);
      }
    };
    const std::int64_t startUtc = observance.startWall - observance.offsetFrom;
    add(startUtc);
    for (const std::int64_t wall : observance.dateWalls) add(wall - observance.offsetFrom);
    if (startUtc >= yearEnd) continue;
    const FixedOffset zone(observance.offsetFrom);
    for (const RecurrenceRule& rule : observance.rules) {
      RuleExpansion expansion(rule, observance.startWall, false,
                              yearStart + observance.offsetFrom - kSecondsPerDay, zone);
      while (const auto wall = expansion.next()) {
        const std::int64_t onsetUtc = *wall - observance.offsetFrom;
        if (onsetUtc >= yearEnd) break;
        add(onsetUtc);
      }
    }
  }
  std::stable_sort(entry.changes.begin(), entry.changes.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return years_.emplace(year, std::move(entry)).first->second;
}

std::int64_t DefinedZone::offsetAt(std::int64_t utcSeconds) const {
  const int year = civilOf(std::clamp(utcSeconds, kFirstSecond, kEndSecond - 1)).year;
  const Year& entry = yearOf(year);
  const auto after =
      std::upper_bound(entry.changes.begin(), entry.changes.end(), utcSeconds,
                       [](std::int64_t utc, const auto& change) { return utc < change.first; });
  const std::int64_t offset =
      after == entry.changes.begin() ? entry.startOffset : (after - 1)->second;
  return offset;
}

std::optional<std::int64_t> DefinedZone::nextChange(std::int64_t utcSeconds,
                                                    std::int64_t until) const {
  const auto yearOfSecond = [](std::int64_t utc) {
    return civilOf(std::clamp(utc, kFirstSecond, kEndSecond - 1)).year;
  };
  for (int year = yearOfSecond(utcSeconds); year <= yearOfSecond(until); ++year) {
    const Year& entry = yearOf(year);
    const auto after =
        std::upper_bound(entry.changes.begin(), entry.changes.end(), utcSeconds,
                         [](std::int64_t utc, const auto& change) { return utc < change.first; });
    if (after != entry.changes.end()) {
      return after->first <= until ? std::optional(after->first) : std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace quorvel::calendar::ical
