#include "engine/run_undo.h"

#include <map>
#include <set>

#include "fs/dir_handle.h"
#include "fs/empty_folder.h"
#include "fs/file_open.h"
#include "fs/path.h"

namespace sweeprun {

namespace {

const char* typeName(const EntryAttributes& attributes) {
  if (attributes.isRegularFile()) return "file";
  if (attributes.isDirectory()) return "folder";
  if (attributes.isSymbolicLink()) return "link";
  return "other";
}

// Whether |now| is the entry |record| describes. Device and inode alone are
// not enough: a file system hands a freed inode number out again at once,
// to whoever makes the next entry.
bool sameEntry(const EntryAttributes& now, const JournalRecord& record) {
  if (!record.device || !record.inode || now.device != *record.device ||
      now.fileNumber != *record.inode || record.type != typeName(now))
    return false;
  if (record.owner && now.owner != *record.owner) return false;
  if (record.birthTime) return now.birthNanoseconds == *record.birthTime;
  if (record.changeTime) return now.changeNanoseconds == *record.changeTime;
  return true;
}

// Whether |a| and |b| are one entry, read before and after a rename (which
// sets the change time).
bool sameInode(const EntryAttributes& a, const EntryAttributes& b) {
  return a.device == b.device && a.fileNumber == b.fileNumber &&
         (a.mode & 0170000) == (b.mode & 0170000) && a.owner == b.owner &&
         a.birthNanoseconds == b.birthNanoseconds;
}

// Whether |now| is the folder the run made, as |record| describes it. A
// folder's change time moves with every entry placed in it or taken out,
// so only a birth time tells it from a later one.
bool sameMadeFolder(const EntryAttributes& now, const JournalRecord& record) {
  if (!now.isDirectory()) return false;
  if (!record.createdFolderDevice) return true;  // an older line: an empty folder is taken
  return record.createdFolderInode && record.createdFolderOwner &&
         now.device == *record.createdFolderDevice &&
         now.fileNumber == *record.createdFolderInode && now.owner == *record.createdFolderOwner &&
         (!record.createdFolderBirthTime || now.birthNanoseconds == *record.createdFolderBirthTime);
}

// Whether |path| is absolute and as standardizePath leaves it: no "." or
// ".." component, no doubled or trailing separator.
bool isPlainPath(const std::string& path) {
  return !path.empty() && path[0] == '/' && standardizePath(path, {}) == path;
}

// The info file of |entry| when it lies in the "files" folder of a Trash:
// "<Trash>/info/<its name>.trashinfo"; empty when it lies elsewhere.
std::string infoFileOf(const std::string& entry) {
  const std::string files = deletingLastPathComponent(entry);
  if (lastPathComponent(files) != "files") return {};
  return joinPath(joinPath(deletingLastPathComponent(files), "info"),
                  lastPathComponent(entry) + ".trashinfo");
}

// Whether |folder| may hold trashed entries itself: the "files" folder of a
// home Trash (".../Trash") or of a top directory's ".Trash-<uid>" or
// ".Trash/<uid>" (in user mode only the undoing user's), or in system mode
// an account's "<accounts>/<account>/.Trash".
bool holdsTrashedEntries(const std::string& folder, const UndoOptions& options) {
  const std::string trash = deletingLastPathComponent(folder);
  if (lastPathComponent(folder) != "files") {
    return options.systemMode && lastPathComponent(folder) == ".Trash" &&
           deletingLastPathComponent(trash) == standardizePath(options.usersFolder, {});
  }
  const std::string name = lastPathComponent(trash);
  if (name == "Trash") return true;
  std::string user;
  if (name.compare(0, 7, ".Trash-") == 0) {
    user = name.substr(7);
  } else if (lastPathComponent(deletingLastPathComponent(trash)) == ".Trash") {
    user = name;
  }
  if (user.empty() || user.find_first_not_of("0123456789") != std::string::npos) return false;
  return options.systemMode || user == std::to_string(options.user);
}

// Why |record| cannot be an entry that a run of the undone mode removed;
// empty when its paths hang together. A line another account forged names
// whatever it likes, and undo acts on nothing such a line alone points at.
std::string faultOf(const JournalRecord& record, const UndoOptions& options) {
  const char* mode = options.systemMode ? "system" : "user";
  if (record.mode != mode)
    return "a line of a run in " + (record.mode.empty() ? "no" : record.mode) + " mode";
  if (record.action != "trash" && record.action != "move")
    return "unknown action '" + record.action + "'";
  for (const std::string* path : {&record.folder, &record.original, &record.destination}) {
    if (!isPlainPath(*path)) return "'" + *path + "' is not an absolute path in standard form";
  }
  for (const std::string* path :
       {&record.trashInfo, &record.createdFolder, &record.createdFolderInfo}) {
    if (!path->empty() && !isPlainPath(*path))
      return "'" + *path + "' is not an absolute path in standard form";
  }
  if (deletingLastPathComponent(record.original) != record.folder)
    return "its original path is not in its watched folder";
  const std::string placedIn = deletingLastPathComponent(record.destination);
  if (!record.createdFolder.empty() && placedIn != record.createdFolder)
    return "its destination is not in the folder the run made for it";
  if (record.action == "move") {
    if (!record.trashInfo.empty() || !record.createdFolderInfo.empty())
      return "a moved entry with a Trash info file";
    return {};
  }
  // Trashed: into the Trash, or a dated sub-folder of it.
  if (!holdsTrashedEntries(placedIn, options) &&
      (!record.createdFolder.empty() ||
       !holdsTrashedEntries(deletingLastPathComponent(placedIn), options)))
    return std::string("its destination is in no Trash of the ") + mode + " mode's";
  if (!record.trashInfo.empty() && record.trashInfo != infoFileOf(record.destination))
    return "its Trash info file is not the one beside its destination";
  if (!record.createdFolderInfo.empty() &&
      (record.createdFolder.empty() ||
       record.createdFolderInfo != infoFileOf(record.createdFolder)))
    return "the info file of its folder is not the one beside that folder";
  return {};
}

// An entry at |path|, opened through its folder: the folder and the name.
struct OpenedEntry {
  DirHandle folder;
  std::string name;
};

bool openEntry(const std::string& path, OpenedEntry& entry, std::string& error) {
  return openContainingFolder(path, entry.folder, entry.name, error);
}

// Whether the entry itself is at its original path again, put back by
// other means (a desktop's restore, or by hand). Only a recorded birth time
// tells it from a newer entry that was given its freed inode number.
bool backAtOriginal(const JournalRecord& record) {
  OpenedEntry original;
  std::string error;
  if (!record.birthTime || !openEntry(record.original, original, error)) return false;
  const std::optional<EntryAttributes> there = original.folder.statEntry(original.name);
  return there && sameEntry(*there, record);
}

UndoStep putBack(const JournalRecord& record, const UndoOptions& options) {
  UndoStep step;
  step.record = &record;
  step.toldByInodeOnly = !record.owner;
  std::string error;
  OpenedEntry placed;
  if (!openEntry(record.destination, placed, error)) {
    step.outcome = UndoStep::kChanged;
    step.detail = error;
    return step;
  }
  const std::optional<EntryAttributes> now = placed.folder.statEntry(placed.name);
  if (!now || !sameEntry(*now, record)) {
    if (backAtOriginal(record)) {
      step.outcome = UndoStep::kAlreadyPutBack;
      step.detail = "it is back at its original path";
      return step;
    }
    step.outcome = UndoStep::kChanged;
    step.detail =
        now ? "another entry is at " + record.destination : "nothing is at " + record.destination;
    return step;
  }
  OpenedEntry original;
  if (!openEntry(record.original, original, error)) {
    step.outcome = UndoStep::kFailed;
    step.detail = error;
    return step;
  }
  if (original.folder.statEntry(original.name)) {
    step.outcome = UndoStep::kTaken;
    step.detail = "something else is at " + record.original;
    return step;
  }
  // Root never hands an entry into another account's folder unless it is
  // theirs: no run took it from there, whatever a line says.
  if (options.user == 0 && original.folder.owner() != 0 && original.folder.owner() != now->owner) {
    step.outcome = UndoStep::kRefused;
    step.detail = "the entry is not of the owner of " + deletingLastPathComponent(record.original);
    return step;
  }
  if (options.dryRun) {
    step.outcome = UndoStep::kWouldPutBack;
    return step;
  }
  switch (placed.folder.moveEntry(placed.name, original.folder, original.name,
                                  options.treeTimeLimit, error)) {
    case MoveStatus::kMoved:
      break;
    case MoveStatus::kTargetExists:
      step.outcome = UndoStep::kTaken;
      step.detail = "something else is at " + record.original;
      return step;
    case MoveStatus::kGone:
      step.outcome = UndoStep::kChanged;
      step.detail = "nothing is at " + record.destination;
      return step;
    default:
      step.outcome = UndoStep::kFailed;
      step.detail = error;
      return step;
  }
  // Within one file system the entry was renamed, and is the one just
  // checked unless it was swapped in the moment between: then it goes back
  // where it was found. Across file systems it was copied, as a new entry.
  const std::optional<EntryAttributes> back = original.folder.statEntry(original.name);
  const bool renamed = original.folder.device() == placed.folder.device();
  if (!back || (renamed ? !sameInode(*back, *now) : record.type != typeName(*back))) {
    std::string ignored;
    original.folder.moveEntry(original.name, placed.folder, placed.name, options.treeTimeLimit,
                              ignored);
    step.outcome = UndoStep::kChanged;
    step.detail = "the entry at " + record.destination + " changed while it was put back";
    return step;
  }
  step.outcome = UndoStep::kPutBack;
  // The info file's path was checked to be the one beside the entry's.
  if (!record.trashInfo.empty()) {
    OpenedEntry info;
    if (!openEntry(record.trashInfo, info, error) ||
        info.folder.removeFile(info.name, error) == RemoveStatus::kFailed) {
      step.detail = "its Trash info file stays: " + error;
    }
  }
  return step;
}

enum class FolderRemoval { kRemoved, kForeign, kKept };

// Removes the dated sub-folder |record| made when it is empty and still the
// folder made, then its own Trash info file (if any).
FolderRemoval removeMadeFolder(const JournalRecord& record) {
  std::string error;
  OpenedEntry folder;
  if (!openEntry(record.createdFolder, folder, error)) return FolderRemoval::kKept;
  const std::optional<EntryAttributes> now = folder.folder.statEntry(folder.name);
  if (!now) return FolderRemoval::kKept;
  if (!sameMadeFolder(*now, record)) return FolderRemoval::kForeign;
  if (removeEmptyFolder(folder.folder, folder.name, error) != RemoveStatus::kRemoved)
    return FolderRemoval::kKept;
  OpenedEntry infoFile;
  if (!record.createdFolderInfo.empty() && openEntry(record.createdFolderInfo, infoFile, error))
    infoFile.folder.removeFile(infoFile.name, error);
  return FolderRemoval::kRemoved;
}

}  // namespace

bool UndoReport::anyLeft() const {
  for (const UndoStep& step : steps) {
    if (step.outcome == UndoStep::kChanged || step.outcome == UndoStep::kTaken ||
        step.outcome == UndoStep::kFailed || step.outcome == UndoStep::kRefused)
      return true;
  }
  return false;
}

UndoReport undoRun(const JournalRun& run, const UndoOptions& options, JournalWriter* journal) {
  UndoReport report;
  // The folders that entries put back by this undo came out of: only those
  // can it have emptied.
  std::set<std::string> emptied;
  for (auto record = run.entries.rbegin(); record != run.entries.rend(); ++record) {
    UndoStep step;
    step.record = &*record;
    if (record->action == "delete") {
      step.outcome = UndoStep::kNotUndoable;
    } else if (run.isUndone(record->number)) {
      step.outcome = UndoStep::kAlreadyPutBack;
    } else if (std::string fault = faultOf(*record, options); !fault.empty()) {
      step.outcome = UndoStep::kRefused;
      step.detail = "its journal line does not hang together: " + fault;
    } else {
      step = putBack(*record, options);
    }
    if (step.outcome == UndoStep::kPutBack) {
      emptied.insert(deletingLastPathComponent(record->destination));
      if (journal && journal->isOpen() && report.journalError.empty()) {
        JournalRecord done;
        done.kind = JournalRecord::Kind::kUndo;
        done.run = run.id;
        done.started = run.started;
        done.number = record->number;
        done.undoneAt = options.clock();
        journal->append(done, report.journalError);
      }
    }
    report.steps.push_back(std::move(step));
  }
  if (options.dryRun) return report;
  std::set<std::string> tried;
  for (auto record = run.entries.rbegin(); record != run.entries.rend(); ++record) {
    const std::string& made = record->createdFolder;
    if (made.empty() || !emptied.count(made) || !tried.insert(made).second ||
        !faultOf(*record, options).empty())
      continue;
    switch (removeMadeFolder(*record)) {
      case FolderRemoval::kRemoved:
        report.removedFolders.push_back(made);
        break;
      case FolderRemoval::kForeign:
        report.foreignFolders.push_back(made);
        break;
      case FolderRemoval::kKept:
        break;
    }
  }
  return report;
}

}  // namespace sweeprun
