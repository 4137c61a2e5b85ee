#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/daily_schedule.h"
#include "engine/removal.h"
#include "model/folder_store.h"
#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"
#include "os/date.h"

namespace sweeprun {

class Settings;
class TrashConfigFileParser;

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
  /// The run is over (its database saved or not); |failures| as failures().
  virtual void runFinished(int failures) { (void)failures; }
  /// Asked before each removal of a run that does its work. False holds the
  /// condemned entry back: it stays where it is and tracked (deferred, with
  /// the reason), logged as not removed; the observer reports why, once. The
  /// run journal says no once it can record no more removals, and then for
  /// the rest of the run.
  virtual bool mayRemove() { return true; }
};

/// One run of the tool over the folder list: read the folder database, check
/// every folder that is due, save the database.
class TrashCollector {
 public:
  /// Names skipped in every folder, before the configured ones.
  static const std::vector<std::string> kBuiltInIgnoreNames;
  /// Conversions of the time of day that "DateFormat" must not hold.
  static const std::vector<std::string> kTimeSpecifiers;

  void setSafe(TrashApplication* application) { safe = application; }
  /// The settings of the run: the user's defaults, or in system mode the
  /// configuration file. Null: no setting is read or repaired.
  void setSettings(Settings* settings) { settings_ = settings; }
  /// System mode: the configuration file, which also names the database,
  /// the names to pass over everywhere, and the folders to merge in.
  void setConfiguration(TrashConfigFileParser* configuration) { configuration_ = configuration; }
  /// Reports every decision of the run to |observer| as well, in the order
  /// the observers were added (a null one is ignored).
  void addObserver(RunObserver* observer) {
    if (observer) observers_.push_back(observer);
  }
  /// A dry run decides everything a run would, but removes nothing, writes
  /// no read-me file, repairs no setting, saves no database and reports no
  /// error (the observer hears of every decision). Entries it plans to move
  /// into one folder get the names a run would give them there, also when
  /// they take a name away from each other.
  void setDryRun(bool dryRun) { dryRun_ = dryRun; }
  /// Opens the watched folders and the move-to folders through |folders|
  /// instead of the disk's (which must outlive the collector).
  void setFolders(const FolderOpener& folders) { folders_ = &folders; }

  /// Performs the run. True when the folder list held at least one folder
  /// when the walk began. Exceptions from decoding the database leave the run
  /// at once, before anything is saved.
  bool run();

  /// How many entries of the run could not be removed, moved or trashed,
  /// plus one when the database could not be saved.
  int failures() const { return failures_; }

  /// Examines one due folder: tracks, tests and removes its entries.
  void checkFolder(TrashFolder& folder);

  /// Reads the folder database of the current mode into the application.
  void readDB();
  /// Writes the application's folder list back to the same place.
  void saveDB();

 private:
  std::string databasePath() const;
  /// Takes the database's lock for the run; false (reported, counted as a
  /// failure) when another program kept it, or it could not be taken.
  bool lockDatabase();
  /// How long a run waits for a sweeply command to save.
  static constexpr std::chrono::seconds kLockWait{5};
  void repairDateFormat();

  /// |known|: the entry's attributes as this check read them, if it could.
  RemovalResult dispose(TrashFolder& folder, const Folder& dir, const std::string& name,
                        RemovalPlan& outcome, const EntryAttributes* known = nullptr);
  /// TrashLog::err, but only in a run that does its work.
  void reportError(std::string_view message) const;
  /// Whether every observer lets the run remove the next condemned entry
  /// (a dry run asks none).
  bool mayRemove() const;

  TrashApplication* safe = nullptr;
  Settings* settings_ = nullptr;
  TrashConfigFileParser* configuration_ = nullptr;
  Date start;
  std::vector<std::string> vips;
  std::vector<RunObserver*> observers_;
  const FolderOpener* folders_ = &diskFolders();
  bool dryRun_ = false;
  int failures_ = 0;
  // The database of the run's mode: read, locked from the read to the save
  // (a dry run takes no lock and saves nothing).
  std::optional<FolderStore> store_;
  // In a dry run: the paths that the entries planned so far would occupy.
  std::set<std::string> planned_;
};

}  // namespace sweeprun
