#include "cli/startup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "os/process.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

// Sets USER for one test and restores it afterwards.
class ScopedUser {
 public:
  explicit ScopedUser(const char* user) {
    if (const char* old = std::getenv("USER")) saved_ = old;
    if (user) {
      setenv("USER", user, 1);
    } else {
      unsetenv("USER");
    }
  }
  ~ScopedUser() {
    if (saved_) {
      setenv("USER", saved_->c_str(), 1);
    } else {
      unsetenv("USER");
    }
  }

 private:
  std::optional<std::string> saved_;
};

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    context.homeDirectory = temp.path();
    context.configPath = temp.file("sweeprun.plist");
    context.usersFolder = temp.file("Users");
    context.systemDataFolder = temp.file("lib");
    context.postRunPauseSeconds = 0;
    context.out = &out;
  }

  TempDir temp;
  std::ostringstream out;
  Process context;
  ScopedProcess scoped{context};
};

TEST_F(StartupTest, UserModeOpensAndClosesTheRunLogAndUninstallsEverything) {
  const int returned = startup({"sweeprun", "-LogToFile", "YES", "-LogFileName", "~/run.log"});
  EXPECT_EQ(1, returned) << "an empty folder list";
  EXPECT_EQ("", out.str());
  EXPECT_FALSE(temp.read("run.log").empty()) << "the closed section ends with an empty line";
  EXPECT_EQ(nullptr, context.runLog);
  EXPECT_FALSE(context.systemMode || context.checkMode);
}

TEST_F(StartupTest, FailedTestsLeaveNothingInstalledAndReturnTheirCode) {
  ScopedUser user("alice");
  EXPECT_EQ(kNotRoot, startup({"sweeprun", "-s", "-t"}));
  EXPECT_EQ("Error: You must be root for -t (you are 'alice').\n", out.str());
  EXPECT_TRUE(context.systemMode && context.checkMode);
  EXPECT_EQ(nullptr, context.runLog);
}

}  // namespace
}  // namespace sweeprun
