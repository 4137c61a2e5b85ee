#pragma once

#include <string>

#include "engine/trash_collector.h"
#include "log/run_journal.h"

namespace sweeprun {

/// Keeps the run journal of a run: told each decision, it appends one
/// record for every entry the run trashed, moved or deleted, right after the
/// entry was disposed of and before the next one is touched, and syncs the
/// journal once when the run ends. The journal is opened (and trimmed) at
/// the first such entry, so a run that removes nothing leaves it alone. A
/// journal that cannot be written is reported once as an error; the run
/// goes on, and failed() tells the run's status.
class JournalKeeper : public RunObserver {
 public:
  /// |path|: the journal of the run's mode (journalPath); |limitDays|: the
  /// run log's age limit ("LogLimit"), which trims the journal too.
  JournalKeeper(std::string path, double limitDays);

  void folderSkipped(const TrashFolder&, ScheduleAnswer) override {}
  void folderChecked(const TrashFolder&, bool) override {}
  void entryDecided(const TrashFolder& folder, const std::string& name,
                    const EntryDecision& decision) override;
  void runFinished(int failures) override;

  /// True when a record could not be written (or the journal not synced).
  bool failed() const { return failed_; }
  const std::string& runId() const { return runId_; }

 private:
  void fail(const std::string& reason);

  std::string path_;
  double limitDays_;
  Date started_;
  std::string runId_;
  uint64_t written_ = 0;
  bool failed_ = false;
  JournalWriter writer_;
  JournalRecord record_;
};

}  // namespace sweeprun
