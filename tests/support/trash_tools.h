#pragma once

#include <string>

namespace sweeprun {

/// tests/support/hermetic_trash_tool.sh: runs a desktop trash tool that sees
/// the home Trash and only the volumes a test names ("--volume DIR"), never
/// the host's; it exits 77 when it cannot shut the tool in (not root).
inline const std::string kHermeticTrashTool =
    std::string(SWEEPRUN_SOURCE_DIR) + "/tests/support/hermetic_trash_tool.sh";

}  // namespace sweeprun
