#pragma once

#include <functional>
#include <optional>
#include <string>

#include "engine/run_tally.h"

namespace sweeprun {

/// MESSAGE_ID of the journal record that ends every run, with its counts.
inline constexpr std::string_view kRunSummaryMessageId = "d98cc2c439614292bc4de5387d1f5cd0";
/// MESSAGE_ID of the journal record of one removal, move or trash.
inline constexpr std::string_view kEntryActionMessageId = "c7323adfabdf43ed8a62c8ad041c476d";

/// What a run tells the tools that watch a fleet of machines. Where the
/// journal listens, each removal, move or trash becomes a record with
/// fields a query can select (SWEEPRUN_FOLDER, SWEEPRUN_ENTRY,
/// SWEEPRUN_ACTION, SWEEPRUN_DESTINATION, SWEEPRUN_RESULT), and the run
/// ends with one summary record; when a metrics file is named, the run
/// replaces it with the metrics of metricsText. Add it to the run as an
/// observer, then call finish.
class RunReport : public RunObserver {
 public:
  /// The run begins now, by |clock| (see RunTally); |metricsFile| is the
  /// standardized path of the metrics file, or none.
  RunReport(std::function<Date()> clock, std::optional<std::string> metricsFile);

  void folderSkipped(const TrashFolder& folder, ScheduleAnswer answer) override {
    tally_.folderSkipped(folder, answer);
  }
  void folderChecked(const TrashFolder& folder, bool examined) override {
    tally_.folderChecked(folder, examined);
  }
  void folderMissing(const TrashFolder& folder) override { tally_.folderMissing(folder); }
  void entryDecided(const TrashFolder& folder, const std::string& name,
                    const EntryDecision& decision) override;
  void folderSized(const TrashFolder& folder, uint64_t bytes) override {
    tally_.folderSized(folder, bytes);
  }
  void runFinished(int failures) override { tally_.runFinished(failures); }

  /// Sends the summary record and writes the metrics file, for a run that
  /// ends with |exitStatus|: a new file beside it, renamed over the name,
  /// which must hold nothing yet or a regular file of the run's own user.
  /// A link, a folder, another special file or another user's file there,
  /// or a write that fails, is reported as an error with the reason and
  /// left as it is; the run's status stands. Errors go to |runLog| (null
  /// when none is open) as well.
  void finish(int exitStatus, TrashLog* runLog);

  const RunTally& tally() const { return tally_; }

 private:
  RunTally tally_;
  std::optional<std::string> metricsFile_;
  bool journal_;  // whether the journal listened when the run began
};

}  // namespace sweeprun
