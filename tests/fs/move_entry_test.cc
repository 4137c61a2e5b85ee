#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "fs/dir_handle.h"
#include "fs/place_entry.h"
#include "os/run_world.h"
#include "support/fs_tree.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

DirHandle openFolder(const std::string& path) {
  DirHandle dir;
  std::string error;
  EXPECT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(path, dir, error)) << error;
  return dir;
}

std::vector<std::string> namesIn(const std::string& path) {
  bool ok = false;
  std::vector<std::string> names = openFolder(path).listNames(ok).strings();
  std::sort(names.begin(), names.end());
  return names;
}

struct stat statOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
  return st;
}

class MoveEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    makeFolder(from_);
    makeFolder(to_);
  }
  TempDir tmp_;
  std::string from_ = tmp_.file("from");
  std::string to_ = tmp_.file("to");
};

TEST_F(MoveEntryTest, NeverReplacesAnExistingTarget) {
  writeText(from_ + "/file", "source");
  makeFolder(from_ + "/folder");
  writeText(to_ + "/taken-file", "target");
  makeFolder(to_ + "/taken-folder");
  makeLink("somewhere", to_ + "/taken-link");
  DirHandle from = openFolder(from_), to = openFolder(to_);
  for (const char* source : {"file", "folder"}) {
    for (const char* target : {"taken-file", "taken-folder", "taken-link"}) {
      SCOPED_TRACE(std::string(source) + " onto " + target);
      std::string error;
      EXPECT_EQ(MoveStatus::kTargetExists,
                from.moveEntry(source, to, target, kEntryTreeTimeLimit, error));
    }
  }
  EXPECT_EQ("source", readText(from_ + "/file"));
  EXPECT_EQ("target", readText(to_ + "/taken-file"));
  EXPECT_TRUE(entryExists(from_ + "/folder"));
  EXPECT_TRUE(isLink(to_ + "/taken-link"));
}

TEST_F(MoveEntryTest, MovesALinkAsTheLinkAndReportsAGoneSource) {
  makeFolder(tmp_.file("outside"));
  makeLink(tmp_.file("outside"), from_ + "/link");
  DirHandle from = openFolder(from_), to = openFolder(to_);
  std::string error;
  EXPECT_EQ(MoveStatus::kMoved, from.moveEntry("link", to, "link", kEntryTreeTimeLimit, error))
      << error;
  EXPECT_TRUE(isLink(to_ + "/link"));
  EXPECT_TRUE(namesIn(tmp_.file("outside")).empty());
  EXPECT_EQ(MoveStatus::kGone, from.moveEntry("link", to, "again", kEntryTreeTimeLimit, error));
}

TEST(CollisionNameTest, PutsTheNumberBeforeTheLastExtension) {
  const struct {
    const char* name;
    unsigned long n;
    const char* expected;
  } kCases[] = {
      {"report.pdf", 1, "report copy 1.pdf"},
      {"report.pdf", 12, "report copy 12.pdf"},
      {"archive.tar.gz", 1, "archive.tar copy 1.gz"},
      {"README", 2, "README copy 2"},
      {".bashrc", 1, ".bashrc copy 1"},
      {".config.old", 1, ".config copy 1.old"},
      {"trailing.", 1, "trailing. copy 1"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, collisionName(c.name, c.n)) << c.name << " " << c.n;
  }
}

TEST(PlaceableNameTest, CutsTheStemOfANameTooLongAndKeepsTheRest) {
  const std::string e4 = "\xC3\xA9";  // a character of two bytes
  const struct {
    const char* label;
    std::string name;
    unsigned long n;
    size_t max;
    std::string expected;
  } kCases[] = {
      {"fits", "report.pdf", 0, 20, "report.pdf"},
      {"fits with its number", "report.pdf", 1, 20, "report copy 1.pdf"},
      {"stem cut, extension kept", "abcdefghijklmnop.pdf", 0, 16, "abcdefghijkl.pdf"},
      {"stem cut for the number", "abcdefghijklmnop.pdf", 2, 16, "abcde copy 2.pdf"},
      {"no extension", "abcdefghij", 0, 4, "abcd"},
      {"an extension too long to keep", "a.bcdefghij", 0, 8, "a.bcdefg"},
      {"a character never cut in two", "ab" + e4 + e4, 0, 5, "ab" + e4},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, placeableName(c.name, c.n, c.max)) << c.label;
    EXPECT_LE(placeableName(c.name, c.n, c.max).size(), c.max) << c.label;
  }
}

