#include "engine/watch_refusal.h"

#include <memory>
#include <optional>

#include "engine/loggable_text.h"
#include "fs/dir_handle.h"
#include "fs/folder_identity.h"
#include "os/localization.h"
#include "settings/user_watch_guard.h"

namespace sweeprun {

namespace {

// The folder in the run's list before |folder| that is the same folder on
// disk as |identity|, opened as the run opens it; none when there is none.
const TrashFolder* earlierAlias(const RunOptions& options, const TrashFolder& folder,
                                const FolderIdentity& identity) {
  const FolderList* list = options.application ? options.application->trashFolderList() : nullptr;
  if (!list) return nullptr;
  for (const TrashFolder& earlier : *list) {
    if (&earlier == &folder) break;
    std::unique_ptr<Folder> opened;
    std::string ignored;
    if (options.folders->openDirectory(std::string(earlier.path()), opened, ignored) !=
        OpenStatus::kOpened) {
      continue;
    }
    if (folderIdentity(opened->realFolder()) == identity) return &earlier;
  }
  return nullptr;
}

}  // namespace

std::string userModeRefusal(const RunWorld& world, const RunOptions& options,
                            const TrashFolder& folder, const DirHandle& opened) {
  const std::string path(folder.path());
  const std::optional<FolderIdentity> identity = folderIdentity(opened);
  std::optional<WatchRefusal> refusal =
      userWatchRefusal(userWatchGuard(world, options.settings), path, identity);
  if (!refusal && identity) {
    if (const TrashFolder* alias = earlierAlias(options, folder, *identity)) {
      refusal = watchedAlreadyRefusal(std::string(alias->path()));
    }
  }
  if (!refusal) return std::string();
  return localized("Not checking folder '%@': %@.",
                   {loggableText(path), loggableText(refusal->text())});
}

}  // namespace sweeprun
