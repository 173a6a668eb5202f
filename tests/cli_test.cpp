// The built tool, run as a host runs it: what holds on every platform.
#include <gtest/gtest.h>

#include "support/process.h"

namespace quorvel::testing {
namespace {

TEST(Cli, BadArgumentsGiveTheUsageLineAndNothingElse) {
  const std::vector<std::string> cases[] = {{"0"}, {"0", "1 "}};
  for (const auto& args : cases) {
    std::vector<std::string> argv = {toolPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult result = runProcess(argv);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "usage: quorvel-calendar <startMs> <endMs>\n");
  }
}

}  // namespace
}  // namespace quorvel::testing
