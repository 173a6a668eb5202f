// The calendar store over the user's iCalendar files (the vdir layout that
// vdirsyncer and khal use), standing in for the system calendar on Linux.
//
// Decisions, so that the events come out as the system calendar presents them:
// - Where: `${XDG_DATA_HOME:-$HOME/.local/share}/calendars`; each folder below
//   it is a calendar of *.ics files, each *.ics file directly in it a calendar
//   of its own. A missing folder is an empty store.
// - Times: UTC, a TZID of a VTIMEZONE in the file, else of the system's tz
//   database; floating times and dates are local (TZ, else /etc/localtime).
//   An unknown TZID is read as local time, with a line on stderr.
// - All-day events (a DATE start) start at local midnight of their first day
//   and are shown ending at 23:59:59 of their last day; the window is matched
//   against their true end, the next midnight.
// - Availability: X-MICROSOFT-CDO-BUSYSTATUS when present (FREE, TENTATIVE,
//   OOF, else busy), otherwise TRANSP (TRANSPARENT is free, else busy).
// - The user's own attendee: an attendee whose address is listed in the
//   `addresses` file of the calendar's folder or of the store's root.
// - Matching: an event is in the window when it starts before the window's
//   end and ends after its start; an instant when start <= it < end.
// - Order: by start, then end, then place in the store (calendar and file by
//   name, event by place in the file), so that a store and window always give
//   the same bytes, however many threads read the files.
// - Speed: files are read and parsed on every core.
// - A file or event that can't be used is skipped with one line on stderr;
//   everything else is still listed.
#include "calendar/ics_store.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <new>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_set>

#include "calendar/ics_event.h"
#include "calendar/ics_expand.h"
#include "calendar/ics_files.h"

namespace quorvel::calendar::ics {
namespace fs = std::filesystem;
namespace {

class IcsParticipant final : public Participant {
 public:
  explicit IcsParticipant(const EventDetails::Attendee& attendee) : attendee_(attendee) {}
  bool isCurrentUser() const override { return attendee_.isCurrentUser; }
  std::int64_t participantStatus() const override { return attendee_.status; }

 private:
  EventDetails::Attendee attendee_;
};

class IcsEvent final : public Event {
 public:
  explicit IcsEvent(Occurrence occurrence) : occurrence_(std::move(occurrence)) {}

  std::optional<Instant> startDate() const override {
    return Instant{static_cast<double>(occurrence_.start)};
  }
  std::optional<Instant> endDate() const override {
    return Instant{static_cast<double>(occurrence_.end)};
  }
  std::optional<std::string> title() const override { return occurrence_.details->title; }
  bool isAllDay() const override { return occurrence_.details->isAllDay; }
  std::int64_t availability() const override { return occurrence_.details->availability; }
  std::optional<Participants> attendees() const override {
    const auto& attendees = occurrence_.details->attendees;
    if (!attendees) return std::nullopt;
    Participants participants;
    participants.reserve(attendees->size());
    for (const auto& attendee : *attendees) {
      participants.push_back(std::make_unique<IcsParticipant>(attendee));
    }
    return participants;
  }

