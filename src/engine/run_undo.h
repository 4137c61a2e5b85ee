#pragma once

#include <string>
#include <vector>

#include "log/run_journal.h"

namespace sweeprun {

/// What an undo did (or, in a dry run, would do) with one entry of a run.
struct UndoStep {
  enum Outcome {
    kPutBack,         // back at its original path
    kWouldPutBack,    // a dry run: it would be put back
    kAlreadyPutBack,  // an earlier undo put it back
    kNotUndoable,     // deleted: nothing to put back
    kChanged,         // its destination holds another entry now, or none
    kTaken,           // a new entry holds its original path
    kFailed,          // the move back failed; it stays where it is
  };
  const JournalRecord* record = nullptr;
  Outcome outcome = kFailed;
  std::string detail;  // the system's reason, or what is in the way
};

/// The steps of an undo, in the order taken, and its end.
struct UndoReport {
  std::vector<UndoStep> steps;
  std::vector<std::string> removedFolders;  // dated sub-folders emptied and removed
  std::string journalError;                 // why the undo could not be recorded
  /// Whether any entry could not be put back (changed, taken or failed).
  bool anyLeft() const;
};

/// Puts back every trashed or moved entry of |run|, newest first: an entry
/// goes back only while its destination still holds the same entry (device,
/// inode and type), and never over anything at its original path; its Trash
/// info file is removed once it is back, and each dated sub-folder the run
/// made is removed when that leaves it empty. Every step works through
/// folder descriptors as a run does: the folders are opened as
/// DirHandle::openDirectory opens them (a link another user could have
/// planted is refused), the entry itself is never followed, and a move back
/// keeps the entry's owner (a copy across file systems by root as well).
/// Each entry put back is recorded in |journal| (when open) at once, so a
/// second undo leaves it. |dryRun| touches nothing.
UndoReport undoRun(const JournalRun& run, bool dryRun, JournalWriter* journal);

}  // namespace sweeprun
