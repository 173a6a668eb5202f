// The process's exit statuses. The host tells the outcome of a run by these
// alone; there is deliberately no status 1, so that a crash or a signal is
// never mistaken for one of the tool's own outcomes.
#pragma once

namespace quorvel {

enum ExitStatus : int {
  kExitSuccess = 0,        // the whole document was written to standard output
  kExitUsage = 2,          // wrong argument count, or a time that doesn't parse
  kExitAccessRefused = 3,  // calendar access was not granted
  kExitOutputFailed = 4,   // the document could not be written to standard output
  kExitIncomplete = 5,     // the calendar could not be read completely
};

}  // namespace quorvel
