// Every error line of a folder check, and what the check does around it,
// reached without root through folders that fail chosen operations
// (support/failing_folder.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "engine/trash_collector.h"
#include "os/date_style.h"
#include "support/engine_fixture.h"
#include "support/failing_folder.h"
#include "support/fs_tree.h"

namespace sweeprun {
namespace {

using Lines = std::vector<std::string>;
using Op = FolderOperation;

std::string reason(const char* operation, const std::string& path, int errorNumber) {
  return "Error: " + std::string(operation) + "(" + path + "): " + std::strerror(errorNumber);
}

Lines errorLines(const Lines& lines) {
  Lines errors;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(errors),
               [](const std::string& line) { return line.rfind("Error: ", 0) == 0; });
  return errors;
}

class FolderCheckFailureTest : public EngineTest {
 public:
  FolderCheckFailureTest() : inbox(at("inbox")), target(at("target")) {
    makeFolder(inbox);
    makeFolder(target);
  }

  // Checks |folder| through folders that fail as |failures| tells; answers
  // how many failures the run counted.
  int checkFailing(TrashFolder& folder, const FolderFailures& failures) {
    const FailingFolders folders(failures);
    RunOptions options;
    options.folders = &folders;
    TrashCollector collector(context_, std::move(options));
    collector.checkFolder(folder);
    return collector.failures();
  }

  // The names of the folder's tracked entries, sorted.
  Lines trackedNames(const TrashFolder& folder) const {
    Lines tracked;
    for (const TrashItem& item : *folder.items())
      tracked.push_back(std::string(item.value("path").asText()).substr(inbox.size() + 1));
    std::sort(tracked.begin(), tracked.end());
    return tracked;
  }

  const std::string inbox;
  const std::string target;
};

// One condemned new entry "x.old" and one tracked, unchanged entry "kept"
// per row (and the record of "earlier", gone meanwhile); the row's failure
// decides the error lines, the entry lines, what stays tracked and whether
// the run counts a failure (which sets its exit status).
TEST_F(FolderCheckFailureTest, EachFailureWritesItsLines) {
  const std::string entry = inbox + "/x.old";
  const std::string dated = target + "/" + datedFolderName(now());
  const std::string unable = "Error: Unable to (re)move 'x.old'.";
  const std::string notRemoved = "= x.old (not removed)";
  constexpr bool kDated = true;
  const struct {
    const char* label;
    int64_t action;
    Op operation;
    std::string name;
    int errorNumber;
    std::string error;         // the first error line; empty for none
    std::string reason;        // the error line after it; empty for none
    std::string entryLine;     // the line of x.old; empty when no entry is examined
    std::string stillTracked;  // the names, sorted, one blank apart
    int failures;
    bool dated = false;
  } kCases[] = {
      {"watched folder cannot be opened", TrashFolder::kDeleteAction, Op::kOpen, inbox, EACCES,
       "Error: No folder found at '" + inbox + "'.", "", "", "earlier kept", 0},
      {"move-to folder not there", TrashFolder::kMoveAction, Op::kOpen, target, ENOENT,
       "Error: Destination folder '" + target + "' is not accessible.", "", "", "earlier kept", 0},
      {"listing fails: every record kept", TrashFolder::kDeleteAction, Op::kList, inbox, EIO,
       "Error: Unable to list folder '" + inbox + "': " + std::strerror(EIO) +
           "; its entries are kept as they were.",
       "", "", "earlier kept", 1},
      {"deletion refused", TrashFolder::kDeleteAction, Op::kRemove, "x.old", EPERM, unable,
       reason("unlinkat", entry, EPERM), notRemoved, "kept", 1},
      {"move refused", TrashFolder::kMoveAction, Op::kMove, "x.old", EACCES, unable,
       reason("renameat2", entry, EACCES), notRemoved, "kept", 1},
      {"move into the Trash refused", TrashFolder::kTrashAction, Op::kMove, "x.old", EROFS, unable,
       reason("renameat2", entry, EROFS), notRemoved, "kept", 1},
      {"entry unreadable: no Trash found for it", TrashFolder::kTrashAction, Op::kStat, "x.old",
       EIO, reason("statx", entry, EIO), "", notRemoved, "kept", 1},
      {"dated sub-folder name held by a link", TrashFolder::kMoveAction, Op::kCreateChild,
       datedFolderName(now()), ELOOP, reason("mkdirat", dated, ELOOP), "", notRemoved, "kept", 1,
       kDated},
      {"dated sub-folder cannot be made", TrashFolder::kMoveAction, Op::kCreateChild,
       datedFolderName(now()), EACCES, reason("mkdirat", dated, EACCES), "", notRemoved, "kept", 1,
       kDated},
      {"not deletable: no error", TrashFolder::kDeleteAction, Op::kDeletable, "x.old", EACCES, "",
       "", notRemoved, "kept", 0},
  };
  writeText(inbox + "/kept", "");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove(entry);
    TrashFolder folder = watching(inbox, {}, c.action);
    folder.setValue("move", Value::text(target));
    folder.setValue("datf", Value::boolean(c.dated));
    TrashCollector(context_, RunOptions()).checkFolder(folder);  // tracks "kept"
    folder.setRules({nameEndsWith(".old")});
    writeText(entry, "x");
    TrashItem earlier;
    earlier.setValue("path", Value::text(inbox + "/earlier"));
    auto items = std::make_shared<ItemList>(*folder.items());
    items->push_back(earlier);
    folder.setItems(items);
    newLogLines();

    FolderFailures failures;
    failures.fail(c.operation, c.name, c.errorNumber);
    const int counted = checkFailing(folder, failures);
    const Lines lines = newLogLines();

    Lines errors;
    for (const std::string& line : {c.error, c.reason})
      if (!line.empty()) errors.push_back(line);
    EXPECT_EQ(errors, errorLines(lines));
    const Lines entries = c.entryLine.empty() ? Lines{} : Lines{"  kept", c.entryLine};
    EXPECT_EQ(entries, entryLines(lines));
    std::string names;
    for (const std::string& name : trackedNames(folder)) names += (names.empty() ? "" : " ") + name;
    EXPECT_EQ(c.stillTracked, names);
    EXPECT_EQ(c.failures, counted);
    EXPECT_LT(0, failures.played()) << "the failure was never reached";
    EXPECT_EQ("0 items were removed.", lines.at(lines.size() - 2));
    EXPECT_TRUE(entryExists(entry));
    std::filesystem::remove_all(target);
    makeFolder(target);
  }
}

