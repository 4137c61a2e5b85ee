#include "engine/removal.h"

#include <functional>
#include <map>
#include <memory>

#include "engine/loggable_text.h"
#include "fs/path.h"
#include "fs/place_entry.h"
#include "fs/trash_finder.h"
#include "fs/trash_info.h"
#include "log/trash_log.h"
#include "model/record_keys.h"
#include "os/date.h"
#include "os/date_style.h"
#include "os/localization.h"

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
  folder.incrForKey(folder_key::kMovedOut);
  return RemovalResult::kRemoved;
}

// In system mode an entry below an account folder goes to that account's
// Trash: "<users>/<account>/.Trash". Empty when the entry lies elsewhere.
// The path is standardized first: by its text, "/Users/../var/x" would
// name the account "..", whose Trash is "/.Trash".
std::string accountFolderIn(const std::string& usersFolder, std::string_view path) {
  const std::string entryPath = standardizePath(path, {});
  const std::string prefix = standardizePath(usersFolder, {}) + "/";
  if (entryPath.compare(0, prefix.size(), prefix) != 0) return {};
  size_t end = entryPath.find('/', prefix.size());
  if (end == std::string::npos || end == prefix.size()) return {};
  return entryPath.substr(0, end);
}

// The name placeEntry would choose in the folder at |path| (|destination|,
// null for a folder that would be created, where every name is free on
// disk). |infoFolder| is a second folder the name must be free in, as the
// user Trash's "info" is; |claimed| holds paths that entries planned earlier
// would occupy.
std::string freeName(const std::string& path, const Folder* destination, const std::string& name,
                     const std::set<std::string>* claimed, size_t maxBytes,
                     const Folder* infoFolder = nullptr) {
  for (unsigned long n = 0;; ++n) {
    std::string candidate = placeableName(name, n, maxBytes);
    if (destination && destination->statEntry(candidate)) continue;
    if (destination && infoFolder && infoFolder->statEntry(candidate + ".trashinfo")) continue;
    if (claimed && claimed->count(joinPath(path, candidate))) continue;
    return candidate;
  }
}

}  // namespace

// The dated sub-folder |datedName| of |parent|: the one the remover keeps,
// or one |open| opens into |own| (and the remover then keeps). Null when it
// could not be opened.
const Folder* Remover::datedFolder(
    const Folder& parent, const std::string& datedName, std::unique_ptr<Folder>& own,
    OpenStatus& status, const std::function<OpenStatus(std::unique_ptr<Folder>&)>& open) {
  const std::string path = joinPath(parent.path(), datedName);
  auto kept = dated_.find(path);
  if (kept != dated_.end()) {
    status = OpenStatus::kOpened;
    return kept->second.get();
  }
  status = open(own);
  if (status != OpenStatus::kOpened || !own) return nullptr;
  return (dated_[path] = std::move(own)).get();
}

// Before the first move from another volume into |destination|, removes the
// staging folders that such moves left there when they were killed, and
// logs each.
void Remover::clearLeftovers(const Folder& watched, const Folder& destination) {
  if (watched.device() == destination.device()) return;
  if (!cleared_.insert(destination.path()).second) return;
  for (const LeftoverStaging& left : removeLeftoverStaging(destination.realFolder())) {
    if (left.error.empty()) {
      logLine(world_.runLog, localized("Removed '%@', left by a move that was cut short.",
                                          {loggableText(left.path)}));
    } else {
      TrashLog::err(world_.runLog, loggableText(left.error));
    }
  }
}

// Moves the entry into |destination|, or into its dated sub-folder when the
// folder asks for one.
RemovalResult Remover::placeInto(TrashFolder& folder, const Folder& watched,
                                 const std::string& name, const Folder& destination,
                                 RemovalPlan& done, const EntryAttributes* known) {
  std::string& error = done.reason;
  EntryAttributes& placed = done.placed.emplace();
  done.destination = destination.path();
  if (!folder.value(folder_key::kDatedFolder).asBool()) {
    clearLeftovers(watched, destination);
    return moveResult(folder, placeEntry(watched, name, destination, world_.entryTreeTimeLimit,
                                         done.targetName, error, &placed, known));
  }
  std::unique_ptr<Folder> own;
  OpenStatus status;
  bool created = false;
  const std::string datedName = datedFolderName(world_.clock());
  const Folder* dated =
      datedFolder(destination, datedName, own, status, [&](std::unique_ptr<Folder>& opened) {
        return destination.createChild(datedName, opened, created, error);
      });
  if (!dated) return openFailure(status);
  done.destination = dated->path();
  if (created) {
    done.createdFolder = dated->path();
    done.createdFolderAttributes = destination.statEntry(datedName);
  }
  clearLeftovers(watched, *dated);
  return moveResult(folder, placeEntry(watched, name, *dated, world_.entryTreeTimeLimit,
                                       done.targetName, error, &placed, known));
}