TEST_F(MoveEntryTest, PlacingTakesTheFirstFreeCollisionName) {
  writeText(from_ + "/notes.txt", "new");
  writeText(to_ + "/notes.txt", "old");
  writeText(to_ + "/notes copy 1.txt", "older");
  DirHandle from = openFolder(from_), to = openFolder(to_);
  std::string placed, error;
  EXPECT_EQ(MoveStatus::kMoved,
            placeEntry(from, "notes.txt", to, kEntryTreeTimeLimit, placed, error))
      << error;
  EXPECT_EQ("notes copy 2.txt", placed);
  EXPECT_EQ("new", readText(to_ + "/notes copy 2.txt"));
  EXPECT_EQ("old", readText(to_ + "/notes.txt"));
}

// Moves to another volume go through a copy. /dev/shm is a tmpfs on most
// machines; where it shares the device of the temp folder there is nothing
// to test.
class CrossDeviceMoveTest : public MoveEntryTest {
 protected:
  void SetUp() override {
    MoveEntryTest::SetUp();
    char pattern[] = "/dev/shm/sweeprun-XXXXXX";
    if (!mkdtemp(pattern)) GTEST_SKIP() << "no /dev/shm";
    other_ = pattern;
    struct stat a, b;
    if (stat(other_.c_str(), &a) < 0 || stat(from_.c_str(), &b) < 0 || a.st_dev == b.st_dev) {
      GTEST_SKIP() << "/dev/shm is on the same device";
    }
  }
  void TearDown() override {
    clearImmutableBelow(from_);
    if (!other_.empty()) system(("rm -rf '" + other_ + "'").c_str());
  }
  std::string other_;
};

// A tree whose check and copy take longer than the time limit is not moved,
// and nothing of the copy is left behind.
TEST_F(CrossDeviceMoveTest, LeavesATreeThatTakesLongerThanTheTimeLimit) {
  makeFolder(from_ + "/tree");
  makeFolder(from_ + "/tree/inner");
  writeText(from_ + "/tree/inner/file", "contents");
  DirHandle from = openFolder(from_), to = openFolder(other_);
  std::string error;
  EXPECT_EQ(MoveStatus::kFailed,
            from.moveEntry("tree", to, "tree", std::chrono::seconds(0), error));
  EXPECT_EQ("copy(" + from_ +
                "/tree): took longer than 0 s, stopped; the entry is left as it was, not moved",
            error);
  EXPECT_EQ("contents", readText(from_ + "/tree/inner/file"));
  EXPECT_TRUE(namesIn(other_).empty());
}

