#include "engine/removal.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "fs/entry_attributes.h"
#include "fs/path.h"
#include "fs/trash_info.h"
#include "model/record_keys.h"
#include "os/date_style.h"
#include "support/engine_fixture.h"
#include "support/fs_tree.h"
#include "support/trash_tools.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kSomeoneElse = 65534;

bool canLock(const std::string& scratch) {
  writeText(scratch, "");
  return setImmutable(scratch, true) && setImmutable(scratch, false);
}

class RemovalTest : public EngineTest {
 public:
  RemovalTest() : inbox(at("inbox")) { makeFolder(inbox); }

  // Through |session| when given, else through a remover of its own.
  RemovalResult remove(TrashFolder& folder, const std::string& name, Remover* session = nullptr) {
    DirHandle watched;
    std::string error;
    EXPECT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(folder.path().data(), watched, error))
        << error;
    return session ? session->remove(folder, watched, name, nullptr).result
                   : removeOnce(folder, watched, name).result;
  }

  // One removal by a remover that keeps nothing for a next one.
  RemovalPlan removeOnce(TrashFolder& folder, const Folder& watched, const std::string& name,
                         const EntryAttributes* known = nullptr) {
    return Remover(context_, diskFolders()).remove(folder, watched, name, known);
  }

  TrashFolder moving(const std::string& folderPath, const std::string& target) {
    TrashFolder folder = watching(folderPath, {}, TrashFolder::kMoveAction);
    folder.setValue("move", Value::text(target));
    return folder;
  }

  const std::string inbox;
};

