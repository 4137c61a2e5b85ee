// What a run says to the person or the mail that reads it: standard error
// lines that name the program and the folder, a failed write named by the
// file it could not write, and a summary only on a terminal.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/run_program.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

bool hasLine(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string candidate; std::getline(in, candidate);)
    if (candidate == line) return true;
  return false;
}

class TerminalEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(home); }

  ProgramResult sweeply(std::vector<std::string> arguments) {
    const std::string tool = fs::path(SWEEPRUN_TOOL_PATH).parent_path() / "sweeply";
    arguments.insert(arguments.begin(), tool);
    return runProgram(tool, arguments, environment(), temp.path());
  }
  std::vector<std::string> environment() const {
    return toolEnvironment(home, "alice", temp.path());
  }
  std::string folder(const std::string& name) {
    fs::create_directories(temp.file(name));
    return temp.file(name);
  }

  TempDir temp;
  const std::string home = temp.file("home");
};

TEST_F(TerminalEndToEndTest, ARunEndsWithASummaryOnlyOnATerminal) {
  const std::string inbox = folder("Inbox");
  ASSERT_EQ(0,
            sweeply({"add", inbox, "--action", "delete", "--condition", "name: *.old"}).exitStatus);
  temp.write("Inbox/a.old", "a");
  temp.write("Inbox/b.new", "b");

  const ProgramResult watched =
      runProgramOnTerminal(SWEEPRUN_TOOL_PATH, {SWEEPRUN_TOOL_PATH}, environment(), temp.path());
  EXPECT_EQ(0, watched.exitStatus) << watched.err;
  EXPECT_NE(std::string::npos,
            watched.out.find(inbox + ": 2 seen, 1 taken in, 1 removed, 0 failed\r\n"))
      << watched.out;

  const ProgramResult piped =
      runProgram(SWEEPRUN_TOOL_PATH, {SWEEPRUN_TOOL_PATH}, environment(), temp.path());
  EXPECT_EQ(0, piped.exitStatus) << piped.err;
  EXPECT_EQ("", piped.out);
}

TEST_F(TerminalEndToEndTest, AnErrorLineNamesTheProgramAndTheFolder) {
  const std::string outbox = folder("Outbox"), archive = folder("Archive");
  ASSERT_EQ(0, sweeply({"add", outbox, "--action", "moveto:" + archive}).exitStatus);
  fs::remove(archive);

  const ProgramResult run =
      runProgram(SWEEPRUN_TOOL_PATH, {SWEEPRUN_TOOL_PATH}, environment(), temp.path());
  EXPECT_TRUE(hasLine(
      run.err, "sweeprun: " + outbox + ": Destination folder '" + archive + "' is not accessible."))
      << run.err;
}

// A move to another volume that fills it: the write that failed was into
// the destination, and the source stays whole.
TEST_F(TerminalEndToEndTest, AFullDestinationIsNamedAsTheFileThatCouldNotBeWritten) {
  std::string why;
  if (!enterPrivateMounts(why)) GTEST_SKIP() << why;
  const std::string outbox = folder("Outbox"), volume = folder("Volume");
  if (mount("none", volume.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{volume};
  ASSERT_EQ(0,
            sweeply({"add", outbox, "--action", "moveto:" + volume, "--condition", "name: *.bin"})
                .exitStatus);
  const std::string big(1 << 20, 'x');
  temp.write("Outbox/big.bin", big);

  const ProgramResult run =
      runProgram(SWEEPRUN_TOOL_PATH, {SWEEPRUN_TOOL_PATH}, environment(), temp.path());
  EXPECT_EQ(74, run.exitStatus);
  const std::string said = "sweeprun: " + outbox + ": ";
  EXPECT_TRUE(hasLine(run.err, said + "Unable to (re)move 'big.bin'.")) << run.err;
  EXPECT_TRUE(hasLine(run.err, said + "write(" + volume + "/big.bin): No space left on device"))
      << run.err;
  EXPECT_EQ(big, temp.read("Outbox/big.bin"));
}

}  // namespace
}  // namespace sweeprun
