#include "calendar/linux/store.h"

#include <pthread.h>

#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "calendar/ical/expand.h"
#include "calendar/ical/system_zones.h"
#include "calendar/linux/claims.h"
#include "calendar/linux/eds/source.h"
#include "calendar/linux/events.h"
#include "calendar/linux/files/folders.h"
#include "calendar/linux/files/source.h"
#include "calendar/linux/kde/source.h"
#include "calendar/linux/merge.h"
#include "calendar/linux/pool.h"
#include "calendar/linux/reading.h"
#include "calendar/linux/thunderbird/source.h"
#include "calendar/linux/vdir/config.h"

namespace quorvel::calendar::linuxstore {
namespace fs = std::filesystem;
namespace {

class StorePredicate final : public Predicate {
 public:
  explicit StorePredicate(Window window) : window(window) {}
  const Window window;
};

// How one source hands its work to the pool: each piece runs with the
// reading of the thread that runs it.
class PoolGathering final : public Gathering {
 public:
  PoolGathering(Pool& pool, std::vector<ThreadReading>& readings, Claims& claims,
                std::size_t source)
      : pool_(pool), readings_(readings), claims_(claims), source_(source) {}

  void hand(Work work) override {
    pool_.run(
        [&readings = readings_, source = source_, work = std::move(work)](std::size_t thread) {
          ThreadReading& reading = readings[thread];
          reading.startWorkOf(source);
          work(reading);
        });
  }
  // Sources gather on the calling thread, which is the pool's thread 0.
  void say(Place place, std::string line) override {
    readings_[0].sayFor(source_, std::move(place), std::move(line));
  }
  bool going() const override { return pool_.going(); }
  std::optional<std::vector<std::string>> claimFolder(DiskId id, bool everyFile) override {
    return claims_.claimFolder(id, everyFile);
  }
  bool claimFile(DiskId id, DiskId folder, std::string_view name) override {
    return claims_.claimFile(id, folder, name);
  }

 private:
  Pool& pool_;
  std::vector<ThreadReading>& readings_;
  Claims& claims_;
  const std::size_t source_;
};

class LinuxStore final : public CalendarStore {
 public:
  LinuxStore(fs::path root, Diagnostics diagnostics, StoreOptions options, Elsewhere elsewhere)
      : root_(std::move(root)), diagnostics_(std::move(diagnostics)), options_(options) {
    if (!elsewhere.variable) {
      elsewhere.variable = [](std::string_view) { return std::optional<std::string>(); };
    }
    // The sources, in the store's order.
    sources_.push_back(files::folderSource(root_));
    sources_.push_back(
        eds::edsSource(std::move(elsewhere.evolutionConfig), std::move(elsewhere.evolutionCache)));
    sources_.push_back(thunderbird::thunderbirdSource(elsewhere.home));
    sources_.push_back(kde::kdeSource(elsewhere.configHome, elsewhere.variable));
    sources_.push_back(files::configuredFolderSource(
        [configHome = elsewhere.configHome, home = elsewhere.home,
         variable = elsewhere.variable](const std::function<void(std::string)>& say) {
          std::vector<fs::path> folders;
          if (!configHome.empty()) folders = vdir::khalFolders(configHome, home, variable, say);
          for (fs::path& folder : vdir::vdirsyncerFolders(configHome, home, variable, say)) {
            folders.push_back(std::move(folder));
          }
          return folders;
        }));
  }
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
    return std::make_unique<StorePredicate>(Window{start.secondsSince1970, end.secondsSince1970});
  }

  Events eventsMatching(const Predicate& predicate) override {
    if (decidedWithoutMemory_) throw std::bad_alloc();
    const std::optional<Window> window =
        ical::searchWindow(static_cast<const StorePredicate&>(predicate).window);
    if (!window) return {};

    // Read once for the run, before any thread uses it.
    ical::loadLocalZone();
    for (const auto& source : sources_) source->start(*window);
    // Declared before the pool, whose threads use them until it goes.
    std::vector<ThreadReading> readings;
    readings.reserve(options_.threads);
    for (unsigned thread = 0; thread < options_.threads; ++thread) readings.emplace_back(*window);
    Pool pool(options_.threads);
    const ical::Addresses storeAddresses =
        files::storeAddresses(root_, [&readings](Place place, std::string line) {
          readings[0].sayFor(kFilesSource, std::move(place), std::move(line));
        });
    Claims claims;
    for (std::size_t source = 0; source < sources_.size(); ++source) {
      PoolGathering gathering(pool, readings, claims, source);
      try {
        sources_[source]->gather(*window, storeAddresses, gathering);
      } catch (...) {
        // What stopped the reading first is what the run reports.
        if (!pool.going()) pool.finish();
        throw;
      }
    }
    pool.finish();

    std::vector<Outcome> outcomes;
    bool subDailyCut = false;
    for (ThreadReading& reading : readings) {
      std::move(reading.kept().begin(), reading.kept().end(), std::back_inserter(outcomes));
      subDailyCut = subDailyCut || reading.subDailyCut();
    }
    readings.clear();
    Listing listing = merge(std::move(outcomes), subDailyCut);
    for (const std::string& line : listing.lines) report(line);
    Events events;
    events.reserve(listing.occurrences.size());
    for (ical::Occurrence& occurrence : listing.occurrences) {
      events.push_back(eventOf(std::move(occurrence)));
    }
    return events;
  }

 private:
  // The files' rank among the sources, whose `addresses` file counts for
  // all of them.
  static constexpr std::size_t kFilesSource = 0;

  // Access is granted when the store's folder can be read, and the decision
  // comes on a thread of the store's own, as the system calendar delivers
  // it, joined when the store goes. The thread is started with
  // pthread_create on the store itself, so that on a grant it neither
  // allocates nor frees (a std::thread frees its state on the new thread,
  // and the first free there sets up a memory arena for it, which the main
  // thread waits for).
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
      if (const std::optional<std::string> problem = files::unreadableRoot(store.root_)) {
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
  const Diagnostics diagnostics_;
  const StoreOptions options_;
  std::vector<std::unique_ptr<Source>> sources_;
  AccessCompletion completion_;  // the decision's handler, for the deciding thread
  // Set by the deciding thread before it grants, read after the grant.
  bool decidedWithoutMemory_ = false;
  pthread_t decider_{};
  bool deciderRunning_ = false;
};

}  // namespace

std::unique_ptr<CalendarStore> createStore(fs::path root, Diagnostics diagnostics,
                                           StoreOptions options, Elsewhere elsewhere) {
  if (options.threads == 0) options.threads = 1;
  return std::make_unique<LinuxStore>(std::move(root), std::move(diagnostics), options,
                                      std::move(elsewhere));
}

}  // namespace quorvel::calendar::linuxstore