// Every failure leaves the entry where it is and counts no move.
TEST_F(RemovalTest, FailuresAnswerTheirCodeAndTouchNothing) {
  const bool lockable = canLock(at("probe"));
  const struct {
    const char* label;
    RemovalResult expected;
    std::function<TrashFolder(RemovalTest&)> setUp;
    bool needsLock = false;
  } kCases[] = {
      {"user may not delete: locked watched folder", RemovalResult::kNotDeletable,
       [](RemovalTest& t) {
         setImmutable(t.inbox, true);
         return t.watching(t.inbox, {}, TrashFolder::kDeleteAction);
       },
       true},
      {"user may not delete, Trash action", RemovalResult::kNotDeletable,
       [](RemovalTest& t) {
         setImmutable(t.inbox, true);
         return t.watching(t.inbox, {}, TrashFolder::kTrashAction);
       },
       true},
      {"user may not delete, move action", RemovalResult::kNotDeletable,
       [](RemovalTest& t) {
         makeFolder(t.at("target"));
         setImmutable(t.inbox, true);
         return t.moving(t.inbox, t.at("target"));
       },
       true},
      {"no user Trash known", RemovalResult::kNoTrash,
       [](RemovalTest& t) {
         t.context_.userTrashPath.reset();
         return t.watching(t.inbox, {}, TrashFolder::kTrashAction);
       }},
      {"system mode, entry outside the users folder", RemovalResult::kNoTrash,
       [](RemovalTest& t) {
         t.context_.systemMode = true;
         t.context_.userTrashPath.reset();
         return t.watching(t.inbox, {}, TrashFolder::kTrashAction);
       }},
      {"move-to folder absent, may be absent", RemovalResult::kDestinationAbsentNow,
       [](RemovalTest& t) {
         TrashFolder folder = t.moving(t.inbox, t.at("unplugged"));
         folder.setValue("temp", Value::boolean(true));
         return folder;
       }},
      {"move-to folder absent", RemovalResult::kDestinationMissing,
       [](RemovalTest& t) { return t.moving(t.inbox, t.at("unplugged")); }},
      {"move-to path is a file", RemovalResult::kDestinationNotDirectory,
       [](RemovalTest& t) {
         writeText(t.at("target"), "");
         return t.moving(t.inbox, t.at("target"));
       }},
      {"dated sub-folder name taken by a file", RemovalResult::kDestinationNotDirectory,
       [](RemovalTest& t) {
         makeFolder(t.at("target"));
         writeText(t.at("target/" + datedFolderName(t.now())), "");
         TrashFolder folder = t.moving(t.inbox, t.at("target"));
         folder.setValue("datf", Value::boolean(true));
         return folder;
       }},
      {"dated sub-folder name taken by a link in the Trash",
       RemovalResult::kDestinationNotDirectory,
       [](RemovalTest& t) {
         fs::create_directories(t.trashFiles());
         makeFolder(t.at("elsewhere"));
         makeLink(t.at("elsewhere"), t.trashFiles() + "/" + datedFolderName(t.now()));
         TrashFolder folder = t.watching(t.inbox, {}, TrashFolder::kTrashAction);
         folder.setValue("datf", Value::boolean(true));
         return folder;
       }},
      {"Trash path is a file", RemovalResult::kDestinationNotDirectory,
       [](RemovalTest& t) {
         fs::create_directories(t.home() + "/.local/share/Trash");
         writeText(t.trashFiles(), "");
         return t.watching(t.inbox, {}, TrashFolder::kTrashAction);
       }},
      {"Trash cannot be made", RemovalResult::kDestinationMissing,
       [](RemovalTest& t) {
         writeText(t.at("blocker"), "");
         t.context_.userTrashPath = t.at("blocker/share/Trash/files");
         return t.watching(t.inbox, {}, TrashFolder::kTrashAction);
       }},
      {"deletion fails: the folder itself is locked", RemovalResult::kDeletionFailed,
       [](RemovalTest& t) {
         fs::remove(t.inbox + "/notes.txt");
         makeFolder(t.inbox + "/notes.txt");
         writeText(t.inbox + "/notes.txt/inner", "");
         setImmutable(t.inbox + "/notes.txt", true);
         return t.watching(t.inbox, {}, TrashFolder::kDeleteAction);
       },
       true},
      {"move fails: a locked file is not unlocked for a move", RemovalResult::kMoveFailed,
       [](RemovalTest& t) {
         setImmutable(t.inbox + "/notes.txt", true);
         return t.watching(t.inbox, {}, TrashFolder::kTrashAction);
       },
       true},
      {"move fails: the destination is locked", RemovalResult::kMoveFailed,
       [](RemovalTest& t) {
         makeFolder(t.at("target"));
         setImmutable(t.at("target"), true);
         return t.moving(t.inbox, t.at("target"));
       },
       true},
  };
  const Process saved = context_;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    if (c.needsLock && !lockable) continue;  // needs root and a file system with the flag
    writeText(inbox + "/notes.txt", "keep me");
    TrashFolder folder = c.setUp(*this);

    EXPECT_EQ(c.expected, remove(folder, "notes.txt"));
    EXPECT_TRUE(entryExists(inbox + "/notes.txt"));
    EXPECT_EQ(0u, folder.value("cout").asUnsigned());

    clearImmutableBelow(at(""));
    for (const char* made : {"target", "blocker", "elsewhere", "home/.local"})
      fs::remove_all(at(made));
    fs::remove_all(inbox + "/notes.txt");
    context_.systemMode = saved.systemMode;
    context_.userTrashPath = saved.userTrashPath;
  }
}

TEST_F(RemovalTest, TrashTakesCollisionNamesAndWritesInfoFiles) {
  TrashFolder folder = watching(inbox, {}, TrashFolder::kTrashAction);
  for (const char* expected : {"notes.txt", "notes copy 1.txt", "notes copy 2.txt"}) {
    SCOPED_TRACE(expected);
    writeText(inbox + "/notes.txt", expected);
    ASSERT_EQ(RemovalResult::kRemoved, remove(folder, "notes.txt"));
    EXPECT_FALSE(entryExists(inbox + "/notes.txt"));
    EXPECT_EQ(expected, readText(trashFiles() + "/" + expected).value_or("(missing)"));
    EXPECT_EQ(trashInfoText(inbox + "/notes.txt", now()),
              readText(trashInfo() + "/" + expected + ".trashinfo").value_or("(missing)"));
  }
  EXPECT_EQ(3u, folder.value("cout").asUnsigned());
}

