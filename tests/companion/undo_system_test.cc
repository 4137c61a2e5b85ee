// 'sweeply undo --system' as root, over folders other users can write: the
// system journal, entries given back to their owners, and no link another
// user planted is followed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "companion/companion_test_env.h"
#include "log/run_journal.h"
#include "os/process.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kAlice = 4301;

class UndoSystemTest : public CompanionTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give entries to another user";
    context_.systemDataFolder = temp_.file("lib");
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms(01777));
    fs::create_directories(aliceTrash);
    ASSERT_EQ(0, chown(aliceTrash.c_str(), kAlice, kAlice));
  }

  /// Alice's entry |name|, trashed by a system run from |shared| into her
  /// account Trash, as the journal records it.
  void trashed(const std::string& name) {
    const std::string placed = aliceTrash + "/" + name;
    temp_.write(placed.substr(temp_.path().size() + 1), "alice's");
    ASSERT_EQ(0, chown(placed.c_str(), kAlice, kAlice));
    ASSERT_EQ(0, chmod(placed.c_str(), 0640));
    struct stat st {};
    ASSERT_EQ(0, lstat(placed.c_str(), &st));
    JournalRecord record;
    record.run = "20261207T120000Z-1";
    record.started = now_;
    record.number = ++numbered_;
    record.mode = "system";
    record.folder = shared;
    record.action = "trash";
    record.original = shared + "/" + name;
    record.destination = placed;
    record.type = "file";
    record.device = st.st_dev;
    record.inode = st.st_ino;
    std::string error;
    JournalWriter writer;
    ASSERT_TRUE(
        writer.open(journalPath(process(), true), now_, 0, std::chrono::milliseconds(0), error));
    ASSERT_TRUE(writer.append(record, error));
    ASSERT_TRUE(writer.close(error));
  }

  const std::string shared = temp_.file("srv/shared");
  const std::string aliceTrash = temp_.file("Users/alice/.Trash");
  uint64_t numbered_ = 0;
};

TEST_F(UndoSystemTest, EntriesGoBackToTheirOwnersThroughTheSystemJournal) {
  trashed("notes.txt");
  ASSERT_EQ(kCompanionFailure, sweeply({"undo"})) << "the user journal holds no run";
  ASSERT_EQ(kCompanionSuccess, sweeply({"undo", "--system"})) << out() << err();
  // The line has no owner or birth time, as an older version wrote it.
  EXPECT_NE(std::string::npos, out().find("told by device and inode only")) << out();
  struct stat st {};
  ASSERT_EQ(0, lstat((shared + "/notes.txt").c_str(), &st));
  EXPECT_EQ(kAlice, st.st_uid);
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(1u, journalRuns([&] {
                  std::vector<JournalRecord> records;
                  std::string error;
                  readJournal(journalPath(process(), true), records, error);
                  return records;
                }())[0]
                    .undone.size());
}

TEST_F(UndoSystemTest, ALinkPlantedInPlaceOfTheWatchedFolderIsRefused) {
  trashed("notes.txt");
  // Alice swaps the watched folder for a link to a folder of root's.
  const std::string target = temp_.file("etc");
  fs::create_directories(target);
  fs::rename(shared, temp_.file("srv/moved"));
  ASSERT_EQ(0, symlink(target.c_str(), shared.c_str()));
  ASSERT_EQ(0, lchown(shared.c_str(), kAlice, kAlice));

  EXPECT_EQ(kCompanionFailure, sweeply({"undo", "--system"})) << out();
  EXPECT_NE(std::string::npos, out().find("failed: " + shared + "/notes.txt")) << out();
  EXPECT_TRUE(fs::is_empty(target));
  EXPECT_TRUE(fs::exists(aliceTrash + "/notes.txt"));
}

}  // namespace
}  // namespace sweeprun
