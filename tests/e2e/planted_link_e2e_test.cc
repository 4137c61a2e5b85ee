// System-mode runs whose run log or folder database lies below a folder
// another user can write: a link that user plants, on the way or in place of
// the file, never makes root create, replace or write a file elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "e2e/run_program.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 1;

class PlantedLinkEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "system mode runs as root";
    fs::create_directories(temp.file("Shared"));
    fs::create_directories(temp.file("victim"));
    fs::create_directories(temp.file("spool"));
    temp.write("victim/run.log", "victim log");
    temp.write("victim/system.data", "victim data");
    ASSERT_EQ(0, chown(temp.file("spool").c_str(), kOtherUser, kOtherUser));
    // The tool's own file must be root's and read-only.
    readOnlyDriverIn(temp.path());
  }

  /// What the other user does: a link at |name| to |target|, as theirs.
  void plant(const std::string& name, const std::string& target) {
    fs::create_symlink(temp.file(target), temp.file(name));
    ASSERT_EQ(0, lchown(temp.file(name).c_str(), kOtherUser, kOtherUser));
  }

  /// One system-mode run with the database and the run log at these paths
  /// (below the test folder).
  ProgramResult runWith(const std::string& dataFile, const std::string& logFile) {
    temp.write("sweeprun.plist",
               "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
               "<key>DataFile</key><string>" +
                   temp.file(dataFile) +
                   "</string>"
                   "<key>LogToFile</key><true/><key>LogFileName</key><string>" +
                   temp.file(logFile) +
                   "</string>"
                   "<key>Folders</key><array><dict><key>Path</key><string>" +
                   temp.file("Shared") +
                   "</string><key>Condition</key><string>name: *.dmg</string></dict>"
                   "</array></dict></plist>");
    fs::permissions(temp.file("sweeprun.plist"), fs::perms(0600));
    const std::string tool = temp.file("sweeprun");
    return runProgram(tool, {tool, "-s"},
                      toolEnvironment(temp.file("root-home"), "root", temp.path()), temp.path());
  }

  void expectVictimUntouched(const std::string& what) {
    EXPECT_EQ("victim log", temp.read("victim/run.log")) << what;
    EXPECT_EQ("victim data", temp.read("victim/system.data")) << what;
    size_t entries = 0;
    for (auto it = fs::directory_iterator(temp.file("victim")); it != fs::directory_iterator();
         ++it)
      ++entries;
    EXPECT_EQ(2u, entries) << what << ": nothing may be created there";
  }

  TempDir temp;
};

TEST_F(PlantedLinkEndToEndTest, ALinkOnTheWayIsNotFollowed) {
  plant("spool/logs", "victim");
  const struct {
    const char* what;
    const char* dataFile;
    const char* logFile;
  } kCases[] = {
      {"the run log", "system.data", "spool/logs/run.log"},
      {"a new run log", "system.data", "spool/logs/other.log"},
      {"the database", "spool/logs/system.data", "run.log"},
      {"a new database", "spool/logs/new.data", "run.log"},
  };
  for (const auto& c : kCases) {
    // The configuration check already refuses a folder another user can
    // write; the files are opened safely all the same (see file_open_test).
    const ProgramResult result = runWith(c.dataFile, c.logFile);
    EXPECT_EQ(112, result.exitStatus) << c.what << ": " << result.err;
    expectVictimUntouched(c.what);
  }
}

TEST_F(PlantedLinkEndToEndTest, AFinalLinkIsNeverWrittenThrough) {
  plant("spool/run.log", "victim/run.log");
  plant("spool/system.data", "victim/system.data");
  runWith("spool/system.data", "spool/run.log");
  expectVictimUntouched("final links");
}

}  // namespace
}  // namespace sweeprun
