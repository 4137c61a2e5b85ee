#include "fs/removal_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fs/descriptor_ops.h"

namespace sweeprun {
namespace fs {

namespace {

// Goes through a tree as TreeWalk would remove it (without unlocking), and
// changes nothing.
struct RemovalCheck {
  uint64_t device;
  const TreeDeadline& deadline;
  std::string& error;
  std::string top;  // display path of the entry the check started at

  bool refuse(const char* operation, const std::string& path, int errorNumber) {
    error = errorText(operation, path, errorNumber);
    return false;
  }

  // Entry |name| of the folder |dirFd|, whose status is |folder|; |depth| is
  // the entry's folder level, as TreeWalk counts it.
  bool entry(int dirFd, const EntryStatus& folder, const std::string& name, const std::string& path,
             int depth) {
    if (deadline.passed()) {
      error = deadline.passedText("copy", top, "the entry is left as it was");
      return false;
    }
    EntryStatus status;
    if (const int e = statusAt(dirFd, name, status)) return e == ENOENT || refuse("statx", path, e);
    if (!sameFileSystem(status, device)) return refuse("unlinkat", path, EXDEV);
    if (!stickyAllows(folder, status) || hasPinningFlag(dirFd, name, status)) {
      return refuse("unlinkat", path, EPERM);
    }
    if (!status.attributes.isDirectory()) return true;
    if (depth > kMaxTreeDepth) {
      error = tooDeepToCopyText(path);
      return false;
    }
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return refuse("openat", path, errno);
    const bool ok = entriesOf(fd, status, path, depth);
    close(fd);
    return ok;
  }

  bool entriesOf(int fd, const EntryStatus& expected, const std::string& path, int depth) {
    EntryStatus self;
    if (const int e = statusAt(fd, "", self)) return refuse("statx", path, e);
    if (self.attributes.fileNumber != expected.attributes.fileNumber ||
        !sameFileSystem(self, device)) {
      return refuse("openat", path, ESTALE);  // swapped since it was read
    }
    bool listed = false;
    const std::vector<std::string> children = readNames(fd, listed);
    if (!listed) return refuse("readdir", path, errno);
    if (!children.empty() && !mayChangeEntriesOf(fd, self)) {
      return refuse("unlinkat", path + "/" + children.front(), EACCES);
    }
    for (const std::string& child : children) {
      if (!entry(fd, self, child, path + "/" + child, depth + 1)) return false;
    }
    return true;
  }
};

}  // namespace

bool mayRemoveTree(int dirFd, const std::string& name, const std::string& displayPath,
                   uint64_t device, const TreeDeadline& deadline, std::string& error) {
  EntryStatus folder;
  if (const int e = statusAt(dirFd, "", folder)) {
    error = errorText("statx", displayPath, e);
    return false;
  }
  if (!mayChangeEntriesOf(dirFd, folder)) {
    error = errorText("unlinkat", displayPath, EACCES);
    return false;
  }
  RemovalCheck check{device, deadline, error, displayPath};
  return check.entry(dirFd, folder, name, displayPath, 0);
}

}  // namespace fs
}  // namespace sweeprun
