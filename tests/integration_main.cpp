// Runs the real-machine checks that a scenario script names. They change the
// Wine prefix they run in, so they never run on their own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/os.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(filter) == "*") {
    std::fprintf(stderr, "integration_tests: name the checks with --gtest_filter\n");
    return 2;
  }
  // The real machine's functions, bound as the program binds them.
  os = RealOs();
  return RUN_ALL_TESTS();
}
