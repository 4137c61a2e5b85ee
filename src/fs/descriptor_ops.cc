#include "fs/descriptor_ops.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include "fs/folder_listing.h"

namespace sweeprun {
namespace fs {

namespace {

void fillFromStat(const struct stat& st, EntryStatus& status) {
  EntryAttributes& a = status.attributes;
  a.fileNumber = st.st_ino;
  a.size = static_cast<uint64_t>(st.st_size);
  a.mode = st.st_mode;
  a.owner = st.st_uid;
  a.group = st.st_gid;
  a.links = static_cast<uint32_t>(st.st_nlink);
  a.device = st.st_dev;
  a.modificationDate = timestampDate(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
  a.changeNanoseconds = timestampNanoseconds(st.st_ctim.tv_sec, static_cast<uint32_t>(st.st_ctim.tv_nsec));
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
    a.links = sx.stx_nlink;
    a.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    a.modificationDate = timestampDate(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    if (sx.stx_mask & STATX_BTIME) {
      a.creationDate = timestampDate(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
      a.birthNanoseconds = timestampNanoseconds(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    }
    a.changeNanoseconds = timestampNanoseconds(sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec);
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
  int listError = 0;
  const std::unique_ptr<FolderListing> listing = startListing(dirFd, listError);
  if (listing) {
    std::string name;
    while (listing->next(name)) each(name.c_str());
    listError = listing->error();
  }
  errno = listError;
  return listError == 0;
}

std::vector<std::string> readNames(int dirFd, bool& ok) {
  std::vector<std::string> names;
  ok = forEachName(dirFd, [&names](const char* name) { names.emplace_back(name); });
  if (!ok) names.clear();
  return names;
}

int renameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
  if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return errno;
  struct stat st;
  if (fstatat(toDir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return renameat(fromDir, from, toDir, to) == 0 ? 0 : errno;
}

}  // namespace fs
}  // namespace sweeprun
