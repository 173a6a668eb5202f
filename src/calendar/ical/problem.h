// How the engine says what it can't use. Every value or event that can't be
// used comes with a reason, which the store turns into one line on the run's
// error handle ("subject: reason"). What the system lacked a resource for is
// not a problem of the text's but a failure of the whole read: that is thrown
// (IncompleteRead, std::bad_alloc), never returned.
#pragma once

#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quorvel::calendar::ical {

struct Problem {
  std::string reason;  // what is wrong, as a line says it after its subject
};

// A value, or the problem that kept it from being one.
template <typename T>
class Checked {
 public:
  Checked(T value) : value_(std::move(value)) {}              // NOLINT: a value converts
  Checked(Problem problem) : problem_(std::move(problem)) {}  // NOLINT: so does a problem

  explicit operator bool() const { return value_.has_value(); }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  const T* operator->() const { return &*value_; }
  const Problem& problem() const { return problem_; }

 private:
  std::optional<T> value_;
  Problem problem_;
};

// The line that gives `reason` about the item at `subject` (a path).
inline std::string lineAbout(std::string_view subject, std::string_view reason) {
  std::string line(subject);
  line += ": ";
  line += reason;
  return line;
}

// What a line says about the `number`th event of a text (from 1): "event 3
// has no start (DTSTART), skipped".
inline std::string aboutEvent(int number, std::string_view what) {
  std::string reason = "event " + std::to_string(number);
  reason += ' ';
  reason += what;
  return reason;
}

// The failure of a reading thread that ran out of memory while reading the
// item `subject()` names: its name too, when there is memory enough left to
// say it. Never throws, so that it can be said on any thread.
template <typename Subject>
std::string outOfMemory(const Subject& subject) noexcept {
  try {
    return lineAbout(subject(), "out of memory");
  } catch (const std::bad_alloc&) {
    return "out of memory";  // short enough to need no memory of its own
  }
}

}  // namespace quorvel::calendar::ical
