#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/folder_store.h"
#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "os/process.h"

namespace sweeprun {

/// The user's folder database as the companion command edits it: read whole
/// through the folder store the run uses as well, changed in memory, written
/// back whole, and only when something changed.
class FolderDatabase {
 public:
  using LoadStatus = FolderStore::LoadStatus;

  static std::string userDatabasePath() {
    return FolderStore::userDatabasePath(process().homeDirectory);
  }

  explicit FolderDatabase(std::string path) : store_(std::move(path), process()) {}

  const std::string& path() const { return store_.path(); }

  /// Takes the database's lock (see FolderStore::lock).
  DatabaseLock::Status lock(std::chrono::milliseconds wait, std::string& error) {
    return store_.lock(wait, error);
  }

  /// Reads the file. kDamaged with the reason in |error| when it cannot be
  /// read or decoded; the folder list is then empty and save() refuses.
  /// With |withItems|, only the folders it picks get their tracked entries
  /// (see TrashFolder::fromCoder), and save() refuses: for commands that
  /// only report.
  LoadStatus load(std::string& error, const TrashFolder::ItemSelection& withItems = nullptr);

  FolderList& folders() { return *application_.trashFolderList(); }
  const FolderList& folders() const { return *application_.trashFolderList(); }

  /// The folder whose "path" is |path|, or null.
  TrashFolder* find(std::string_view path);
  /// Its position in the list, or none.
  std::optional<size_t> indexOf(std::string_view path) const;

  /// Writes the list back (see FolderStore::save), making the database's
  /// folder first when it is missing.
  /// REQUIRES: the database's lock is held (see loadDatabaseForChange).
  bool save(std::string& error);

 private:
  FolderStore store_;
  TrashApplication application_;
};

}  // namespace sweeprun
