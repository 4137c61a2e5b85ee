#include "model/trash_application.h"

#include <utility>

#include "archive/keyed_archive.h"
#include "fs/file_io.h"
#include "os/localization.h"

namespace sweeprun {

TrashApplication::TrashApplication() { setTrashFolderList(FolderList()); }

void TrashApplication::setTrashFolderList(std::optional<FolderList> list) {
  const size_t oldCount = countOfTrashFolderList();
  for (TrashFolderListObserver* observer : observers_)
    observer->willChangeTrashFolderList(oldCount);
  list_ = std::move(list);
  for (TrashFolderListObserver* observer : observers_) observer->didChangeTrashFolderList(oldCount);
}

bool TrashApplication::archiveToFile(const std::string& path, std::string& error) const {
  // The run expects a database it could not use to survive for inspection.
  if (keptFile_ && *keptFile_ == path) {
    error = "the database at '" + path + "' could not be read, and is kept as it is";
    return false;
  }
  const FolderList* list = trashFolderList();
  return writeFileAtomicallyKeepingPrevious(
      path,
      [list](ByteSink& sink) {
        archiveRootObjectArray(sink, list ? list->size() : 0,
                               [list](size_t i) -> const ArchivableObject& { return (*list)[i]; });
        return true;
      },
      error);
}

void TrashApplication::unarchiveWithFile(const std::optional<std::string>& path,
                                         const RunWorld& world, FolderListMerger* merger,
                                         std::string* reason,
                                         const TrashFolder::ItemSelection& withItems) {
  if (path) {
    std::string error;
    std::optional<FolderList> decoded;
    FolderList folders;
    if (unarchiveRootObjectArrayFromFile(
            *path, "TrashFolder",
            [&folders, &world, &withItems](KeyedDecoder& element) {
              folders.push_back(TrashFolder::fromCoder(element, world, withItems));
            },
            error))
      decoded = std::move(folders);
    if (decoded) {
      keptFile_.reset();
    } else if (fileExists(*path)) {
      keptFile_ = *path;
      if (reason) *reason = error.empty() ? localized("the archive has no root object") : error;
    }
    setTrashFolderList(std::move(decoded));
  }
  if (merger) {
    merger->merge(trashFolderList());
    globalIgnoreList_ = merger->globalIgnoreList();
  }
}

}  // namespace sweeprun
