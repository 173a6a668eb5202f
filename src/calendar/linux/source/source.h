// What a source of the user's calendars is to the store.
//
// A source (the store's folder of iCalendar files, GNOME's calendars...)
// hands the store work for its reading threads. The work reads items, each
// one piece of iCalendar text with the user's addresses for it; every item
// becomes events and problems the same way, on the same threads, whatever
// its source. The store merges what they give in one order: the sources in
// the order the store registers them, each by its own places.
//
// Failures to read completely (no descriptor or memory to spare) are thrown
// (IncompleteRead, std::bad_alloc), on whichever thread meets them; the store
// ends the run with them.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/ical/file.h"
#include "calendar/ical/identity.h"
#include "calendar/window.h"

namespace quorvel::calendar::linuxstore {

// Where an item, or a line about something that isn't one, sits among its
// source's: by `key` (a folder's entry in the store, a calendar's UID), then
// by `name` within it (a file's name, an event's UID).
struct Place {
  std::string key;
  std::string name;
  auto operator<=>(const Place&) const = default;
};

// One piece of iCalendar text to read.
struct Item {
  std::string_view text;
  // The user's addresses in its calendar (ical::userAddresses).
  const ical::Addresses& addresses;
  // Occurrences at equal times go by the start they were planned at (an
  // override's RECURRENCE-ID) rather than by their place in the text.
  bool byPlannedStart = false;
};

// What a reading thread gives the work it runs. Used by that thread alone.
class Reading {
 public:
  // The window the store searches, as ical::searchWindow gives it.
  virtual const Window& window() const = 0;
  // A buffer this thread reads files into, one after another.
  virtual ical::ReadBuffer& buffer() = 0;
  // Reads `item`'s events and problems and keeps them at the place `place`
  // gives, each problem in a line naming the item as `subject` gives; both
  // are asked only when the item gave something. Throws IncompleteRead,
  // naming the item, when it can't be read for want of a resource.
  virtual void read(const Item& item, const std::function<Place()>& place,
                    const std::function<std::string()>& subject) = 0;
  // Keeps a whole line about something that isn't an item (a file that
  // can't be read, a calendar that didn't answer) at `place`.
  virtual void say(Place place, std::string line) = 0;

 protected:
  ~Reading() = default;
};

// Looks up a variable of the environment: its value, or nothing when unset.
using Variable = std::function<std::optional<std::string>(std::string_view name)>;

// A file or folder on disk, by device and inode: the same one reached by
// two paths is one.
struct DiskId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  auto operator<=>(const DiskId&) const = default;
};

// The file or folder at `path` (links followed), or nothing when there is
// none or it can't be looked at. Throws IncompleteRead when the system
// lacks a resource to tell.
std::optional<DiskId> diskIdOf(const char* path);

// A piece of work for a reading thread: some files of a folder, the events
// of a calendar.
using Work = std::function<void(Reading& reading)>;

// Where a source hands its work, in any order: the store orders what it
// gives.
class Gathering {
 public:
  // Has `work` done on a reading thread, or on this one when they all have
  // enough to do.
  virtual void hand(Work work) = 0;
  // Keeps a whole line about something that isn't an item, at `place`.
  virtual void say(Place place, std::string line) = 0;
  // False once the store is known not to be readable completely: the rest
  // of the work is of no use.
  virtual bool going() const = 0;

  // A file or folder reached by two sources, or twice by one, is read once,
  // at its first place: a source claims each folder whose files it reads,
  // and each file it reads alone, before it hands the work that reads them.
  //
  // Claims the folder `id`, whose files named *.ics (or, with `everyFile`,
  // all of them) this source reads: nothing when it was claimed before;
  // else the names of its files claimed alone before it, which it leaves to
  // their first place.
  virtual std::optional<std::vector<std::string>> claimFolder(DiskId id, bool everyFile) = 0;
  // Claims the file `id`, named `name` in the folder `folder`: false when it
  // was claimed before, or a folder claimed before reads it.
  virtual bool claimFile(DiskId id, DiskId folder, std::string_view name) = 0;

 protected:
  ~Gathering() = default;
};

// A source of the user's calendars.
class Source {
 public:
  virtual ~Source() = default;
  // Starts what may take long without a reading thread (asking a daemon
  // over the session bus), before any source hands its work.
  virtual void start(const Window& window) { static_cast<void>(window); }
  // Hands all of its work for `window`, on the store's calling thread, after
  // the sources before it have handed theirs. `storeAddresses` are the
  // user's addresses in every calendar.
  virtual void gather(const Window& window, const ical::Addresses& storeAddresses,
                      Gathering& gathering) = 0;
};

}  // namespace quorvel::calendar::linuxstore
