// Faults a test program plants in the calls the tool makes: an operator new
// that throws std::bad_alloc as a system out of memory does, and open and
// openat that fail with EMFILE as a process out of descriptors does. Each
// counts the calls made from a point on and fails the ones a test chooses.
// Linked into a test program of its own: it replaces them for the whole
// program.
#pragma once

#include <cstddef>
#include <string>

namespace quorvel::testing {

struct FailingCalls {
  std::size_t first = 0;  // the first call to fail, from 1; 0 for none
  bool onward = false;    // every call from `first` on fails, not it alone
};

// Counts allocations from here on, failing those `failing` names.
void startFailingAllocations(FailingCalls failing);
// Stops failing and counting; returns how many allocations were asked for.
std::size_t stopFailingAllocations();

// Counts the files opened from here on, failing those `failing` names.
void startFailingOpens(FailingCalls failing);
// Stops failing and counting; returns how many opens were asked for.
std::size_t stopFailingOpens();
// The names the failed opens were given, as they were given, a line each.
std::string failedOpenNames();

}  // namespace quorvel::testing
