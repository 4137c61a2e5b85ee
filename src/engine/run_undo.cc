#include "engine/run_undo.h"

#include <set>

#include "fs/dir_handle.h"
#include "fs/empty_folder.h"
#include "fs/file_open.h"
#include "os/process.h"

namespace sweeprun {

namespace {

const char* typeName(const EntryAttributes& attributes) {
  if (attributes.isRegularFile()) return "file";
  if (attributes.isDirectory()) return "folder";
  if (attributes.isSymbolicLink()) return "link";
  return "other";
}

bool sameEntry(const EntryAttributes& now, const JournalRecord& record) {
  return record.device && record.inode && now.device == *record.device &&
         now.fileNumber == *record.inode && record.type == typeName(now);
}

// An entry at |path|, opened through its folder: the folder and the name.
struct OpenedEntry {
  DirHandle folder;
  std::string name;
};

bool openEntry(const std::string& path, OpenedEntry& entry, std::string& error) {
  return openContainingFolder(path, entry.folder, entry.name, error);
}

UndoStep putBack(const JournalRecord& record, bool dryRun) {
  UndoStep step;
  step.record = &record;
  std::string error;
  OpenedEntry placed;
  if (!openEntry(record.destination, placed, error)) {
    step.outcome = UndoStep::kChanged;
    step.detail = error;
    return step;
  }
  const std::optional<EntryAttributes> now = placed.folder.statEntry(placed.name);
  if (!now || !sameEntry(*now, record)) {
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
  if (dryRun) {
    step.outcome = UndoStep::kWouldPutBack;
    return step;
  }
  switch (placed.folder.moveEntry(placed.name, original.folder, original.name, error)) {
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
  if (!back || (renamed ? !sameEntry(*back, record) : record.type != typeName(*back))) {
    std::string ignored;
    original.folder.moveEntry(original.name, placed.folder, placed.name, ignored);
    step.outcome = UndoStep::kChanged;
    step.detail = "the entry at " + record.destination + " changed while it was put back";
    return step;
  }
  step.outcome = UndoStep::kPutBack;
  if (!record.trashInfo.empty()) {
    OpenedEntry info;
    if (!openEntry(record.trashInfo, info, error) ||
        info.folder.removeFile(info.name, error) == RemoveStatus::kFailed) {
      step.detail = "its Trash info file stays: " + error;
    }
  }
  return step;
}

// Removes the dated sub-folder at |path| when it is empty, then its own
// Trash info file |info| (if any). True when the folder went.
bool removeEmptiedFolder(const std::string& path, const std::string& info) {
  std::string error;
  OpenedEntry folder;
  if (!openEntry(path, folder, error)) return false;
  if (removeEmptyFolder(folder.folder, folder.name, error) != RemoveStatus::kRemoved) return false;
  OpenedEntry infoFile;
  if (!info.empty() && openEntry(info, infoFile, error))
    infoFile.folder.removeFile(infoFile.name, error);
  return true;
}

}  // namespace

bool UndoReport::anyLeft() const {
  for (const UndoStep& step : steps) {
    if (step.outcome == UndoStep::kChanged || step.outcome == UndoStep::kTaken ||
        step.outcome == UndoStep::kFailed)
      return true;
  }
  return false;
}

UndoReport undoRun(const JournalRun& run, bool dryRun, JournalWriter* journal) {
  UndoReport report;
  for (auto record = run.entries.rbegin(); record != run.entries.rend(); ++record) {
    UndoStep step;
    step.record = &*record;
    if (record->action == "delete") {
      step.outcome = UndoStep::kNotUndoable;
    } else if (run.isUndone(record->number)) {
      step.outcome = UndoStep::kAlreadyPutBack;
    } else {
      step = putBack(*record, dryRun);
    }
    if (step.outcome == UndoStep::kPutBack && journal && journal->isOpen() &&
        report.journalError.empty()) {
      JournalRecord done;
      done.kind = JournalRecord::Kind::kUndo;
      done.run = run.id;
      done.started = run.started;
      done.number = record->number;
      done.undoneAt = process().clock();
      journal->append(done, report.journalError);
    }
    report.steps.push_back(std::move(step));
  }
  if (dryRun) return report;
  std::set<std::string> tried;
  for (auto record = run.entries.rbegin(); record != run.entries.rend(); ++record) {
    if (record->createdFolder.empty() || !tried.insert(record->createdFolder).second) continue;
    if (removeEmptiedFolder(record->createdFolder, record->createdFolderInfo))
      report.removedFolders.push_back(record->createdFolder);
  }
  return report;
}

}  // namespace sweeprun
