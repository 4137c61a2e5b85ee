#pragma once

#include <string>

#include "fs/dir_handle.h"

namespace sweeprun {

/// Removes the folder |name| of |parent| when it is empty, and only then:
/// kRemoved, kGone when nothing is there, kFailed (with |error|) for a
/// folder that holds anything, or for anything that is not a folder (a link
/// is never followed).
RemoveStatus removeEmptyFolder(const DirHandle& parent, const std::string& name,
                               std::string& error);

}  // namespace sweeprun
