#include "fs/dir_handle_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>

namespace sweeprun {
namespace fs {

namespace {

Date dateOf(int64_t seconds, uint32_t nanoseconds) {
  return Date::fromUnix(static_cast<double>(seconds) + nanoseconds / 1e9);
}

uint64_t nanosecondsOf(int64_t seconds, uint32_t nanoseconds) {
  return seconds < 0 ? 0 : static_cast<uint64_t>(seconds) * 1000000000u + nanoseconds;
}

void fillFromStat(const struct stat& st, EntryStatus& status) {
  EntryAttributes& a = status.attributes;
  a.fileNumber = st.st_ino;
  a.size = static_cast<uint64_t>(st.st_size);
  a.mode = st.st_mode;
  a.owner = st.st_uid;
  a.group = st.st_gid;
  a.device = st.st_dev;
  a.modificationDate = dateOf(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
  a.changeNanoseconds = nanosecondsOf(st.st_ctim.tv_sec, static_cast<uint32_t>(st.st_ctim.tv_nsec));
  status.specialDevice = st.st_rdev;
  status.accessSeconds = st.st_atim.tv_sec;
  status.accessNanoseconds = st.st_atim.tv_nsec;
  status.modificationSeconds = st.st_mtim.tv_sec;
  status.modificationNanoseconds = st.st_mtim.tv_nsec;
}

// Opens a regular file or folder to read or change its inode flags, and
// fills |st| from the descriptor. O_NONBLOCK keeps a FIFO swapped in
// meanwhile from blocking; the type is checked again on the descriptor, so
// nothing else is ever acted on.
int openForFlags(int dirFd, const std::string& name, bool directory, struct stat& st) {
  int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  if (directory) flags |= O_DIRECTORY;
  const int fd = name.empty() ? openat(dirFd, ".", flags) : openat(dirFd, name.c_str(), flags);
  if (fd < 0) return -1;
  if (fstat(fd, &st) < 0 || (directory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

}  // namespace

bool isEntryName(const std::string& name) {
  if (name.empty() || (name.size() <= 2 && (name == "." || name == ".."))) return false;
  return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string errorText(const char* operation, const std::string& path, int errorNumber) {
  return std::string(operation) + "(" + path + "): " + std::strerror(errorNumber);
}

std::string tooDeepToCopyText(const std::string& path) {
  return "copy(" + path + "): more than " + std::to_string(kMaxTreeDepth) +
         " folder levels deep, which a move to another volume does not copy";
}

int statusAt(int dirFd, const std::string& name, EntryStatus& status) {
  status = EntryStatus();
  const char* entry = name.empty() ? "" : name.c_str();
  const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (name.empty() ? AT_EMPTY_PATH : 0);
  struct statx sx;
  if (statx(dirFd, entry, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
    EntryAttributes& a = status.attributes;
    a.fileNumber = sx.stx_ino;
    a.size = sx.stx_size;
    a.mode = sx.stx_mode;
    a.owner = sx.stx_uid;
    a.group = sx.stx_gid;
    a.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    a.modificationDate = dateOf(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    if (sx.stx_mask & STATX_BTIME) {
      a.creationDate = dateOf(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
      a.birthNanoseconds = nanosecondsOf(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    }
    a.changeNanoseconds = nanosecondsOf(sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec);
    a.mountRoot = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
                  (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    constexpr uint64_t kPinning = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
    a.pinningFlagsKnown = (sx.stx_attributes_mask & kPinning) == kPinning;
    a.immutable = sx.stx_attributes & STATX_ATTR_IMMUTABLE;
    a.appendOnly = sx.stx_attributes & STATX_ATTR_APPEND;
    status.specialDevice = makedev(sx.stx_rdev_major, sx.stx_rdev_minor);
    status.accessSeconds = sx.stx_atime.tv_sec;
    status.accessNanoseconds = sx.stx_atime.tv_nsec;
    status.modificationSeconds = sx.stx_mtime.tv_sec;
    status.modificationNanoseconds = sx.stx_mtime.tv_nsec;
    return 0;
  }
  if (errno != ENOSYS) return errno;
  struct stat st;
  if (fstatat(dirFd, entry, &st, flags & ~AT_NO_AUTOMOUNT) < 0) return errno;
  fillFromStat(st, status);
  return 0;
}

EntryStatus statusFrom(const EntryAttributes& attributes) {
  EntryStatus status;
  status.attributes = attributes;
  return status;
}

int inodeFlagsAt(int dirFd, const std::string& name, bool directory, int& flags) {
  struct stat st;
  const int fd = openForFlags(dirFd, name, directory, st);
  if (fd < 0) return errno;
  int result = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) < 0) result = errno;
  close(fd);
  return result;
}

bool unlockAt(int dirFd, const std::string& name, const EntryStatus& status) {
  const EntryAttributes& a = status.attributes;
  if (!a.isRegularFile() && !a.isDirectory()) return true;  // no flag to clear
  // Nothing to clear: spares an open, an ioctl and a close per entry. (Set
  // since the status was read, the flag makes the removal fail, as it should.)
  if (a.pinningFlagsKnown && !a.immutable) return true;
  struct stat st;
  const int fd = openForFlags(dirFd, name, a.isDirectory(), st);
  if (fd < 0) return false;
  if (st.st_ino != a.fileNumber || st.st_dev != a.device) {
    close(fd);
    return false;  // replaced since |status| was read: not the entry we were asked about
  }
  int flags = 0;
  bool clear = false;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) < 0) {
    // A file system without inode flags cannot hold a locked entry either.
    clear = errno == ENOTTY || errno == EOPNOTSUPP;
  } else if (!(flags & FS_IMMUTABLE_FL)) {
    clear = true;
  } else if (S_ISREG(st.st_mode) && st.st_nlink > 1) {
    clear = false;  // the same file is reachable by a link outside: leave it locked
  } else {
    flags &= ~FS_IMMUTABLE_FL;
    clear = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return clear;
}

bool hasPinningFlag(int dirFd, const std::string& name, const EntryStatus& status) {
  const EntryAttributes& a = status.attributes;
  if (a.pinningFlagsKnown) return a.immutable || a.appendOnly;
  if (!a.isRegularFile() && !a.isDirectory()) return false;  // flags out of reach
  int flags = 0;
  return inodeFlagsAt(dirFd, name, a.isDirectory(), flags) == 0 &&
         (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL));
}

bool mayChangeEntriesOf(int dirFd, const EntryStatus& folder) {
  return faccessat(dirFd, ".", W_OK | X_OK, AT_EACCESS) == 0 && !hasPinningFlag(dirFd, "", folder);
}

bool stickyAllows(const EntryStatus& folder, const EntryStatus& entry) {
  if (!(folder.attributes.mode & S_ISVTX)) return true;
  const uid_t user = geteuid();
  return user == 0 || user == entry.attributes.owner || user == folder.attributes.owner;
}

bool forEachName(int dirFd, const std::function<void(const char*)>& each) {
  // Reopening "." gives a descriptor with its own read position.
  const int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return false;
  }
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const char* n = entry->d_name;
    if (!(n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))) each(n);
    errno = 0;
  }
  const int readError = errno;
  closedir(dir);
  errno = readError;
  return readError == 0;
}

std::vector<std::string> readNames(int dirFd, bool& ok) {
  std::vector<std::string> names;
  ok = forEachName(dirFd, [&names](const char* name) { names.emplace_back(name); });
  if (!ok) names.clear();
  return names;
}

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
