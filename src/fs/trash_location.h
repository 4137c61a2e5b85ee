#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sweeprun {

/// The current user's Trash "files" folder:
/// ${XDG_DATA_HOME:-<home>/.local/share}/Trash/files, with the home folder
/// |homeDirectory| and XDG_DATA_HOME from the environment. The folder need
/// not exist. None when neither XDG_DATA_HOME nor the home folder gives an
/// absolute path.
std::optional<std::string> locateUserTrash(const std::string& homeDirectory);

/// The same from given values; |xdgDataHome| is taken only when it is an
/// absolute path (a relative one is ignored, as the XDG rules ask).
std::optional<std::string> userTrashPath(std::string_view homeDirectory, const char* xdgDataHome);

}  // namespace sweeprun
