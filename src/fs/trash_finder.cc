#include "fs/trash_finder.h"

#include <sys/stat.h>
#include <unistd.h>

#include "fs/descriptor_ops.h"
#include "fs/path.h"

namespace sweeprun {

namespace {

constexpr unsigned kPrivateFolderMode = 0700;

// The device of the deepest folder of |path| that exists; none when even
// the root cannot be opened.
std::optional<uint64_t> deviceBelow(std::string path) {
  for (;;) {
    DirHandle folder;
    std::string ignored;
    if (DirHandle::openDirectory(path, folder, ignored) == OpenStatus::kOpened)
      return folder.device();
    if (path.empty() || path == "/") return std::nullopt;
    path = deletingLastPathComponent(path);
  }
}

// Opens folder |name| of |parent|, making it (0700) when missing and giving
// a folder it made to |owner|. Refuses a link, and a folder that belongs to
// anyone but root or |user| (|rootAllowed| false: anyone but |user|).
OpenStatus openOwnedChild(const DirHandle& parent, const std::string& name,
                          const std::optional<UserTrash::Owner>& owner, uint32_t user,
                          bool rootAllowed, DirHandle& child, std::string& error) {
  bool created = false;
  const OpenStatus status = parent.createChild(name, child, created, error, kPrivateFolderMode);
  if (status == OpenStatus::kNotDirectory) {
    error = "open(" + parent.entryPath(name) + "): a link or not a folder, not used";
  }
  if (status != OpenStatus::kOpened) return status;
  if (created && owner && !child.changeOwner(owner->user, owner->group, error)) {
    return OpenStatus::kFailed;
  }
  if (child.owner() != user && !(rootAllowed && child.owner() == 0)) {
    error = "open(" + child.path() + "): owned by another user, not used";
    return OpenStatus::kNotDirectory;
  }
  return OpenStatus::kOpened;
}

void addNote(std::string& notes, const std::string& note) {
  if (!notes.empty()) notes += "; ";
  notes += note;
}

}  // namespace

struct TrashFinder::Candidate {
  std::string trashPath;  // home: the Trash folder; top: the mount point
  uint64_t device = 0;
  uint32_t user = 0;
  std::optional<UserTrash::Owner> owner;  // none: the running user's own
  std::string home;                       // system mode: the owner's home folder
  bool acrossVolumes = false;             // a home Trash on another file system
};

bool TrashFinder::candidatesFor(const Folder& watched, const std::string& name,
                                std::optional<Candidate>& home, std::optional<Candidate>& top,
                                std::string& notes, std::string& error) const {
  int statError = 0;
  const std::optional<EntryAttributes> entry = watched.statEntry(name, statError);
  if (!entry) {
    error = fs::errorText("statx", watched.entryPath(name), statError);
    return false;
  }
  Candidate base;
  base.device = entry->device;
  if (homeTrashFiles_) {
    base.user = geteuid();
    const std::string trash = deletingLastPathComponent(*homeTrashFiles_);
    if (deviceBelow(trash) == base.device) {
      home = base;
      home->trashPath = trash;
    }
  } else {
    base.user = entry->owner;
    const std::optional<UserAccount> account = accountOf_(base.user);
    base.owner = UserTrash::Owner{base.user, account ? account->group : entry->group};
    if (account && !account->home.empty()) {
      DirHandle folder;
      std::string ignored;
      if (DirHandle::openDirectory(account->home, folder, ignored) == OpenStatus::kOpened &&
          folder.device() == base.device) {
        home = base;
        home->home = account->home;
        home->trashPath = joinPath(account->home, ".local/share/Trash");
      }
    }
  }
  const std::optional<std::string> topdir =
      mountPointOf_(base.device, standardizePath(watched.entryPath(name), {}));
  if (topdir) {
    top = base;
    top->trashPath = *topdir;
  } else if (!home) {
    addNote(notes, "no mount point found for '" + watched.entryPath(name) + "'");
  }
  // A user's own home Trash on another file system stays the last resort,
  // reached by a copy.
  if (!home && homeTrashFiles_) {
    home = base;
    home->trashPath = deletingLastPathComponent(*homeTrashFiles_);
    home->acrossVolumes = true;
  }
  if (!home && !top) error = notes;
  return home || top;
}

OpenStatus TrashFinder::openHome(const Candidate& home, UserTrash& trash,
                                 std::string& error) const {
  if (!home.owner) return UserTrash::open(joinPath(home.trashPath, "files"), trash, error);
  // Another user's home: each folder on the way from the home folder is
  // made for them, or must be theirs (or root's).
  DirHandle folder;
  OpenStatus status = DirHandle::openDirectory(home.home, folder, error);
  for (const char* part : {".local", "share", "Trash"}) {
    if (status != OpenStatus::kOpened) return status;
    DirHandle child;
    status = openOwnedChild(folder, part, home.owner, home.user, true, child, error);
    folder = std::move(child);
  }
  if (status != OpenStatus::kOpened) return status;
  return UserTrash::openIn(std::move(folder), home.owner, "", trash, error);
}

OpenStatus TrashFinder::openTop(const Candidate& top, UserTrash& trash, std::string& notes,
                                std::string& error) const {
  DirHandle topdir;
  const OpenStatus opened = DirHandle::openDirectory(top.trashPath, topdir, error);
  if (opened != OpenStatus::kOpened) return opened;
  if (topdir.device() != top.device) {
    error = "open(" + top.trashPath + "): not the mount point of the entry's file system";
    return OpenStatus::kFailed;
  }
  const std::string user = std::to_string(top.user);
  // The administrator's shared Trash, when there is a usable one.
  if (const std::optional<EntryAttributes> shared = topdir.statEntry(".Trash")) {
    const std::string path = topdir.entryPath(".Trash");
    DirHandle sharedFolder, own;
    std::string reason;
    if (shared->isSymbolicLink()) {
      reason = path + " is a symbolic link";
    } else if (!shared->isDirectory()) {
      reason = path + " is not a folder";
    } else if (!(shared->mode & S_ISVTX)) {
      reason = path + " is not sticky";
    } else if (topdir.openChild(".Trash", sharedFolder, reason) != OpenStatus::kOpened) {
    } else if (openOwnedChild(sharedFolder, user, top.owner, top.user, false, own, reason) ==
                   OpenStatus::kOpened &&
               UserTrash::openIn(std::move(own), top.owner, top.trashPath, trash, reason) ==
                   OpenStatus::kOpened) {
      return OpenStatus::kOpened;
    }
    addNote(notes, reason + ", not used");
  }
  DirHandle own;
  const OpenStatus status =
      openOwnedChild(topdir, ".Trash-" + user, top.owner, top.user, false, own, error);
  if (status != OpenStatus::kOpened) return status;
  return UserTrash::openIn(std::move(own), top.owner, top.trashPath, trash, error);
}

OpenStatus TrashFinder::openTrashFor(const Folder& watched, const std::string& name,
                                     UserTrash& trash, std::string& notes,
                                     std::string& error) const {
  std::optional<Candidate> home, top;
  if (!candidatesFor(watched, name, home, top, notes, error)) return OpenStatus::kMissing;
  // The home Trash when it lies on the entry's file system: the entry is
  // renamed there. (When it cannot be used, neither is the top-directory
  // Trash of the home's file system: that is not where its user looks.)
  if (home && !home->acrossVolumes) return openHome(*home, trash, error);
  // Else the top-directory Trash, and a copy into the home Trash only as the
  // last resort, with a note of why.
  if (top) {
    const OpenStatus status = openTop(*top, trash, notes, error);
    if (status == OpenStatus::kOpened || !home) return status;
    addNote(notes, error + "; copied into the home Trash instead");
    error.clear();
  }
  return openHome(*home, trash, error);
}

OpenStatus TrashFinder::sharedTrashFor(const Folder& watched, const std::string& name,
                                       const UserTrash*& trash, std::string& notes,
                                       std::string& error, const EntryAttributes* known) {
  // What openTrashFor's choice depends on: the entry's file system and, in
  // system mode, its owner (in user mode the Trash is always the running
  // user's).
  // In system mode the owner is read afresh: another user who may write the
  // folder could have put an entry of their own in its place since |known|
  // was read, and the Trash chosen must be that of the entry moved.
  int failure = 0;
  const std::optional<EntryAttributes> entry =
      known && homeTrashFiles_ ? *known : watched.statEntry(name, failure);
  if (!entry) {
    error = fs::errorText("statx", watched.entryPath(name), failure);
    return OpenStatus::kMissing;
  }
  const uint32_t user = homeTrashFiles_ ? 0 : entry->owner;
  const std::pair<uint64_t, uint32_t> key{entry->device, user};
  auto kept = kept_.find(key);
  if (kept == kept_.end()) {
    Kept opened;
    const OpenStatus status = openTrashFor(watched, name, opened.trash, opened.notes, error);
    if (!opened.notes.empty()) addNote(notes, opened.notes);
    if (status != OpenStatus::kOpened) return status;
    trash = &kept_.emplace(key, std::move(opened)).first->second.trash;
    return status;
  }
  if (!kept->second.notes.empty()) addNote(notes, kept->second.notes);
  trash = &kept->second.trash;
  return OpenStatus::kOpened;
}

std::optional<std::string> TrashFinder::placeFor(const Folder& watched,
                                                 const std::string& name) const {
  std::optional<Candidate> home, top;
  std::string notes, error;
  if (!candidatesFor(watched, name, home, top, notes, error)) return std::nullopt;
  // The order of openTrashFor: a home Trash on the entry's file system, else
  // the top-directory Trash, else a home Trash elsewhere.
  if ((home && !home->acrossVolumes) || !top) return home->trashPath;
  DirHandle topdir;
  std::optional<EntryAttributes> shared;
  if (DirHandle::openDirectory(top->trashPath, topdir, error) == OpenStatus::kOpened)
    shared = topdir.statEntry(".Trash");
  const std::string user = std::to_string(top->user);
  return shared && shared->isDirectory() && (shared->mode & S_ISVTX)
             ? joinPath(top->trashPath, ".Trash/" + user)
             : joinPath(top->trashPath, ".Trash-" + user);
}

}  // namespace sweeprun