 private:
  Occurrence occurrence_;
};

class IcsPredicate final : public Predicate {
 public:
  explicit IcsPredicate(Window window) : window(window) {}
  const Window window;
};

// What one file gave, kept only when it gave something.
struct FileOutcome {
  StorePlace place;
  std::vector<Occurrence> occurrences;
  std::vector<std::string> lines;  // "path: problem"
  // Why the store can't be read completely, when this file shows it.
  std::optional<std::string> failure;
  bool fineCut = false;  // occurrences left out for the run's cap
};

FileOutcome eventsInFile(const StoreFile& file, const Window& window) {
  FileOutcome outcome{file.place, {}, {}, {}, false};
  try {
    const FileRead read = readRegularFile(file.path);
    if (read.incomplete) {
      outcome.failure = file.path.string() + ": " + read.problem;
      return outcome;
    }
    if (!read.problem.empty()) {
      outcome.lines.push_back(file.path.string() + ": " + read.problem);
      return outcome;
    }
    TextEvents events = eventsInText(read.contents, window, *file.userAddresses);
    if (events.failure) {
      outcome.failure = file.path.string() + ": " + *events.failure;
      return outcome;
    }
    for (const std::string& problem : events.problems) {
      outcome.lines.push_back(file.path.string() + ": " + problem);
    }
    outcome.occurrences = std::move(events.occurrences);
    outcome.fineCut = events.fineCut;
  } catch (const std::bad_alloc&) {
    // Files are read on threads of their own: the failure goes back with the
    // outcome, and the run fails rather than list less than there is.
    outcome = FileOutcome{file.place, {}, {}, file.path.string() + ": out of memory", false};
  }
  return outcome;
}

// Keeps only the earliest kMaxFineOccurrencesPerRun occurrences of events
// repeating more often than daily, across files (by start, end, then place);
// true when some were dropped.
bool keepEarliestFine(std::vector<FileOutcome>& outcomes) {
  struct Ref {
    std::int64_t start;
    std::int64_t end;
    std::size_t file;
    std::size_t index;
  };
  std::vector<Ref> fine;
  for (std::size_t f = 0; f < outcomes.size(); ++f) {
    const auto& occurrences = outcomes[f].occurrences;
    for (std::size_t i = 0; i < occurrences.size(); ++i) {
      if (occurrences[i].fine) fine.push_back({occurrences[i].start, occurrences[i].end, f, i});
    }
  }
  if (fine.size() <= kMaxFineOccurrencesPerRun) return false;
  const auto earlier = [&outcomes](const Ref& a, const Ref& b) {
    if (a.start != b.start || a.end != b.end)
      return std::tie(a.start, a.end) < std::tie(b.start, b.end);
    if (a.file != b.file) return outcomes[a.file].place < outcomes[b.file].place;
    return a.index < b.index;
  };
  const auto cut = fine.begin() + kMaxFineOccurrencesPerRun;
  std::nth_element(fine.begin(), cut, fine.end(), earlier);
  std::vector<std::vector<bool>> dropped(outcomes.size());
  for (auto it = cut; it != fine.end(); ++it) {
    auto& marks = dropped[it->file];
    if (marks.empty()) marks.assign(outcomes[it->file].occurrences.size(), false);
    marks[it->index] = true;
  }
  for (std::size_t f = 0; f < outcomes.size(); ++f) {
    if (dropped[f].empty()) continue;
    auto& occurrences = outcomes[f].occurrences;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < occurrences.size(); ++i) {
      if (!dropped[f][i]) occurrences[kept++] = std::move(occurrences[i]);
    }
    occurrences.resize(kept);
  }
  return true;
}

// Files handled between two joins of their results.
constexpr std::size_t kBatch = 2048;
// Fewer files than this per thread aren't worth starting a thread for.
constexpr std::size_t kFilesPerThread = 32;

class IcsStore final : public CalendarStore {
 public:
  IcsStore(fs::path root, Diagnostics diagnostics, IcsStoreOptions options)
      : root_(std::move(root)), diagnostics_(std::move(diagnostics)), options_(options) {}

  void requestFullAccessToEvents(AccessCompletion completion) override {
    decideAccess(std::move(completion));
  }
  void requestAccess(EntityType, AccessCompletion completion) override {
    decideAccess(std::move(completion));
  }

  std::unique_ptr<Predicate> predicateForEvents(Instant start, Instant end) override {
    return std::make_unique<IcsPredicate>(Window{start.secondsSince1970, end.secondsSince1970});
  }

