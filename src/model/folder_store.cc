#include "model/folder_store.h"

#include "fs/path.h"
#include "fs/temporary_file.h"
#include "model/trash_application.h"
#include "os/localization.h"

namespace sweeprun {

namespace {

constexpr const char* kUserDatabase = "~/Library/Application Support/Sweeply/Sweeply.data";

}  // namespace

std::string FolderStore::userDatabasePath(const std::string& homeDirectory) {
  return standardizePath(kUserDatabase, homeDirectory);
}

std::string FolderStore::damagedText(const std::string& path, const std::string& reason,
                                     bool systemMode) {
  if (systemMode) {
    return localized(
        "The folder database '%@' cannot be read (%@); it was left as it is. Move the copy kept "
        "by the last save, '%@', into its place, or move the file away to start afresh.",
        {path, reason, path + kPreviousCopySuffix});
  }
  return localized(
      "The folder database '%@' cannot be read (%@); it was left as it is. Run 'sweeply "
      "restore-previous' to go back to the copy kept by the last save, or move the file away "
      "to start afresh.",
      {path, reason});
}

DatabaseLock::Status FolderStore::lock(std::chrono::milliseconds wait, std::string& error) {
  return DatabaseLock::acquire(path_, wait, lock_, error);
}

FolderStore::LoadStatus FolderStore::load(TrashApplication& application, FolderListMerger* merger,
                                          std::string& error,
                                          const TrashFolder::ItemSelection& withItems) {
  forReportOnly_ = static_cast<bool>(withItems);
  // Taken before the read: a file replaced in between then counts as changed
  // at the save, which refuses rather than overwrite what it never read.
  loaded_ = identityOfFile(path_);
  if (!loaded_) {
    application.setTrashFolderList(FolderList());
    application.unarchiveWithFile(std::nullopt, world_, merger);
    return status_ = LoadStatus::kMissing;
  }
  // Until the decoding is through, a save must not replace the file.
  status_ = LoadStatus::kDamaged;
  application.unarchiveWithFile(path_, world_, merger, &error, withItems);
  return status_ = application.trashFolderList() ? LoadStatus::kLoaded : LoadStatus::kDamaged;
}

bool FolderStore::save(const TrashApplication& application, std::string& error) {
  if (status_ == LoadStatus::kDamaged) {
    error = localized("the folder database could not be read, so it is left as it is");
    return false;
  }
  if (forReportOnly_) {
    error = "the folder database was loaded for a report only";
    return false;
  }
  if (identityOfFile(path_) != loaded_) {
    error = localized(
        "the folder database changed on disk since it was read; nothing was saved, "
        "please try again");
    return false;
  }
  // The lock is held: a temporary file beside the database was left by a
  // killed save, whatever its age.
  removeAbandonedTemporariesOf(path_, 0);
  if (!application.archiveToFile(path_, error)) return false;
  loaded_ = identityOfFile(path_);
  status_ = LoadStatus::kLoaded;
  return true;
}

}  // namespace sweeprun
