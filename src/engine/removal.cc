#include "engine/removal.h"

#include "platform/date_style.h"
#include "platform/path.h"
#include "platform/place_entry.h"
#include "platform/process.h"
#include "platform/trash_info.h"

namespace sweeprun {

namespace {

int openFailure(OpenStatus status) {
  return status == OpenStatus::kNotDirectory ? kDestinationNotDirectory : kDestinationMissing;
}

int moveResult(TrashFolder& folder, MoveStatus status) {
  if (status != MoveStatus::kMoved) return kMoveFailed;
  folder.incrForKey("cout");
  return kRemoved;
}

// In system mode an entry below an account folder goes to that account's
// Trash: "<users>/<account>/.Trash". Empty when the entry lies elsewhere.
std::string accountFolderOf(const std::string& entryPath) {
  std::string prefix = process().usersFolder + "/";
  if (entryPath.compare(0, prefix.size(), prefix) != 0) return {};
  size_t end = entryPath.find('/', prefix.size());
  if (end == std::string::npos || end == prefix.size()) return {};
  return entryPath.substr(0, end);
}

// Moves the entry into |destination|, or into its dated sub-folder when the
// folder asks for one.
int placeInto(TrashFolder& folder, const DirHandle& watched, const std::string& name,
              const DirHandle& destination) {
  std::string placed, error;
  if (!folder.value("datf").asBool()) {
    return moveResult(folder, placeEntry(watched, name, destination, placed, error));
  }
  DirHandle dated;
  bool created = false;
  OpenStatus status = destination.createChild(datedFolderName(process().clock()), dated,
                                              created, error);
  if (status != OpenStatus::kOpened) return openFailure(status);
  return moveResult(folder, placeEntry(watched, name, dated, placed, error));
}

int toUserTrash(TrashFolder& folder, const DirHandle& watched, const std::string& name) {
  std::string error, placed;
  UserTrash trash;
  OpenStatus status = UserTrash::open(*process().userTrashPath, trash, error);
  if (status != OpenStatus::kOpened) return openFailure(status);
  Date now = process().clock();
  if (!folder.value("datf").asBool()) {
    return moveResult(folder, trash.trashEntry(watched, name, now, placed, error));
  }
  DirHandle dated;
  status = trash.openDatedFolder(datedFolderName(now), watched.path(), now, dated, error);
  if (status != OpenStatus::kOpened) return openFailure(status);
  return moveResult(folder, placeEntry(watched, name, dated, placed, error));
}

}  // namespace

int unlink(TrashFolder& folder, const DirHandle& watched, const std::string& name) {
  if (!watched.isDeletable(name)) return kNotDeletable;
  std::string error;

  switch (folder.value("play").asInteger()) {
    case TrashFolder::kMoveAction: {
      // The move-to folder itself is never created.
      DirHandle destination;
      OpenStatus status =
          DirHandle::openDirectory(std::string(folder.value("move").asText()), destination, error);
      if (status == OpenStatus::kMissing) {
        return folder.value("temp").asBool() ? kDestinationAbsentNow : kDestinationMissing;
      }
      if (status == OpenStatus::kNotDirectory) return kDestinationNotDirectory;
      if (status != OpenStatus::kOpened) return kMoveFailed;
      return placeInto(folder, watched, name, destination);
    }
    case TrashFolder::kDeleteAction: {
      RemoveStatus status = watched.removeEntry(name, error);
      return status == RemoveStatus::kRemoved ? kRemoved : kDeletionFailed;
    }
    default: {
      if (process().userTrashPath) return toUserTrash(folder, watched, name);
      if (!process().systemMode) return kNoTrash;
      std::string account = accountFolderOf(watched.entryPath(name));
      if (account.empty()) return kNoTrash;
      DirHandle trash;
      OpenStatus status = openAccountTrash(account, trash, error);
      if (status != OpenStatus::kOpened) return openFailure(status);
      return placeInto(folder, watched, name, trash);
    }
  }
}

}  // namespace sweeprun
