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
// - GNOME's calendars: every calendar source that Evolution Data Server
//   lists as enabled is read beside the files (eds/source.h), when a session
//   bus and the user's EDS configuration say EDS may be asked, and merged
//   with them under the same rules. Among events at the same times, the
//   files come first, then EDS's calendars by source UID, each by event UID
//   and then by the start an occurrence was planned at. A calendar EDS can't
//   read in time is skipped with a line, like a file.
#include "calendar/linux/store.h"

#include <pthread.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <iterator>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_set>

#include "calendar/ical/event.h"
#include "calendar/ical/expand.h"
#include "calendar/linux/eds/library.h"
#include "calendar/linux/eds/source.h"
#include "calendar/linux/files/folders.h"

namespace quorvel::calendar::linuxstore {
using ical::Availability;
using ical::EventDetails;
using ical::eventsInText;
using ical::kMaxFineOccurrencesPerRun;
using ical::lineAbout;
using ical::Occurrence;
using ical::outOfMemory;
using ical::Participation;
using ical::ReadBuffer;
using ical::readFileAt;
using ical::searchWindow;
using ical::TextEvents;
namespace fs = std::filesystem;
namespace {

// The platform's numbers for the store's own values, as the system calendar
// numbers them.
std::int64_t platformCode(Participation answer) {
  switch (answer) {
    case Participation::needsAction:
      return 1;
    case Participation::accepted:
      return 2;
    case Participation::declined:
      return 3;
    case Participation::tentative:
      return 4;
    case Participation::delegated:
      return 5;
    case Participation::completed:
      return 6;
    case Participation::inProcess:
      return 7;
  }
  return 0;
}

std::int64_t platformCode(Availability availability) {
  switch (availability) {
    case Availability::busy:
      return 0;
    case Availability::free:
      return 1;
    case Availability::tentative:
      return 2;
    case Availability::unavailable:
      return 3;
  }
  return -1;
}

class IcsParticipant final : public Participant {
 public:
  explicit IcsParticipant(const EventDetails::ShownAttendee& attendee) : attendee_(attendee) {}
  bool isCurrentUser() const override { return attendee_.isCurrentUser; }
  std::int64_t participantStatus() const override { return platformCode(attendee_.status); }

