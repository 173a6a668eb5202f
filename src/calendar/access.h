// The calendar access decision, handed from the platform's thread to the main
// thread.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <semaphore>

#include "calendar/calendar.h"

namespace quorvel::calendar {

// Shared between the run and every copy of the completion handler the
// platform holds, so that it stays valid for any call the platform makes, even
// one that comes after the run has finished with it.
struct AccessDecision {
  std::counting_semaphore<> sema{0};
  bool granted = false;
  std::optional<AccessError> authError;
  // Set by the first delivery. Later deliveries are dropped: they would
  // overwrite `granted` and `authError` while the main thread reads them.
  std::atomic_flag delivered;
};

}  // namespace quorvel::calendar
