#include "fs/trash_location.h"

#include <cstdlib>

#include "fs/path.h"

namespace sweeprun {

std::optional<std::string> locateUserTrash(const std::string& homeDirectory) {
  return userTrashPath(homeDirectory, std::getenv("XDG_DATA_HOME"));
}

std::optional<std::string> userTrashPath(std::string_view homeDirectory, const char* xdgDataHome) {
  std::string dataHome;
  if (xdgDataHome && xdgDataHome[0] == '/')
    dataHome = xdgDataHome;
  else if (!homeDirectory.empty() && homeDirectory.front() == '/')
    dataHome = joinPath(homeDirectory, ".local/share");
  else
    return std::nullopt;
  return standardizePath(joinPath(dataHome, "Trash/files"), homeDirectory);
}

}  // namespace sweeprun
