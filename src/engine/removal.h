#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "fs/folder.h"
#include "model/trash_folder.h"

namespace sweeprun {

/// Outcomes of unlink; the values are the result codes the run log's
/// description of a removal knows.
enum class RemovalResult {
  kRemoved = 0,               // moved to the Trash or the destination, or deleted
  kNotDeletable = 1,          // the running user may not delete it; nothing touched
  kNoTrash = 2,               // the action is Trash, but no Trash is known for it
  kDestinationAbsentNow = 3,  // move-to folder absent, and the folder may be absent
  kDestinationNotDirectory = 4,
  kDestinationMissing = 5,  // absent and could not be made (or move-to folder absent)
  kDeletionFailed = 6,
  kMoveFailed = 7,
};

/// Where an entry goes (or would go) and how its removal comes (would come) out.
struct RemovalPlan {
  RemovalResult result = RemovalResult::kRemoved;  // the result unlink would answer
  std::string destination;  // the folder the entry would go to; empty for a deletion
  std::string targetName;   // the name it would get there
  std::string reason;       // why a removal failed, from the system: "renameat2(...): ..."
  std::string note;         // why a preferred Trash was passed over, for the run log
  // What the run's journal keeps of a removal that came off (unlink only):
  std::string infoFile;                   // the Trash info file made for the entry, if any
  std::string createdFolder;              // the dated sub-folder this removal made, if any
  std::string createdFolderInfo;          // that folder's own Trash info file, if any
  std::optional<EntryAttributes> createdFolderAttributes;  // that folder, as made
  std::optional<EntryAttributes> placed;  // the entry at its destination
};

/// Carries out |folder|'s action on entry |name| of the watched folder
/// |watched| (whose path is the folder's "path"): to its owner's Trash,
/// deleted, or moved into the "move" folder, optionally into a sub-folder
/// named after today's date, under a " copy N" name when the name is taken.
/// Every step works on the entry through |watched|, never through a path.
/// Adds one to "cout" after each successful move. |done|, when given,
/// receives the result and where the entry went. The move-to folder is
/// opened through |folders|. |known|, when given, are the entry's
/// attributes as the caller read them during its pass over |watched|: the
/// deletable test, the Trash lookup and the removal use them instead of
/// reading the entry again (see DirHandle::isDeletable).
RemovalResult unlink(TrashFolder& folder, const Folder& watched, const std::string& name,
                     RemovalPlan* done = nullptr, const FolderOpener& folders = diskFolders(),
                     const EntryAttributes* known = nullptr);

/// While it lives, unlink keeps the folders entries go to open and shares
/// them between entries instead of opening them for each one: each Trash
/// (see TrashFinder::sharedTrashFor), the move-to folder of the folder
/// being checked, and the dated sub-folders; and the time zone is read once
/// (see HeldTimeZone). A run makes one. The folders are kept as open
/// descriptors, so one replaced by a link meanwhile is never followed; one
/// that could not be opened is tried again for the next entry.
class RemovalSession {
 public:
  RemovalSession();
  ~RemovalSession();
  RemovalSession(const RemovalSession&) = delete;
  RemovalSession& operator=(const RemovalSession&) = delete;

  struct Places;

 private:
  std::unique_ptr<Places> places_;
  Places* outer_;
};

/// Works out what unlink would do now, touching nothing: folders it would
/// create count as created, and the target name is the first free one.
/// |claimed|, when given, holds paths that entries planned before this one
/// would occupy; they count as taken. Destinations are opened through
/// |folders|.
RemovalPlan planUnlink(const TrashFolder& folder, const Folder& watched, const std::string& name,
                       const std::set<std::string>* claimed = nullptr,
                       const FolderOpener& folders = diskFolders());

}  // namespace sweeprun
