#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "fs/folder.h"
#include "fs/trash_finder.h"
#include "model/trash_folder.h"
#include "os/date.h"
#include "os/run_world.h"

namespace sweeprun {

/// Outcomes of Remover::remove; the values are the result codes the run log's
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
  RemovalResult result = RemovalResult::kRemoved;  // the result remove would answer
  std::string destination;  // the folder the entry would go to; empty for a deletion
  std::string targetName;   // the name it would get there
  std::string reason;       // why a removal failed, from the system: "renameat2(...): ..."
  std::string note;         // why a preferred Trash was passed over, for the run log
  // What the run's journal keeps of a removal that came off (remove only):
  std::string infoFile;                   // the Trash info file made for the entry, if any
  std::string createdFolder;              // the dated sub-folder this removal made, if any
  std::string createdFolderInfo;          // that folder's own Trash info file, if any
  std::optional<EntryAttributes> createdFolderAttributes;  // that folder, as made
  std::optional<EntryAttributes> placed;  // the entry at its destination
};

/// Carries out the folders' actions on the entries of one run, and plans
/// them for a preview. While it lives it keeps the folders entries go to
/// open and shares them between entries instead of opening them for each
/// one: each Trash (see TrashFinder::sharedTrashFor), the move-to folder of
/// the folder being checked, and the dated sub-folders; and the time zone
/// is read once (see HeldTimeZone). A run makes one. The folders are kept
/// as open descriptors, so one replaced by a link meanwhile is never
/// followed; one that could not be opened is tried again for the next entry.
class Remover {
 public:
  /// |world| gives the mode, the user's Trash, the accounts folder, the
  /// clock and the account and mount lookups; move-to folders are opened
  /// through |folders|. Both must outlive the remover.
  Remover(const RunWorld& world, const FolderOpener& folders);
  ~Remover();
  Remover(const Remover&) = delete;
  Remover& operator=(const Remover&) = delete;

  /// Carries out |folder|'s action on entry |name| of the watched folder
  /// |watched| (whose path is the folder's "path"): to its owner's Trash,
  /// deleted, or moved into the "move" folder, optionally into a sub-folder
  /// named after today's date, under a " copy N" name when the name is
  /// taken. Every step works on the entry through |watched|, never through
  /// a path. Adds one to "cout" after each successful move. Answers the
  /// result and where the entry went. |known|, when not null, are the
  /// entry's attributes as the caller read them during its pass over
  /// |watched|: the deletable test, the Trash lookup and the removal use
  /// them instead of reading the entry again (see DirHandle::isDeletable).
  RemovalPlan remove(TrashFolder& folder, const Folder& watched, const std::string& name,
                     const EntryAttributes* known);

  /// Works out what remove would do now, touching nothing and keeping
  /// nothing open: folders it would create count as created, and the target
  /// name is the first free one. |claimed|, when not null, holds paths that
  /// entries planned before this one would occupy; they count as taken.
  RemovalPlan plan(const TrashFolder& folder, const Folder& watched, const std::string& name,
                   const std::set<std::string>* claimed) const;

 private:
  RemovalResult dispose(TrashFolder& folder, const Folder& watched, const std::string& name,
                        RemovalPlan& done, const EntryAttributes* known);
  RemovalResult placeInto(TrashFolder& folder, const Folder& watched, const std::string& name,
                          const Folder& destination, RemovalPlan& done,
                          const EntryAttributes* known);
  RemovalResult toTrash(TrashFolder& folder, const Folder& watched, const std::string& name,
                        RemovalPlan& done, const EntryAttributes* known);
  const Folder* datedFolder(const Folder& parent, const std::string& datedName,
                            std::unique_ptr<Folder>& own, OpenStatus& status,
                            const std::function<OpenStatus(std::unique_ptr<Folder>&)>& open);
  void clearLeftovers(const Folder& watched, const Folder& destination);
  RemovalPlan planPlacing(const TrashFolder& folder, const std::string& path,
                          const std::string& name, const std::set<std::string>* claimed,
                          const std::string& infoPath) const;
  /// In system mode, the account folder an entry at |path| lies in.
  std::string accountFolderOf(std::string_view path) const;

  const RunWorld& world_;
  const FolderOpener& folders_;
  HeldTimeZone zone_;
  TrashFinder finder_;
  // The move-to folder kept in |destination_|, and the watched folder it
  // serves.
  std::string moveWatched_, movePath_;
  std::unique_ptr<Folder> destination_;
  std::map<std::string, std::unique_ptr<Folder>> dated_;  // by path
  std::set<std::string> cleared_;  // destinations rid of leftover staging folders
};

}  // namespace sweeprun
