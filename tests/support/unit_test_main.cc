// The unit tests' start-up: as the tool's entry points do, the mapped-file
// guard is installed before any test maps a file.
#include <gtest/gtest.h>

#include "fs/mapped_file.h"

int main(int argc, char** argv) {
  sweeprun::installMappedFileGuard();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
