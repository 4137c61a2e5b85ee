// undoRun over journal lines another account wrote: run by root in user mode
// with HOME naming that account's home, each line is taken on its own and
// none moves, removes or unlinks anything of root's.
#include "engine/run_undo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fs/entry_attributes.h"
#include "support/test_process.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kAlice = 4301;

class RunUndoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to undo another account's journal as root";
    test_.context.homeDirectory = home;
    for (const std::string& folder : {downloads, trash + "/files", trash + "/info", archive})
      fs::create_directories(folder);
    made(secret, 0600, 0);
    fs::create_directories(rootEmpty);
    fs::create_directories(rootsPublic);
    fs::permissions(rootsOwn, fs::perms(0700));
    made(trash + "/files/a", 0600, kAlice);
    made(trash + "/info/a.trashinfo", 0600, kAlice);
    made(archive + "/Dec 7, 2026/x", 0600, kAlice);
    for (const auto& entry : fs::recursive_directory_iterator(home))
      lchown(entry.path().c_str(), kAlice, kAlice);
    lchown(home.c_str(), kAlice, kAlice);
  }

  void made(const std::string& path, unsigned mode, uid_t owner) const {
    fs::create_directories(fs::path(path).parent_path());
    temp().write(path.substr(temp().path().size() + 1), "bytes");
    fs::permissions(path, fs::perms(mode));
    lchown(path.c_str(), owner, owner);
  }
  const TempDir& temp() const { return test_.dir(); }

  /// A user-mode line that moves or trashes |destination| back to |original|,
  /// with every identity the entry there has (all another account can read
  /// of a file it may stat), read back through the journal's format.
  JournalRecord line(const char* action, const std::string& original,
                     const std::string& destination) const {
    JournalRecord record;
    record.run = "20261207T120000Z-1";
    record.number = 1;
    record.mode = "user";
    record.action = action;
    record.folder = fs::path(original).parent_path();
    record.original = original;
    record.destination = destination;
    record.type = "file";
    record.device = record.inode = record.owner = record.birthTime = 0;
    if (const auto now = attributesOfItemAtPath(destination)) {
      record.device = now->device;
      record.inode = now->fileNumber;
      record.owner = now->owner;
      record.birthTime = now->birthNanoseconds;
    }
    return *parseJournalLine(journalLine(record));
  }

  TestProcess test_;
  const std::string home = temp().file("home/alice");
  const std::string downloads = home + "/Downloads";
  const std::string trash = home + "/.local/share/Trash";
  const std::string archive = home + "/Archive";
  const std::string rootsOwn = temp().file("root");
  const std::string secret = rootsOwn + "/secret";
  const std::string rootEmpty = rootsOwn + "/empty";
  const std::string rootsPublic = temp().file("public");
};

TEST_F(RunUndoTest, ForgedLinesTouchNothingOfRoots) {
  const std::string dated = archive + "/Dec 7, 2026";
  struct Row {
    const char* label;
    JournalRecord record;
    UndoStep::Outcome outcome;
    std::vector<std::string> staying;  // paths that must still be there
  };
  std::vector<Row> rows;
  rows.push_back({"a root-only file as a trashed entry, into a folder of root's",
                  line("trash", rootsPublic + "/secret", secret), UndoStep::kRefused, {secret}});
  rows.push_back({"a root-only file as a moved entry", line("move", downloads + "/secret", secret),
                  UndoStep::kRefused, {secret}});
  JournalRecord emptyFolder = line("move", downloads + "/x", rootEmpty + "/x");
  emptyFolder.createdFolder = rootEmpty;
  rows.push_back({"an empty root folder as the run's dated folder", emptyFolder,
                  UndoStep::kChanged, {rootEmpty}});
  JournalRecord info = line("trash", downloads + "/a", trash + "/files/a");
  info.trashInfo = secret;
  rows.push_back({"a root file as the entry's .trashinfo", info, UndoStep::kRefused,
                  {secret, trash + "/files/a", trash + "/info/a.trashinfo"}});
  // Alice's entry goes back, but the folder named is not the one made.
  JournalRecord foreign = line("move", downloads + "/x", dated + "/x");
  foreign.createdFolder = dated;
  const auto folder = attributesOfItemAtPath(dated);
  foreign.createdFolderDevice = folder->device;
  foreign.createdFolderInode = folder->fileNumber + 1;
  foreign.createdFolderOwner = folder->owner;
  rows.push_back({"a dated folder that is not the one made", foreign, UndoStep::kPutBack,
                  {dated, downloads + "/x"}});

  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    JournalRun run;
    run.id = row.record.run;
    run.mode = "user";
    run.entries = {row.record};
    const UndoReport report = undoRun(
        run, {false, false, 0, test_.context.usersFolder, test_.context.clock}, nullptr);
    ASSERT_EQ(1u, report.steps.size());
    EXPECT_EQ(row.outcome, report.steps[0].outcome) << report.steps[0].detail;
    EXPECT_TRUE(report.removedFolders.empty());
    for (const std::string& path : row.staying) EXPECT_TRUE(fs::exists(path)) << path;
  }
  EXPECT_FALSE(fs::exists(downloads + "/secret"));
  EXPECT_FALSE(fs::exists(rootsPublic + "/secret"));
  EXPECT_EQ("bytes", temp().read("root/secret"));
}

}  // namespace
}  // namespace sweeprun