TEST_F(RemovalTest, TrashToolsListTheTrashedEntry) {
  if (std::system("command -v trash-list > /dev/null 2>&1") != 0) GTEST_SKIP() << "no trash-list";
  writeText(inbox + "/old report #1.txt", "");
  TrashFolder folder = watching(inbox, {}, TrashFolder::kTrashAction);
  ASSERT_EQ(RemovalResult::kRemoved, remove(folder, "old report #1.txt"));

  const std::string command = "HOME='" + home() + "' XDG_DATA_HOME='" + home() +
                              "/.local/share' '" + kHermeticTrashTool + "' trash-list 2>/dev/null";
  std::string listed;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_TRUE(pipe);
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) listed.append(buffer, n);
  if (const int status = pclose(pipe); WIFEXITED(status) && WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "trash-list cannot be kept from the host's volumes here";
  EXPECT_NE(std::string::npos, listed.find(" " + inbox + "/old report #1.txt\n")) << listed;
}

TEST_F(RemovalTest, MovesGoIntoTheDatedSubFolder) {
  ScopedEnv zone("TZ", "UTC");
  const struct {
    const char* locale;
    const char* folderName;
  } kCases[] = {{"ja_JP.UTF-8", "2026-12-07"}, {"en_US.UTF-8", "Dec 7, 2026"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.locale);
    ScopedEnv locale("LC_ALL", c.locale);
    makeFolder(at("target"));
    TrashFolder mover = moving(inbox, at("target"));
    TrashFolder trasher = watching(inbox, {}, TrashFolder::kTrashAction);
    for (TrashFolder* folder : {&mover, &trasher})
      folder->setValue(folder_key::kDatedFolder, Value::boolean(true));

    for (const char* expected : {"a.txt", "a copy 1.txt"}) {
      writeText(inbox + "/a.txt", "");
      ASSERT_EQ(RemovalResult::kRemoved, remove(mover, "a.txt"));
      EXPECT_TRUE(entryExists(at("target/") + c.folderName + "/" + expected));
      writeText(inbox + "/a.txt", "");
      ASSERT_EQ(RemovalResult::kRemoved, remove(trasher, "a.txt"));
      EXPECT_TRUE(entryExists(trashFiles() + "/" + c.folderName + "/" + expected));
    }
    // The dated folder carries the info file; the entries in it need none.
    EXPECT_TRUE(entryExists(trashInfo() + "/" + c.folderName + ".trashinfo"));
    EXPECT_FALSE(entryExists(trashInfo() + "/a.txt.trashinfo"));
    EXPECT_EQ(2u, mover.value("cout").asUnsigned());
    fs::remove_all(at("target"));
  }
}

// A session opens the Trash and the move-to folder once: a folder swapped
// for a link after the first entry is never followed, the later entries
// follow the folder the first one went into. Info files are private.
TEST_F(RemovalTest, ASessionKeepsItsFoldersOpenAndFollowsNoSwappedLink) {
  const std::string trash = fs::path(trashFiles()).parent_path().string();
  makeFolder(at("target"));
  makeFolder(at("outside"));
  TrashFolder trasher = watching(inbox, {}, TrashFolder::kTrashAction);
  TrashFolder mover = moving(inbox, at("target"));
  Remover session(context_, diskFolders());
  for (const char* name : {"a.txt", "b.txt"}) writeText(inbox + "/" + name, name);
  ASSERT_EQ(RemovalResult::kRemoved, remove(trasher, "a.txt", &session));
  ASSERT_EQ(RemovalResult::kRemoved, remove(mover, "b.txt", &session));
  EXPECT_EQ(0600u,
            static_cast<unsigned>(fs::status(trashInfo() + "/a.txt.trashinfo").permissions()));

  fs::rename(trash, at("kept-trash"));
  fs::create_directory_symlink(at("outside"), trash);
  fs::rename(at("target"), at("kept-target"));
  fs::create_directory_symlink(at("outside"), at("target"));
  for (const char* name : {"c.txt", "d.txt"}) writeText(inbox + "/" + name, name);
  ASSERT_EQ(RemovalResult::kRemoved, remove(trasher, "c.txt", &session));
  ASSERT_EQ(RemovalResult::kRemoved, remove(mover, "d.txt", &session));
  EXPECT_TRUE(entryExists(at("kept-trash/files/c.txt")));
  EXPECT_TRUE(entryExists(at("kept-trash/info/c.txt.trashinfo")));
  EXPECT_TRUE(entryExists(at("kept-target/d.txt")));
  EXPECT_TRUE(fs::is_empty(at("outside")));
}

