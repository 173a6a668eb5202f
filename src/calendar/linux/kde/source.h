// KDE's local calendars (Akonadi's iCalendar file and folder resources), as
// a source of the store.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore::kde {

// The local calendars that KDE's settings below `configHome` list
// (config.h), the user being who KDE's identities and the store's
// `addresses` say: an iCalendar file resource's file is one item; a folder
// resource's files are read on one thread, those of one UID (an event and
// its overrides, each a file of its own) joined into one item. Places are
// keyed by the file's or folder's path. With an empty `configHome`, nothing.
std::unique_ptr<Source> kdeSource(std::filesystem::path configHome, Variable variable);

// What an icaldir file holds, for joining: the UID of its first event, and
// whether it ends every component it begins (a file cut short doesn't, and
// is read alone, so that it can't swallow the files after it).
struct FileShape {
  std::string uid;
  bool whole = false;
};
FileShape shapeOf(std::string_view text);

}  // namespace quorvel::calendar::linuxstore::kde
