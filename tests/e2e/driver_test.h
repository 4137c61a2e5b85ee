#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "e2e/run_program.h"
#include "support/temp_dir.h"

namespace sweeprun {

/// A test suite that starts the test driver in system or check mode, which
/// refuse a tool file anyone may write: the suite gets a read-only copy of it,
/// made once.
class DriverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tools() = std::make_unique<TempDir>();
    readOnlyDriverIn(tools()->path());
  }
  static void TearDownTestSuite() { tools().reset(); }

  /// The read-only copy of the driver.
  static std::string driver() { return tools()->file("sweeprun"); }

 private:
  static std::unique_ptr<TempDir>& tools() {
    static std::unique_ptr<TempDir> folder;
    return folder;
  }
};

}  // namespace sweeprun