// What the run's journal records of each removal comes with the outcome.
TEST_F(RemovalTest, TheOutcomeTellsWhereTheEntryWentAndWhatWasMadeForIt) {
  ScopedEnv zone("TZ", "UTC");
  ScopedEnv locale("LC_ALL", "ja_JP.UTF-8");
  makeFolder(at("target"));
  TrashFolder mover = moving(inbox, at("target"));
  TrashFolder trasher = watching(inbox, {}, TrashFolder::kTrashAction);
  TrashFolder datedTrasher = trasher;
  for (TrashFolder* folder : {&mover, &datedTrasher})
    folder->setValue(folder_key::kDatedFolder, Value::boolean(true));
  DirHandle watched;
  std::string error;
  ASSERT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(inbox, watched, error)) << error;

  const struct {
    TrashFolder* folder;
    const char* name;
    std::string placedAt, infoFile, createdFolder, createdFolderInfo;
  } kCases[] = {
      {&trasher, "a.txt", trashFiles() + "/a.txt", trashInfo() + "/a.txt.trashinfo", "", ""},
      {&mover, "b.txt", at("target/2026-12-07/b.txt"), "", at("target/2026-12-07"), ""},
      {&mover, "c.txt", at("target/2026-12-07/c.txt"), "", "", ""},  // the folder was there
      {&datedTrasher, "d.txt", trashFiles() + "/2026-12-07/d.txt", "", trashFiles() + "/2026-12-07",
       trashInfo() + "/2026-12-07.trashinfo"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    writeText(inbox + "/" + c.name, c.name);
    const RemovalPlan done = removeOnce(*c.folder, watched, c.name);
    ASSERT_EQ(RemovalResult::kRemoved, done.result);
    EXPECT_EQ(c.placedAt, joinPath(done.destination, done.targetName));
    EXPECT_EQ(c.infoFile, done.infoFile);
    EXPECT_EQ(c.createdFolder, done.createdFolder);
    EXPECT_EQ(c.createdFolderInfo, done.createdFolderInfo);
    const std::optional<EntryAttributes> there = attributesOfItemAtPath(c.placedAt);
    ASSERT_TRUE(there && done.placed);
    EXPECT_EQ(there->fileNumber, done.placed->fileNumber);
    EXPECT_EQ(there->device, done.placed->device);
    EXPECT_EQ(there->size, done.placed->size);
    EXPECT_EQ(there->mode, done.placed->mode);
  }
}

TEST_F(RemovalTest, DeletionUnlocksEverythingBelowTheEntry) {
  if (!canLock(at("probe"))) GTEST_SKIP() << "needs root and a file system with the flag";
  makeFolder(inbox + "/tree");
  makeFolder(inbox + "/tree/sub");
  writeText(inbox + "/tree/sub/locked", "");
  writeText(inbox + "/locked.txt", "");
  setImmutable(inbox + "/tree/sub/locked", true);
  setImmutable(inbox + "/tree/sub", true);
  setImmutable(inbox + "/locked.txt", true);
  TrashFolder folder = watching(inbox, {}, TrashFolder::kDeleteAction);

  EXPECT_EQ(RemovalResult::kRemoved, remove(folder, "tree"));
  EXPECT_EQ(RemovalResult::kRemoved, remove(folder, "locked.txt"));
  EXPECT_FALSE(entryExists(inbox + "/tree"));
  EXPECT_FALSE(entryExists(inbox + "/locked.txt"));
  EXPECT_EQ(0u, folder.value("cout").asUnsigned()) << "deletions are not moves";
}

