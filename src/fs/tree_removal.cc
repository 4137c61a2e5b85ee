#include "fs/tree_removal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

namespace sweeprun {
namespace fs {

namespace {

// Removes a tree of any depth. One level is kept per folder on the way down
// (its name and listing); descriptors stay open only for the deepest
// kOpenLevels levels, and a level whose descriptor was closed is found again
// through ".." of the level below it on the way up, checked to be the very
// folder it was. Nothing below is ever reached by a path, and a level's
// path is put together only for a message, so the walk stays linear in the
// depth of the tree.
struct TreeWalk {
  static constexpr size_t kOpenLevels = 64;

  TreeWalk(uint64_t device, bool unlock, const TreeDeadline& deadline, std::string& error,
           std::string top)
      : device(device), unlock(unlock), deadline(deadline), error(error), top(std::move(top)) {}
  TreeWalk(const TreeWalk&) = delete;
  TreeWalk& operator=(const TreeWalk&) = delete;

  uint64_t device;
  bool unlock;
  const TreeDeadline& deadline;
  std::string& error;
  std::string top;  // display path of the entry the walk started at
  bool skipped = false;
  bool failed = false;
  bool aborted = false;   // stopped with levels left: moved away, or out of time
  bool timedOut = false;  // stopped at the deadline

  struct Level {
    std::string name;  // in the level above
    int fd = -1;       // -1 while closed to bound the open descriptors
    dev_t folderDevice = 0;
    ino_t inode = 0;
    std::vector<std::string> children;
    size_t next = 0;
  };
  std::vector<Level> levels;

  ~TreeWalk() {
    for (Level& level : levels) {
      if (level.fd >= 0) close(level.fd);
    }
  }

  /// The first failure names |name| of the deepest level; later ones only
  /// count (their paths would cost a walk up the levels each).
  void fail(const char* operation, const std::string& name, int errorNumber) {
    failed = true;
    if (error.empty()) error = errorText(operation, pathOf(name), errorNumber);
  }

  /// The display path of |name| in the deepest level (the deepest level
  /// itself for an empty |name|).
  std::string pathOf(const std::string& name) const {
    if (levels.empty()) return top;  // |name| is the entry the walk started at
    std::string path = top;
    for (size_t i = 1; i < levels.size(); ++i) path.append("/").append(levels[i].name);
    if (!name.empty()) path.append("/").append(name);
    return path;
  }

  // Empties and removes folder |name| of |parentFd|.
  void removeFolder(int parentFd, const std::string& name) {
    if (!enter(parentFd, name)) return;
    while (!levels.empty() && !aborted) {
      // Each step removes one entry or level, down or up the tree.
      if (deadline.passed()) {
        timedOut = aborted = true;
        return;
      }
      Level& level = levels.back();
      if (level.next < level.children.size()) {
        const std::string child = level.children[level.next++];
        removeChild(level.fd, child);
        continue;
      }
      leave(parentFd);
    }
  }

  // Opens folder |name| of |dirFd| as the next level down; false when it
  // was not entered (gone, swapped for a non-folder, on another device).
  bool enter(int dirFd, const std::string& name) {
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) return false;
      if (errno == ELOOP || errno == ENOTDIR) {
        // Swapped for a link or file since it was read: remove that instead,
        // as itself.
        removeNonFolder(dirFd, name, false);
        return false;
      }
      fail("openat", name, errno);
      return false;
    }
    EntryStatus self;
    if (statusAt(fd, "", self) != 0 || !sameFileSystem(self, device)) {
      skipped = true;
      close(fd);
      return false;
    }
    bool listed = false;
    Level level;
    level.name = name;
    level.fd = fd;
    level.folderDevice = static_cast<dev_t>(self.attributes.device);
    level.inode = static_cast<ino_t>(self.attributes.fileNumber);
    level.children = readNames(fd, listed);
    if (!listed) fail("readdir", name, errno);
    levels.push_back(std::move(level));
    if (levels.size() > kOpenLevels) {
      Level& far = levels[levels.size() - 1 - kOpenLevels];
      close(std::exchange(far.fd, -1));
    }
    return true;
  }

