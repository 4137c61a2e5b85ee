#pragma once

#include <string>

#include "engine/trash_collector.h"
#include "log/run_journal.h"
#include "os/run_world.h"

namespace sweeprun {

/// Keeps the run journal of a run: told each decision, it appends one
/// record for every entry the run trashed, moved or deleted, right after the
/// entry was disposed of and before the next one is touched, and syncs the
/// journal once when the run ends. The journal is opened (and trimmed) when
/// the run is about to remove its first entry, so a run that removes nothing
/// leaves it alone.
///
/// No removal goes without its record: before each one the keeper makes
/// sure the journal can take its line (JournalWriter::canTakeLine), and
/// once it cannot, or a line could not be written after all, it lets the run
/// remove nothing more. That is reported once as an error with the reason,
/// and the run's journal ends with an incomplete record (written into room
/// kept for it), which sweeply history and undo show. The run goes on with
/// its bookkeeping, and failed() tells its status.
class JournalKeeper : public RunObserver {
 public:
  /// A run of |world|'s mode, beginning now by its clock. |path|: the
  /// journal of that mode (journalPath); |limitDays|: the run log's age
  /// limit ("LogLimit"), which trims the journal too.
  JournalKeeper(const RunWorld& world, std::string path, double limitDays);

  /// A folder this run turned off because it was not found, as one that
  /// the run did not find: a missing record.
  void folderSkipped(const TrashFolder& folder, ScheduleAnswer answer) override;
  void folderChecked(const TrashFolder&, bool) override {}
  void folderMissing(const TrashFolder& folder) override;
  void entryDecided(const TrashFolder& folder, const std::string& name,
                    const EntryDecision& decision) override;
  void runFinished(int failures) override;
  /// False once the journal can take no more lines.
  bool mayRemove() override;

  /// True when a record could not be written (or the journal not synced).
  bool failed() const { return failed_; }
  const std::string& runId() const { return runId_; }

 private:
  void fail(const std::string& reason);
  /// A record of the run itself (incomplete, missing), after its last entry.
  JournalRecord runRecord(JournalRecord::Kind kind) const;
  /// Stops the removals of the run for |reason|, reported once, and ends
  /// its journal with an incomplete record. |unrecorded|: the path of an
  /// entry removed whose line then could not be written, or null.
  void stop(const std::string& reason, const std::string* unrecorded);

  const RunWorld& world_;  // its run log, as it stands when something goes wrong
  std::string path_;
  double limitDays_;
  Date started_;
  std::string mode_;  // "system" or "user"
  std::string runId_;
  uint64_t written_ = 0;
  bool failed_ = false;
  bool stopped_ = false;
  JournalWriter writer_;
  JournalRecord record_;
};

}  // namespace sweeprun