// The folder check hands the remover the attributes it read. A lock read with
// them is cleared for a deletion; one set since is not cleared unseen: the
// deletion fails and the file stays.
TEST_F(RemovalTest, TheCheckedAttributesDecideTheUnlocking) {
  if (!canLock(at("probe"))) GTEST_SKIP() << "needs root and a file system with the flag";
  const struct {
    const char* label;
    bool lockedWhenRead;
    RemovalResult expected;
  } kCases[] = {
      {"locked when read: unlocked and deleted", true, RemovalResult::kRemoved},
      {"locked since: left locked", false, RemovalResult::kDeletionFailed},
  };
  TrashFolder folder = watching(inbox, {}, TrashFolder::kDeleteAction);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    writeText(inbox + "/locked.txt", "");
    if (c.lockedWhenRead) setImmutable(inbox + "/locked.txt", true);
    DirHandle watched;
    std::string error;
    ASSERT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(inbox, watched, error)) << error;
    const std::optional<EntryAttributes> known = watched.statEntry("locked.txt");
    ASSERT_TRUE(known);
    if (!known->pinningFlagsKnown) GTEST_SKIP() << "the file system does not report the flag";
    setImmutable(inbox + "/locked.txt", true);

    EXPECT_EQ(c.expected, removeOnce(folder, watched, "locked.txt", &*known).result);
    EXPECT_EQ(c.expected != RemovalResult::kRemoved, entryExists(inbox + "/locked.txt"));
    clearImmutableBelow(inbox);
    fs::remove_all(inbox + "/locked.txt");
  }
}

// The folder's half of the deletable test is read once per handle when the
// check's attributes come with it. A folder locked after that answer is
// still refused by the kernel: the entry stays, and the run says why.
TEST_F(RemovalTest, AFolderLockedAfterItsAnswerStillStopsTheRemoval) {
  if (!canLock(at("probe"))) GTEST_SKIP() << "needs root and a file system with the flag";
  const struct {
    const char* label;
    int action;
    RemovalResult refused;
  } kCases[] = {
      {"delete", TrashFolder::kDeleteAction, RemovalResult::kDeletionFailed},
      {"trash", TrashFolder::kTrashAction, RemovalResult::kMoveFailed},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    writeText(inbox + "/first", "");
    writeText(inbox + "/second", "");
    DirHandle watched;
    std::string error;
    ASSERT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(inbox, watched, error)) << error;
    const std::optional<EntryAttributes> first = watched.statEntry("first");
    const std::optional<EntryAttributes> second = watched.statEntry("second");
    ASSERT_TRUE(first && second);
    TrashFolder folder = watching(inbox, {}, c.action);
    EXPECT_EQ(RemovalResult::kRemoved, removeOnce(folder, watched, "first", &*first).result);
    setImmutable(inbox, true);

    const RemovalPlan done = removeOnce(folder, watched, "second", &*second);
    EXPECT_EQ(c.refused, done.result);
    EXPECT_FALSE(done.reason.empty());
    EXPECT_EQ(RemovalResult::kNotDeletable, removeOnce(folder, watched, "second").result)
        << "a test without the attributes reads the folder afresh";
    EXPECT_TRUE(entryExists(inbox + "/second"));
    setImmutable(inbox, false);
    fs::remove_all(inbox + "/second");
  }
}

