// Runs of sweeprun and saves by sweeply, killed with SIGKILL at random
// moments: the folder database must always be the old or the new complete
// file, and the next successful save must leave no temporary file behind.
// SWEEPRUN_CRASH_KILLS sets the number of kills (60 by default, 20 under
// the sanitizers; scripts/crash_soak.sh runs many); the test prints what it
// saw on one "crash soak:" line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "e2e/run_program.h"
#include "os/exception.h"
#include "archive/keyed_archive.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
// Sanitized programs run about ten times slower; fewer kills keep the test
// short.
constexpr int kDefaultKills = 20;
#else
constexpr int kDefaultKills = 60;
#endif
// Enough entries that writing their records takes a few milliseconds.
constexpr int kEntries = 3000;
constexpr char kTemporaryPrefix[] = ".Sweeply.data.tmp-";

std::string sweeplyPath() { return fs::path(SWEEPRUN_TOOL_PATH).parent_path() / "sweeply"; }

int killsWanted() {
  const char* value = std::getenv("SWEEPRUN_CRASH_KILLS");
  const int kills = value ? std::atoi(value) : 0;
  return kills > 0 ? kills : kDefaultKills;
}

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// True when |bytes| is a whole folder database holding exactly one folder.
bool isCompleteDatabase(const std::string& bytes) {
  size_t folders = 0;
  try {
    if (!unarchiveRootObjectArray(bytes, "TrashFolder", [&](KeyedDecoder&) { ++folders; }))
      return false;
  } catch (const PlatformException&) {
    return false;
  }
  return folders == 1;
}

class CrashEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home);
    fs::create_directories(inbox);
    for (int i = 0; i < kEntries; ++i)
      std::ofstream(inbox + "/entry-" + std::to_string(i) + ".txt") << i;
    ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "name: *.never"}).exitStatus);
  }

  std::vector<std::string> arguments(const std::string& program,
                                     std::vector<std::string> rest) const {
    rest.insert(rest.begin(), program);
    return rest;
  }
  ProgramResult sweeply(std::vector<std::string> rest) {
    return runProgram(sweeplyPath(), arguments(sweeplyPath(), std::move(rest)),
                      toolEnvironment(home, "alice", temp.path()), temp.path());
  }
  /// A save that changes the database: a condition that removes nothing,
  /// numbered so that every save writes different bytes.
  std::vector<std::string> editArguments(int number) const {
    return arguments(sweeplyPath(), {"edit", inbox, "--clear-conditions", "--condition",
                                     "name: *.never" + std::to_string(number)});
  }
  std::vector<std::string> runArguments() const { return arguments(SWEEPRUN_TOOL_PATH, {}); }

  /// Starts |argv| and kills it after |delay|; false when it could not start.
  bool killAfter(const std::vector<std::string>& argv, std::chrono::microseconds delay) {
    const int pid =
        startProgram(argv[0], argv, toolEnvironment(home, "alice", temp.path()), temp.path());
    if (pid < 0) return false;
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return true;
  }

  /// How long |argv| takes when left alone, to pick kill moments within.
  std::chrono::microseconds durationOf(const std::vector<std::string>& argv) {
    const auto start = std::chrono::steady_clock::now();
    const ProgramResult result =
        runProgram(argv[0], argv, toolEnvironment(home, "alice", temp.path()), temp.path());
    EXPECT_EQ(0, result.exitStatus) << result.err;
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start);
  }

  std::vector<std::string> temporaries() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(fs::path(database).parent_path())) {
      const std::string name = entry.path().filename();
      if (name.compare(0, sizeof kTemporaryPrefix - 1, kTemporaryPrefix) == 0)
        found.push_back(entry.path());
    }
    return found;
  }

  TempDir temp;
  const std::string home = temp.file("home");
  const std::string inbox = temp.file("Inbox");
  const std::string database = home + "/Library/Application Support/Sweeply/Sweeply.data";
};

