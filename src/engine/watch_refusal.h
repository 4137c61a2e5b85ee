#pragma once

#include <string>

#include "engine/run_options.h"
#include "os/run_world.h"

namespace sweeprun {

class DirHandle;

/// Empty when a user-mode run may check |folder|, opened as |opened|; else
/// the error line that says why not: the folder is the root, the home
/// folder or the Trash, holds one of the tool's own files (see
/// userWatchGuard), or is a folder watched earlier in the run's list under
/// another path. sweeply refuses such folders when they are added; a list
/// saved before it did, or a folder changed on disk since, still reaches
/// the run.
std::string userModeRefusal(const RunWorld& world, const RunOptions& options,
                            const TrashFolder& folder, const DirHandle& opened);

}  // namespace sweeprun