// In system mode the Trash is that of the entry's owner. An entry another
// user put in place of the one the check read goes to the Trash of the
// entry moved, not to that of the owner the check saw (which the run has
// open already, from an earlier entry of theirs).
TEST_F(RemovalTest, SystemModeChoosesTheTrashByTheEntryMoved) {
  if (!runningAsRoot()) GTEST_SKIP() << "giving a file away needs root";
  const std::string volume = at("volume");
  makeFolder(volume);
  context_.systemMode = true;
  context_.userTrashPath.reset();
  context_.mountPointOf = [volume](uint64_t, const std::string&) {
    return std::optional<std::string>(volume);
  };
  for (const char* name : {"first.txt", "report.txt"}) {
    writeText(inbox + "/" + name, "theirs");
    ASSERT_EQ(0, lchown((inbox + "/" + name).c_str(), kSomeoneElse, kSomeoneElse));
  }
  DirHandle watched;
  std::string error;
  ASSERT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(inbox, watched, error)) << error;
  const std::optional<EntryAttributes> first = watched.statEntry("first.txt");
  const std::optional<EntryAttributes> known = watched.statEntry("report.txt");
  ASSERT_TRUE(first && known);
  fs::remove(inbox + "/report.txt");
  writeText(inbox + "/report.txt", "planted");  // root's own
  TrashFolder folder = watching(inbox, {}, TrashFolder::kTrashAction);

  Remover session(context_, diskFolders());
  EXPECT_EQ(RemovalResult::kRemoved, session.remove(folder, watched, "first.txt", &*first).result);
  EXPECT_EQ(RemovalResult::kRemoved, session.remove(folder, watched, "report.txt", &*known).result);
  const std::string theirs = volume + "/.Trash-" + std::to_string(kSomeoneElse) + "/files/";
  EXPECT_TRUE(entryExists(theirs + "first.txt"));
  EXPECT_FALSE(entryExists(theirs + "report.txt"));
  EXPECT_EQ("planted", readText(volume + "/.Trash-0/files/report.txt").value_or(""));
}

// A link in a watched folder is the entry itself: its target stays.
TEST_F(RemovalTest, LinksAreRemovedAsLinks) {
  makeFolder(at("outside"));
  writeText(at("outside/precious"), "mine");
  makeFolder(at("target"));
  const struct {
    const char* label;
    TrashFolder folder;
    std::string placed;  // where the link lands; empty when deleted
  } kCases[] = {
      {"deleted", watching(inbox, {}, TrashFolder::kDeleteAction), ""},
      {"trashed", watching(inbox, {}, TrashFolder::kTrashAction), trashFiles() + "/link"},
      {"moved", moving(inbox, at("target")), at("target/link")},
  };
  for (auto c : kCases) {
    SCOPED_TRACE(c.label);
    makeLink(at("outside"), inbox + "/link");
    EXPECT_EQ(RemovalResult::kRemoved, remove(c.folder, "link"));
    EXPECT_FALSE(entryExists(inbox + "/link"));
    if (!c.placed.empty()) {
      EXPECT_TRUE(isLink(c.placed));
    }
    EXPECT_EQ("mine", readText(at("outside/precious")).value_or(""));
  }
}

TEST_F(RemovalTest, MoveToAnotherFileSystemCopiesThenDeletes) {
  if (!runningAsRoot()) GTEST_SKIP() << "mounting needs root";
  makeFolder(at("volume"));
  if (!mountTmpfs(at("volume"))) GTEST_SKIP() << "cannot mount a tmpfs here";
  makeFolder(inbox + "/album");
  writeText(inbox + "/album/photo.jpg", "jpeg");
  makeLink("/etc/hostname", inbox + "/album/link");
  TrashFolder folder = moving(inbox, at("volume"));

  EXPECT_EQ(RemovalResult::kRemoved, remove(folder, "album"));
  EXPECT_FALSE(entryExists(inbox + "/album"));
  EXPECT_EQ("jpeg", readText(at("volume/album/photo.jpg")).value_or(""));
  EXPECT_TRUE(isLink(at("volume/album/link")));
  EXPECT_EQ(1u, folder.value("cout").asUnsigned());
  unmount(at("volume"));
}

class SystemTrashRemovalTest : public RemovalTest {
 public:
  SystemTrashRemovalTest() : account(at("Users/user1")), downloads(at("Users/user1/Downloads")) {
    context_.systemMode = true;
    context_.userTrashPath.reset();
    fs::create_directories(downloads);
  }
  const std::string account;
  const std::string downloads;
};

TEST_F(SystemTrashRemovalTest, EntryGoesToItsAccountsTrash) {
  writeText(downloads + "/setup.dmg", "");
  TrashFolder folder = watching(downloads, {}, TrashFolder::kTrashAction);
  EXPECT_EQ(RemovalResult::kRemoved, remove(folder, "setup.dmg"));
  EXPECT_TRUE(entryExists(account + "/.Trash/setup.dmg"));
}