 private:
  EventDetails::ShownAttendee attendee_;
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
  std::int64_t availability() const override {
    return platformCode(occurrence_.details->availability);
  }
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

// What one file, or one event (UID) of an EDS calendar, gave, kept only when
// it gave something.
struct FileOutcome {
  // Where it sits: a file's place in the store, or for EDS (after every
  // file) the calendar's source UID and the event's UID.
  StorePlace place;
  std::vector<Occurrence> occurrences;
  std::vector<std::string> lines;  // "path: problem"
  std::size_t fine = 0;            // occurrences of sub-daily series among them
  bool fromEds = false;
};

// The store's order of outcomes: the files, then EDS's calendars.
bool storeOrder(const FileOutcome& a, const FileOutcome& b) {
  return std::tie(a.fromEds, a.place) < std::tie(b.fromEds, b.place);
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
    if (outcomes[f].fine == 0) continue;
    const auto& occurrences = outcomes[f].occurrences;
    for (std::size_t i = 0; i < occurrences.size(); ++i) {
      if (occurrences[i].fine) fine.push_back({occurrences[i].start, occurrences[i].end, f, i});
    }
  }
  if (fine.size() <= kMaxFineOccurrencesPerRun) return false;
  const auto earlier = [&outcomes](const Ref& a, const Ref& b) {
    if (a.start != b.start || a.end != b.end) return listedBefore(a.start, a.end, b.start, b.end);
    if (a.file != b.file) return storeOrder(outcomes[a.file], outcomes[b.file]);
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
    outcomes[f].fine = static_cast<std::size_t>(std::count_if(
        occurrences.begin(), occurrences.end(), [](const Occurrence& o) { return o.fine; }));
  }
  return true;
}

// What one reading thread gathers: only what files give, so that memory grows
// with the events listed, not with the files read.
struct Gathered {
  std::vector<FileOutcome> kept;
  std::size_t fine = 0;
  bool fineCut = false;
  std::optional<std::string> failure;  // the store can't be read completely
  ReadBuffer buffer;
};

// Keeps what one text gave.
void keep(FileOutcome outcome, bool fineCut, Gathered& gathered) {
  gathered.fineCut = gathered.fineCut || fineCut;
  if (outcome.occurrences.empty() && outcome.lines.empty()) return;
  for (const Occurrence& occurrence : outcome.occurrences) outcome.fine += occurrence.fine;
  gathered.fine += outcome.fine;
  gathered.kept.push_back(std::move(outcome));
  // Trimmed as it grows, so that sub-daily series never hold much more
  // than the run can list.
  if (gathered.fine > 2 * kMaxFineOccurrencesPerRun) {
    gathered.fineCut = keepEarliestFine(gathered.kept) || gathered.fineCut;
    gathered.fine = 0;
    for (const FileOutcome& kept : gathered.kept) gathered.fine += kept.fine;
  }
}

void readFile(const FileBatch& batch, const FileBatch::File& file, const Window& window,
              Gathered& gathered) {
  const CalendarFolder& folder = *batch.folder;
  const char* name = batch.nameOf(file);
  const auto path = [&folder, name] { return folder.path() + "/" + name; };
  try {
    if (const auto failed = readFileAt(folder.fd(), name, file.knownRegular, gathered.buffer)) {
      if (failed->incomplete) {
        gathered.failure = lineAbout(path(), failed->reason);
      } else {
        gathered.kept.push_back({folder.placeOf(name), {}, {lineAbout(path(), failed->reason)}, 0});
      }
      return;
    }
    TextEvents events = eventsInText(gathered.buffer.contents(), window, folder.userAddresses());
    if (events.failure) {
      gathered.failure = lineAbout(path(), *events.failure);
      return;
    }
    if (events.occurrences.empty() && events.problems.empty()) {
      gathered.fineCut = gathered.fineCut || events.fineCut;
      return;
    }
    FileOutcome outcome{folder.placeOf(name), std::move(events.occurrences), {}, 0};
    for (const std::string& problem : events.problems) {
      outcome.lines.push_back(lineAbout(path(), problem));
    }
    keep(std::move(outcome), events.fineCut, gathered);
  } catch (const std::bad_alloc&) {
    // Files are read on threads of their own: the failure goes back with
    // what was gathered, and the run fails rather than list less than there
    // is.
    gathered.failure = outOfMemory(path);
  }
}

// What EDS's calendars gave, each event's text read as a file is read: the
// user's addresses are the store's, the mail identities' and the calendar's
// own.
void gatherEds(eds::Reading reading, const Window& window, const Addresses& storeAddresses,
               Gathered& gathered) {
  if (reading.problem) gathered.kept.push_back({{}, {}, {*reading.problem}, 0, true});
  for (const eds::Calendar& calendar : reading.calendars) {
    const std::string subject = calendar.subject();
    if (calendar.problem) {
      gathered.kept.push_back(
          {{calendar.uid, ""}, {}, {lineAbout(subject, *calendar.problem)}, 0, true});
      continue;
    }
    Addresses addresses = storeAddresses;
    addresses.insert(reading.userAddresses.begin(), reading.userAddresses.end());
    addresses.insert(calendar.addresses.begin(), calendar.addresses.end());
    for (const eds::EventText& event : calendar.events) {
      TextEvents events = eventsInText(event.text, window, addresses);
      if (events.failure) {
        gathered.failure = lineAbout(subject, *events.failure);
        return;
      }
      // Occurrences at equal times list by the start they were planned at.
      std::stable_sort(events.occurrences.begin(), events.occurrences.end(),
                       [](const Occurrence& a, const Occurrence& b) {
                         return a.originalStart < b.originalStart;
                       });
      FileOutcome outcome{{calendar.uid, event.uid}, std::move(events.occurrences), {}, 0, true};
      for (const std::string& problem : events.problems) {
        outcome.lines.push_back(lineAbout(subject + ", event " + event.uid, problem));
      }
      keep(std::move(outcome), events.fineCut, gathered);
    }
  }
}

// Batches of files from the walk to the reading threads. When the queue is
// full the walk reads the batch at hand itself, so that it never runs far
// ahead of the reading (and only so many folders are open at once) and no
// thread waits while there is reading to do.
class BatchQueue {
 public:
  explicit BatchQueue(std::size_t capacity) : capacity_(capacity) {}

