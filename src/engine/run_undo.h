#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "log/run_journal.h"
#include "os/date.h"
#include "os/run_world.h"

namespace sweeprun {

/// What an undo did (or, in a dry run, would do) with one entry of a run.
struct UndoStep {
  enum Outcome {
    kPutBack,         // back at its original path
    kWouldPutBack,    // a dry run: it would be put back
    kAlreadyPutBack,  // an earlier undo put it back, or it is back by other means
    kNotUndoable,     // deleted: nothing to put back
    kChanged,         // its destination holds another entry now, or none
    kTaken,           // a new entry holds its original path
    kFailed,          // the move back failed; it stays where it is
    kRefused,         // its journal line does not hang together; nothing touched
  };
  const JournalRecord* record = nullptr;
  Outcome outcome = kFailed;
  std::string detail;  // the system's reason, or what is in the way
  /// The line is of an older journal, without owner and birth or change
  /// time: the entry was told only by device, inode and type.
  bool toldByInodeOnly = false;
};

/// The steps of an undo, in the order taken, and its end.
struct UndoReport {
  std::vector<UndoStep> steps;
  std::vector<std::string> removedFolders;  // dated sub-folders emptied and removed
  std::vector<std::string> foreignFolders;  // dated sub-folders left: not the ones made
  std::string journalError;                 // why the undo could not be recorded
  /// Whether any entry could not be put back (changed, taken, failed or
  /// refused).
  bool anyLeft() const;
};

struct UndoOptions {
  bool systemMode = false;  // the run is one of the system journal
  bool dryRun = false;      // touches nothing
  unsigned user = 0;        // the effective user: whose top-directory Trash a
                            // user-mode undo may take entries from
  std::string usersFolder;  // where account folders (and their .Trash) live
  std::function<Date()> clock;  // stamps each entry put back in the journal
  std::chrono::seconds treeTimeLimit = kEntryTreeTimeLimit;  // for moving one entry's tree
};

/// Puts back every trashed or moved entry of |run|, newest first.
///
/// Each journal line is taken on its own and refused unless its paths hang
/// together: written by a run of the mode undone, absolute and standard,
/// the original in the watched folder, a trashed entry in a Trash (in user
/// mode the user's own), its info file "<Trash>/info/<name in files>.trashinfo"
/// beside it, and a made folder the one holding the entry. An entry goes
/// back only while its destination still holds the same entry (device,
/// inode and type, and where recorded the owner and the birth time, else
/// the change time it had once placed), and never over anything at its
/// original path, nor (by root) into another account's folder unless it is
/// theirs; then its Trash info file is removed. A dated sub-folder
/// the run made is removed when putting back its entries left it empty and
/// it is still the folder made (device, inode, and where recorded owner and
/// birth time).
///
/// Every step works through folder descriptors as a run does: the folders
/// are opened as DirHandle::openDirectory opens them (a link another user
/// could have planted is refused), the entry itself is never followed, and a
/// move back keeps the entry's owner (a copy across file systems by root as
/// well). Each entry put back is recorded in |journal| (when open) at once,
/// so a second undo leaves it.
UndoReport undoRun(const JournalRun& run, const UndoOptions& options, JournalWriter* journal);

}  // namespace sweeprun