TEST_F(CrashEndToEndTest, AKilledSaveLeavesTheOldOrTheNewDatabase) {
  const int kills = killsWanted();
  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  std::cout << "crash soak: seed " << seed << "\n";
  // Once through each, left alone: how long they take (the run tracks every
  // entry, so later runs rewrite a database of kEntries records).
  const std::chrono::microseconds runTime = durationOf(runArguments());
  const std::chrono::microseconds editTime = durationOf(editArguments(0));
  ASSERT_TRUE(isCompleteDatabase(contentOf(database)));
  // A damaged database is counted, then put back from this copy.
  fs::copy_file(database, database + ".good");

  int damaged = 0, interrupted = 0, leftovers = 0;
  for (int kill = 1; kill <= kills; ++kill) {
    const bool run = kill % 2 == 1;
    const std::string before = contentOf(database);
    // Every other kill falls in the last quarter, where the save is, so
    // that many kills catch one half-way.
    const long long limit = (run ? runTime : editTime).count();
    const long long earliest = kill % 4 < 2 ? 0 : limit * 3 / 4;
    const std::chrono::microseconds delay(
        std::uniform_int_distribution<long long>(earliest, limit)(random));
    ASSERT_TRUE(killAfter(run ? runArguments() : editArguments(kill), delay));

    const std::string after = contentOf(database);
    if (after != before && !isCompleteDatabase(after)) {
      ++damaged;
      ADD_FAILURE() << "kill " << kill << " (" << (run ? "sweeprun" : "sweeply edit") << " after "
                    << delay.count() << " us) left a damaged database";
      fs::copy_file(database + ".good", database, fs::copy_options::overwrite_existing);
    }
    // A temporary file a killed save left behind goes with the next save,
    // which holds the database's lock and so knows no other save is under way.
    if (!temporaries().empty()) ++interrupted;

    const ProgramResult saved =
        runProgram(sweeplyPath(), editArguments(-kill), toolEnvironment(home, "alice", temp.path()),
                   temp.path());
    ASSERT_EQ(0, saved.exitStatus) << saved.err;
    ASSERT_TRUE(isCompleteDatabase(contentOf(database)));
    fs::copy_file(database, database + ".good", fs::copy_options::overwrite_existing);
    const size_t remaining = temporaries().size();
    leftovers += static_cast<int>(remaining);
    EXPECT_EQ(0u, remaining) << "after kill " << kill;
  }
  std::cout << "crash soak: kills " << kills << ", interrupted saves " << interrupted
            << ", damaged databases " << damaged << ", leftovers " << leftovers << std::endl;
}

// A move to another volume killed part-way leaves its staging folder, with
// part of the copy, in the destination. The next run that moves there
// removes it and logs it; a look-alike of another user stays.
TEST(KilledMoveEndToEndTest, TheNextRunRemovesTheStagingFolderAKilledMoveLeft) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a second file system";
  TempDir temp;
  const std::string home = temp.file("home"), inbox = temp.file("Inbox");
  const std::string volume = temp.file("volume"), big = inbox + "/data.big";
  for (const std::string& path : {home, inbox, volume}) fs::create_directories(path);
  if (mount("none", volume.c_str(), "tmpfs", 0, "size=160m,mode=0755") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{volume};
  const std::string prefix = volume + "/.sweeprun-move-";
  const std::string lookAlike = prefix + "00000000000000b1";
  fs::create_directory(lookAlike);
  ASSERT_EQ(0, chown(lookAlike.c_str(), 4302, 4302));
  ASSERT_EQ(0, chmod(lookAlike.c_str(), 0700));
  const std::vector<std::string> environment = toolEnvironment(home, "alice", temp.path());
  const auto sweeply = [&](std::vector<std::string> rest) {
    rest.insert(rest.begin(), sweeplyPath());
    return runProgram(sweeplyPath(), rest, environment, temp.path()).exitStatus;
  };
  ASSERT_EQ(0, sweeply({"add", inbox, "--action", "moveto:" + volume, "--condition",
                        "name: *.big"}));
  ASSERT_EQ(0, sweeply({"prefs", "LogToFile", "yes"}));
  ASSERT_EQ(0, sweeply({"prefs", "LogFileName", temp.file("run.log")}));
  const std::string data(64 << 20, 'x');

  // Killed once part of the copy is in the staging folder; a move that ends
  // before that is tried again.
  std::string leftover;
  for (int attempt = 0; attempt < 10 && leftover.empty(); ++attempt) {
    fs::remove(volume + "/data.big");
    if (!fs::exists(big)) temp.write("Inbox/data.big", data);
    const int pid = startProgram(SWEEPRUN_TOOL_PATH, {SWEEPRUN_TOOL_PATH}, environment, temp.path());
    ASSERT_GE(pid, 0);
    for (int poll = 0; poll < 100000 && leftover.empty(); ++poll) {
      for (const auto& entry : fs::directory_iterator(volume)) {
        struct stat part {};
        if (entry.path() != lookAlike && entry.path().string().rfind(prefix, 0) == 0 &&
            stat((entry.path() / "data.big").c_str(), &part) == 0 && part.st_size > 0) {
          kill(pid, SIGKILL);
          leftover = entry.path();
        }
      }
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  ASSERT_FALSE(leftover.empty()) << "no move was caught part-way";
  ASSERT_EQ(data.size(), fs::file_size(big)) << "the source stays whole";

  fs::remove(temp.file("run.log"));
  const ProgramResult run =
      runProgram(SWEEPRUN_TOOL_PATH, {SWEEPRUN_TOOL_PATH}, environment, temp.path());
  EXPECT_EQ(0, run.exitStatus) << run.err;
  const std::string log = temp.read("run.log");
  EXPECT_NE(std::string::npos,
            log.find("Removed '" + leftover + "', left by a move that was cut short."))
      << log;
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_TRUE(fs::exists(lookAlike));
  EXPECT_EQ(data.size(), fs::file_size(volume + "/data.big"));
  EXPECT_FALSE(fs::exists(big));
}

}  // namespace
}  // namespace sweeprun
