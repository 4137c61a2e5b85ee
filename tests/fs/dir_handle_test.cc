#include "fs/dir_handle.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "os/run_world.h"
#include "support/fs_tree.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

class DirHandleTest : public ::testing::Test {
 protected:
  void TearDown() override { clearImmutableBelow(root_); }

  std::string path(const std::string& relative) const { return root_ + "/" + relative; }

  DirHandle open(const std::string& relative) const {
    DirHandle dir;
    std::string error;
    EXPECT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(path(relative), dir, error)) << error;
    return dir;
  }

  // A folder "outside" with a file that no operation inside "watched" may touch.
  void makeOutsideAndWatched() {
    makeFolder(path("outside"));
    writeText(path("outside/keep"), "precious");
    makeFolder(path("watched"));
  }
  bool outsideIntact() const { return readText(path("outside/keep")) == "precious"; }

  TempDir tmp_;
  std::string root_ = tmp_.path();
};

TEST_F(DirHandleTest, ListsEveryEntryWithoutDotEntriesAndStatsLinksAsLinks) {
  makeOutsideAndWatched();
  writeText(path("watched/a"), "12345");
  writeText(path("watched/.hidden"), "");
  makeFolder(path("watched/folder"));
  makeLink(path("outside"), path("watched/link"));
  DirHandle dir = open("watched");

  bool ok = false;
  std::vector<std::string> names = dir.listNames(ok).strings();
  std::sort(names.begin(), names.end());
  EXPECT_TRUE(ok);
  EXPECT_EQ((std::vector<std::string>{".hidden", "a", "folder", "link"}), names);

  EXPECT_EQ(5u, dir.statEntry("a")->size);
  EXPECT_TRUE(dir.statEntry("folder")->isDirectory());
  EXPECT_TRUE(dir.statEntry("link")->isSymbolicLink());
  EXPECT_FALSE(dir.statEntry("missing"));
  EXPECT_FALSE(DirHandle().listNames(ok).size() || ok);
}

TEST_F(DirHandleTest, OpensOnlyRealFoldersAndTrustedLinks) {
  makeFolder(path("folder"));
  writeText(path("file"), "");
  makeLink(path("folder"), path("own-link"));
  makeLink(path("nowhere"), path("dangling"));
  const struct {
    const char* label;
    const char* relative;
    bool create;
    OpenStatus expected;
  } kCases[] = {
      {"folder", "folder", false, OpenStatus::kOpened},
      {"missing", "missing", false, OpenStatus::kMissing},
      {"file", "file", false, OpenStatus::kNotDirectory},
      {"below a file", "file/below", false, OpenStatus::kMissing},
      {"link of our own", "own-link", false, OpenStatus::kOpened},
      {"dangling link", "dangling", false, OpenStatus::kMissing},
      {"dot components", "folder/./../folder", false, OpenStatus::kOpened},
      {"create nested", "new/a/b", true, OpenStatus::kOpened},
      {"create over a file", "file", true, OpenStatus::kNotDirectory},
      {"create below a file", "file/below", true, OpenStatus::kFailed},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    DirHandle dir;
    std::string error;
    const std::string target = path(c.relative);
    const OpenStatus status = c.create ? DirHandle::createDirectories(target, dir, error)
                                       : DirHandle::openDirectory(target, dir, error);
    EXPECT_EQ(c.expected, status) << error;
    EXPECT_EQ(status == OpenStatus::kOpened, dir.isOpen());
  }
  struct stat st;
  EXPECT_EQ(0, stat(path("new/a/b").c_str(), &st));
}

TEST_F(DirHandleTest, LinksOwnedByAnotherUserAreNeverFollowed) {
  if (!runningAsRoot()) GTEST_SKIP() << "needs root to give a link away";
  makeFolder(path("folder"));
  makeFolder(path("folder/sub"));
  makeLink(path("folder"), path("foreign"));
  ASSERT_EQ(0, lchown(path("foreign").c_str(), 4242, 4242));
  DirHandle dir;
  std::string error;
  EXPECT_EQ(OpenStatus::kNotDirectory, DirHandle::openDirectory(path("foreign"), dir, error));
  EXPECT_EQ(OpenStatus::kFailed, DirHandle::openDirectory(path("foreign/sub"), dir, error));
  EXPECT_EQ(OpenStatus::kFailed, DirHandle::createDirectories(path("foreign/new"), dir, error));
  EXPECT_FALSE(entryExists(path("folder/new")));
}

