// Runs of sweeprun and saves by sweeply, killed with SIGKILL at random
// moments: the folder database must always be the old or the new complete
// file, and the next successful save must leave no temporary file behind.
// SWEEPRUN_CRASH_KILLS sets the number of kills (60 by default, 20 under
// the sanitizers; scripts/crash_soak.sh runs many); the test prints what it
// saw on one "crash soak:" line.
#include <gtest/gtest.h>
#include <signal.h>
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

}  // namespace
}  // namespace sweeprun
