#include "calendar/ical/expand.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <queue>
#include <tuple>
#include <unordered_map>

#include "calendar/ical/reader.h"

namespace quorvel::calendar::ical {
namespace {

constexpr double kFourYears = 1461.0 * 86400.0;

// Room for one daylight-saving change of the clock around a time: an hour,
// what every zone's changes move it by but Antarctica/Troll's.
constexpr std::int64_t kDaylightSavingRoom = 3600;
// How far a wall-clock time can lie from the instant it names, in any zone,
// across a daylight-saving change.
constexpr std::int64_t kWallReach = kMaxUtcOffset + kDaylightSavingRoom;

std::shared_ptr<const EventDetails> detailsOf(const VEvent& event, const Addresses& userAddresses) {
  auto details = std::make_shared<EventDetails>();
  details->title = event.title;
  details->isAllDay = event.start.isDate;
  details->availability = event.availability;
  if (event.attendees) {
    details->attendees.emplace();
    for (const Attendee& attendee : *event.attendees) {
      details->attendees->push_back(EventDetails::ShownAttendee{
          userAddresses.contains(addressKey(attendee.address)), attendee.status});
    }
  }
  return details;
}

// A time value as a wall-clock time in the event's zone.
std::int64_t wallIn(const TimeValue& event, const TimeValue& value) {
  if (value.isDate && !event.isDate) {
    return value.wall + (event.wall - startOfDay(event.wall));  // the event's time of day
  }
  if (event.isDate) return startOfDay(value.wall);
  if (value.zone == event.zone) return value.wall;
  return toWall(*event.zone, toUtc(*value.zone, value.wall));
}

// One candidate start, with the length of an RDATE period when it has one.
struct Candidate {
  std::int64_t wall;
  std::optional<Length> length;
};

// Merges the event's own start, its RDATEs and its rules' expansions into
// one increasing series of starts, without repeats. The rules' next starts
// wait in a heap, so that an event of many rules costs a logarithm of them
// per start, not all of them.
class Starts {
 public:
  Starts(const VEvent& event, std::int64_t fromWall, std::int64_t* budget) {
    dates_.push_back({event.start.wall, std::nullopt});
    for (const RecurrenceDate& date : event.dates) {
      Candidate candidate{wallIn(event.start, date.start), std::nullopt};
      if (date.end || date.duration) {
        VEvent period;
        period.start = event.start;
        period.start.wall = candidate.wall;
        if (date.end) {
          period.end = *date.end;
          period.end->wall = wallIn(event.start, *date.end);
          period.end->zone = event.start.zone;
        }
        period.duration = date.duration;
        candidate.length = lengthOf(period);
      }
      dates_.push_back(candidate);
    }
    std::stable_sort(dates_.begin(), dates_.end(),
                     [](const Candidate& a, const Candidate& b) { return a.wall < b.wall; });
    rules_.reserve(event.rules.size());
    for (const RecurrenceRule& rule : event.rules) {
      rules_.emplace_back(rule, event.start.wall, event.start.isDate, fromWall, *event.start.zone,
                          budget);
    }
    for (std::size_t i = 0; i < rules_.size(); ++i) advance(i);
  }

  std::optional<Candidate> next() {
    for (;;) {
      std::optional<Candidate> best;
      if (nextDate_ < dates_.size()) best = dates_[nextDate_];
      if (!heads_.empty() && (!best || heads_.top().first < best->wall)) {
        best = Candidate{heads_.top().first, std::nullopt};
      }
      if (!best) return std::nullopt;
      // Take this start from every series that has it.
      while (nextDate_ < dates_.size() && dates_[nextDate_].wall == best->wall) ++nextDate_;
      while (!heads_.empty() && heads_.top().first == best->wall) {
        const std::size_t rule = heads_.top().second;
        heads_.pop();
        advance(rule);
      }
      if (last_ && best->wall <= *last_) continue;
      last_ = best->wall;
      return best;
    }
  }

  bool budgetSpent() const {
    return std::any_of(rules_.begin(), rules_.end(),
                       [](const RuleExpansion& rule) { return rule.budgetSpent(); });
  }

 private:
  void advance(std::size_t rule) {
    if (const auto start = rules_[rule].next()) heads_.emplace(*start, rule);
  }

