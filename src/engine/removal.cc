#include "engine/removal.h"

#include "fs/path.h"
#include "fs/place_entry.h"
#include "fs/trash_finder.h"
#include "fs/trash_info.h"
#include "os/date_style.h"
#include "os/process.h"

namespace sweeprun {

namespace {

RemovalPlan outcomeOf(RemovalResult result, std::string destination = {}) {
  RemovalPlan plan;
  plan.result = result;
  plan.destination = std::move(destination);
  return plan;
}

RemovalResult openFailure(OpenStatus status) {
  return status == OpenStatus::kNotDirectory ? RemovalResult::kDestinationNotDirectory
                                             : RemovalResult::kDestinationMissing;
}

RemovalResult moveResult(TrashFolder& folder, MoveStatus status) {
  if (status != MoveStatus::kMoved) return RemovalResult::kMoveFailed;
  folder.incrForKey("cout");
  return RemovalResult::kRemoved;
}

// In system mode an entry below an account folder goes to that account's
// Trash: "<users>/<account>/.Trash". Empty when the entry lies elsewhere.
// The path is standardized first: by its text, "/Users/../var/x" would
// name the account "..", whose Trash is "/.Trash".
std::string accountFolderOf(std::string_view path) {
  const std::string entryPath = standardizePath(path, {});
  const std::string prefix = standardizePath(process().usersFolder, {}) + "/";
  if (entryPath.compare(0, prefix.size(), prefix) != 0) return {};
  size_t end = entryPath.find('/', prefix.size());
  if (end == std::string::npos || end == prefix.size()) return {};
  return entryPath.substr(0, end);
}

// Moves the entry into |destination|, or into its dated sub-folder when the
// folder asks for one.
RemovalResult placeInto(TrashFolder& folder, const DirHandle& watched, const std::string& name,
                        const DirHandle& destination, RemovalPlan& done) {
  std::string& error = done.reason;
  EntryAttributes& placed = done.placed.emplace();
  done.destination = destination.path();
  if (!folder.value("datf").asBool()) {
    return moveResult(folder,
                      placeEntry(watched, name, destination, done.targetName, error, &placed));
  }
  DirHandle dated;
  bool created = false;
  OpenStatus status =
      destination.createChild(datedFolderName(process().clock()), dated, created, error);
  if (status != OpenStatus::kOpened) return openFailure(status);
  done.destination = dated.path();
  if (created) done.createdFolder = dated.path();
  return moveResult(folder, placeEntry(watched, name, dated, done.targetName, error, &placed));
}

// Into the Trash of the entry's file system and user (see TrashFinder): the
// running user's in user mode, the entry's owner's in system mode.
RemovalResult toTrash(TrashFolder& folder, const DirHandle& watched, const std::string& name,
                      RemovalPlan& done) {
  std::string& error = done.reason;
  UserTrash trash;
  const TrashFinder finder(process().systemMode ? std::nullopt : process().userTrashPath);
  const OpenStatus status = finder.openTrashFor(watched, name, trash, done.note, error);
  if (status == OpenStatus::kMissing) return RemovalResult::kNoTrash;
  if (status != OpenStatus::kOpened) return openFailure(status);
  Date now = process().clock();
  EntryAttributes& placed = done.placed.emplace();
  done.destination = trash.files().path();
  if (!folder.value("datf").asBool()) {
    const MoveStatus status = trash.trashEntry(watched, name, now, done.targetName, error, &placed);
    if (status == MoveStatus::kMoved) done.infoFile = trash.infoFilePath(done.targetName);
    return moveResult(folder, status);
  }
  DirHandle dated;
  bool created = false;
  const std::string datedName = datedFolderName(now);
  const OpenStatus datedStatus =
      trash.openDatedFolder(datedName, watched.path(), now, dated, error, &created);
  if (datedStatus != OpenStatus::kOpened) return openFailure(datedStatus);
  done.destination = dated.path();
  // The folder's own info file goes with it when it is emptied again.
  if (created) {
    done.createdFolder = dated.path();
    done.createdFolderInfo = trash.infoFilePath(datedName);
  }
  return moveResult(folder, placeEntry(watched, name, dated, done.targetName, error, &placed));
}

RemovalResult dispose(TrashFolder& folder, const DirHandle& watched, const std::string& name,
                      RemovalPlan& done) {
  if (!watched.isDeletable(name)) return RemovalResult::kNotDeletable;
  std::string& error = done.reason;

  switch (folder.value("play").asInteger()) {
    case TrashFolder::kMoveAction: {
      // The move-to folder itself is never created.
      DirHandle destination;
      done.destination = std::string(folder.value("move").asText());
      OpenStatus status = DirHandle::openDirectory(done.destination, destination, error);
      if (status == OpenStatus::kMissing) {
        return folder.value("temp").asBool() ? RemovalResult::kDestinationAbsentNow
                                             : RemovalResult::kDestinationMissing;
      }
      if (status == OpenStatus::kNotDirectory) return RemovalResult::kDestinationNotDirectory;
      if (status != OpenStatus::kOpened) return RemovalResult::kMoveFailed;
      return placeInto(folder, watched, name, destination, done);
    }
    case TrashFolder::kDeleteAction: {
      RemoveStatus status = watched.removeEntry(name, error);
      return status == RemoveStatus::kRemoved ? RemovalResult::kRemoved
                                              : RemovalResult::kDeletionFailed;
    }
    default: {
      if (!process().systemMode && !process().userTrashPath) return RemovalResult::kNoTrash;
      const std::string account =
          process().systemMode ? accountFolderOf(watched.entryPath(name)) : std::string();
      if (account.empty()) return toTrash(folder, watched, name, done);
      DirHandle trash;
      OpenStatus status = openAccountTrash(account, trash, error);
      if (status != OpenStatus::kOpened) return openFailure(status);
      return placeInto(folder, watched, name, trash, done);
    }
  }
}

// The name placeEntry would choose in the folder at |path| (|destination|,
// absent or closed for a folder that would be created, where every name is
// free on disk). |infoFolder| is a second folder the name must be free in,
// as the user Trash's "info" is; |claimed| holds paths that entries planned
// earlier would occupy.
std::string freeName(const std::string& path, const DirHandle* destination, const std::string& name,
                     const std::set<std::string>* claimed, size_t maxBytes,
                     const DirHandle* infoFolder = nullptr) {
  const bool onDisk = destination && destination->isOpen();
  for (unsigned long n = 0;; ++n) {
    std::string candidate = placeableName(name, n, maxBytes);
    if (onDisk && destination->statEntry(candidate)) continue;
    if (onDisk && infoFolder && infoFolder->isOpen() &&
        infoFolder->statEntry(candidate + ".trashinfo"))
      continue;
    if (claimed && claimed->count(joinPath(path, candidate))) continue;
    return candidate;
  }
}

// Plans the placing into the folder at |path| (which may not exist yet and
// would then be created), into its dated sub-folder when asked for.
RemovalPlan planPlacing(const TrashFolder& folder, const std::string& path, const std::string& name,
                        const std::set<std::string>* claimed, const std::string& infoPath = {}) {
  RemovalPlan plan;
  std::string error;
  DirHandle destination, info;
  OpenStatus status = DirHandle::openDirectory(path, destination, error);
  if (status == OpenStatus::kNotDirectory)
    return outcomeOf(RemovalResult::kDestinationNotDirectory, path);
  if (status == OpenStatus::kFailed) return outcomeOf(RemovalResult::kDestinationMissing, path);
  if (!infoPath.empty()) DirHandle::openDirectory(infoPath, info, error);
  plan.destination = path;
  if (folder.value("datf").asBool()) {
    std::string datedName = datedFolderName(process().clock());
    plan.destination = joinPath(path, datedName);
    DirHandle dated;
    if (destination.isOpen()) {
      std::optional<EntryAttributes> existing = destination.statEntry(datedName);
      if (existing && !existing->isDirectory())
        return outcomeOf(RemovalResult::kDestinationNotDirectory, plan.destination);
      if (existing) destination.openChild(datedName, dated, error);
    }
    // Entries inside a dated folder of the Trash have no info files.
    plan.targetName = freeName(plan.destination, &dated, name, claimed, kMaxNameBytes);
    return plan;
  }
  plan.targetName = freeName(path, &destination, name, claimed,
                             infoPath.empty() ? kMaxNameBytes : kMaxTrashedNameBytes, &info);
  return plan;
}

}  // namespace

RemovalPlan planUnlink(const TrashFolder& folder, const DirHandle& watched, const std::string& name,
                       const std::set<std::string>* claimed) {
  if (!watched.isDeletable(name)) return outcomeOf(RemovalResult::kNotDeletable);
  std::string error;
  switch (folder.value("play").asInteger()) {
    case TrashFolder::kMoveAction: {
      std::string path(folder.value("move").asText());
      DirHandle destination;
      OpenStatus status = DirHandle::openDirectory(path, destination, error);
      if (status == OpenStatus::kMissing) {
        return outcomeOf(folder.value("temp").asBool() ? RemovalResult::kDestinationAbsentNow
                                                       : RemovalResult::kDestinationMissing,
                         path);
      }
      if (status == OpenStatus::kNotDirectory)
        return outcomeOf(RemovalResult::kDestinationNotDirectory, path);
      if (status != OpenStatus::kOpened) return outcomeOf(RemovalResult::kMoveFailed, path);
      return planPlacing(folder, path, name, claimed);
    }
    case TrashFolder::kDeleteAction:
      return outcomeOf(RemovalResult::kRemoved);
    default: {
      if (!process().systemMode && !process().userTrashPath)
        return outcomeOf(RemovalResult::kNoTrash);
      const std::string account =
          process().systemMode ? accountFolderOf(watched.entryPath(name)) : std::string();
      if (!account.empty()) return planPlacing(folder, joinPath(account, ".Trash"), name, claimed);
      const TrashFinder finder(process().systemMode ? std::nullopt : process().userTrashPath);
      const std::optional<std::string> place = finder.placeFor(watched, name);
      if (!place) return outcomeOf(RemovalResult::kNoTrash);
      return planPlacing(folder, joinPath(*place, "files"), name, claimed,
                         joinPath(*place, "info"));
    }
  }
}

RemovalResult unlink(TrashFolder& folder, const DirHandle& watched, const std::string& name,
                     RemovalPlan* done) {
  RemovalPlan outcome;
  outcome.result = dispose(folder, watched, name, outcome);
  if (outcome.result == RemovalResult::kRemoved) {
    outcome.reason.clear();  // a step that failed, then went well
  } else {
    outcome.placed.reset();
  }
  if (done) *done = outcome;
  return outcome.result;
}

}  // namespace sweeprun
