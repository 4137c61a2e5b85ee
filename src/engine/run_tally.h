#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/trash_collector.h"
#include "os/date.h"

namespace sweeprun {

/// What one run did in one watched folder, and what the folder holds after it.
struct FolderTally {
  std::string path;
  bool enabled = false;
  bool checked = false;           // checked in this run (else skipped by the schedule)
  bool missing = false;           // not found by this run, or turned off since a run did not find it
  uint64_t seen = 0;              // entries decided on in this run
  uint64_t takenIn = 0;           // new entries, kept and tracked from now on
  uint64_t removed = 0;           // trashed, deleted or moved
  uint64_t failed = 0;            // condemned, but the removal failed
  uint64_t tracked = 0;           // entries the folder tracks after the run
  std::optional<Date> lastCheck;  // none when the folder was never checked
  std::optional<uint64_t> budget;  // the size budget in bytes; none without one
  std::optional<uint64_t> size;    // with a budget: the size at its last check, when known
};

/// What a whole run did: an observer that counts every decision, folder by
/// folder, for the run's summary record and the metrics file. The counts of
/// a run are complete once it told runFinished.
class RunTally : public RunObserver {
 public:
  /// The run begins now, by |clock|, which also stamps each folder checked
  /// and the run's end.
  explicit RunTally(std::function<Date()> clock) : clock_(std::move(clock)), start_(clock_()) {}

  void folderSkipped(const TrashFolder& folder, ScheduleAnswer answer) override;
  void folderChecked(const TrashFolder& folder, bool examined) override;
  void folderMissing(const TrashFolder& folder) override;
  void entryDecided(const TrashFolder& folder, const std::string& name,
                    const EntryDecision& decision) override;
  void folderSized(const TrashFolder& folder, uint64_t bytes) override;
  void runFinished(int failures) override;

  /// Every folder of the run's list, in the order the run met them.
  const std::vector<FolderTally>& folders() const { return folders_; }
  Date start() const { return start_; }
  /// The moment the run finished; its start before then.
  Date finish() const { return finish_ ? *finish_ : start_; }
  double durationSeconds() const { return finish().seconds - start_.seconds; }
  /// Failures as the run counted them (failed entries, a database that was
  /// locked or not saved).
  int failures() const { return failures_; }

  /// Sums over the folders.
  uint64_t foldersChecked() const;
  uint64_t seen() const { return sum(&FolderTally::seen); }
  uint64_t takenIn() const { return sum(&FolderTally::takenIn); }
  uint64_t removed() const { return sum(&FolderTally::removed); }
  uint64_t failed() const { return sum(&FolderTally::failed); }

  /// True when the removal |plan| of a condemned entry counts as a failure:
  /// an action tried that did not come off, or a Trash or destination
  /// refused with a reason. An entry that may not be deleted or whose
  /// destination is away for now stays, without failing.
  static bool isFailure(const RemovalPlan& plan);

 private:
  FolderTally& tallyOf(const TrashFolder& folder);
  uint64_t sum(uint64_t FolderTally::*count) const;

  std::function<Date()> clock_;
  Date start_;
  std::optional<Date> finish_;
  int failures_ = 0;
  std::vector<FolderTally> folders_;
  // The folder whose tally is last in |folders_|: the folders of a run stay
  // where they are until it ends, so its address answers for its path.
  const TrashFolder* lastFolder_ = nullptr;
};

}  // namespace sweeprun