TEST_F(CrossDeviceMoveTest, CopiesTheEntryAsItIsAndRemovesTheSource) {
  const std::string tree = from_ + "/tree";
  makeFolder(tree, 0750);
  writeText(tree + "/data", "contents");
  chmod((tree + "/data").c_str(), 0640);
  makeLink("../elsewhere", tree + "/link");
  makeFolder(tree + "/empty", 0710);
  mkfifo((tree + "/fifo").c_str(), 0600);
  const timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
  utimensat(AT_FDCWD, (tree + "/data").c_str(), times, 0);
  utimensat(AT_FDCWD, tree.c_str(), times, 0);
  DirHandle from = openFolder(from_), to = openFolder(other_);

  std::string error;
  ASSERT_EQ(MoveStatus::kMoved, from.moveEntry("tree", to, "moved", kEntryTreeTimeLimit, error))
      << error;
  const std::string moved = other_ + "/moved";
  EXPECT_FALSE(entryExists(tree));
  EXPECT_EQ((std::vector<std::string>{"moved"}), namesIn(other_));  // no temporary left
  EXPECT_EQ("contents", readText(moved + "/data"));
  EXPECT_EQ(0640u, statOf(moved + "/data").st_mode & 07777);
  EXPECT_EQ(1200000000, statOf(moved + "/data").st_mtim.tv_sec);
  EXPECT_EQ(1200000000, statOf(moved).st_mtim.tv_sec);
  EXPECT_EQ(0750u, statOf(moved).st_mode & 07777);
  EXPECT_EQ(0710u, statOf(moved + "/empty").st_mode & 07777);
  EXPECT_TRUE(S_ISFIFO(statOf(moved + "/fifo").st_mode));
  char target[64] = {};
  ASSERT_GT(readlink((moved + "/link").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ("../elsewhere", target);
}

// A source that the copy could not delete afterwards would stay and be copied
// again on every check ('tree', 'tree copy 1', ...): it is not copied at all.
TEST_F(CrossDeviceMoveTest, OnlyASourceThatCouldBeDeletedIsCopied) {
  if (!runningAsRoot()) GTEST_SKIP() << "needs root to lock entries and act as another user";
  constexpr uid_t kOtherUser = 65534;
  const struct {
    const char* label;
    uid_t user;
    bool (*prepare)(const std::string& tree);
    MoveStatus expected;
  } kCases[] = {
      {"the user's own tree", kOtherUser, [](const std::string&) { return true; },
       MoveStatus::kMoved},
      {"a locked file deep inside", 0,
       [](const std::string& tree) { return setImmutable(tree + "/sub/deep", true); },
       MoveStatus::kFailed},
      {"an append-only file deep inside", 0,
       [](const std::string& tree) { return setAppendOnly(tree + "/sub/deep", true); },
       MoveStatus::kFailed},
      {"the entry itself locked", 0,
       [](const std::string& tree) { return setImmutable(tree, true); }, MoveStatus::kFailed},
      {"a folder the user may not write", kOtherUser,
       [](const std::string& tree) { return chmod((tree + "/sub").c_str(), 0555) == 0; },
       MoveStatus::kFailed},
      {"another's file in a sticky folder", kOtherUser,
       [](const std::string& tree) {
         return chown((tree + "/sub").c_str(), 0, 0) == 0 &&
                chown((tree + "/sub/deep").c_str(), 0, 0) == 0 &&
                chmod((tree + "/sub").c_str(), 01777) == 0;
       },
       MoveStatus::kFailed},
  };
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const std::string name = "tree" + std::to_string(n++);
    const std::string tree = from_ + "/" + name;
    makeFolder(tree);
    makeFolder(tree + "/sub");
    writeText(tree + "/sub/deep", "deep");
    for (const std::string& path : {from_, other_, tree, tree + "/sub", tree + "/sub/deep"}) {
      ASSERT_EQ(0, chown(path.c_str(), c.user, c.user));
    }
    if (!c.prepare(tree)) GTEST_SKIP() << "cannot prepare " << c.label;
    DirHandle from = openFolder(from_), to = openFolder(other_);
    std::string error;
    MoveStatus status;
    {
      ScopedEffectiveUser user(c.user);
      status = from.moveEntry(name, to, name, kEntryTreeTimeLimit, error);
    }
    EXPECT_EQ(c.expected, status) << error;
    if (c.expected == MoveStatus::kMoved) {
      EXPECT_EQ("deep", readText(other_ + "/" + name + "/sub/deep"));
    } else {
      EXPECT_EQ("deep", readText(tree + "/sub/deep"));
      EXPECT_TRUE(namesIn(other_).empty());
    }
    system(("rm -rf '" + other_ + "'/*").c_str());
  }
}

TEST_F(CrossDeviceMoveTest, AnExistingTargetStopsTheMoveBeforeAnythingChanges) {
  writeText(from_ + "/file", "source");
  writeText(other_ + "/file", "target");
  DirHandle from = openFolder(from_), to = openFolder(other_);
  std::string error;
  EXPECT_EQ(MoveStatus::kTargetExists,
            from.moveEntry("file", to, "file", kEntryTreeTimeLimit, error));
  EXPECT_EQ("source", readText(from_ + "/file"));
  EXPECT_EQ("target", readText(other_ + "/file"));
  EXPECT_EQ((std::vector<std::string>{"file"}), namesIn(other_));
}

TEST_F(CrossDeviceMoveTest, ACopyThatFailsPartWayLeavesNothingBehindAndTheSourceIntact) {
  const std::string small = other_ + "/small";
  makeFolder(small);
  ScopedTmpfs mount(small, "size=64k");
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  makeFolder(from_ + "/tree");
  writeText(from_ + "/tree/a", "first");
  writeText(from_ + "/tree/big", std::string(1 << 20, 'x'));
  DirHandle from = openFolder(from_), to = openFolder(small);
  std::string error;
  EXPECT_EQ(MoveStatus::kFailed, from.moveEntry("tree", to, "tree", kEntryTreeTimeLimit, error));
  EXPECT_NE(std::string::npos, error.find("No space")) << error;
  EXPECT_TRUE(namesIn(small).empty());
  EXPECT_EQ("first", readText(from_ + "/tree/a"));
  EXPECT_EQ(size_t{1} << 20, readText(from_ + "/tree/big")->size());
}

// The destination of a move to another volume may belong to the user whose
// entry is moved. Whatever name the copy takes there, that user can swap it
// for a link at any moment; the link must never lead the copy's own changes
// (mode, owner, times) to the file behind it.
TEST_F(CrossDeviceMoveTest, NamesSwappedForLinksDuringTheCopyNeverRedirectIt) {
  const std::string victim = tmp_.file("victim");
  writeText(victim, "keep");
  ASSERT_EQ(0, chmod(victim.c_str(), 0600));
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, other_.c_str(), IN_CREATE), 0);
  std::atomic<bool> done{false};
  // Swaps every name the copy makes in the destination for a link to the
  // victim, as fast as the events come.
  std::thread swapper([&] {
    alignas(inotify_event) char events[4096];
    int stolen = 0;
    while (!done) {
      pollfd p{watch, POLLIN, 0};
      if (poll(&p, 1, 5) <= 0) continue;
      const ssize_t n = read(watch, events, sizeof events);
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        const std::string name = event->len ? event->name : "";
        if (name.rfind(".sweeprun-move-", 0) != 0) continue;
        const std::string path = other_ + "/" + name;
        if (rename(path.c_str(), (other_ + "/stolen-" + std::to_string(stolen++)).c_str()) == 0) {
          symlink(victim.c_str(), path.c_str());
        }
      }
    }
  });
  for (int round = 0; round < 60; ++round) {
    // A FIFO, a file and a folder, each as the moved entry itself.
    const std::string name = "entry" + std::to_string(round);
    const std::string entry = from_ + "/" + name;
    switch (round % 3) {
      case 0:
        ASSERT_EQ(0, mkfifo(entry.c_str(), 0600));
        break;
      case 1:
        writeText(entry, "data");
        break;
      case 2:
        makeFolder(entry);
        ASSERT_EQ(0, mkfifo((entry + "/fifo").c_str(), 0600));
        break;
    }
    ASSERT_EQ(0, chmod(entry.c_str(), 06777));
    DirHandle from = openFolder(from_), to = openFolder(other_);
    std::string error;
    from.moveEntry(name, to, name, kEntryTreeTimeLimit, error);
  }
  done = true;
  swapper.join();
  close(watch);
  EXPECT_EQ(0600u, statOf(victim).st_mode & 07777);
  EXPECT_EQ("keep", readText(victim));
}