TEST_F(DirHandleTest, NamesThatWouldLeaveTheFolderAreRefused) {
  makeOutsideAndWatched();
  makeFolder(path("watched/inner"));
  DirHandle inner = open("watched/inner");
  DirHandle watched = open("watched");
  std::string error;
  for (const std::string name : {"../../outside/keep", "..", ".", "", "a/b"}) {
    SCOPED_TRACE(name);
    DirHandle child;
    EXPECT_FALSE(inner.statEntry(name));
    EXPECT_NE(RemoveStatus::kRemoved, inner.removeEntry(name, kEntryTreeTimeLimit, error));
    EXPECT_NE(RemoveStatus::kRemoved, inner.removeFile(name, error));
    EXPECT_NE(OpenStatus::kOpened, inner.openChild(name, child, error));
    EXPECT_NE(CreateStatus::kCreated, inner.createFileExclusive(name, "x", 0644, error));
    EXPECT_NE(MoveStatus::kMoved,
              inner.moveEntry(name, watched, "moved", kEntryTreeTimeLimit, error));
    EXPECT_FALSE(inner.isDeletable(name));
  }
  EXPECT_TRUE(outsideIntact());
  EXPECT_FALSE(entryExists(path("watched/moved")));
}

TEST_F(DirHandleTest, LinksPlantedAsEntriesAreRemovedAsTheLinks) {
  makeOutsideAndWatched();
  makeLink(path("outside"), path("watched/to-folder"));
  makeLink(path("outside/keep"), path("watched/to-file"));
  makeFolder(path("watched/tree"));
  makeFolder(path("watched/tree/sub"));
  makeLink(path("outside"), path("watched/tree/sub/planted"));
  writeText(path("watched/tree/sub/file"), "");
  DirHandle dir = open("watched");
  std::string error;

  EXPECT_EQ(RemoveStatus::kRemoved, dir.removeEntry("to-folder", kEntryTreeTimeLimit, error))
      << error;
  EXPECT_EQ(RemoveStatus::kRemoved, dir.removeFile("to-file", error)) << error;
  EXPECT_EQ(RemoveStatus::kRemoved, dir.removeEntry("tree", kEntryTreeTimeLimit, error)) << error;
  EXPECT_EQ(RemoveStatus::kGone, dir.removeEntry("tree", kEntryTreeTimeLimit, error));

  bool ok = false;
  EXPECT_TRUE(dir.listNames(ok).empty());
  EXPECT_TRUE(outsideIntact());
}

TEST_F(DirHandleTest, RemoveFileLeavesFolders) {
  makeFolder(path("watched"));
  makeFolder(path("watched/folder"));
  DirHandle dir = open("watched");
  std::string error;
  EXPECT_EQ(RemoveStatus::kIsDirectory, dir.removeFile("folder", error));
  EXPECT_TRUE(entryExists(path("watched/folder")));
}

TEST_F(DirHandleTest, LockedFlagIsNeverReadOrClearedThroughALink) {
  makeOutsideAndWatched();
  if (!setImmutable(path("outside/keep"), true)) GTEST_SKIP() << "no immutable attribute here";
  makeLink(path("outside/keep"), path("watched/link"));
  writeText(path("watched/file"), "");
  ASSERT_TRUE(setImmutable(path("watched/file"), true));
  DirHandle dir = open("watched");

  EXPECT_FALSE(dir.isLocked("link"));
  dir.unlock("link");
  EXPECT_TRUE(isImmutable(path("outside/keep")));

  EXPECT_TRUE(dir.isLocked("file"));
  EXPECT_TRUE(dir.unlock("file"));
  EXPECT_FALSE(dir.isLocked("file"));
}

