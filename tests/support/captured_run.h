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

inline CapturedRun runCaptured(const std::vector<std::string>& args, FakeCalendar& calendar) {
  FakePlatform platform(calendar);
  std::FILE* files[] = {std::tmpfile(), std::tmpfile()};
  const int status = run(args, platform, {fileno(files[0]), fileno(files[1])});
  std::string texts[2];
  for (int i = 0; i < 2; ++i) {
    std::rewind(files[i]);
    for (int c; (c = std::fgetc(files[i])) != EOF;) texts[i].push_back(static_cast<char>(c));
    std::fclose(files[i]);
  }
  return {status, texts[0], texts[1]};
}

}  // namespace quorvel::testing
