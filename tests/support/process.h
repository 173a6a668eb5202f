// Running the built tool as a child process, as a host would.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace quorvel::testing {

enum class StdoutMode {
  capture,     // a file the test reads back
  closed,      // descriptor 1 closed
  full,        // /dev/full: every write fails with ENOSPC
  brokenPipe,  // a pipe whose reading end is already closed
  // A small non-blocking pipe that the test drains one byte at a time, so
  // that the child's writes find it full.
  slowNonBlockingPipe,
};

struct ProcessOptions {
  // Set in, or with an empty value removed from, the child's environment.
  std::map<std::string, std::string> environment;
  StdoutMode output = StdoutMode::capture;
  // When set, the child drops to this user and group before running.
  int userId = -1;
  int groupId = -1;
  // A child still running after this long is killed (status 128 + SIGKILL),
  // so that a hang fails its test rather than stall the suite.
  std::chrono::milliseconds timeLimit{60000};
};

struct ProcessResult {
  int status = -1;  // exit status; 128 + signal when killed by one
  std::string out;  // standard output (only when captured)
  std::string err;  // standard error
};

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// The path of the quorvel-calendar executable under test.
std::string toolPath();

}  // namespace quorvel::testing