// A listing read as the check goes can fail after entries were acted on:
// what was removed stays removed, and every record stays (a record dropped
// for an entry the listing never reached would start its age again).
TEST_F(FolderCheckFailureTest, ListingCutShortKeepsEveryRecord) {
  writeText(inbox + "/kept", "");
  TrashFolder folder = watching(inbox, {}, TrashFolder::kDeleteAction);
  TrashCollector(context_, RunOptions()).checkFolder(folder);  // tracks "kept"
  writeText(inbox + "/gone-since", "");
  TrashCollector(context_, RunOptions()).checkFolder(folder);
  std::filesystem::remove(inbox + "/gone-since");
  folder.setRules({nameEndsWith(".old")});
  writeText(inbox + "/x.old", "x");
  newLogLines();

  FolderFailures failures;
  failures.fail(Op::kListEnd, inbox, EIO);
  const int counted = checkFailing(folder, failures);

  const Lines lines = newLogLines();
  EXPECT_EQ(Lines{"Error: Unable to list folder '" + inbox + "': " + std::strerror(EIO) +
                  "; its entries are kept as they were."},
            errorLines(lines));
  EXPECT_FALSE(entryExists(inbox + "/x.old"));
  EXPECT_EQ("1 item was removed.", lines.at(lines.size() - 2));
  EXPECT_EQ((Lines{"gone-since", "kept"}), trackedNames(folder));
  EXPECT_EQ(1, counted);
}

// The read-me file is written afresh at every check; when its name cannot
// be cleared or the file cannot be made, no line tells of it. Only a
// folder in its place is reported.
TEST_F(FolderCheckFailureTest, ReadMeFailuresAreQuiet) {
  const std::string readMe = "About this folder.txt";
  const struct {
    const char* label;
    Op operation;
    int errorNumber;
    const char* left;  // what the read-me holds afterwards
  } kCases[] = {
      {"old read-me cannot be removed", Op::kRemove, EPERM, "old"},
      {"new read-me cannot be made", Op::kCreateFile, ENOSPC, "(missing)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    writeText(inbox + "/" + readMe, "old");
    TrashFolder folder = watching(inbox, {});
    folder.setValue("rfil", Value::text(readMe));
    folder.setValue("rtxt", Value::text("new"));
    FolderFailures failures;
    failures.fail(c.operation, readMe, c.errorNumber);
    const int counted = checkFailing(folder, failures);

    EXPECT_EQ(Lines{}, errorLines(newLogLines()));
    EXPECT_EQ(c.left, readText(inbox + "/" + readMe).value_or("(missing)"));
    EXPECT_EQ(0, counted);
    EXPECT_LT(0, failures.played());
  }
}

}  // namespace
}  // namespace sweeprun
