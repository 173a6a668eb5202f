// Runs the tool in-process over a fake platform, with its output and error
// handles captured.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "main/run.h"
#include "support/fake_platform.h"

namespace quorvel::testing {

struct CapturedRun {
  int status;
  std::string out;
  std::string err;
};

// Everything written to `file`, which is then closed.
inline std::string contentsOf(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

inline CapturedRun runCaptured(const std::vector<std::string>& args, FakeCalendar& calendar) {
  FakePlatform platform(calendar);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int status = run(args, platform, {fileno(out), fileno(err)});
  return {status, contentsOf(out), contentsOf(err)};
}

}  // namespace quorvel::testing
