#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <set>
#include <string>

#include "engine/run_tally.h"
#include "os/date.h"

namespace sweeprun {

/// What a run shows a person watching it on a terminal: while a long run
/// goes on, one line of progress rewritten in place, and at the end one line
/// per checked folder, "<folder>: 120 seen, 3 taken in, 2 removed, 1
/// failed", counted as the metrics file counts them (a RunTally). Made only
/// for a terminal (see RunWorld::outIsTerminal): a log,
/// a pipe or a timer's mail gets neither.
class TerminalSummary : public RunObserver {
 public:
  /// Progress shows once a run has seen more entries than this.
  static constexpr uint64_t kProgressAfter = 5000;
  /// And is rewritten at most this often, in seconds.
  static constexpr double kProgressInterval = 0.25;

  /// Writes to |out|, the terminal, which must outlive the observer; |clock|
  /// paces the progress line.
  TerminalSummary(std::ostream& out, std::function<Date()> clock);

  void folderSkipped(const TrashFolder& folder, ScheduleAnswer answer) override;
  void folderChecked(const TrashFolder& folder, bool examined) override;
  void entryDecided(const TrashFolder& folder, const std::string& name,
                    const EntryDecision& decision) override;
  void runFinished(int failures) override;

 private:
  void showProgress();
  /// Overwrites the progress line with blanks, leaving the cursor at the
  /// start of the line.
  void eraseProgress();

  std::ostream& out_;
  std::function<Date()> clock_;
  RunTally tally_;
  std::set<std::string> notExamined_;  // paths of folders checked but not there
  uint64_t runEntries_ = 0;
  double lastShown_ = 0;      // when the progress line was last written
  size_t progressWidth_ = 0;  // its length; 0 while none is shown
};

}  // namespace sweeprun
