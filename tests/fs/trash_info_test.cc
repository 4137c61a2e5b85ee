#include "fs/trash_info.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "os/run_world.h"
#include "support/fs_tree.h"
#include "support/temp_dir.h"
#include "support/trash_tools.h"

namespace sweeprun {
namespace {

const Date kDecember7 = Date::fromUnix(1796644800);  // 2026-12-07 12:00:00 UTC

DirHandle openFolder(const std::string& path) {
  DirHandle dir;
  std::string error;
  EXPECT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(path, dir, error)) << error;
  return dir;
}

TEST(TrashInfoTest, EscapesThePathAsAUrlPathAndWritesTheLocalDate) {
  const struct {
    const char* path;
    const char* escaped;
  } kCases[] = {
      {"/home/ann/plain-name_1.0~", "/home/ann/plain-name_1.0~"},
      {"/home/ann/my report.pdf", "/home/ann/my%20report.pdf"},
      {"/a/100%#?&+=", "/a/100%25%23%3F%26%2B%3D"},
      {"/a/caf\xC3\xA9", "/a/caf%C3%A9"},
      {"/a/line\nbreak", "/a/line%0Abreak"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.escaped, escapedTrashPath(c.path)) << c.path;

  ScopedEnv zone("TZ", "Asia/Tokyo");
  EXPECT_EQ("[Trash Info]\nPath=/w/a%20b\nDeletionDate=2026-12-07T21:00:00\n",
            trashInfoText("/w/a b", kDecember7));
}

class UserTrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    makeFolder(watched_);
    ASSERT_EQ(OpenStatus::kOpened, UserTrash::open(files_, trash_, error_)) << error_;
  }
  std::string info(const std::string& name) const { return trashFolder_ + "/info/" + name; }

  TempDir tmp_;
  std::string watched_ = tmp_.file("watched");
  std::string trashFolder_ = tmp_.file("data/Trash");
  std::string files_ = trashFolder_ + "/files";
  UserTrash trash_;
  std::string error_;
  ScopedEnv zone_{"TZ", "UTC"};
};

TEST_F(UserTrashTest, ANameMustBeFreeInBothFilesAndInfo) {
  writeText(watched_ + "/a.txt", "new");
  writeText(files_ + "/a.txt", "old");
  writeText(info("a copy 1.txt.trashinfo"), "orphan");
  DirHandle source = openFolder(watched_);
  std::string placed;

  ASSERT_EQ(MoveStatus::kMoved,
            trash_.trashEntry(source, "a.txt", kDecember7, kEntryTreeTimeLimit, placed, error_))
      << error_;
  EXPECT_EQ("a copy 2.txt", placed);
  EXPECT_EQ("new", readText(files_ + "/a copy 2.txt"));
  EXPECT_EQ("[Trash Info]\nPath=" + watched_ + "/a.txt\nDeletionDate=2026-12-07T12:00:00\n",
            readText(info("a copy 2.txt.trashinfo")));
  EXPECT_EQ("orphan", readText(info("a copy 1.txt.trashinfo")));
}

TEST_F(UserTrashTest, AFailedMoveTakesItsInfoFileBack) {
  DirHandle source = openFolder(watched_);
  std::string placed;
  EXPECT_EQ(MoveStatus::kGone,
            trash_.trashEntry(source, "vanished", kDecember7, kEntryTreeTimeLimit, placed, error_));
  EXPECT_FALSE(entryExists(info("vanished.trashinfo")));
}

TEST_F(UserTrashTest, ANewDatedFolderGetsAnInfoFileAnExistingOneNone) {
  DirHandle dated;
  ASSERT_EQ(OpenStatus::kOpened,
            trash_.openDatedFolder("Dec 7, 2026", watched_, kDecember7, dated, error_));
  EXPECT_EQ(
      "[Trash Info]\nPath=" + watched_ + "/Dec%207%2C%202026\nDeletionDate=2026-12-07T12:00:00\n",
      readText(info("Dec 7, 2026.trashinfo")));
  unlink(info("Dec 7, 2026.trashinfo").c_str());
  ASSERT_EQ(OpenStatus::kOpened,
            trash_.openDatedFolder("Dec 7, 2026", watched_, kDecember7, dated, error_));
  EXPECT_FALSE(entryExists(info("Dec 7, 2026.trashinfo")));

  writeText(files_ + "/taken", "");
  EXPECT_EQ(OpenStatus::kNotDirectory,
            trash_.openDatedFolder("taken", watched_, kDecember7, dated, error_));
}

