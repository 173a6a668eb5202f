#include "calendar/linux/pool.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace quorvel::calendar::linuxstore {

Pool::Pool(std::size_t threads)
    : threads_(std::max<std::size_t>(threads, 1)), capacity_(2 * threads_) {}

Pool::~Pool() { stop(); }

void Pool::run(Task task) {
  if (!going()) return;
  if (++handed_ == 2) startHelpers();
  if (!helpers_.empty()) {
    const std::lock_guard lock(mutex_);
    if (queue_.size() < capacity_) {
      queue_.push_back(std::move(task));
      notEmpty_.notify_one();
      return;
    }
  }
  // No helper (yet), or they have enough to do.
  runHere(task, 0);
}

bool Pool::going() const {
  const std::lock_guard lock(mutex_);
  return !stopped_;
}

void Pool::finish() {
  {
    const std::lock_guard lock(mutex_);
    ended_ = true;
    notEmpty_.notify_all();
  }
  drain(0);
  for (std::jthread& helper : helpers_) helper.join();
  helpers_.clear();
  if (failure_) std::rethrow_exception(failure_);
}

void Pool::runHere(Task& task, std::size_t thread) {
  try {
    task(thread);
  } catch (...) {
    const std::lock_guard lock(mutex_);
    if (!failure_) failure_ = std::current_exception();
    stopped_ = true;
    notEmpty_.notify_all();
  }
}

void Pool::startHelpers() {
  for (std::size_t thread = 1; thread < threads_; ++thread) {
    try {
      helpers_.emplace_back([this, thread] { drain(thread); });
    } catch (const std::system_error&) {
      break;  // fewer threads: the calling one still gets through the rest
    }
  }
}

void Pool::drain(std::size_t thread) {
  for (;;) {
    Task task;
    {
      std::unique_lock lock(mutex_);
      notEmpty_.wait(lock, [this] { return !queue_.empty() || ended_ || stopped_; });
      if (stopped_ || queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    runHere(task, thread);
  }
}

void Pool::stop() {
  const std::lock_guard lock(mutex_);
  stopped_ = true;
  ended_ = true;
  notEmpty_.notify_all();
}

}  // namespace quorvel::calendar::linuxstore