  Events eventsMatching(const Predicate& predicate) override {
    const std::optional<Window> window =
        searchWindow(static_cast<const IcsPredicate&>(predicate).window);
    if (!window) return {};

    // Files are read and parsed on every core, a batch at a time as the walk
    // finds them; only what files give is kept, and it is put in the store's
    // order afterwards, so the output doesn't depend on the order the system
    // lists folders in or on which thread finished first.
    std::vector<FileOutcome> kept;
    std::vector<StoreFile> batch;
    bool fineCut = false;
    const auto runBatch = [&] {
      std::vector<FileOutcome> outcomes(batch.size());
      forEachIndex(batch.size(),
                   [&](std::size_t i) { outcomes[i] = eventsInFile(batch[i], *window); });
      for (FileOutcome& outcome : outcomes) {
        if (outcome.failure) throw IncompleteRead(*outcome.failure);
        fineCut = fineCut || outcome.fineCut;
        if (!outcome.occurrences.empty() || !outcome.lines.empty()) {
          kept.push_back(std::move(outcome));
        }
      }
      if (keepEarliestFine(kept)) fineCut = true;
      batch.clear();
    };
    walkStore(
        root_,
        [&](StoreFile file) {
          batch.push_back(std::move(file));
          if (batch.size() == kBatch) runBatch();
        },
        [&](StorePlace place, std::string line) {
          kept.push_back({std::move(place), {}, {std::move(line)}, {}, false});
        });
    runBatch();
    std::stable_sort(kept.begin(), kept.end(),
                     [](const FileOutcome& a, const FileOutcome& b) { return a.place < b.place; });

    std::vector<Occurrence> found;
    for (FileOutcome& outcome : kept) {
      for (const std::string& line : outcome.lines) report(line);
      std::move(outcome.occurrences.begin(), outcome.occurrences.end(), std::back_inserter(found));
    }
    if (fineCut) {
      const std::string cap = std::to_string(kMaxFineOccurrencesPerRun);
      report("events that repeat more often than daily have more than " + cap +
             " occurrences in the window; only the earliest " + cap + " are listed");
    }

    // Stable, so that equal times keep their place in the store.
    std::stable_sort(found.begin(), found.end(), [](const Occurrence& a, const Occurrence& b) {
      return a.start != b.start ? a.start < b.start : a.end < b.end;
    });
    Events events;
    events.reserve(found.size());
    for (Occurrence& occurrence : found) {
      events.push_back(std::make_unique<IcsEvent>(std::move(occurrence)));
    }
    return events;
  }

 private:
  // Access is granted when the store can be read, and the decision comes on
  // a thread of the store's own, as the system calendar delivers it. The
  // threads are joined when the store goes.
  void decideAccess(AccessCompletion completion) {
    auto decide = [root = root_, completion = std::move(completion)] {
      const std::optional<std::string> problem = unreadableRoot(root);
      if (problem) {
        completion(false, AccessError{*problem});
      } else {
        completion(true, std::nullopt);
      }
    };
    try {
      deciders_.emplace_back(decide);
    } catch (const std::system_error&) {
      decide();  // no thread to be had: decide here instead
    }
  }

  void report(const std::string& line) {
    if (diagnostics_) diagnostics_("quorvel-calendar: " + line);
  }

  // Runs `work` for every index below `count`, on as many threads as the
  // machine has cores (and the work has files for), the calling one included.
  void forEachIndex(std::size_t count, const std::function<void(std::size_t)>& work) const {
    std::atomic<std::size_t> next{0};
    const auto drain = [&] {
      for (std::size_t i; (i = next.fetch_add(1)) < count;) work(i);
    };
    const std::size_t wanted = std::min<std::size_t>(options_.threads, count / kFilesPerThread);
    std::vector<std::jthread> helpers;
    for (std::size_t t = 1; t < wanted; ++t) {
      try {
        helpers.emplace_back(drain);
      } catch (const std::system_error&) {
        break;  // fewer threads: the calling one still gets through the rest
      }
    }
    drain();
  }

  const fs::path root_;
  const Diagnostics diagnostics_;
  const IcsStoreOptions options_;
  std::vector<std::jthread> deciders_;  // last, so joined before the rest goes
};

}  // namespace

fs::path defaultStoreRoot() {
  // Relative values are to be ignored, as the XDG base directory rules say.
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/') return fs::path(dataHome) / "calendars";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* user = getpwuid(getuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] != '/') return {};
  return fs::path(home) / ".local/share/calendars";
}

std::unique_ptr<CalendarStore> createIcsStore(fs::path root, Diagnostics diagnostics,
                                              IcsStoreOptions options) {
  if (options.threads == 0) options.threads = 1;
  return std::make_unique<IcsStore>(std::move(root), std::move(diagnostics), options);
}

}  // namespace quorvel::calendar::ics
