#include "calendar/access.h"

#include <utility>

namespace quorvel::calendar {

AccessCompletion completionFor(std::shared_ptr<AccessDecision> decision) {
  return [decision = std::move(decision)](bool granted, std::optional<AccessError> error) {
    if (decision->delivered.test_and_set()) return;
    decision->granted = granted;
    decision->authError = std::move(error);
    // Releasing orders the two writes before the main thread's reads, which
    // come after its acquire.
    decision->sema.release();
  };
}

void requestAccess(Platform& platform, CalendarStore& store, AccessCompletion completion) {
  if (platform.isOperatingSystemAtLeast({14, 0, 0})) {
    store.requestFullAccessToEvents(std::move(completion));
  } else {
    store.requestAccess(EntityType::event, std::move(completion));
  }
}

std::string_view refusalMessage(const AccessDecision& decision) {
  if (decision.authError) return decision.authError->localizedDescription;
  return "calendar access denied";
}

}  // namespace quorvel::calendar