// An entry whose name leaves no room for ".trashinfo" goes to the Trash under
// a shorter name that keeps its extension, and its info file keeps the whole
// path: trash tools list it, and restore it, under its own name.
TEST_F(UserTrashTest, ANameTooLongForItsInfoFileIsShortenedAndRestoredWhole) {
  const std::string longName = std::string(246, 'n') + ".log";
  writeText(watched_ + "/" + longName, "first");
  DirHandle source = openFolder(watched_);
  std::string placed;
  ASSERT_EQ(MoveStatus::kMoved,
            trash_.trashEntry(source, longName, kDecember7, kEntryTreeTimeLimit, placed, error_))
      << error_;
  EXPECT_EQ(std::string(241, 'n') + ".log", placed);
  EXPECT_EQ(
      "[Trash Info]\nPath=" + watched_ + "/" + longName + "\nDeletionDate=2026-12-07T12:00:00\n",
      readText(info(placed + ".trashinfo")));

  writeText(watched_ + "/" + longName, "second");
  ASSERT_EQ(MoveStatus::kMoved,
            trash_.trashEntry(source, longName, kDecember7, kEntryTreeTimeLimit, placed, error_))
      << error_;
  EXPECT_EQ(std::string(234, 'n') + " copy 1.log", placed);
  EXPECT_EQ("second", readText(files_ + "/" + placed));

  if (system("command -v trash-restore >/dev/null 2>&1") != 0) GTEST_SKIP() << "no trash-restore";
  ScopedEnv dataHome("XDG_DATA_HOME", tmp_.file("data"));
  const std::string restore =
      "echo 0 | '" + kHermeticTrashTool + "' trash-restore '" + watched_ + "' >/dev/null 2>&1";
  const int status = system(restore.c_str());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "trash-restore cannot be kept from the host's volumes here";
  ASSERT_EQ(0, status);
  EXPECT_TRUE(entryExists(watched_ + "/" + longName));
}

TEST(UserTrashOpenTest, AFileWhereAFolderBelongsIsNotADirectory) {
  TempDir tmp;
  makeFolder(tmp.file("Trash"));
  writeText(tmp.file("Trash/info"), "");
  UserTrash trash;
  std::string error;
  EXPECT_EQ(OpenStatus::kNotDirectory, UserTrash::open(tmp.file("Trash/files"), trash, error));
  EXPECT_EQ(OpenStatus::kNotDirectory, UserTrash::open(tmp.file("Trash/info/files"), trash, error));
}

// The info files must be what desktop trash tools read: ask one.
TEST_F(UserTrashTest, TrashToolsListTheEntryWithItsOriginalPath) {
  if (system("command -v trash-list >/dev/null 2>&1") != 0) GTEST_SKIP() << "no trash-list";
  writeText(watched_ + "/my report%.pdf", "");
  DirHandle source = openFolder(watched_);
  std::string placed;
  ASSERT_EQ(MoveStatus::kMoved, trash_.trashEntry(source, "my report%.pdf", kDecember7,
                                                  kEntryTreeTimeLimit, placed, error_));

  ScopedEnv dataHome("XDG_DATA_HOME", tmp_.file("data"));
  FILE* pipe = popen(("'" + kHermeticTrashTool + "' trash-list 2>/dev/null").c_str(), "r");
  ASSERT_TRUE(pipe);
  std::string listing;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) listing += buffer;
  if (const int status = pclose(pipe); WIFEXITED(status) && WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "trash-list cannot be kept from the host's volumes here";
  EXPECT_NE(std::string::npos, listing.find("2026-12-07 12:00:00 " + watched_ + "/my report%.pdf"))
      << listing;
}

TEST(AccountTrashTest, OnlyARealFolderOfRootOrTheAccountIsUsed) {
  TempDir users;
  const std::string account = users.file("ann");
  makeFolder(account);
  DirHandle trash;
  std::string error;
  EXPECT_EQ(OpenStatus::kOpened, openAccountTrash(account, trash, error)) << error;
  EXPECT_TRUE(entryExists(account + "/.Trash"));

  rmdir((account + "/.Trash").c_str());
  makeFolder(users.file("elsewhere"));
  makeLink(users.file("elsewhere"), account + "/.Trash");
  EXPECT_EQ(OpenStatus::kNotDirectory, openAccountTrash(account, trash, error));

  if (!runningAsRoot()) return;
  unlink((account + "/.Trash").c_str());
  makeFolder(account + "/.Trash");
  ASSERT_EQ(0, chown((account + "/.Trash").c_str(), 4242, 4242));
  EXPECT_EQ(OpenStatus::kNotDirectory, openAccountTrash(account, trash, error));
  ASSERT_EQ(0, chown(account.c_str(), 4242, 4242));
  EXPECT_EQ(OpenStatus::kOpened, openAccountTrash(account, trash, error)) << error;
}

TEST(AccountTrashTest, ATrashTheToolMakesBelongsToTheAccount) {
  if (!runningAsRoot()) GTEST_SKIP() << "needs root to give folders away";
  TempDir users;
  const std::string account = users.file("ann");
  makeFolder(account);
  ASSERT_EQ(0, chown(account.c_str(), 4243, 4244));
  DirHandle trash;
  std::string error;
  ASSERT_EQ(OpenStatus::kOpened, openAccountTrash(account, trash, error)) << error;
  struct stat info;
  ASSERT_EQ(0, lstat((account + "/.Trash").c_str(), &info));
  EXPECT_EQ(4243u, info.st_uid);
  EXPECT_EQ(4244u, info.st_gid);
  EXPECT_EQ(0700u, info.st_mode & 07777);
}

}  // namespace
}  // namespace sweeprun
