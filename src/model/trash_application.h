#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/trash_folder.h"

namespace sweeprun {

using FolderList = std::vector<TrashFolder>;
using NameList = std::vector<std::string>;

/// Told when the folder list is replaced: the elements at indexes
/// [0, oldCount) are replaced (change kind 4), once before and once after.
class TrashFolderListObserver {
 public:
  virtual ~TrashFolderListObserver() = default;
  virtual void willChangeTrashFolderList(size_t oldCount) = 0;
  virtual void didChangeTrashFolderList(size_t oldCount) = 0;
};

/// Joins configured folders with stored ones (system mode). The
/// configuration-file parser implements it; the model does not depend on it.
class FolderListMerger {
 public:
  virtual ~FolderListMerger() = default;
  /// Merges the configured folders into |stored| in place; does nothing when
  /// |stored| is null.
  virtual void merge(FolderList* stored) = 0;
  virtual std::optional<NameList> globalIgnoreList() const = 0;
};

/// Holder of the folder list and, in system mode, the global ignore list.
class TrashApplication {
 public:
  TrashApplication();

  /// The folder list; null when the database yielded no list.
  FolderList* trashFolderList() { return list_ ? &*list_ : nullptr; }
  const FolderList* trashFolderList() const { return list_ ? &*list_ : nullptr; }
  void setTrashFolderList(std::optional<FolderList> list);
  size_t countOfTrashFolderList() const { return list_ ? list_->size() : 0; }
  TrashFolder& objectInTrashFolderListAtIndex(size_t index) { return (*list_)[index]; }
  const std::optional<NameList>& globalIgnoreList() const { return globalIgnoreList_; }

  /// Writes the folder list as a keyed archive, replacing the file
  /// atomically and keeping its mode; the file it replaces stays as the
  /// database's previous copy (see writeFileAtomicallyKeepingPrevious).
  /// False when the write failed; the old file is then intact. A database file that existed but yielded no folder
  /// list (unreadable, or without a root object) is never replaced: false.
  bool archiveToFile(const std::string& path, std::string& error) const;
  /// Reads the folder list from |path| (when given; the records read against
  /// |world|, see TrashFolder::fromCoder), then, when |merger| is
  /// given (system mode), merges the configured folders and takes the global
  /// ignore list. A file that cannot be read yields no list, and |error|
  /// (when given) says why. Throws PlatformException for content that is not
  /// a keyed archive of folders.
  /// |withItems| picks the folders whose tracked entries are decoded (see
  /// TrashFolder::fromCoder); all of them when not given.
  void unarchiveWithFile(const std::optional<std::string>& path, const RunWorld& world,
                         FolderListMerger* merger, std::string* error = nullptr,
                         const TrashFolder::ItemSelection& withItems = nullptr);

  void addObserver(TrashFolderListObserver* observer) { observers_.push_back(observer); }

 private:
  std::optional<FolderList> list_;
  std::optional<NameList> globalIgnoreList_;
  std::vector<TrashFolderListObserver*> observers_;
  // A database file that existed but yielded no list; never overwritten.
  std::optional<std::string> keptFile_;
};

}  // namespace sweeprun
