// Whole runs of the shipped tool over real folders: the three actions, the
// daily schedule, planted links, and system mode with account Trash folders
// (through the test driver, which takes its fixed paths from the
// environment). Folders are set up with sweeply, as a user would.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e/run_program.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

std::string sweeplyPath() { return fs::path(SWEEPRUN_TOOL_PATH).parent_path() / "sweeply"; }

bool hasLine(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string candidate; std::getline(in, candidate);)
    if (candidate == line) return true;
  return false;
}

class CollectionEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home);
    ASSERT_EQ(0, sweeply({"prefs", "LogToFile", "yes"}).exitStatus);
    ASSERT_EQ(0, sweeply({"prefs", "LogFileName", log()}).exitStatus);
  }

  ProgramResult run(const std::string& program, std::vector<std::string> arguments,
                    const std::string& user = "alice") {
    arguments.insert(arguments.begin(), program);
    return runProgram(program, arguments, toolEnvironment(home, user, temp.path()), temp.path());
  }
  ProgramResult sweeply(std::vector<std::string> arguments) {
    return run(sweeplyPath(), std::move(arguments));
  }
  /// One run; returns its section of the run log.
  std::string sweeprun() {
    fs::remove(log());
    ProgramResult result = run(SWEEPRUN_TOOL_PATH, {});
    EXPECT_EQ(0, result.exitStatus) << result.err;
    return temp.read("run.log");
  }
  std::string folder(const std::string& name) {
    fs::create_directories(temp.file(name));
    return temp.file(name);
  }
  std::string log() const { return temp.file("run.log"); }

  TempDir temp;
  const std::string home = temp.file("home");
};

TEST_F(CollectionEndToEndTest, EachActionDisposesOfWhatItsRulesCondemn) {
  const std::string deleting = folder("Deleting"), moving = folder("Moving"),
                    trashing = folder("Trashing"), archive = folder("Archive");
  ASSERT_EQ(0, sweeply({"add", deleting, "--action", "delete", "--condition", "name: *.old"})
                   .exitStatus);
  ASSERT_EQ(0, sweeply({"add", moving, "--action", "moveto:" + archive, "--condition",
                        "size: > 5", "--condition", "!name: keep*"})
                   .exitStatus);
  ASSERT_EQ(0, sweeply({"add", trashing, "--condition", "name: *.tmp"}).exitStatus);
  temp.write("Deleting/a.old", "a");
  temp.write("Deleting/a.new", "a");
  temp.write("Moving/big.bin", "123456");
  temp.write("Moving/keep.bin", "123456");
  temp.write("Moving/small.bin", "1");
  temp.write("Archive/big.bin", "already here");
  temp.write("Trashing/x.tmp", "x");

  const std::string section = sweeprun();
  for (const char* line : {"- a.old", "+ a.new", "- big.bin", "+ keep.bin", "+ small.bin",
                           "- x.tmp", "1 item was removed."}) {
    EXPECT_TRUE(hasLine(section, line)) << line << "\n" << section;
  }
  EXPECT_TRUE(hasLine(section, "Searching for items whose size is at least 5 and whose name does "
                               "not start with 'keep'"))
      << section;
  EXPECT_FALSE(fs::exists(temp.file("Deleting/a.old")));
  EXPECT_EQ("123456", temp.read("Archive/big copy 1.bin"));
  EXPECT_EQ("x", temp.read("home/.local/share/Trash/files/x.tmp"));
  EXPECT_NE(std::string::npos,
            temp.read("home/.local/share/Trash/info/x.tmp.trashinfo").find("Path=" + trashing +
                                                                           "/x.tmp"));

  // A second run finds the survivors unchanged.
  const std::string second = sweeprun();
  for (const char* line : {"  a.new", "  keep.bin", "  small.bin", "0 items were removed."}) {
    EXPECT_TRUE(hasLine(second, line)) << line << "\n" << second;
  }
}

