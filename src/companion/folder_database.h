#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/trash_application.h"
#include "model/trash_folder.h"

namespace sweeprun {

/// The user's folder database as the companion command edits it: read whole,
/// changed in memory, written back whole with the tool's own archive and
/// atomic save, and only when something changed.
class FolderDatabase {
 public:
  enum class LoadStatus {
    kLoaded,   // the file held a folder list
    kMissing,  // no file yet: an empty list
    kDamaged,  // a file that cannot be read or decoded; it is never written
  };

  /// The database at "~/Library/Application Support/Sweeply/Sweeply.data"
  /// below the home folder of the process context.
  static std::string userDatabasePath();

  explicit FolderDatabase(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  /// Reads the file. kDamaged with the reason in |error| when it cannot be
  /// read or decoded; the folder list is then empty and save() refuses.
  /// With |withItems|, only the folders it picks get their tracked entries
  /// (see TrashFolder::fromCoder), the file is read through a mapping
  /// instead of a copy, and save() refuses: for commands that only report.
  LoadStatus load(std::string& error, const TrashFolder::ItemSelection& withItems = nullptr);

  FolderList& folders() { return *application_.trashFolderList(); }
  const FolderList& folders() const { return *application_.trashFolderList(); }

  /// The folder whose "path" is |path|, or null.
  TrashFolder* find(std::string_view path);
  /// Its position in the list, or none.
  std::optional<size_t> indexOf(std::string_view path) const;

  /// Writes the list back, creating the database's folder when missing.
  /// REQUIRES: the database's lock is held (see loadDatabaseForChange).
  /// Refuses (false, with the reason in |error|) after a damaged load, and
  /// when the file changed on disk since it was loaded, so that a change
  /// saved meanwhile by a run is never overwritten.
  bool save(std::string& error);

 private:
  LoadStatus loadForReport(std::string& error, const TrashFolder::ItemSelection& withItems);

  std::string path_;
  TrashApplication application_;
  LoadStatus status_ = LoadStatus::kMissing;
  bool forReportOnly_ = false;
  std::optional<std::string> loadedBytes_;  // none when there was no file
};

}  // namespace sweeprun
