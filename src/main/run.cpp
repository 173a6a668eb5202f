#include "main/run.h"

#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "calendar/access.h"
#include "main/exit_status.h"
#include "main/number.h"
#include "main/output.h"
#include "record/record.h"

namespace quorvel {
namespace {

constexpr std::string_view kUsageLine = "usage: quorvel-calendar <startMs> <endMs>";
constexpr std::string_view kIncompleteLine =
    "quorvel-calendar: the calendar could not be read completely";

// The run from the two times on; memory running out anywhere in it is the
// caller's to report.
int runWith(const std::vector<std::string>& args, calendar::Platform& platform,
            StandardHandles handles) {
  // Both times parse before anything on the calendar side is touched.
  if (args.size() != 3) {
    writeLine(handles.error, kUsageLine);
    return kExitUsage;
  }
  const std::optional<double> startMs = parseTime(args[1]);
  if (!startMs) {
    writeLine(handles.error, kUsageLine);
    return kExitUsage;
  }
  const std::optional<double> endMs = parseTime(args[2]);
  if (!endMs) {
    writeLine(handles.error, kUsageLine);
    return kExitUsage;
  }

  const std::unique_ptr<calendar::CalendarStore> store =
      platform.createStore([&handles](std::string_view line) { writeLine(handles.error, line); });
  const auto access = std::make_shared<calendar::AccessDecision>();

  // One request in every run, then wait as long as the decision takes.
  calendar::requestAccess(platform, *store, calendar::completionFor(access));
  access->sema.acquire();
  if (!access->granted) {
    writeLine(handles.error, calendar::refusalMessage(*access));
    return kExitAccessRefused;
  }

  // The times go to the store exactly as divided, unordered and unchecked.
  const calendar::Instant start{*startMs / 1000.0};
  const calendar::Instant end{*endMs / 1000.0};
  const std::unique_ptr<calendar::Predicate> predicate = store->predicateForEvents(start, end);
  calendar::Events events;
  try {
    events = store->eventsMatching(*predicate);
  } catch (const calendar::IncompleteRead& failure) {
    writeLine(handles.error, kIncompleteLine, ": ", failure.what());
    return kExitIncomplete;
  }

  // The document is built record by record, so that no more than one record
  // is ever held beside it, and written only once it is whole.
  std::string data;
  data.reserve(2 + events.size() * 160);  // about what a record takes
  data.push_back('[');
  for (const auto& event : events) {
    if (data.size() > 1) data.push_back(',');
    appendRecord(data, buildRecord(*event));
  }
  data.push_back(']');
  if (const int error = writeAll(handles.output, data); error != 0) {
    writeLine(handles.error, "quorvel-calendar: cannot write the events: ", std::strerror(error));
    return kExitOutputFailed;
  }
  return kExitSuccess;
}

}  // namespace

int run(const std::vector<std::string>& args, calendar::Platform& platform,
        StandardHandles handles) {
  try {
    return runWith(args, platform, handles);
  } catch (const std::bad_alloc&) {
    // Whether reading the store, expanding its events or building the
    // document: what was read can't be listed whole. Nothing is on standard
    // output yet, and the line is written without allocating.
    writeLine(handles.error, kIncompleteLine, ": out of memory");
    return kExitIncomplete;
  }
}

}  // namespace quorvel
