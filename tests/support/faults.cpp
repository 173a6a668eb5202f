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
// The names of the failed opens, a line each, as long as there is room;
// written without allocating, under a lock of its own.
char failedOpens[8192];
std::size_t failedLength = 0;
std::atomic_flag writing = ATOMIC_FLAG_INIT;

int openFailing(int folder, const char* name, int flags, mode_t mode) {
  if (opens.fails()) {
    while (writing.test_and_set(std::memory_order_acquire)) {
    }
    const std::size_t length = std::strlen(name);
    if (failedLength + length + 1 < sizeof failedOpens) {
      std::memcpy(failedOpens + failedLength, name, length);
      failedLength += length;
      failedOpens[failedLength++] = '\n';
      failedOpens[failedLength] = '\0';
    }
    writing.clear(std::memory_order_release);
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
  failedLength = 0;
  failedOpens[0] = '\0';
  opens.start(failing);
}
std::size_t stopFailingOpens() { return opens.stop(); }
std::string failedOpenNames() { return failedOpens; }

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