  using Head = std::pair<std::int64_t, std::size_t>;  // a rule's next start, and the rule
  std::vector<Candidate> dates_;
  std::size_t nextDate_ = 0;
  std::vector<RuleExpansion> rules_;
  std::priority_queue<Head, std::vector<Head>, std::greater<>> heads_;
  std::optional<std::int64_t> last_;
};

// Whether the event is sub-daily: it can have more than one occurrence a
// day, by a rule that repeats within a day or by several daily rules.
bool isSubDaily(const VEvent& event) {
  int daily = 0;
  for (const RecurrenceRule& rule : event.rules) {
    if (repeatsWithinADay(rule)) return true;
    daily += rule.frequency == Frequency::daily;
  }
  return daily > 1;
}

// The most wall-clock time an occurrence of the event can span, whatever
// its zones: its end's distance in wall-clock time with room for two zones'
// offsets, or its duration with room for a daylight-saving change.
std::int64_t longest(const VEvent& event) {
  const TimeValue& start = event.start;
  std::int64_t length = start.isDate ? kSecondsPerDay : 0;
  if (event.end) {
    length = std::max(length, event.end->wall - start.wall + 2 * kMaxUtcOffset);
  } else if (event.duration) {
    length = std::max(length, event.duration->days * kSecondsPerDay + event.duration->seconds);
  }
  return std::max<std::int64_t>(length, 0) + kDaylightSavingRoom;
}

class Expander {
 public:
  Expander(const Window& window, const Addresses& userAddresses, TextEvents& result)
      : window_(window), userAddresses_(userAddresses), result_(result) {}

  // An override, or an event that stands alone.
  void addSingle(const VEvent& event) {
    if (plainlyOutside(event)) return;
    Occurrence occurrence = occurrenceAt(event, lengthOf(event), event.start.wall);
    if (overlaps(window_, occurrence.start, occurrence.coveredTo)) {
      if (const auto& original = event.recurrenceId) {
        occurrence.originalStart = toUtc(*original->zone, original->wall);
      }
      occurrence.details = detailsFor(event);
      add(std::move(occurrence));
    }
  }

  // Leaves only the earliest occurrences of sub-daily events that a run
  // lists.
  void finish() {
    if (subDaily_ > kMaxSubDailyOccurrencesPerRun) trim();
  }

  // An event with its recurrence set, less its exceptions and the
  // occurrences that its overrides replace.
  void addSeries(const VEvent& event, const std::vector<const VEvent*>& overrides) {
    // Starts that can reach into the window, with room for any zone offset.
    // The bound on the length needs no zone, so that a series with no start
    // near the window never looks its zones up.
    const auto fromWall =
        static_cast<std::int64_t>(std::floor(window_.start)) - longest(event) - kWallReach;
    std::optional<Length> length;
    const auto toWall = static_cast<std::int64_t>(std::ceil(window_.end)) + kWallReach;

    // The starts its exceptions and overrides remove, worked out at its first
    // start near the window (they may need its zones).
    std::optional<std::vector<std::int64_t>> removed;
    const auto isRemoved = [&](std::int64_t wall) {
      if (!removed) {
        removed.emplace();
        for (const TimeValue& exception : event.exceptions) {
          removed->push_back(wallIn(event.start, exception));
        }
        for (const VEvent* override : overrides) {
          removed->push_back(wallIn(event.start, *override->recurrenceId));
        }
        std::sort(removed->begin(), removed->end());
      }
      return std::binary_search(removed->begin(), removed->end(), wall);
    };

    const bool subDaily = isSubDaily(event);
    const int most = subDaily ? kMaxSubDailyOccurrences : kMaxOccurrences;
    std::shared_ptr<const EventDetails> details;
    int listed = 0;
    Starts starts(event, fromWall, &budget_);
    while (const std::optional<Candidate> candidate = starts.next()) {
      if (candidate->wall > toWall) break;
      if (isRemoved(candidate->wall)) continue;
      if (!candidate->length && !length) length = lengthOf(event);
      Occurrence occurrence =
          occurrenceAt(event, candidate->length ? *candidate->length : *length, candidate->wall);
      if (!overlaps(window_, occurrence.start, occurrence.coveredTo)) continue;
      if (listed == most) {
        result_.problems.push_back(aboutEvent(
            event.number,
            std::string(subDaily ? "repeats more often than daily" : "has too many occurrences") +
                "; only its first " + std::to_string(most) +
                " occurrences in the window are listed"));
        return;
      }
      if (!details) details = detailsFor(event);
      occurrence.details = details;
      occurrence.subDaily = subDaily;
      add(std::move(occurrence));
      ++listed;
    }
    if (starts.budgetSpent()) {
      result_.problems.push_back(aboutEvent(event.number,
                                            "has a recurrence too costly to follow to the window; "
                                            "occurrences after that point are not listed"));
    }
  }

 private:
  // Whether the event lies certainly outside the window, wherever its zones
  // put it: then they need not be looked up.
  bool plainlyOutside(const VEvent& event) const {
    const auto first = static_cast<double>(event.start.wall - kWallReach);
    const auto last = static_cast<double>(event.start.wall + longest(event) + kWallReach);
    return first >= window_.end || last <= window_.start;
  }