// Into the Trash of the entry's file system and user (see TrashFinder): the
// running user's in user mode, the entry's owner's in system mode.
RemovalResult Remover::toTrash(TrashFolder& folder, const Folder& watched,
                               const std::string& name, RemovalPlan& done,
                               const EntryAttributes* known) {
  std::string& error = done.reason;
  const UserTrash* trash = nullptr;
  const OpenStatus status = finder_.sharedTrashFor(watched, name, trash, done.note, error, known);
  if (status == OpenStatus::kMissing) return RemovalResult::kNoTrash;
  if (status != OpenStatus::kOpened) return openFailure(status);
  Date now = world_.clock();
  EntryAttributes& placed = done.placed.emplace();
  done.destination = trash->files().path();
  if (!folder.value(folder_key::kDatedFolder).asBool()) {
    clearLeftovers(watched, trash->files());
    const MoveStatus moved = trash->trashEntry(watched, name, now, world_.entryTreeTimeLimit,
                                               done.targetName, error, &placed, known);
    if (moved == MoveStatus::kMoved) done.infoFile = trash->infoFilePath(done.targetName);
    return moveResult(folder, moved);
  }
  std::unique_ptr<Folder> ownDated;
  OpenStatus datedStatus;
  bool created = false;
  const std::string datedName = datedFolderName(now);
  const Folder* dated = datedFolder(
      trash->files(), datedName, ownDated, datedStatus, [&](std::unique_ptr<Folder>& opened) {
        auto handle = std::make_unique<DirHandle>();
        const OpenStatus opening =
            trash->openDatedFolder(datedName, watched.path(), now, *handle, error, &created);
        opened = std::move(handle);
        return opening;
      });
  if (!dated) return openFailure(datedStatus);
  done.destination = dated->path();
  // The folder's own info file goes with it when it is emptied again.
  if (created) {
    done.createdFolder = dated->path();
    done.createdFolderInfo = trash->infoFilePath(datedName);
    done.createdFolderAttributes = trash->files().statEntry(datedName);
  }
  clearLeftovers(watched, *dated);
  return moveResult(folder, placeEntry(watched, name, *dated, world_.entryTreeTimeLimit,
                                       done.targetName, error, &placed, known));
}

RemovalResult Remover::dispose(TrashFolder& folder, const Folder& watched,
                               const std::string& name, RemovalPlan& done,
                               const EntryAttributes* known) {
  if (!watched.isDeletable(name, known)) return RemovalResult::kNotDeletable;
  std::string& error = done.reason;

  switch (folder.value(folder_key::kAction).asInteger()) {
    case TrashFolder::kMoveAction: {
      // The move-to folder itself is never created. It is kept open for the
      // rest of the folder's check.
      done.destination = folder.value(folder_key::kDestination).asText();
      if (destination_ && moveWatched_ == watched.path() && movePath_ == done.destination) {
        return placeInto(folder, watched, name, *destination_, done, known);
      }
      std::unique_ptr<Folder> destination;
      OpenStatus status = folders_.openDirectory(done.destination, destination, error);
      if (status == OpenStatus::kMissing) {
        return folder.value(folder_key::kMayBeAbsent).asBool()
                   ? RemovalResult::kDestinationAbsentNow
                   : RemovalResult::kDestinationMissing;
      }
      if (status == OpenStatus::kNotDirectory) return RemovalResult::kDestinationNotDirectory;
      if (status != OpenStatus::kOpened) return RemovalResult::kMoveFailed;
      moveWatched_ = watched.path();
      movePath_ = done.destination;
      destination_ = std::move(destination);
      return placeInto(folder, watched, name, *destination_, done, known);
    }
    case TrashFolder::kDeleteAction: {
      RemoveStatus status = watched.removeEntry(name, world_.entryTreeTimeLimit, error, known);
      return status == RemoveStatus::kRemoved ? RemovalResult::kRemoved
                                              : RemovalResult::kDeletionFailed;
    }
    default: {
      if (!world_.systemMode && !world_.userTrashPath) return RemovalResult::kNoTrash;
      const std::string account = accountFolderOf(watched.entryPath(name));
      if (account.empty()) return toTrash(folder, watched, name, done, known);
      DirHandle trash;
      OpenStatus status = openAccountTrash(account, trash, error);
      if (status != OpenStatus::kOpened) return openFailure(status);
      return placeInto(folder, watched, name, trash, done, known);
    }
  }
}

