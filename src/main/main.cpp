#include <csignal>

#include "calendar/calendar.h"
#include "main/output.h"
#include "main/run.h"

int main(int argc, char** argv) {
  quorvel::holdStandardDescriptors();
  // A host that closes its end of the pipe is reported by the failed write,
  // not by a silent death from SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  return quorvel::run({argv, argv + argc}, quorvel::calendar::systemPlatform());
}
