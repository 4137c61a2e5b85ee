#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_observer.h"
#include "engine/run_options.h"
#include "model/folder_store.h"
#include "os/date.h"
#include "os/run_world.h"

namespace sweeprun {

class FolderCheck;

/// One run of the tool over the folder list: read the folder database, check
/// every folder that is due, save the database.
class TrashCollector {
 public:
  /// Names skipped in every folder, before the configured ones.
  static const std::vector<std::string> kBuiltInIgnoreNames;

  /// A run in |world| (its mode, paths, clock, lookups and run log) with
  /// |options|' collaborators; the world and the collaborators must outlive
  /// the collector.
  TrashCollector(const RunWorld& world, RunOptions options);

  /// Performs the run. True when the folder list held at least one folder
  /// when the walk began. Exceptions from decoding the database leave the run
  /// at once, before anything is saved.
  bool run();

  /// How many entries of the run could not be removed, moved or trashed,
  /// plus one when the database could not be saved.
  int failures() const { return failures_; }

  /// The database that was found but could not be read; empty when none.
  std::string damagedDatabase() const;

  /// Examines one due folder outside a run: tracks, tests and removes its
  /// entries (see FolderCheck).
  void checkFolder(TrashFolder& folder);

  /// Reads the folder database of the current mode into the application.
  void readDB();
  /// Writes the application's folder list back to the same place.
  void saveDB();

 private:
  /// Checks |folder| through |checks| when the schedule says it is due, else
  /// tells why not.
  void checkIfDue(TrashFolder& folder, FolderCheck& checks);
  std::string databasePath() const;
  /// Takes the database's lock for the run; false (reported, counted as a
  /// failure) when another program kept it, or it could not be taken.
  bool lockDatabase();
  /// How long a run waits for a sweeply command to save.
  static constexpr std::chrono::seconds kLockWait{5};
  void repairDateFormat();
  /// TrashLog::err, but only in a run that does its work.
  void reportError(std::string_view message) const;

  const RunWorld& world_;
  RunOptions options_;
  Date start_;
  // Names passed over in every folder of the run.
  std::vector<std::string> passedOver_;
  int failures_ = 0;
  // The database of the run's mode: read, locked from the read to the save
  // (a dry run takes no lock and saves nothing).
  std::optional<FolderStore> store_;
};

}  // namespace sweeprun
