// An operator new that counts the allocations made from a point on and fails
// the ones a test chooses, by throwing std::bad_alloc as a system out of
// memory does. Linked into a test program of its own: it replaces operator
// new for the whole program.
#pragma once

#include <cstddef>

namespace quorvel::testing {

struct FailingAllocations {
  std::size_t first = 0;  // the first allocation to fail, from 1; 0 for none
  bool onward = false;    // every allocation from `first` on fails, not it alone
};

// Counts allocations from here on, failing those `failing` names.
void startFailingAllocations(FailingAllocations failing);

// Stops failing and counting; returns how many allocations were asked for.
std::size_t stopFailingAllocations();

}  // namespace quorvel::testing