// Plans the placing into the folder at |path| (which may not exist yet and
// would then be created), into its dated sub-folder when asked for.
RemovalPlan Remover::planPlacing(const TrashFolder& folder, const std::string& path,
                                 const std::string& name, const std::set<std::string>* claimed,
                                 const std::string& infoPath) const {
  RemovalPlan plan;
  std::string error;
  std::unique_ptr<Folder> destination, info;
  OpenStatus status = folders_.openDirectory(path, destination, error);
  if (status == OpenStatus::kNotDirectory)
    return outcomeOf(RemovalResult::kDestinationNotDirectory, path);
  if (status == OpenStatus::kFailed) return outcomeOf(RemovalResult::kDestinationMissing, path);
  if (!infoPath.empty()) folders_.openDirectory(infoPath, info, error);
  plan.destination = path;
  if (folder.value(folder_key::kDatedFolder).asBool()) {
    std::string datedName = datedFolderName(world_.clock());
    plan.destination = joinPath(path, datedName);
    std::unique_ptr<Folder> dated;
    if (destination) {
      std::optional<EntryAttributes> existing = destination->statEntry(datedName);
      if (existing && !existing->isDirectory())
        return outcomeOf(RemovalResult::kDestinationNotDirectory, plan.destination);
      if (existing) destination->openChild(datedName, dated, error);
    }
    // Entries inside a dated folder of the Trash have no info files.
    plan.targetName = freeName(plan.destination, dated.get(), name, claimed, kMaxNameBytes);
    return plan;
  }
  plan.targetName = freeName(path, destination.get(), name, claimed,
                             infoPath.empty() ? kMaxNameBytes : kMaxTrashedNameBytes, info.get());
  return plan;
}

Remover::Remover(const RunWorld& world, const FolderOpener& folders)
    : world_(world),
      folders_(folders),
      finder_(world.systemMode ? std::nullopt : world.userTrashPath, world.accountOf,
              world.mountPointOf) {}

Remover::~Remover() = default;

std::string Remover::accountFolderOf(std::string_view path) const {
  return world_.systemMode ? accountFolderIn(world_.usersFolder, path) : std::string();
}

RemovalPlan Remover::plan(const TrashFolder& folder, const Folder& watched,
                          const std::string& name, const std::set<std::string>* claimed) const {
  if (!watched.isDeletable(name)) return outcomeOf(RemovalResult::kNotDeletable);
  std::string error;
  switch (folder.value(folder_key::kAction).asInteger()) {
    case TrashFolder::kMoveAction: {
      std::string path(folder.value(folder_key::kDestination).asText());
      std::unique_ptr<Folder> destination;
      OpenStatus status = folders_.openDirectory(path, destination, error);
      if (status == OpenStatus::kMissing) {
        return outcomeOf(folder.value(folder_key::kMayBeAbsent).asBool()
                             ? RemovalResult::kDestinationAbsentNow
                             : RemovalResult::kDestinationMissing,
                         path);
      }
      if (status == OpenStatus::kNotDirectory)
        return outcomeOf(RemovalResult::kDestinationNotDirectory, path);
      if (status != OpenStatus::kOpened) return outcomeOf(RemovalResult::kMoveFailed, path);
      return planPlacing(folder, path, name, claimed, {});
    }
    case TrashFolder::kDeleteAction:
      return outcomeOf(RemovalResult::kRemoved);
    default: {
      if (!world_.systemMode && !world_.userTrashPath) return outcomeOf(RemovalResult::kNoTrash);
      const std::string account = accountFolderOf(watched.entryPath(name));
      if (!account.empty())
        return planPlacing(folder, joinPath(account, ".Trash"), name, claimed, {});
      const std::optional<std::string> place = finder_.placeFor(watched, name);
      if (!place) return outcomeOf(RemovalResult::kNoTrash);
      return planPlacing(folder, joinPath(*place, "files"), name, claimed,
                         joinPath(*place, "info"));
    }
  }
}

RemovalPlan Remover::remove(TrashFolder& folder, const Folder& watched, const std::string& name,
                            const EntryAttributes* known) {
  RemovalPlan outcome;
  outcome.result = dispose(folder, watched, name, outcome, known);
  if (outcome.result == RemovalResult::kRemoved) {
    outcome.reason.clear();  // a step that failed, then went well
  } else {
    outcome.placed.reset();
  }
  return outcome;
}

}  // namespace sweeprun
