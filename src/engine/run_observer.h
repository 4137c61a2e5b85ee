#pragma once

#include <cstdint>
#include <string>

#include "engine/daily_schedule.h"
#include "engine/removal.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"

namespace sweeprun {

/// What a folder check decided for one entry.
struct EntryDecision {
  enum Kind {
    kTakenIn,     // new, kept and tracked from now on
    kKept,        // tracked, unchanged, one more check survived
    kRestarted,   // tracked, but changed: tracking starts again, untested
    kRemoved,     // condemned and removed (or, in a dry run, would be)
    kDeferred,    // condemned, but left for a later run: the destination is absent
                  // for now, or the run may remove nothing more (mayRemove)
    kNotRemoved,  // condemned, but the removal failed (or would fail)
  };
  Kind kind;
  const TrashItem* item;  // the record the decision was made on
  const TrashRule* rule;  // the condemning rule, or null
  RemovalPlan removal;    // for condemned entries: result and destination
  // Condemned by the folder's size budget rather than a rule (|rule| null):
  // the rules kept the entry, and it was among the oldest of those they kept.
  bool forBudget = false;
};

/// Told what a run decides, folder by folder and entry by entry.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  /// A folder the schedule ruled out, with the schedule's answer.
  virtual void folderSkipped(const TrashFolder& folder, ScheduleAnswer answer) = 0;
  /// A folder check begins; |examined| is false when the folder (or its
  /// move-to folder) was not there, and then no entry follows.
  virtual void folderChecked(const TrashFolder& folder, bool examined) = 0;
  virtual void entryDecided(const TrashFolder& folder, const std::string& name,
                            const EntryDecision& decision) = 0;
  /// A folder check found no folder at the folder's path; told instead of
  /// folderChecked, and no entry follows. An observer that keeps no
  /// account of missing folders takes it as a folder not examined.
  virtual void folderMissing(const TrashFolder& folder) { folderChecked(folder, false); }
  /// A folder with a size budget: what its entries add up to once the
  /// check is done (in a dry run, once its plans are made).
  virtual void folderSized(const TrashFolder& folder, uint64_t bytes) {
    (void)folder;
    (void)bytes;
  }
  /// The run is over (its database saved or not); |failures| as failures().
  virtual void runFinished(int failures) { (void)failures; }
  /// Asked before each removal of a run that does its work. False holds the
  /// condemned entry back: it stays where it is and tracked (deferred, with
  /// the reason), logged as not removed; the observer reports why, once. The
  /// run journal says no once it can record no more removals, and then for
  /// the rest of the run.
  virtual bool mayRemove() { return true; }
};

}  // namespace sweeprun
