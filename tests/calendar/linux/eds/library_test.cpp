// Telling from the loader's message whether EDS's library couldn't be loaded
// for want of a resource (the run fails) or isn't there to load (the other
// calendars alone are listed).
#include "calendar/linux/eds/library.h"

#include <gtest/gtest.h>

namespace quorvel::calendar::linuxstore::eds {
namespace {

TEST(EdsLibrary, TellsAShortageFromALibraryThatIsMissingOrBroken) {
  const std::pair<const char*, bool> cases[] = {
      {"libecal-2.0.so.2: cannot open shared object file: Too many open files", true},
      {"libecal-2.0.so.2: cannot open shared object file: Too many open files in system", true},
      {"libecal-2.0.so.2: failed to map segment from shared object", true},
      {"libglib-2.0.so.0: cannot allocate memory in static TLS block", true},
      {"libecal-2.0.so.2: cannot create shared object descriptor", true},
      {"libecal-2.0.so.2: cannot read file data: Input/output error", true},
      {"libecal-2.0.so.2: cannot open shared object file: No such file or directory", false},
      {"/usr/lib/x86_64-linux-gnu/libecal-2.0.so.2: undefined symbol: e_cal_client_new", false},
      {"libecal-2.0.so.2: file too short", false},
  };
  for (const auto& [message, shortage] : cases) {
    EXPECT_EQ(saysResourceFailure(message), shortage) << message;
  }
}

}  // namespace
}  // namespace quorvel::calendar::linuxstore::eds
