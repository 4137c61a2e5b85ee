#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "fs/database_lock.h"
#include "fs/file_io.h"
#include "model/trash_folder.h"

namespace sweeprun {

class FolderListMerger;
class TrashApplication;

/// The folder database of one mode, as both commands read and write it: the
/// run (which checks the folders) and sweeply (which edits the list). It
/// knows where the user's database lives (in system mode the configuration
/// names it), takes the lock that keeps two programs from saving over each
/// other, reads the file, and writes it back atomically, never over a file it
/// could not read nor over one that changed on disk since it was read.
class FolderStore {
 public:
  enum class LoadStatus {
    kLoaded,   // the file held a folder list
    kMissing,  // no file yet
    kDamaged,  // a file that cannot be read or holds no list; it is never written
  };

  /// "~/Library/Application Support/Sweeply/Sweeply.data" below
  /// |homeDirectory|.
  static std::string userDatabasePath(const std::string& homeDirectory);

  /// The store of the database at |path|, whose records are read against
  /// |world| (see TrashFolder::fromCoder); |world| must outlive it.
  FolderStore(std::string path, const RunWorld& world) : path_(std::move(path)), world_(world) {}

  const std::string& path() const { return path_; }

  /// Takes the database's lock, waiting up to |wait| for the program that
  /// holds it. Held until the store goes. The database's folder must exist.
  DatabaseLock::Status lock(std::chrono::milliseconds wait, std::string& error);

  /// Reads the file into |application| and, when |merger| is given (system
  /// mode), merges the configured folders, also when there is no file. A
  /// missing file leaves an empty list; kDamaged says why in |error| and
  /// leaves no list. Throws PlatformException for content that is not a
  /// keyed archive of folders. With |withItems|, only the folders it picks
  /// get their tracked entries (see TrashFolder::fromCoder) and save()
  /// refuses, since the others would be saved without theirs: for commands
  /// that only report.
  LoadStatus load(TrashApplication& application, FolderListMerger* merger, std::string& error,
                  const TrashFolder::ItemSelection& withItems = nullptr);

  LoadStatus status() const { return status_; }

  /// What every command says of a database that cannot be read: which file,
  /// why (|reason|), that it was left as it is, and how to go on. In system
  /// mode no command puts the previous copy back: the text names it.
  static std::string damagedText(const std::string& path, const std::string& reason,
                                 bool systemMode);

  /// Writes |application|'s folder list back in place of the file it was
  /// loaded from. The lock must be held and the folder exist. Refuses
  /// (false, with the reason in |error|) after a damaged load, and when the
  /// file changed on disk since it was loaded, so that a change saved by a
  /// program that did not take the lock is never overwritten either.
  bool save(const TrashApplication& application, std::string& error);

 private:
  std::string path_;
  const RunWorld& world_;
  DatabaseLock lock_;
  LoadStatus status_ = LoadStatus::kMissing;
  std::optional<FileIdentity> loaded_;  // none when there was no file
  bool forReportOnly_ = false;
};

}  // namespace sweeprun
