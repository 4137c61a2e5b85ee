#pragma once

#include <optional>
#include <string>

#include "fs/folder_identity.h"
#include "os/run_world.h"
#include "settings/watch_guard.h"

namespace sweeprun {

class Settings;

/// Why user mode will not watch a folder.
struct WatchRefusal {
  std::string reason;  // localized, what the folder is or holds: "holds the folder database"
  std::string path;    // the guarded file it holds; empty when the reason says all

  /// The reason and the path: "holds the folder database <path>".
  std::string detail() const;
  /// The same as a clause: "it holds the folder database <path>".
  std::string text() const;
};

/// The guard of user mode in |world|: no watched folder may be the root
/// folder, the home folder or the Trash, nor hold the folder database, the
/// preferences, the run log (as |settings| names it, whether or not it is
/// on now; the default one when |settings| is null), the journal or the
/// Trash. Each of them would be trashed along with the folder's other
/// entries, and the tool's own state with them.
WatchGuard userWatchGuard(const RunWorld& world, const Settings* settings);

/// The refusal of the watched folder |path|, which is |identity| when it
/// opens, by |guard| (userWatchGuard); none when it may be watched.
std::optional<WatchRefusal> userWatchRefusal(const WatchGuard& guard, const std::string& path,
                                             const std::optional<FolderIdentity>& identity);

/// The refusal of a folder that is the same folder as the one watched at
/// |other|, reached by another path.
WatchRefusal watchedAlreadyRefusal(const std::string& other);

}  // namespace sweeprun
