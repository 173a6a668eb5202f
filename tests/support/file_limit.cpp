// Preloaded into the tool by tests: once the dynamic loader is done, limits
// the process to QUORVEL_TEST_FILE_LIMIT descriptors, so that a test can
// leave the tool exactly as many as it chooses (a limit set before exec
// would be spent by the loader).
#include <sys/resource.h>

#include <cstdlib>

namespace {

__attribute__((constructor)) void limitDescriptors() {
  const char* value = std::getenv("QUORVEL_TEST_FILE_LIMIT");
  if (value == nullptr) return;
  const auto count = static_cast<rlim_t>(std::strtoul(value, nullptr, 10));
  const rlimit limit{count, count};
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace
