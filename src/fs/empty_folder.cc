#include "fs/empty_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace sweeprun {

RemoveStatus removeEmptyFolder(const DirHandle& parent, const std::string& name,
                               std::string& error) {
  if (!parent.isOpen() || name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos) {
    error = "unlinkat(" + parent.entryPath(name) + "): " + strerror(EINVAL);
    return RemoveStatus::kFailed;
  }
  // rmdir(2) itself refuses a folder that holds anything, and a link.
  if (unlinkat(parent.fd(), name.c_str(), AT_REMOVEDIR) == 0) return RemoveStatus::kRemoved;
  const int e = errno;
  if (e == ENOENT) return RemoveStatus::kGone;
  error = "unlinkat(" + parent.entryPath(name) + "): " + strerror(e);
  return RemoveStatus::kFailed;
}

}  // namespace sweeprun