// A link inside a moved tree is copied as a link: its owner and times are set
// on the new link, never on the file it points to.
TEST_F(CrossDeviceMoveTest, ALinkInsideTheTreeLeavesItsTargetAlone) {
  if (!runningAsRoot()) GTEST_SKIP() << "needs root to copy owners";
  constexpr uid_t kOtherUser = 65534;
  const std::string victim = tmp_.file("victim");
  writeText(victim, "keep");
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, victim.c_str(), old, 0));
  makeFolder(from_ + "/tree");
  makeLink(victim, from_ + "/tree/link");
  ASSERT_EQ(0, lchown((from_ + "/tree/link").c_str(), kOtherUser, kOtherUser));
  const timespec linkTimes[2] = {{1500000000, 0}, {1500000000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, (from_ + "/tree/link").c_str(), linkTimes, AT_SYMLINK_NOFOLLOW));
  DirHandle from = openFolder(from_), to = openFolder(other_);
  std::string error;
  ASSERT_EQ(MoveStatus::kMoved, from.moveEntry("tree", to, "tree", kEntryTreeTimeLimit, error))
      << error;
  EXPECT_EQ(0u, statOf(victim).st_uid);
  EXPECT_EQ(1000000000, statOf(victim).st_mtim.tv_sec);
  EXPECT_EQ(kOtherUser, statOf(other_ + "/tree/link").st_uid);
  EXPECT_EQ(1500000000, statOf(other_ + "/tree/link").st_mtim.tv_sec);
}

