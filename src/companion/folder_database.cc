#include "companion/folder_database.h"

#include "fs/dir_handle.h"
#include "fs/path.h"
#include "os/exception.h"

namespace sweeprun {

FolderDatabase::LoadStatus FolderDatabase::load(std::string& error,
                                                const TrashFolder::ItemSelection& withItems) {
  try {
    const LoadStatus status = store_.load(application_, nullptr, error, withItems);
    if (status != LoadStatus::kDamaged) return status;
  } catch (const PlatformException& e) {
    error = e.what();
  }
  // A damaged file shows as an empty list; the store never saves over it.
  application_.setTrashFolderList(FolderList());
  return LoadStatus::kDamaged;
}

TrashFolder* FolderDatabase::find(std::string_view path) {
  std::optional<size_t> index = indexOf(path);
  return index ? &folders()[*index] : nullptr;
}

std::optional<size_t> FolderDatabase::indexOf(std::string_view path) const {
  const FolderList& list = folders();
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].path() == path) return i;
  }
  return std::nullopt;
}

bool FolderDatabase::save(std::string& error) {
  DirHandle folder;
  if (DirHandle::createDirectories(deletingLastPathComponent(path()), folder, error) !=
      OpenStatus::kOpened) {
    return false;
  }
  return store_.save(application_, error);
}

}  // namespace sweeprun
