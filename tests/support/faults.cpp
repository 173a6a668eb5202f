#undef _FORTIFY_SOURCE  // open and openat are defined here, not wrapped
#include "support/faults.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quorvel::testing {
namespace {

// The calls of one kind made since counting started, and those to fail.
struct Counter {
  std::atomic<bool> counting{false};
  std::atomic<std::size_t> asked{0};
  FailingCalls chosen;

  void start(FailingCalls failing) {
    chosen = failing;
    asked = 0;
    counting.store(true, std::memory_order_release);
  }
  std::size_t stop() {
    counting = false;
    return asked;
  }
  // Whether the call being made is to fail.
  bool fails() {
    if (!counting.load(std::memory_order_acquire)) return false;
    const std::size_t number = asked.fetch_add(1) + 1;
    return chosen.first != 0 &&
           (number == chosen.first || (chosen.onward && number > chosen.first));
  }
};

Counter allocations;
Counter opens;
// Written once, by the first failed open; no allocation in the hook.
char failedOpen[4096];
std::atomic<bool> sawFailedOpen{false};

int openFailing(int folder, const char* name, int flags, mode_t mode) {
  if (opens.fails()) {
    if (!sawFailedOpen.exchange(true)) {
      std::strncpy(failedOpen, name, sizeof failedOpen - 1);
    }
    errno = EMFILE;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_openat, folder, name, flags, mode));
}

mode_t modeOf(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

void startFailingAllocations(FailingCalls failing) { allocations.start(failing); }
std::size_t stopFailingAllocations() { return allocations.stop(); }

void startFailingOpens(FailingCalls failing) {
  sawFailedOpen = false;
  failedOpen[0] = '\0';
  opens.start(failing);
}
std::size_t stopFailingOpens() { return opens.stop(); }
std::string firstFailedOpen() { return failedOpen; }

}  // namespace quorvel::testing

// The allocating forms of operator new; the array and no-throw forms go
// through these, and every operator delete frees with std::free.
void* operator new(std::size_t size) {
  if (quorvel::testing::allocations.fails()) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, std::align_val_t alignment) {
  if (quorvel::testing::allocations.fails()) throw std::bad_alloc();
  const auto align = static_cast<std::size_t>(alignment);
  if (void* block = std::aligned_alloc(align, (size + align - 1) / align * align)) return block;
  throw std::bad_alloc();
}

// The C library's open and openat, as the tool calls them (its own calls
// inside the C library don't come here).
extern "C" int open(const char* name, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = quorvel::testing::modeOf(flags, arguments);
  va_end(arguments);
  return quorvel::testing::openFailing(AT_FDCWD, name, flags, mode);
}

extern "C" int openat(int folder, const char* name, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = quorvel::testing::modeOf(flags, arguments);
  va_end(arguments);
  return quorvel::testing::openFailing(folder, name, flags, mode);
}
