// The threads that read for one fetch.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvel::calendar::linuxstore {

// Runs tasks on `threads` threads, the calling one among them. Helpers start
// only with the second task, so that a small store costs no thread; when
// they all have enough to do, the calling thread does the task at hand
// itself, so that it never runs far ahead of the reading and no thread waits
// while there is reading to do. A task that throws stops the rest: what it
// threw is rethrown by finish, on the calling thread.
class Pool {
 public:
  // A task, given the number of the thread that runs it: 0 for the calling
  // thread, up to the pool's size less one.
  using Task = std::function<void(std::size_t thread)>;

  explicit Pool(std::size_t threads);
  // Stops what is left; the helpers are joined as they go.
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  // Has `task` run on a helper, or here at once; does nothing once a task
  // has thrown.
  void run(Task task);
  // False once a task has thrown: what is left is of no use.
  bool going() const;
  // Runs what is left here too, joins the helpers, and rethrows what the
  // first task to throw threw.
  void finish();

 private:
  void runHere(Task& task, std::size_t thread);
  void startHelpers();
  void drain(std::size_t thread);
  void stop();

  const std::size_t threads_;
  const std::size_t capacity_;  // tasks waiting at most
  std::size_t handed_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable notEmpty_;
  std::deque<Task> queue_;
  bool ended_ = false;
  bool stopped_ = false;
  std::exception_ptr failure_;  // what the first task to throw threw
  // Last, so that they are joined before what they use goes.
  std::vector<std::jthread> helpers_;
};

}  // namespace quorvel::calendar::linuxstore