  // Done with the deepest level: removes it from the level above.
  void leave(int parentFd) {
    Level done = std::move(levels.back());
    levels.pop_back();
    int above = levels.empty() ? parentFd : levels.back().fd;
    if (above < 0) {
      // Closed on the way down: reopen it through "..", and only if that is
      // still the folder we came from (a folder moved meanwhile would lead
      // elsewhere).
      Level& level = levels.back();
      above = openat(done.fd, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      struct stat st;
      if (above < 0 || fstat(above, &st) < 0 || st.st_ino != level.inode ||
          st.st_dev != level.folderDevice) {
        if (above >= 0) close(above);
        close(done.fd);
        fail("openat", "", ESTALE);
        aborted = true;
        return;
      }
      level.fd = above;
    }
    close(done.fd);
    if (unlinkat(above, done.name.c_str(), AT_REMOVEDIR) < 0 && errno != ENOENT &&
        !(skipped && errno == ENOTEMPTY)) {
      fail("unlinkat", done.name, errno);
    }
  }

  void removeChild(int dirFd, const std::string& name) {
    EntryStatus status;
    if (const int e = statusAt(dirFd, name, status)) {
      if (e != ENOENT) fail("statx", name, e);
      return;
    }
    if (!sameFileSystem(status, device)) {
      skipped = true;
      return;
    }
    if (unlock) unlockAt(dirFd, name, status);  // a failure shows in the removal
    if (status.attributes.isDirectory()) {
      enter(dirFd, name);
    } else {
      removeNonFolder(dirFd, name, true);
    }
  }

  // |mayEnter|: a folder swapped in meanwhile is emptied as a level of its
  // own (the walk's loop goes on with it).
  void removeNonFolder(int dirFd, const std::string& name, bool mayEnter) {
    if (unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT) return;
    if (errno == EISDIR && mayEnter) {
      enter(dirFd, name);  // swapped for a folder meanwhile
      return;
    }
    fail("unlinkat", name, errno);
  }
};

}  // namespace

RemoveStatus removeAt(int dirFd, const std::string& name,
                      const std::function<std::string()>& pathOfName, uint64_t device, bool unlock,
                      const TreeDeadline& deadline, std::string& error, const EntryStatus* known) {
  // A file the caller has just read is unlinked at once; a folder, and a
  // folder swapped in meanwhile, is read afresh and walked.
  if (known && !known->attributes.isDirectory() && sameFileSystem(*known, device)) {
    if (unlinkat(dirFd, name.c_str(), 0) == 0) return RemoveStatus::kRemoved;
    if (errno == ENOENT) return RemoveStatus::kGone;
    if (errno != EISDIR) {
      error = errorText("unlinkat", pathOfName(), errno);
      return RemoveStatus::kFailed;
    }
  }
  EntryStatus status;
  if (const int e = statusAt(dirFd, name, status)) {
    if (e == ENOENT) return RemoveStatus::kGone;
    error = errorText("statx", pathOfName(), e);
    return RemoveStatus::kFailed;
  }
  if (!sameFileSystem(status, device)) {
    error = errorText("unlinkat", pathOfName(), EXDEV) + ", skipping";
    return RemoveStatus::kSkipped;
  }
  const std::string displayPath = pathOfName();
  TreeWalk walk(device, unlock, deadline, error, displayPath);
  if (status.attributes.isDirectory()) {
    walk.removeFolder(dirFd, name);
  } else {
    walk.removeNonFolder(dirFd, name, false);
  }
  if (walk.timedOut) {
    // What was removed is gone; the folders on the way down to where the
    // walk stopped, and whatever they still hold, stay.
    error = deadline.passedText("unlinkat", displayPath, "the entry is left partly removed");
    return RemoveStatus::kFailed;
  }
  if (walk.failed) return RemoveStatus::kFailed;
  if (walk.skipped) {
    if (error.empty()) error = "unlinkat(" + displayPath + "): a mount point inside, skipping";
    return RemoveStatus::kSkipped;
  }
  return RemoveStatus::kRemoved;
}

}  // namespace fs
}  // namespace sweeprun