  // Occurrences of sub-daily events are trimmed as they grow, so that a
  // file of many such series never holds much more than a run can list.
  void add(Occurrence occurrence) {
    subDaily_ += occurrence.subDaily;
    result_.occurrences.push_back(std::move(occurrence));
    if (subDaily_ > kSubDailyTrimAt) trim();
  }

  void trim() {
    std::vector<Occurrence>* const lists[] = {&result_.occurrences};
    result_.subDailyCut = keepEarliestSubDaily(lists) || result_.subDailyCut;
    subDaily_ = std::min(subDaily_, kMaxSubDailyOccurrencesPerRun);
  }

  // What the event's listed occurrences show; said once per event, when its
  // first occurrence is listed, together with any guess made on its times.
  std::shared_ptr<const EventDetails> detailsFor(const VEvent& event) {
    for (const Zone* zone : event.systemZones) {
      if (const auto name = zone->unknownName()) {
        result_.problems.push_back(
            aboutEvent(event.number, "has an unknown time zone \"" + std::string(*name) +
                                         "\"; its times are read as local time"));
      }
    }
    return detailsOf(event, userAddresses_);
  }

  const Window& window_;
  const Addresses& userAddresses_;
  TextEvents& result_;
  // Steps of rule expansion the whole text may take.
  std::int64_t budget_ = kTextBudget;
  std::size_t subDaily_ = 0;  // occurrences of sub-daily events among the result's
};

}  // namespace

std::optional<Window> searchWindow(const Window& requested) {
  if (!(requested.start < requested.end)) return std::nullopt;
  const double start = std::max(requested.start, static_cast<double>(kFirstSecond));
  double end = std::min(requested.end, static_cast<double>(kEndSecond));
  if (!(start < end)) return std::nullopt;
  end = std::min(end, start + kFourYears);
  return Window{start, end};
}

TextEvents eventsInText(std::string_view text, const Window& window,
                        const Addresses& userAddresses) {
  TextEvents result;
  ParsedCalendar parsed = readCalendar(text);
  result.problems = std::move(parsed.problems);

  std::unordered_map<std::string_view, std::vector<const VEvent*>> overrides;
  for (const VEvent& event : parsed.events) {
    if (event.recurrenceId) overrides[event.uid].push_back(&event);
  }

  Expander expander(window, userAddresses, result);
  static const std::vector<const VEvent*> kNone;
  for (const VEvent& event : parsed.events) {
    const auto own = overrides.find(event.uid);
    const bool alone = !event.recurs() && event.exceptions.empty() && own == overrides.end();
    if (event.recurrenceId || alone) {
      expander.addSingle(event);
    } else {
      expander.addSeries(event, own != overrides.end() ? own->second : kNone);
    }
  }
  expander.finish();
  return result;
}

bool keepEarliestSubDaily(std::span<std::vector<Occurrence>* const> lists) {
  struct Ref {
    std::int64_t start;
    std::int64_t end;
    std::size_t list;
    std::size_t index;
  };
  std::vector<Ref> found;
  for (std::size_t l = 0; l < lists.size(); ++l) {
    const std::vector<Occurrence>& occurrences = *lists[l];
    for (std::size_t i = 0; i < occurrences.size(); ++i) {
      if (occurrences[i].subDaily)
        found.push_back({occurrences[i].start, occurrences[i].end, l, i});
    }
  }
  if (found.size() <= kMaxSubDailyOccurrencesPerRun) return false;
  const auto earlier = [](const Ref& a, const Ref& b) {
    if (a.start != b.start || a.end != b.end) return listedBefore(a.start, a.end, b.start, b.end);
    return std::tie(a.list, a.index) < std::tie(b.list, b.index);
  };
  const auto cut = found.begin() + kMaxSubDailyOccurrencesPerRun;
  std::nth_element(found.begin(), cut, found.end(), earlier);
  std::vector<std::vector<bool>> removed(lists.size());
  for (auto it = cut; it != found.end(); ++it) {
    std::vector<bool>& marks = removed[it->list];
    if (marks.empty()) marks.assign(lists[it->list]->size(), false);
    marks[it->index] = true;
  }
  for (std::size_t l = 0; l < lists.size(); ++l) {
    if (removed[l].empty()) continue;
    std::vector<Occurrence>& occurrences = *lists[l];
    std::size_t kept = 0;
    for (std::size_t i = 0; i < occurrences.size(); ++i) {
      if (!removed[l][i]) occurrences[kept++] = std::move(occurrences[i]);
    }
    occurrences.resize(kept);
  }
  return true;
}

}  // namespace quorvel::calendar::ical
