// Every removal result, reached without root through folders that fail
// chosen operations (support/failing_folder.h). The real-disk tests in
// removal_test.cc prove what the immutable flag itself does.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/removal.h"
#include "os/date_style.h"
#include "support/engine_fixture.h"
#include "support/failing_folder.h"
#include "support/fs_tree.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

using Op = FolderOperation;

class RemovalFailureTest : public EngineTest {
 public:
  RemovalFailureTest() : inbox(at("inbox")), target(at("target")) {}

  const std::string inbox;
  const std::string target;
};

std::string reason(const char* operation, const std::string& path, int errorNumber) {
  return std::string(operation) + "(" + path + "): " + std::strerror(errorNumber);
}

TEST_F(RemovalFailureTest, EachFailureAnswersItsResultAndTouchesNothing) {
  const std::string entry = inbox + "/notes.txt";
  const std::string dated = target + "/" + datedFolderName(now());
  constexpr bool kDated = true;
  constexpr bool kMayBeAbsent = true;
  const struct {
    const char* label;
    int64_t action;
    Op operation;
    std::string name;  // where the operation fails
    int errorNumber;
    RemovalResult expected;
    std::string reason;  // the system's reason the result carries
    bool dated = false;
    bool mayBeAbsent = false;
  } kCases[] = {
      {"not deletable, delete", TrashFolder::kDeleteAction, Op::kDeletable, "notes.txt", EACCES,
       RemovalResult::kNotDeletable, ""},
      {"not deletable, Trash", TrashFolder::kTrashAction, Op::kDeletable, "notes.txt", EACCES,
       RemovalResult::kNotDeletable, ""},
      {"not deletable, move", TrashFolder::kMoveAction, Op::kDeletable, "notes.txt", EACCES,
       RemovalResult::kNotDeletable, ""},
      {"entry unreadable: no Trash can be found for it", TrashFolder::kTrashAction, Op::kStat,
       "notes.txt", EIO, RemovalResult::kNoTrash, reason("statx", entry, EIO)},
      {"move-to folder gone, may be absent", TrashFolder::kMoveAction, Op::kOpen, target, ENOENT,
       RemovalResult::kDestinationAbsentNow, reason("openat", target, ENOENT), false, kMayBeAbsent},
      {"move-to folder gone", TrashFolder::kMoveAction, Op::kOpen, target, ENOENT,
       RemovalResult::kDestinationMissing, reason("openat", target, ENOENT)},
      {"move-to path not a folder", TrashFolder::kMoveAction, Op::kOpen, target, ENOTDIR,
       RemovalResult::kDestinationNotDirectory, reason("openat", target, ENOTDIR)},
      {"dated sub-folder name held by a link", TrashFolder::kMoveAction, Op::kCreateChild,
       datedFolderName(now()), ELOOP, RemovalResult::kDestinationNotDirectory,
       reason("mkdirat", dated, ELOOP), kDated},
      {"dated sub-folder cannot be made", TrashFolder::kMoveAction, Op::kCreateChild,
       datedFolderName(now()), EACCES, RemovalResult::kDestinationMissing,
       reason("mkdirat", dated, EACCES), kDated},
      {"deletion refused", TrashFolder::kDeleteAction, Op::kRemove, "notes.txt", EPERM,
       RemovalResult::kDeletionFailed, reason("unlinkat", entry, EPERM)},
      {"move refused", TrashFolder::kMoveAction, Op::kMove, "notes.txt", EPERM,
       RemovalResult::kMoveFailed, reason("renameat2", entry, EPERM)},
      {"move into the Trash refused", TrashFolder::kTrashAction, Op::kMove, "notes.txt", EROFS,
       RemovalResult::kMoveFailed, reason("renameat2", entry, EROFS)},
      {"move-to folder cannot be opened", TrashFolder::kMoveAction, Op::kOpen, target, EACCES,
       RemovalResult::kMoveFailed, reason("openat", target, EACCES)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    makeFolder(inbox);
    makeFolder(target);
    writeText(entry, "keep me");
    TrashFolder folder = watching(inbox, {}, c.action);
    folder.setValue("move", Value::text(target));
    folder.setValue("datf", Value::boolean(c.dated));
    folder.setValue("temp", Value::boolean(c.mayBeAbsent));
    FolderFailures failures;
    failures.fail(c.operation, c.name, c.errorNumber);
    const FailingFolders folders(failures);
    std::unique_ptr<Folder> watched;
    std::string error;
    ASSERT_EQ(OpenStatus::kOpened, folders.openDirectory(inbox, watched, error)) << error;

    const RemovalPlan done = Remover(context_, folders).remove(folder, *watched, "notes.txt", nullptr);
    EXPECT_EQ(c.expected, done.result);
    EXPECT_EQ(c.reason, done.reason);
    EXPECT_LT(0, failures.played()) << "the failure was never reached";
    EXPECT_EQ("keep me", readText(entry).value_or("(gone)"));
    EXPECT_EQ(0u, folder.value("cout").asUnsigned());
    EXPECT_TRUE(fs::is_empty(target)) << "nothing made in the move-to folder";
    // A failed move into the Trash takes its info file back.
    EXPECT_FALSE(entryExists(trashInfo() + "/notes.txt.trashinfo"));
    fs::remove_all(inbox);
    fs::remove_all(target);
  }
}

// A name taken between the test and the move is passed over, never replaced.
TEST_F(RemovalFailureTest, TargetTakenAtTheLastMomentGetsTheNextName) {
  makeFolder(inbox);
  makeFolder(target);
  writeText(inbox + "/notes.txt", "moved");
  TrashFolder folder = watching(inbox, {}, TrashFolder::kMoveAction);
  folder.setValue("move", Value::text(target));
  FolderFailures failures;
  failures.fail(Op::kMove, target + "/notes.txt", EEXIST);
  const FailingFolders folders(failures);
  std::unique_ptr<Folder> watched;
  std::string error;
  ASSERT_EQ(OpenStatus::kOpened, folders.openDirectory(inbox, watched, error)) << error;

  const RemovalPlan done = Remover(context_, folders).remove(folder, *watched, "notes.txt", nullptr);
  EXPECT_EQ(RemovalResult::kRemoved, done.result);
  EXPECT_EQ("notes copy 1.txt", done.targetName);
  EXPECT_EQ("moved", readText(target + "/notes copy 1.txt").value_or("(missing)"));
  EXPECT_EQ(1u, folder.value("cout").asUnsigned());
}

// What a preview plans agrees with the run wherever the failure shows
// before anything is tried.
TEST_F(RemovalFailureTest, PlanAnswersTheSameForFailuresSeenBeforehand) {
  const struct {
    const char* label;
    Op operation;
    std::string name;
    int errorNumber;
    RemovalResult expected;
  } kCases[] = {
      {"not deletable", Op::kDeletable, "notes.txt", EACCES, RemovalResult::kNotDeletable},
      {"move-to folder gone", Op::kOpen, target, ENOENT, RemovalResult::kDestinationMissing},
      {"move-to path not a folder", Op::kOpen, target, ENOTDIR,
       RemovalResult::kDestinationNotDirectory},
      {"move-to folder cannot be opened", Op::kOpen, target, EACCES, RemovalResult::kMoveFailed},
  };
  makeFolder(inbox);
  makeFolder(target);
  writeText(inbox + "/notes.txt", "");
  TrashFolder folder = watching(inbox, {}, TrashFolder::kMoveAction);
  folder.setValue("move", Value::text(target));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    FolderFailures failures;
    failures.fail(c.operation, c.name, c.errorNumber);
    const FailingFolders folders(failures);
    std::unique_ptr<Folder> watched;
    std::string error;
    ASSERT_EQ(OpenStatus::kOpened, folders.openDirectory(inbox, watched, error)) << error;
    Remover remover(context_, folders);
    EXPECT_EQ(c.expected, remover.plan(folder, *watched, "notes.txt", nullptr).result);
    EXPECT_EQ(c.expected, remover.remove(folder, *watched, "notes.txt", nullptr).result);
  }
}

}  // namespace
}  // namespace sweeprun