// What a move killed part-way leaves in its destination: the staging folder
// (the effective user's, 0700) with part of a copy inside.
void plantLeftover(const std::string& path) {
  makeFolder(path, 0700);
  makeFolder(path + "/tree", 0700);
  writeText(path + "/tree/part", "partial");
  makeLink("/etc/passwd", path + "/tree/link");
  mkfifo((path + "/tree/fifo").c_str(), 0600);
}

TEST_F(MoveEntryTest, LeftoverStagingFoldersGoAndLookAlikesStay) {
  const std::string prefix = to_ + "/.sweeprun-move-";
  const std::string leftover = prefix + "0123456789abcdef";
  plantLeftover(leftover);
  plantLeftover(tmp_.file("elsewhere"));
  std::vector<std::unique_ptr<ScopedTmpfs>> mounts;
  int held = -1;  // an open descriptor holding the lock of the folder in use
  const struct {
    const char* label;
    std::string name;
    std::function<bool(const std::string& path)> make;
    bool needsRoot;
  } kLookAlikes[] = {
      {"another user's", "00000000000000a1",
       [](const std::string& path) {
         plantLeftover(path);
         return chown(path.c_str(), 65534, 65534) == 0;
       },
       true},
      {"another mode", "00000000000000a2",
       [](const std::string& path) {
         plantLeftover(path);
         return chmod(path.c_str(), 0750) == 0;
       },
       false},
      {"a digit short", "00000000000000a",
       [](const std::string& path) { return plantLeftover(path), true; }, false},
      {"upper-case digits", "00000000000000A4",
       [](const std::string& path) { return plantLeftover(path), true; }, false},
      {"a link to a leftover", "00000000000000a5",
       [&](const std::string& path) {
         return symlink(tmp_.file("elsewhere").c_str(), path.c_str()) == 0;
       },
       false},
      {"in use", "00000000000000a6",
       [&](const std::string& path) {
         plantLeftover(path);
         held = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
         return held >= 0 && flock(held, LOCK_EX) == 0;
       },
       false},
      {"a mount point", "00000000000000a7",
       [&](const std::string& path) {
         makeFolder(path, 0700);
         mounts.push_back(std::make_unique<ScopedTmpfs>(path, "size=64k,mode=0700"));
         if (!mounts.back()->mounted()) return false;
         makeFolder(path + "/tree", 0700);
         writeText(path + "/tree/part", "partial");
         return true;
       },
       true},
  };
  std::vector<std::string> stay;
  for (const auto& c : kLookAlikes) {
    if (c.needsRoot && !runningAsRoot()) continue;
    ASSERT_TRUE(c.make(prefix + c.name)) << c.label;
    stay.push_back(prefix + c.name);
  }

  const std::vector<LeftoverStaging> found = removeLeftoverStaging(openFolder(to_));
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ(leftover, found[0].path);
  EXPECT_EQ("", found[0].error);
  EXPECT_FALSE(entryExists(leftover));
  for (const std::string& path : stay) EXPECT_TRUE(entryExists(path + "/tree/part")) << path;
  EXPECT_EQ("partial", readText(tmp_.file("elsewhere/tree/part")));
  if (held >= 0) close(held);
}

// A move under way holds its staging folder: a run that clears leftovers
// meanwhile in the same destination leaves it alone.
TEST_F(CrossDeviceMoveTest, AMoveUnderWayIsNeverTakenForALeftover) {
  const std::string content(4 << 20, 'x');
  DirHandle from = openFolder(from_), to = openFolder(other_);
  std::atomic<bool> done{false};
  std::thread cleaner([&] {
    while (!done) removeLeftoverStaging(to);
  });
  for (int round = 0; round < 8; ++round) {
    const std::string name = "big" + std::to_string(round);
    writeText(from_ + "/" + name, content);
    std::string error;
    EXPECT_EQ(MoveStatus::kMoved, from.moveEntry(name, to, name, kEntryTreeTimeLimit, error))
        << error;
    EXPECT_EQ(content.size(), readText(other_ + "/" + name).value_or("").size());
  }
  done = true;
  cleaner.join();
}

}  // namespace
}  // namespace sweeprun
