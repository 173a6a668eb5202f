// Asking for calendar access and handing the platform's decision, which comes
// on a thread of the platform's choosing, to the main thread.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <semaphore>
#include <string_view>

#include "calendar/calendar.h"

namespace quorvel::calendar {

// Shared between the run and every copy of the completion handler the
// platform holds, so that it stays valid for any call the platform makes, even
// one that comes after the run has finished with it.
struct AccessDecision {
  std::counting_semaphore<> sema{0};
  bool granted = false;
  std::optional<AccessError> authError;
  // Set by the first delivery. A later one is dropped: it would overwrite
  // `granted` and `authError` while the main thread reads them.
  std::atomic_flag delivered;
};

// The handler given to the platform: records the first decision (grant flag,
// then error) and then signals `sema` once.
AccessCompletion completionFor(std::shared_ptr<AccessDecision> decision);

// Sends the run's one access request: the full-access form from macOS 14.0.0
// on, the older form for events below it. No status query comes first.
void requestAccess(Platform& platform, CalendarStore& store, AccessCompletion completion);

// The line (without its line feed) that reports a refusal: the error's
// description, or a fixed text when no error came. Lives as long as
// `decision`.
std::string_view refusalMessage(const AccessDecision& decision);

}  // namespace quorvel::calendar