  // Hands the batch on unless the queue is full (then the walk reads it
  // itself rather than wait) or reading has stopped (then it is dropped).
  // False when the batch is still the caller's to read.
  bool offer(FileBatch& batch) {
    const std::lock_guard lock(mutex_);
    if (stopped_) return true;
    if (queue_.size() >= capacity_) return false;
    queue_.push_back(std::move(batch));
    notEmpty_.notify_one();
    return true;
  }
  // Nothing once the walk has ended and every batch is taken, or reading has
  // stopped.
  std::optional<FileBatch> pop() {
    std::unique_lock lock(mutex_);
    notEmpty_.wait(lock, [this] { return !queue_.empty() || ended_ || stopped_; });
    if (stopped_ || queue_.empty()) return std::nullopt;
    FileBatch batch = std::move(queue_.front());
    queue_.pop_front();
    return batch;
  }
  void end() {
    const std::lock_guard lock(mutex_);
    ended_ = true;
    notEmpty_.notify_all();
  }
  void stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    notEmpty_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable notEmpty_;
  std::deque<FileBatch> queue_;
  const std::size_t capacity_;
  bool ended_ = false;
  bool stopped_ = false;
};

class LinuxStore final : public CalendarStore {
 public:
  LinuxStore(fs::path root, Diagnostics diagnostics, StoreOptions options, fs::path evolutionConfig)
      : root_(std::move(root)),
        evolutionConfig_(std::move(evolutionConfig)),
        diagnostics_(std::move(diagnostics)),
        options_(options) {}
  ~LinuxStore() override { joinDecider(); }
  LinuxStore(const LinuxStore&) = delete;
  LinuxStore& operator=(const LinuxStore&) = delete;

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
    if (decidedWithoutMemory_) throw std::bad_alloc();
    const std::optional<Window> window =
        searchWindow(static_cast<const IcsPredicate&>(predicate).window);
    if (!window) return {};

    // EDS's calendars are read on a thread of their own while the files
    // are read here. Its library is loaded first, before any file is open.
    std::future<eds::Reading> fromEds = startEds(*window);
    Addresses storeAddresses;
    std::vector<Gathered> gathered = readStore(*window, storeAddresses);
    if (fromEds.valid()) {
      gathered.emplace_back();
      gatherEds(fromEds.get(), *window, storeAddresses, gathered.back());
    }
    for (const Gathered& part : gathered) {
      if (part.failure) throw IncompleteRead(*part.failure);
    }
    std::vector<FileOutcome> kept;
    bool fineCut = false;
    for (Gathered& part : gathered) {
      std::move(part.kept.begin(), part.kept.end(), std::back_inserter(kept));
      fineCut = fineCut || part.fineCut;
    }
    gathered.clear();
    if (keepEarliestFine(kept)) fineCut = true;
    // In the store's order, so that the output doesn't depend on the order
    // the system lists folders in or on which thread read which file.
    std::stable_sort(kept.begin(), kept.end(), storeOrder);

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

    // Equal times keep their place in the store.
    putInListingOrder(found, [](const Occurrence& o) { return std::pair{o.start, o.end}; });
    Events events;
    events.reserve(found.size());
    for (Occurrence& occurrence : found) {
      events.push_back(std::make_unique<IcsEvent>(std::move(occurrence)));
    }
    return events;
  }

 private:
  // Starts reading EDS's calendars for the window, when EDS may be asked
  // and its library is installed; else nothing.
  std::future<eds::Reading> startEds(const Window& window) const {
    if (evolutionConfig_.empty() || !eds::mayAsk(evolutionConfig_)) return {};
    const eds::Library library = eds::loadLibrary();
    if (library.functions == nullptr) {
      if (library.problem.empty()) return {};  // not installed: the files alone
      std::promise<eds::Reading> unusable;
      unusable.set_value({{}, {}, library.problem});
      return unusable.get_future();
    }
    try {
      return std::async(std::launch::async, eds::readCalendars, std::cref(*library.functions),
                        window, eds::Limits{});
    } catch (const std::system_error& failure) {
      throw IncompleteRead(std::string("cannot start a thread for Evolution Data Server: ") +
                           failure.what());
    }
  }

