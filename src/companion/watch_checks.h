#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/trash_application.h"
#include "settings/user_watch_guard.h"

namespace sweeprun {

/// For each folder at |paths| (standardized), in the order of the folder
/// list, why runs would not check it (see
/// userModeRefusal): the folder is the root, the home folder or the Trash,
/// holds one of the tool's own files, or is the same folder as one earlier
/// in the list under another path. None for a folder runs may check. Links
/// on the way are followed to compare folders, never to act.
std::vector<std::optional<WatchRefusal>> watchRefusals(const std::vector<std::string>& paths);

/// The paths of |folders|, in their order.
std::vector<std::string> folderPaths(const FolderList& folders);

}  // namespace sweeprun