TEST_F(CollectionEndToEndTest, AOnceADayFolderIsCheckedAgainOnlyWhenAsked) {
  const std::string inbox = folder("Inbox");
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "delay: 4 days"}).exitStatus);
  EXPECT_TRUE(hasLine(sweeprun(), "Checking folder '" + inbox + "'."));
  EXPECT_TRUE(
      hasLine(sweeprun(), "Not checking folder '" + inbox + "' (already checked today)."));
  ASSERT_EQ(0, sweeply({"check-now", inbox}).exitStatus);
  EXPECT_TRUE(hasLine(sweeprun(), "Checking folder '" + inbox + "'."));
  EXPECT_TRUE(
      hasLine(sweeprun(), "Not checking folder '" + inbox + "' (already checked today)."));
}

TEST_F(CollectionEndToEndTest, PlantedLinksAreRemovedAsLinks) {
  const std::string inbox = folder("Inbox"), outside = folder("Outside");
  temp.write("Outside/precious.txt", "keep me");
  fs::create_symlink(outside, inbox + "/link-to-folder.old");
  fs::create_symlink(outside + "/precious.txt", inbox + "/link-to-file.old");
  fs::create_directories(inbox + "/tree.old/sub");
  fs::create_symlink(outside, inbox + "/tree.old/sub/escape");
  ASSERT_EQ(0, sweeply({"add", inbox, "--action", "delete", "--condition", "name: *.old"})
                   .exitStatus);

  const std::string section = sweeprun();
  EXPECT_TRUE(hasLine(section, "3 items were removed.")) << section;
  EXPECT_TRUE(fs::is_empty(inbox));
  EXPECT_EQ("keep me", temp.read("Outside/precious.txt"));
}

TEST_F(CollectionEndToEndTest, SystemModeTrashesIntoTheAccountsTrash) {
  if (geteuid() != 0) GTEST_SKIP() << "system mode runs as root";
  const std::string downloads = folder("Users/alice/Downloads"), shared = folder("Shared");
  ASSERT_EQ(0, chown(temp.file("Users/alice").c_str(), 4321, 4321));
  temp.write("Users/alice/Downloads/setup.dmg", "image");
  temp.write("Shared/setup.dmg", "image");
  temp.write("sweeprun.plist",
             "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
             "<key>DataFile</key><string>" + temp.file("system.data") + "</string>"
             "<key>LogToFile</key><true/><key>LogFileName</key><string>" + log() + "</string>"
             "<key>Folders</key><array>"
             "<dict><key>Path</key><string>" + temp.file("Users/*/Downloads") + "</string>"
             "<key>Condition</key><string>name: *.dmg</string></dict>"
             "<dict><key>Path</key><string>" + shared + "</string>"
             "<key>Condition</key><string>name: *.dmg</string></dict>"
             "</array></dict></plist>");
  fs::permissions(temp.file("sweeprun.plist"), fs::perms(0600));
  // The tool's own file must be root's and read-only.
  fs::copy_file(SWEEPRUN_DRIVER_PATH, temp.file("sweeprun"));
  fs::permissions(temp.file("sweeprun"), fs::perms(0555));

  ProgramResult result = run(temp.file("sweeprun"), {"-s"}, "root");
  EXPECT_EQ(0, result.exitStatus) << result.out << result.err;
  const std::string section = temp.read("run.log");
  EXPECT_TRUE(hasLine(section, "Checking folder '" + downloads + "'.")) << section;
  EXPECT_TRUE(hasLine(section, "= setup.dmg (not removed)")) << "no Trash outside the accounts";
  EXPECT_EQ("image", temp.read("Users/alice/.Trash/setup.dmg"));
  struct stat trash;
  ASSERT_EQ(0, lstat(temp.file("Users/alice/.Trash").c_str(), &trash));
  EXPECT_EQ(4321u, trash.st_uid) << "the account can empty its Trash";
  EXPECT_TRUE(fs::exists(temp.file("system.data")));
}

}  // namespace
}  // namespace sweeprun