  // One walk of the store feeds one pool of reading threads, the calling
  // thread among them once the walk is done. Threads start only when the
  // store has more files than one batch. The addresses of the store's own
  // `addresses` file go to `storeAddresses`.
  std::vector<Gathered> readStore(const Window& window, Addresses& storeAddresses) const {
    const std::size_t threads = std::max(1u, options_.threads);
    std::vector<Gathered> gathered(threads);
    BatchQueue queue(2 * threads);
    std::atomic<bool> failed{false};
    // False once the store is known not to be readable completely: then
    // every thread stops.
    const auto readBatch = [&](const FileBatch& batch, Gathered& own) {
      for (const FileBatch::File& file : batch.files) {
        readFile(batch, file, window, own);
        if (own.failure) {
          failed = true;
          queue.stop();
          return false;
        }
      }
      return true;
    };
    const auto drain = [&](Gathered& own) {
      while (const std::optional<FileBatch> batch = queue.pop()) {
        if (!readBatch(*batch, own)) return;
      }
    };
    std::vector<std::jthread> helpers;
    const auto startHelpers = [&] {
      for (std::size_t t = 1; t < threads; ++t) {
        try {
          helpers.emplace_back(drain, std::ref(gathered[t]));
        } catch (const std::system_error&) {
          break;  // fewer threads: the calling one still gets through the rest
        }
      }
    };
    // Whatever ends the walk, the helpers stop and are joined before the
    // gathered results go.
    struct Joiner {
      BatchQueue& queue;
      std::vector<std::jthread>& helpers;
      ~Joiner() {
        queue.end();
        for (std::jthread& helper : helpers) helper.join();
      }
    } joiner{queue, helpers};

    Gathered& own = gathered[0];
    std::size_t batches = 0;
    try {
      storeAddresses = walkStore(
          root_,
          [&](FileBatch batch) {
            if (failed) return;
            if (++batches == 2) startHelpers();
            if (!helpers.empty() && queue.offer(batch)) return;
            // No other thread reads (yet), or they have enough to do: read
            // here, at once.
            readBatch(batch, own);
          },
          [&](StorePlace place, std::string line) {
            own.kept.push_back({std::move(place), {}, {std::move(line)}, 0});
          });
    } catch (...) {
      queue.stop();
      throw;
    }
    queue.end();
    drain(own);
    return gathered;
  }

  // Access is granted when the store can be read, and the decision comes on
  // a thread of the store's own, as the system calendar delivers it, joined
  // when the store goes. The thread is started with pthread_create on the
  // store itself, so that on a grant it neither allocates nor frees (a
  // std::thread frees its state on the new thread, and the first free there
  // sets up a memory arena for it, which the main thread waits for).
  void decideAccess(AccessCompletion completion) {
    joinDecider();
    completion_ = std::move(completion);
    if (::pthread_create(&decider_, nullptr, &LinuxStore::decide, this) == 0) {
      deciderRunning_ = true;
    } else {
      decide(this);  // no thread to be had: decide here instead
    }
  }

  static void* decide(void* self) {
    auto& store = *static_cast<LinuxStore*>(self);
    try {
      if (const std::optional<std::string> problem = unreadableRoot(store.root_)) {
        store.completion_(false, AccessError{*problem});
        return nullptr;
      }
    } catch (const std::bad_alloc&) {
      // Too little memory to say why the folder can't be read: the fetch
      // fails for want of memory instead, as the run would have.
      store.decidedWithoutMemory_ = true;
    }
    store.completion_(true, std::nullopt);
    return nullptr;
  }

  void joinDecider() {
    if (deciderRunning_) ::pthread_join(decider_, nullptr);
    deciderRunning_ = false;
  }

  void report(const std::string& line) {
    if (diagnostics_) diagnostics_("quorvel-calendar: " + line);
  }

  const fs::path root_;
  const fs::path evolutionConfig_;  // empty: EDS is not asked
  const Diagnostics diagnostics_;
  const StoreOptions options_;
  AccessCompletion completion_;  // the decision's handler, for the deciding thread
  // Set by the deciding thread before it grants, read after the grant.
  bool decidedWithoutMemory_ = false;
  pthread_t decider_{};
  bool deciderRunning_ = false;
};

}  // namespace

namespace {

// The folder an XDG base directory variable names, else its default below
// the home folder; empty when there is no home.
fs::path baseFolder(const char* variable, const char* belowHome) {
  // Relative values are to be ignored, as the XDG base directory rules say.
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return value;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* user = getpwuid(getuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] != '/') return {};
  return fs::path(home) / belowHome;
}

}  // namespace

fs::path defaultStoreRoot() {
  const fs::path data = baseFolder("XDG_DATA_HOME", ".local/share");
  return data.empty() ? data : data / "calendars";
}

fs::path defaultEvolutionConfig() {
  const fs::path config = baseFolder("XDG_CONFIG_HOME", ".config");
  return config.empty() ? config : config / "evolution";
}

std::unique_ptr<CalendarStore> createStore(fs::path root, Diagnostics diagnostics,
                                           StoreOptions options, fs::path evolutionConfig) {
  if (options.threads == 0) options.threads = 1;
  return std::make_unique<LinuxStore>(std::move(root), std::move(diagnostics), options,
                                      std::move(evolutionConfig));
}

}  // namespace quorvel::calendar::linuxstore
