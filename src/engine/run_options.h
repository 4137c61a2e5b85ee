#pragma once

#include <vector>

#include "engine/run_observer.h"
#include "fs/folder.h"
#include "model/trash_application.h"

namespace sweeprun {

class Settings;
class TrashConfigFileParser;

/// The collaborators of one run besides its world; each must outlive it.
struct RunOptions {
  /// The folder list the run reads, checks and saves.
  TrashApplication* application = nullptr;
  /// The settings of the run: the user's defaults, or in system mode the
  /// configuration file. Null: no setting is read or repaired.
  Settings* settings = nullptr;
  /// System mode: the configuration file, which also names the database,
  /// the names to pass over everywhere, and the folders to merge in.
  TrashConfigFileParser* configuration = nullptr;
  /// Opens the watched folders and the move-to folders.
  const FolderOpener* folders = &diskFolders();
  /// A dry run decides everything a run would, but removes nothing, writes
  /// no read-me file, repairs no setting, saves no database and reports no
  /// error (the observers hear of every decision). Entries it plans to move
  /// into one folder get the names a run would give them there, also when
  /// they take a name away from each other.
  bool dryRun = false;
  /// Told every decision of the run, in this order (a null one is ignored).
  std::vector<RunObserver*> observers;
};

}  // namespace sweeprun
