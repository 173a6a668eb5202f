#include "support/failing_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace quorvel::testing {
namespace {

std::atomic<bool> counting{false};
std::atomic<std::size_t> asked{0};
FailingAllocations chosen;

// Whether the allocation being asked for is to fail.
bool fails() {
  if (!counting.load(std::memory_order_acquire)) return false;
  const std::size_t number = asked.fetch_add(1) + 1;
  return chosen.first != 0 && (number == chosen.first || (chosen.onward && number > chosen.first));
}

}  // namespace

void startFailingAllocations(FailingAllocations failing) {
  chosen = failing;
  asked = 0;
  counting.store(true, std::memory_order_release);
}

std::size_t stopFailingAllocations() {
  counting = false;
  return asked;
}

}  // namespace quorvel::testing

// The allocating forms of operator new; the array and no-throw forms go
// through these, and every operator delete frees with std::free.
void* operator new(std::size_t size) {
  if (quorvel::testing::fails()) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, std::align_val_t alignment) {
  if (quorvel::testing::fails()) throw std::bad_alloc();
  const auto align = static_cast<std::size_t>(alignment);
  if (void* block = std::aligned_alloc(align, (size + align - 1) / align * align)) return block;
  throw std::bad_alloc();
}
