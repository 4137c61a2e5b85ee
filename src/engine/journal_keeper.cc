#include "engine/journal_keeper.h"

#include "engine/loggable_text.h"
#include "fs/path.h"
#include "log/trash_log.h"
#include "model/record_keys.h"
#include "os/localization.h"
#include "os/process_info.h"

namespace sweeprun {

namespace {

// How long a run waits for an undo that keeps the journal.
constexpr std::chrono::seconds kJournalWait{5};

const char* actionName(const TrashFolder& folder) {
  switch (folder.value(folder_key::kAction).asInteger()) {
    case TrashFolder::kMoveAction:
      return "move";
    case TrashFolder::kDeleteAction:
      return "delete";
    default:
      return "trash";
  }
}

const char* typeName(const EntryAttributes& attributes) {
  if (attributes.isRegularFile()) return "file";
  if (attributes.isDirectory()) return "folder";
  if (attributes.isSymbolicLink()) return "link";
  return "other";
}

}  // namespace

JournalKeeper::JournalKeeper(const RunWorld& world, std::string path, double limitDays)
    : world_(world),
      path_(std::move(path)),
      limitDays_(limitDays),
      started_(world.clock()),
      mode_(world.systemMode ? "system" : "user"),
      runId_(journalRunId(started_, currentProcessId())) {
  record_.run = runId_;
  record_.started = started_;
  record_.mode = mode_;
}

bool JournalKeeper::mayRemove() {
  if (stopped_) return false;
  std::string error;
  if (!writer_.isOpen() && !writer_.open(path_, started_, limitDays_, kJournalWait, error)) {
    stop(error, nullptr);
    return false;
  }
  if (writer_.canTakeLine(error)) return true;
  stop(error, nullptr);
  return false;
}

void JournalKeeper::entryDecided(const TrashFolder& folder, const std::string& name,
                                 const EntryDecision& decision) {
  if (decision.kind != EntryDecision::kRemoved || stopped_) return;
  std::string error;
  if (!writer_.isOpen() && !writer_.open(path_, started_, limitDays_, kJournalWait, error)) {
    const std::string original = joinPath(folder.path(), name);
    stop(error, &original);
    return;
  }
  // One record reused for every entry: its texts keep their buffers, and
  // those of the run and folder are set when they change.
  JournalRecord& record = record_;
  record.number = ++written_;
  const std::string_view folderPath = folder.path();
  if (record.folder != folderPath) record.folder = folderPath;
  const std::string_view action = actionName(folder);
  if (record.action != action) record.action = action;
  assignJoinedPath(record.original, folderPath, name);
  const RemovalPlan& removal = decision.removal;
  const bool deleted = record.action == "delete";
  if (deleted) {
    record.destination.clear();
  } else {
    assignJoinedPath(record.destination, removal.destination, removal.targetName);
  }
  record.trashInfo = deleted ? std::string_view() : std::string_view(removal.infoFile);
  record.createdFolder = deleted ? std::string_view() : std::string_view(removal.createdFolder);
  record.createdFolderInfo =
      deleted ? std::string_view() : std::string_view(removal.createdFolderInfo);
  record.type.clear();
  record.reason = decision.forBudget ? "budget" : "";
  record.size = record.device = record.inode = std::nullopt;
  record.owner = record.birthTime = record.changeTime = std::nullopt;
  record.createdFolderDevice = record.createdFolderInode = std::nullopt;
  record.createdFolderOwner = record.createdFolderBirthTime = std::nullopt;
  record.modified = std::nullopt;
  if (removal.placed) {
    const EntryAttributes& placed = *removal.placed;
    record.type = typeName(placed);
    record.size = placed.size;
    record.device = placed.device;
    record.inode = placed.fileNumber;
    record.owner = placed.owner;
    // The birth time where there is one; else the change time, which the
    // move set and nothing but a change of the entry sets again.
    if (placed.birthNanoseconds) {
      record.birthTime = placed.birthNanoseconds;
    } else if (placed.changeNanoseconds) {
      record.changeTime = placed.changeNanoseconds;
    }
    record.modified = placed.modificationDate;
  } else if (decision.item) {
    // A deleted entry: what its record knew of it.
    record.size = decision.item->size();
    record.modified = decision.item->modified();
  }
  if (!deleted && removal.createdFolderAttributes) {
    const EntryAttributes& made = *removal.createdFolderAttributes;
    record.createdFolderDevice = made.device;
    record.createdFolderInode = made.fileNumber;
    record.createdFolderOwner = made.owner;
    if (made.birthNanoseconds) record.createdFolderBirthTime = made.birthNanoseconds;
  }
  if (writer_.append(record, error)) return;
  --written_;
  stop(error, &record.original);
}

void JournalKeeper::folderSkipped(const TrashFolder& folder, ScheduleAnswer answer) {
  // The load turned it off in this run, after the keeper began.
  if (answer == ScheduleAnswer::kNotEnabled &&
      folder.value(folder_key::kDisabledBecause).asText() == folder_key::kFolderNotFound &&
      !folder.value(folder_key::kDisabledOn).isNone() &&
      folder.dateForKey(folder_key::kDisabledOn).seconds >= started_.seconds)
    folderMissing(folder);
}

void JournalKeeper::folderMissing(const TrashFolder& folder) {
  if (stopped_) return;
  std::string error;
  if (!writer_.isOpen() && !writer_.open(path_, started_, limitDays_, kJournalWait, error)) {
    fail(error);
    return;
  }
  JournalRecord missing = runRecord(JournalRecord::Kind::kMissing);
  missing.folder = folder.path();
  if (!writer_.append(missing, error)) fail(error);
}

JournalRecord JournalKeeper::runRecord(JournalRecord::Kind kind) const {
  JournalRecord record;
  record.kind = kind;
  record.run = runId_;
  record.started = started_;
  record.mode = mode_;
  record.number = written_;
  return record;
}

void JournalKeeper::runFinished(int) {
  std::string error;
  if (!writer_.close(error)) fail(error);
}

void JournalKeeper::stop(const std::string& reason, const std::string* unrecorded) {
  if (stopped_) return;
  stopped_ = failed_ = true;
  TrashLog::err(
      world_.runLog,
      localized("Unable to write the run journal '%@': no more entries are removed in this run.",
                {path_}));
  if (!reason.empty()) TrashLog::err(world_.runLog, reason);
  if (unrecorded) {
    TrashLog::err(world_.runLog, localized("'%@' was removed, but is not in the run journal.",
                                           {loggableText(*unrecorded)}));
  }
  if (!writer_.isOpen()) return;
  JournalRecord marker = runRecord(JournalRecord::Kind::kIncomplete);
  marker.unrecorded = unrecorded ? 1 : 0;
  std::string error;
  if (!writer_.append(marker, error)) {
    TrashLog::err(world_.runLog,
                  localized("Unable to mark the run journal '%@' as incomplete.", {path_}));
  }
}

void JournalKeeper::fail(const std::string& reason) {
  if (failed_) return;
  failed_ = true;
  TrashLog::err(world_.runLog, localized("Unable to write the run journal '%@'.", {path_}));
  if (!reason.empty()) TrashLog::err(world_.runLog, reason);
}

}  // namespace sweeprun
