#include "engine/run_tally.h"

#include "model/record_keys.h"

namespace sweeprun {

FolderTally& RunTally::tallyOf(const TrashFolder& folder) {
  // A folder's decisions follow its check, so the last one is nearly
  // always the one asked for.
  if (&folder == lastFolder_) return folders_.back();
  const std::string_view path = folder.path();
  if (folders_.empty() || folders_.back().path != path) {
    FolderTally tally;
    tally.path = std::string(path);
    tally.enabled = folder.value(folder_key::kEnabled).asBool();
    if (folder.value(folder_key::kBudget).asUnsigned() > 0) {
      tally.budget = folder.value(folder_key::kBudget).asUnsigned();
      const Value& size = folder.value(folder_key::kSizeAtLastCheck);
      if (size.isNumber()) tally.size = size.asUnsigned();
    }
    folders_.push_back(std::move(tally));
  }
  lastFolder_ = &folder;
  return folders_.back();
}

void RunTally::folderSkipped(const TrashFolder& folder, ScheduleAnswer answer) {
  (void)answer;
  FolderTally& tally = tallyOf(folder);
  tally.missing = folder.value(folder_key::kDisabledBecause).asText() == folder_key::kFolderNotFound;
  tally.tracked = folder.items() ? folder.items()->size() : 0;
  // Stored as a number or a date, by the run or the companion; absent when
  // the folder was never checked.
  if (!folder.value(folder_key::kLastCheck).isNone()) tally.lastCheck = folder.dateForKey(folder_key::kLastCheck);
}

void RunTally::folderMissing(const TrashFolder& folder) {
  // Not checked: it keeps what it tracked and when it was last checked.
  folderSkipped(folder, ScheduleAnswer::kNotPresent);
  tallyOf(folder).missing = true;
}

void RunTally::folderChecked(const TrashFolder& folder, bool examined) {
  FolderTally& tally = tallyOf(folder);
  tally.checked = true;
  // The check stamps the folder with this moment once its entries are done.
  tally.lastCheck = clock_();
  // A folder that could not be examined keeps what it tracked; an examined
  // one tracks what its entries' decisions keep.
  tally.tracked = !examined && folder.items() ? folder.items()->size() : 0;
}

void RunTally::entryDecided(const TrashFolder& folder, const std::string& name,
                            const EntryDecision& decision) {
  (void)name;
  FolderTally& tally = tallyOf(folder);
  ++tally.seen;
  switch (decision.kind) {
    case EntryDecision::kTakenIn:
      ++tally.takenIn;
      ++tally.tracked;
      break;
    case EntryDecision::kKept:
    case EntryDecision::kRestarted:
    case EntryDecision::kDeferred:
      ++tally.tracked;
      break;
    case EntryDecision::kRemoved:
      ++tally.removed;
      break;
    case EntryDecision::kNotRemoved:
      if (isFailure(decision.removal)) ++tally.failed;
      break;
  }
}

void RunTally::folderSized(const TrashFolder& folder, uint64_t bytes) {
  tallyOf(folder).size = bytes;
}

void RunTally::runFinished(int failures) {
  failures_ = failures;
  finish_ = clock_();
}

uint64_t RunTally::foldersChecked() const {
  uint64_t count = 0;
  for (const FolderTally& tally : folders_) count += tally.checked ? 1 : 0;
  return count;
}

uint64_t RunTally::sum(uint64_t FolderTally::*count) const {
  uint64_t total = 0;
  for (const FolderTally& tally : folders_) total += tally.*count;
  return total;
}

bool RunTally::isFailure(const RemovalPlan& plan) {
  switch (plan.result) {
    case RemovalResult::kRemoved:
    case RemovalResult::kDestinationAbsentNow:
      return false;
    case RemovalResult::kDeletionFailed:
    case RemovalResult::kMoveFailed:
      return true;
    default:
      return !plan.reason.empty();
  }
}

}  // namespace sweeprun