TEST_F(DirHandleTest, RemovingUnlocksWhatIsBelowAFolderButNotTheFolderItself) {
  makeFolder(path("watched"));
  makeFolder(path("watched/tree"));
  writeText(path("watched/tree/file"), "");
  makeFolder(path("watched/tree/sub"));
  writeText(path("watched/tree/sub/deep"), "");
  writeText(path("watched/locked-file"), "");
  makeFolder(path("watched/locked-folder"));
  writeText(path("watched/locked-folder/inside"), "");
  for (const char* locked :
       {"tree/sub/deep", "tree/sub", "tree/file", "locked-file", "locked-folder"}) {
    if (!setImmutable(path(std::string("watched/") + locked), true)) {
      GTEST_SKIP() << "no immutable attribute here";
    }
  }
  DirHandle dir = open("watched");
  std::string error;
  EXPECT_EQ(RemoveStatus::kRemoved, dir.removeEntry("tree", kEntryTreeTimeLimit, error)) << error;
  EXPECT_EQ(RemoveStatus::kRemoved, dir.removeEntry("locked-file", kEntryTreeTimeLimit, error))
      << error;
  EXPECT_EQ(RemoveStatus::kFailed, dir.removeEntry("locked-folder", kEntryTreeTimeLimit, error));
  EXPECT_TRUE(entryExists(path("watched/locked-folder/inside")));
  EXPECT_FALSE(entryExists(path("watched/tree")));
}

// A file with another hard link is reachable from outside the folder too:
// unlocking it would change a file outside. Unlinking it is harmless.
TEST_F(DirHandleTest, AFileWithOtherHardLinksIsNeverUnlocked) {
  makeOutsideAndWatched();
  writeText(path("outside/loose"), "loose");
  makeFolder(path("watched/tree"));
  for (const char* link : {"watched/link", "watched/tree/link"}) {
    ASSERT_EQ(0, ::link(path("outside/keep").c_str(), path(link).c_str()));
  }
  ASSERT_EQ(0, ::link(path("outside/loose").c_str(), path("watched/loose").c_str()));
  if (!setImmutable(path("outside/keep"), true)) GTEST_SKIP() << "no immutable attribute here";
  DirHandle dir = open("watched");
  std::string error;

  EXPECT_FALSE(dir.unlock("link"));
  EXPECT_EQ(RemoveStatus::kFailed, dir.removeEntry("link", kEntryTreeTimeLimit, error));
  EXPECT_EQ(RemoveStatus::kFailed, dir.removeEntry("tree", kEntryTreeTimeLimit, error));
  EXPECT_TRUE(isImmutable(path("outside/keep")));
  EXPECT_TRUE(outsideIntact());
  EXPECT_EQ(RemoveStatus::kRemoved, dir.removeEntry("loose", kEntryTreeTimeLimit, error)) << error;
  EXPECT_EQ("loose", readText(path("outside/loose")));
}

TEST_F(DirHandleTest, AMountedFileSystemInsideATreeIsLeftAlone) {
  makeFolder(path("watched"));
  makeFolder(path("watched/tree"));
  makeFolder(path("watched/tree/mnt"));
  writeText(path("watched/tree/file"), "");
  makeFolder(path("watched/mnt"));
  ScopedTmpfs inTree(path("watched/tree/mnt")), inFolder(path("watched/mnt"));
  if (!inTree.mounted() || !inFolder.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  writeText(path("watched/tree/mnt/on-other-device"), "kept");
  writeText(path("watched/mnt/on-other-device"), "kept");
  DirHandle dir = open("watched");
  std::string error;

  EXPECT_EQ(RemoveStatus::kSkipped, dir.removeEntry("tree", kEntryTreeTimeLimit, error));
  EXPECT_FALSE(dir.isDeletable("mnt"));
  EXPECT_EQ(RemoveStatus::kSkipped, dir.removeEntry("mnt", kEntryTreeTimeLimit, error));
  EXPECT_EQ("kept", readText(path("watched/tree/mnt/on-other-device")));
  EXPECT_EQ("kept", readText(path("watched/mnt/on-other-device")));
  EXPECT_FALSE(entryExists(path("watched/tree/file")));
}

// A user who swaps folders of a tree for links to elsewhere while the tree is
// being deleted must not make the removal reach the link targets. The
// swapper exchanges each folder with a link atomically, over and over, so
// that the removal meets both at every step.
// A tree deeper than any fixed limit goes in one removal, and the number of
// descriptors it holds open stays bounded: the limit here is far below the
// tree's depth.
TEST_F(DirHandleTest, RemovesATreeOfAnyDepthWithFewDescriptors) {
  makeOutsideAndWatched();
  constexpr int kDepth = 600;
  int fd = ::open(path("watched").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int level = 0; level < kDepth; ++level) {
    const char* name = level == 0 ? "deep" : "d";
    ASSERT_EQ(0, mkdirat(fd, name, 0755));
    if (level % 100 == 0) close(::openat(fd, "file", O_CREAT | O_WRONLY, 0644));
    const int next = ::openat(fd, name, O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    ASSERT_GE(fd, 0);
  }
  close(fd);
  DirHandle watched = open("watched");
  rlimit saved{};
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
  rlimit few = saved;
  few.rlim_cur = 100;
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &few));
  std::string error;
  const RemoveStatus status = watched.removeEntry("deep", kEntryTreeTimeLimit, error);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(RemoveStatus::kRemoved, status) << error;
  EXPECT_FALSE(entryExists(path("watched/deep")));
  EXPECT_TRUE(outsideIntact());
}

