#pragma once

#include <string>
#include <vector>

#include "calendar/calendar.h"

namespace quorvel {

// The file descriptors the run writes to.
struct StandardHandles {
  int output = 1;
  int error = 2;
};

// The whole life of the tool: checks and parses the two times in `args`
// (program path first), asks `platform` for the window's events and writes
// them as one JSON document to `handles.output`. Returns the exit status.
int run(const std::vector<std::string>& args, calendar::Platform& platform,
        StandardHandles handles = {});

}  // namespace quorvel