// A folder path that climbs out through ".." (or stays put with ".")
// names no account by its text: the account is the one the path reaches.
TEST_F(SystemTrashRemovalTest, DotComponentsDoNotNameAnAccount) {
  makeFolder(at("elsewhere"));
  const struct {
    std::string watchedPath;
    RemovalResult expected;
    std::string trashed;  // where the entry lands; empty when it stays
  } kCases[] = {
      {at("Users/../elsewhere"), RemovalResult::kNoTrash, ""},
      {at("Users/./user1/Downloads"), RemovalResult::kRemoved, account + "/.Trash/setup.dmg"},
      {at("Users/user1/../user1/Downloads"), RemovalResult::kRemoved,
       account + "/.Trash/setup.dmg"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.watchedPath);
    writeText(c.watchedPath + "/setup.dmg", "");
    TrashFolder folder = watching(downloads, {}, TrashFolder::kTrashAction);
    folder.setValue("path", Value::text(c.watchedPath));
    EXPECT_EQ(c.expected, remove(folder, "setup.dmg"));
    EXPECT_EQ(c.trashed.empty(), entryExists(c.watchedPath + "/setup.dmg"));
    if (!c.trashed.empty()) {
      EXPECT_TRUE(entryExists(c.trashed));
    }
    EXPECT_FALSE(entryExists(at(".Trash")));
    EXPECT_FALSE(entryExists(at("Users/.Trash")));
    fs::remove_all(account + "/.Trash");
  }
}

TEST_F(SystemTrashRemovalTest, UntrustworthyTrashIsRefused) {
  makeFolder(at("outside"));
  const struct {
    const char* label;
    std::function<void(SystemTrashRemovalTest&)> plant;
    bool needsRoot;
  } kCases[] = {
      {"a link as .Trash",
       [](SystemTrashRemovalTest& t) { makeLink(t.at("outside"), t.account + "/.Trash"); }, false},
      {"a .Trash owned by another user",
       [](SystemTrashRemovalTest& t) {
         makeFolder(t.account + "/.Trash");
         EXPECT_EQ(0, lchown((t.account + "/.Trash").c_str(), kSomeoneElse, kSomeoneElse));
       },
       true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    if (c.needsRoot && !runningAsRoot()) continue;
    writeText(downloads + "/setup.dmg", "");
    c.plant(*this);
    TrashFolder folder = watching(downloads, {}, TrashFolder::kTrashAction);
    EXPECT_EQ(RemovalResult::kDestinationNotDirectory, remove(folder, "setup.dmg"));
    EXPECT_TRUE(entryExists(downloads + "/setup.dmg"));
    EXPECT_TRUE(fs::is_empty(at("outside")));
    fs::remove_all(account + "/.Trash");
  }
}

// A user swaps folders of a condemned tree for links to a folder of theirs
// while the tree is deleted; nothing outside may go.
TEST_F(RemovalTest, SwappingFoldersForLinksDuringDeletionNeverReachesOutside) {
  constexpr int kRounds = 5;
  constexpr int kFolders = 40;
  makeFolder(at("outside"));
  for (int i = 0; i < 5; ++i) writeText(at("outside/keep" + std::to_string(i)), "");
  TrashFolder folder = watching(inbox, {}, TrashFolder::kDeleteAction);

  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const std::string tree = inbox + "/tree";
    makeFolder(tree);
    for (int i = 0; i < kFolders; ++i) {
      const std::string sub = tree + "/sub" + std::to_string(i);
      makeFolder(sub);
      for (int j = 0; j < 4; ++j) writeText(sub + "/f" + std::to_string(j), "");
    }
    std::thread swapper([&] {
      std::error_code ignored;
      for (int i = 0; i < kFolders; ++i) {
        const std::string sub = tree + "/sub" + std::to_string(i);
        fs::rename(sub, sub + ".moved", ignored);
        fs::create_directory_symlink(at("outside"), sub, ignored);
      }
    });
    remove(folder, "tree");
    swapper.join();
    fs::remove_all(tree);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(entryExists(at("outside/keep" + std::to_string(i))));
  }
}

}  // namespace
}  // namespace sweeprun