// A tree that takes longer than the time limit is given up where the walk
// stands, and the message says what is left.
TEST_F(DirHandleTest, GivesUpATreeThatTakesLongerThanTheTimeLimit) {
  for (const char* folder : {"watched", "watched/tree", "watched/tree/inner"})
    makeFolder(path(folder));
  writeText(path("watched/tree/inner/file"), "");
  std::string error;
  EXPECT_EQ(RemoveStatus::kFailed,
            open("watched").removeEntry("tree", std::chrono::seconds(0), error));
  EXPECT_EQ("unlinkat(" + path("watched/tree") +
                "): took longer than 0 s, stopped; the entry is left partly removed",
            error);
  EXPECT_TRUE(entryExists(path("watched/tree")));
}

TEST_F(DirHandleTest, FoldersSwappedForLinksDuringARemovalNeverLeadOutside) {
  makeOutsideAndWatched();
  constexpr int kCanaries = 20;
  for (int i = 0; i < kCanaries; ++i) makeFolder(path("outside/canary" + std::to_string(i)));
  DirHandle dir = open("watched");
  constexpr int kRounds = 100;
  constexpr int kFolders = 3;
  constexpr int kMaxSwaps = 100000;  // the swapper stops by itself
  int swapsDuringRemoval = 0;
  for (int round = 0; round < kRounds; ++round) {
    const std::string tree = path("watched/tree");
    makeFolder(tree);
    makeFolder(path("watched/links"));
    for (int i = 0; i < kFolders; ++i) {
      const std::string folder = tree + "/d" + std::to_string(i);
      makeFolder(folder);
      for (int f = 0; f < 3; ++f) makeFolder(folder + "/sub" + std::to_string(f));
      makeLink(path("outside"), path("watched/links/d") + std::to_string(i));
    }
    std::atomic<bool> started{false}, done{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
      started = true;
      for (int n = 0; n < kMaxSwaps && !done; ++n) {
        const std::string name = "/d" + std::to_string(n % kFolders);
        if (renameat2(AT_FDCWD, (tree + name).c_str(), AT_FDCWD,
                      (path("watched/links") + name).c_str(), RENAME_EXCHANGE) == 0) {
          ++swaps;
        }
      }
    });
    while (!started) std::this_thread::yield();
    std::string error;
    dir.removeEntry("tree", kEntryTreeTimeLimit, error);
    done = true;
    swapper.join();
    swapsDuringRemoval += swaps;
    ASSERT_TRUE(outsideIntact()) << "round " << round;
    for (int i = 0; i < kCanaries; ++i) {
      ASSERT_TRUE(entryExists(path("outside/canary" + std::to_string(i)))) << "round " << round;
    }
    std::string ignored;
    dir.removeEntry("tree", kEntryTreeTimeLimit, ignored);  // whatever the swapper kept alive
    dir.removeEntry("links", kEntryTreeTimeLimit, ignored);
  }
  EXPECT_GT(swapsDuringRemoval, 0);
}

