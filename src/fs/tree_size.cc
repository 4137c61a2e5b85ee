#include "fs/tree_size.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "fs/descriptor_ops.h"

namespace sweeprun {
namespace fs {

namespace {

struct SizeWalk {
  struct Level {
    int fd;
    std::string path;
    std::vector<std::string> children;
    size_t next = 0;
  };

  uint64_t device;
  const TreeDeadline& deadline;
  uint64_t& bytes;
  std::string& error;
  std::vector<Level> levels;

  ~SizeWalk() {
    for (const Level& level : levels) close(level.fd);
  }

  void note(const char* operation, const std::string& path, int errorNumber) {
    if (error.empty()) error = errorText(operation, path, errorNumber);
  }

  // Opens the folder |name| of |dirFd| as the next level, when it is one on
  // the walk's file system.
  void enter(int dirFd, const std::string& name, const std::string& path) {
    if (levels.size() >= static_cast<size_t>(kMaxTreeDepth)) {
      note("openat", path, ELOOP);
      return;
    }
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) note("openat", path, errno);
      return;
    }
    EntryStatus self;
    if (const int e = statusAt(fd, "", self)) {
      note("statx", path, e);
      close(fd);
      return;
    }
    if (!sameFileSystem(self, device)) {
      close(fd);
      return;
    }
    bool listed = false;
    Level level{fd, path, readNames(fd, listed)};
    if (!listed) note("readdir", path, errno);
    levels.push_back(std::move(level));
  }

  bool run(int dirFd, const std::string& name, const std::string& displayPath) {
    enter(dirFd, name, displayPath);
    while (!levels.empty()) {
      if (deadline.passed()) {
        error = deadline.passedText("size", displayPath, "the size counts what was read");
        return false;
      }
      Level& level = levels.back();
      if (level.next == level.children.size()) {
        close(level.fd);
        levels.pop_back();
        continue;
      }
      const std::string& child = level.children[level.next++];
      const std::string childPath = level.path + "/" + child;
      EntryStatus status;
      if (const int e = statusAt(level.fd, child, status)) {
        if (e != ENOENT) note("statx", childPath, e);
        continue;
      }
      if (status.attributes.isRegularFile()) {
        bytes += status.attributes.size;
      } else if (status.attributes.isDirectory() && sameFileSystem(status, device)) {
        enter(level.fd, child, childPath);  // |level| may move: not used after this
      }
    }
    return error.empty();
  }
};

}  // namespace

bool treeSizeAt(int dirFd, const std::string& name, const std::string& displayPath, uint64_t device,
                const TreeDeadline& deadline, uint64_t& bytes, std::string& error) {
  SizeWalk walk{device, deadline, bytes, error, {}};
  return walk.run(dirFd, name, displayPath);
}

}  // namespace fs
}  // namespace sweeprun
