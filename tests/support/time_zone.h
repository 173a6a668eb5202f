// Sets TZ for the life of a scope, so that no test depends on the machine's
// own zone.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace quorvel::testing {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    ::setenv("TZ", previous_.value_or("").c_str(), 1);
    if (!previous_) ::unsetenv("TZ");
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

}  // namespace quorvel::testing