class DeletabilityTest : public DirHandleTest {
 protected:
  static constexpr uid_t kOtherUser = 65534;
  // Runs |check| as the effective user and group |user|, then as root again.
  template <typename Check>
  bool as(uid_t user, Check check) {
    EXPECT_EQ(0, setegid(user));
    EXPECT_EQ(0, seteuid(user));
    const bool result = check();
    EXPECT_EQ(0, seteuid(0));
    EXPECT_EQ(0, setegid(0));
    return result;
  }
};

TEST_F(DeletabilityTest, FollowsFolderPermissionsTheStickyBitAndFolderFlags) {
  if (!runningAsRoot()) GTEST_SKIP() << "needs root to act as other users";
  const struct {
    const char* label;
    unsigned folderMode;
    uid_t folderOwner;
    uid_t entryOwner;
    uid_t user;
    bool expected;
  } kCases[] = {
      {"root, plain folder", 0755, 0, 0, 0, true},
      {"root, sticky folder", 01777, kOtherUser, kOtherUser, 0, true},
      {"no write permission", 0755, 0, kOtherUser, kOtherUser, false},
      {"write but no search", 0776, 0, kOtherUser, kOtherUser, false},
      {"open folder", 0777, 0, 0, kOtherUser, true},
      {"sticky, entry of another", 01777, 0, 0, kOtherUser, false},
      {"sticky, own entry", 01777, 0, kOtherUser, kOtherUser, true},
      {"sticky, own folder", 01777, kOtherUser, 0, kOtherUser, true},
  };
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const std::string folder = "f" + std::to_string(n++);
    makeFolder(path(folder), c.folderMode);
    writeText(path(folder + "/entry"), "");
    ASSERT_EQ(0, chown(path(folder).c_str(), c.folderOwner, 0));
    ASSERT_EQ(0, chmod(path(folder).c_str(), c.folderMode));
    ASSERT_EQ(0, chown(path(folder + "/entry").c_str(), c.entryOwner, 0));
    DirHandle dir = open(folder);
    EXPECT_EQ(c.expected, as(c.user, [&] { return dir.isDeletable("entry"); }));
  }
}

TEST_F(DeletabilityTest, ALockedOrAppendOnlyFolderStopsEvenRoot) {
  makeFolder(path("locked"));
  writeText(path("locked/entry"), "");
  DirHandle dir = open("locked");
  EXPECT_TRUE(dir.isDeletable("entry"));
  EXPECT_FALSE(dir.isDeletable("gone"));
  if (!setImmutable(path("locked"), true)) GTEST_SKIP() << "no immutable attribute here";
  EXPECT_FALSE(dir.isDeletable("entry"));
  setImmutable(path("locked"), false);
  ASSERT_EQ(0, system(("chattr +a '" + path("locked") + "' 2>/dev/null").c_str()));
  EXPECT_FALSE(dir.isDeletable("entry"));
  system(("chattr -a '" + path("locked") + "'").c_str());
}

TEST_F(DirHandleTest, CreatingAFileNeverWritesThroughAPlantedLink) {
  makeOutsideAndWatched();
  makeLink(path("outside/keep"), path("watched/read-me"));
  makeLink(path("outside/new"), path("watched/dangling"));
  DirHandle dir = open("watched");
  std::string error;

  EXPECT_EQ(CreateStatus::kExists, dir.createFileExclusive("read-me", "text", 0444, error));
  EXPECT_EQ(CreateStatus::kExists, dir.createFileExclusive("dangling", "text", 0444, error));
  EXPECT_TRUE(outsideIntact());
  EXPECT_FALSE(entryExists(path("outside/new")));

  EXPECT_EQ(CreateStatus::kCreated, dir.createFileExclusive("fresh", "text", 0444, error));
  struct stat st;
  ASSERT_EQ(0, lstat(path("watched/fresh").c_str(), &st));
  EXPECT_EQ(0444u, st.st_mode & 07777);
  EXPECT_EQ("text", readText(path("watched/fresh")));
}

}  // namespace
}  // namespace sweeprun
