#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

#include "fs/dir_handle.h"
#include "fs/dir_handle_internal.h"
#include "fs/place_entry.h"

namespace sweeprun {

using fs::errorText;

namespace {

constexpr int kTemporaryNameAttempts = 8;
// A staging folder's name: the prefix and 16 lowercase hexadecimal digits.
constexpr char kStagingPrefix[] = ".sweeprun-move-";
constexpr size_t kStagingDigits = 16;

// A rename that never replaces an existing target. Where the file system
// cannot promise that (EINVAL), the target is checked first: a narrow race,
// but the old entry at the target is never replaced knowingly.
int renameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
  if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return errno;
  struct stat st;
  if (fstatat(toDir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return renameat(fromDir, from, toDir, to) == 0 ? 0 : errno;
}

std::string temporaryName() {
  static std::mt19937_64 generator{std::random_device{}()};
  char text[40];
  std::snprintf(text, sizeof text, "%s%016llx", kStagingPrefix,
                static_cast<unsigned long long>(generator()));
  return text;
}

bool isStagingName(const char* name) {
  const size_t prefix = sizeof kStagingPrefix - 1;
  if (std::strncmp(name, kStagingPrefix, prefix) != 0) return false;
  size_t digits = 0;
  for (const char* c = name + prefix; *c; ++c, ++digits) {
    if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'))) return false;
  }
  return digits == kStagingDigits;
}

// Whether a folder (type and permission bits |mode|, |owner|, |device|) can
// be a staging folder in |destination|: the effective user's own, closed to
// everyone else, on the destination's file system. Inside any other folder
// its owner could swap the names a copy finishes by name.
bool isPrivateFolderIn(const DirHandle& destination, uint32_t mode, uint32_t owner,
                       uint64_t device) {
  return S_ISDIR(mode) && owner == geteuid() && (mode & 077) == 0 && device == destination.device();
}

// Takes the advisory lock that marks a staging folder as in use: held by its
// mover until the folder is gone, taken by a later run before it removes a
// leftover. 0, or the errno value (EWOULDBLOCK: someone holds it).
int lockStaging(int fd) {
  while (flock(fd, LOCK_EX | LOCK_NB) < 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

bool copyBytes(int in, int out) {
  bool plain = false;  // copy_file_range unsupported: read and write
  char buffer[1 << 16];
  for (;;) {
    if (!plain) {
      const ssize_t n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
      if (n > 0) continue;
      if (n == 0) return true;
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return false;
      plain = true;
    }
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += w;
    }
  }
}

// Copies one entry of the source tree as it is, never following a link and
// never entering another mounted file system. Every node is made inside a
// staging folder that only the effective user can enter (see StagingFolder),
// so the by-name calls on the nodes we create cannot be redirected: nobody
// else can swap a name in there for a link.
struct TreeCopy {
  uint64_t sourceDevice;
  const TreeDeadline& deadline;
  std::string& error;
  std::string top;  // display path of the entry the copy started at
  bool asRoot = geteuid() == 0;

  bool fail(const char* operation, const std::string& path, int errorNumber) {
    if (error.empty()) error = errorText(operation, path, errorNumber);
    return false;
  }

  bool copy(int fromDir, const std::string& name, const std::string& path, int toDir,
            const std::string& toName, int depth) {
    if (deadline.passed()) {
      if (error.empty()) {
        error = deadline.passedText("copy", top, "the entry is left as it was, not moved");
      }
      return false;
    }
    fs::EntryStatus status;
    if (const int e = fs::statusAt(fromDir, name, status)) return fail("statx", path, e);
    if (!fs::sameFileSystem(status, sourceDevice)) {
      return fail("copy", path, EXDEV);  // a mount point inside: not moved at all
    }
    const EntryAttributes& a = status.attributes;
    if (a.isDirectory()) return copyFolder(fromDir, name, path, toDir, toName, status, depth);
    if (a.isRegularFile()) return copyFile(fromDir, name, path, toDir, toName, status);
    if (a.isSymbolicLink()) return copyLink(fromDir, name, path, toDir, toName, status);
    return copySpecial(toDir, toName, path, status);
  }

  bool copyFile(int fromDir, const std::string& name, const std::string& path, int toDir,
                const std::string& toName, const fs::EntryStatus& status) {
    const int in =
        openat(fromDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in < 0) return fail("openat", path, errno);
    struct stat st;
    if (fstat(in, &st) < 0 || !S_ISREG(st.st_mode) || st.st_ino != status.attributes.fileNumber ||
        st.st_dev != status.attributes.device) {
      close(in);
      return fail("openat", path, ESTALE);  // replaced since it was read
    }
    const int out =
        openat(toDir, toName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
      fail("openat", path, errno);
      close(in);
      return false;
    }
    bool ok = copyBytes(in, out) || fail("write", path, errno);
    ok = ok && setOwnerModeTimes(out, status, path);
    if (close(out) < 0 && ok) ok = fail("close", path, errno);
    close(in);
    return ok;
  }

  bool copyFolder(int fromDir, const std::string& name, const std::string& path, int toDir,
                  const std::string& toName, const fs::EntryStatus& status, int depth) {
    if (depth > fs::kMaxTreeDepth) {
      if (error.empty()) error = fs::tooDeepToCopyText(path);
      return false;
    }
    if (mkdirat(toDir, toName.c_str(), 0700) < 0) return fail("mkdirat", path, errno);
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const int in = openat(fromDir, name.c_str(), flags);
    if (in < 0) return fail("openat", path, errno);
    const int out = openat(toDir, toName.c_str(), flags);
    if (out < 0) {
      close(in);
      return fail("openat", path, errno);
    }
    fs::EntryStatus opened;
    bool ok = (fs::statusAt(in, "", opened) == 0 &&
               opened.attributes.fileNumber == status.attributes.fileNumber) ||
              fail("openat", path, ESTALE);
    bool listed = false;
    const std::vector<std::string> children =
        ok ? fs::readNames(in, listed) : std::vector<std::string>();
    if (ok && !listed) ok = fail("readdir", path, errno);
    for (size_t i = 0; ok && i < children.size(); ++i) {
      ok = copy(in, children[i], path + "/" + children[i], out, children[i], depth + 1);
    }
    // The folder's own times last: adding its entries changed them.
    ok = ok && setOwnerModeTimes(out, status, path);
    close(out);
    close(in);
    return ok;
  }

  bool copyLink(int fromDir, const std::string& name, const std::string& path, int toDir,
                const std::string& toName, const fs::EntryStatus& status) {
    std::string target(static_cast<size_t>(status.attributes.size) + 1, '\0');
    const ssize_t n = readlinkat(fromDir, name.c_str(), &target[0], target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size())
      return fail("readlinkat", path, errno ? errno : ESTALE);
    target.resize(static_cast<size_t>(n));
    if (symlinkat(target.c_str(), toDir, toName.c_str()) < 0) return fail("symlinkat", path, errno);
    // A link has no mode of its own; its owner and times are set on the link
    // itself, never on what it points to.
    if (asRoot && fchownat(toDir, toName.c_str(), status.attributes.owner, status.attributes.group,
                           AT_SYMLINK_NOFOLLOW) < 0) {
      return fail("fchownat", path, errno);
    }
    const timespec times[2] = {{status.accessSeconds, status.accessNanoseconds},
                               {status.modificationSeconds, status.modificationNanoseconds}};
    if (utimensat(toDir, toName.c_str(), times, AT_SYMLINK_NOFOLLOW) < 0) {
      return fail("utimensat", path, errno);
    }
    return true;
  }

  // FIFOs, sockets and device nodes. They cannot be opened without effects of
  // their own, so they are finished by name: safe only because nobody but us
  // can enter the staging folder, and checked to be the node we made.
  bool copySpecial(int toDir, const std::string& toName, const std::string& path,
                   const fs::EntryStatus& status) {
    const EntryAttributes& a = status.attributes;
    if (mknodat(toDir, toName.c_str(), (a.mode & S_IFMT) | 0600, status.specialDevice) < 0) {
      return fail("mknodat", path, errno);
    }
    struct stat made;
    if (fstatat(toDir, toName.c_str(), &made, AT_SYMLINK_NOFOLLOW) < 0 ||
        (made.st_mode & S_IFMT) != (a.mode & S_IFMT)) {
      return fail("mknodat", path, ESTALE);
    }
    // Owners first: a change of owner clears the set-id bits.
    if (asRoot && fchownat(toDir, toName.c_str(), a.owner, a.group, AT_SYMLINK_NOFOLLOW) < 0) {
      return fail("fchownat", path, errno);
    }
    if (fchmodat(toDir, toName.c_str(), a.mode & 07777, 0) < 0)
      return fail("fchmodat", path, errno);
    const timespec times[2] = {{status.accessSeconds, status.accessNanoseconds},
                               {status.modificationSeconds, status.modificationNanoseconds}};
    if (utimensat(toDir, toName.c_str(), times, AT_SYMLINK_NOFOLLOW) < 0) {
      return fail("utimensat", path, errno);
    }
    return true;
  }

  // |fd| is the copied file or folder itself.
  bool setOwnerModeTimes(int fd, const fs::EntryStatus& status, const std::string& path) {
    const EntryAttributes& a = status.attributes;
    // Owners first: a change of owner clears the set-id bits.
    if (asRoot && fchown(fd, a.owner, a.group) < 0) return fail("fchown", path, errno);
    if (fchmod(fd, a.mode & 07777) < 0) return fail("fchmod", path, errno);
    const timespec times[2] = {{status.accessSeconds, status.accessNanoseconds},
                               {status.modificationSeconds, status.modificationNanoseconds}};
    if (futimens(fd, times) < 0) return fail("utimensat", path, errno);
    return true;
  }
};

// Removes the contents of the staging folder |name| of |destination| (open
// as |fd|, inode |inode|), then the folder itself if its name still holds
// it. False with |error| when something stayed.
bool removeStaging(const DirHandle& destination, const std::string& name, int fd, ino_t inode,
                   std::string& error) {
  bool listed = false;
  const std::vector<std::string> names = fs::readNames(fd, listed);
  if (!listed) {
    error = errorText("readdir", destination.entryPath(name), errno);
    return false;
  }
  bool removed = true;
  for (const std::string& left : names) {
    const RemoveStatus status = fs::removeAt(
        fd, left, [&] { return destination.entryPath(name) + "/" + left; }, destination.device(),
        false, TreeDeadline(), error);
    removed = removed && (status == RemoveStatus::kRemoved || status == RemoveStatus::kGone);
  }
  struct stat st;
  if (fstatat(destination.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(st.st_mode) && st.st_ino == inode && st.st_dev == destination.device() &&
      unlinkat(destination.fd(), name.c_str(), AT_REMOVEDIR) < 0) {
    if (error.empty()) error = errorText("unlinkat", destination.entryPath(name), errno);
    return false;
  }
  return removed;
}

// A folder in the destination that only the effective user may enter, where
// a copy is made and finished before it is renamed into place. The
// destination may belong to another user, who can swap any name in it at any
// moment; inside this folder nobody can, and the folder itself is known by
// its descriptor, checked to be the one we made, never by its name.
class StagingFolder {
 public:
  StagingFolder(const DirHandle& destination) : destination_(destination) {}
  ~StagingFolder() { discard(); }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  /// Makes the folder under a fresh name and holds its lock (see
  /// removeLeftoverStaging). False with |error| when none could be made, or
  /// what was opened is not ours.
  bool create(std::string& error) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
      name_ = temporaryName();
      if (mkdirat(destination_.fd(), name_.c_str(), 0700) < 0) {
        if (errno == EEXIST) continue;
        error = errorText("mkdirat", destination_.entryPath(name_), errno);
        name_.clear();
        return false;
      }
      fd_ =
          openat(destination_.fd(), name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd_ < 0 && errno == ENOENT) continue;  // removed as a leftover (below)
      // A file system without locks gives no way to mark the folder in use;
      // a later run then leaves it alone, as it cannot take the lock either.
      const int locked = fd_ < 0 ? 0 : lockStaging(fd_);
      struct stat st;
      if (fd_ < 0 || fstat(fd_, &st) < 0 ||
          !isPrivateFolderIn(destination_, st.st_mode, st.st_uid, st.st_dev)) {
        // Swapped for something of another user's between the two calls.
        error = errorText("mkdirat", destination_.entryPath(name_), fd_ < 0 ? errno : ESTALE);
        if (fd_ >= 0) close(std::exchange(fd_, -1));
        name_.clear();  // not ours: never removed
        return false;
      }
      if (locked == EWOULDBLOCK || st.st_nlink == 0) {
        // Taken for a leftover by a run that clears them, between our
        // mkdirat and our lock: it removes the folder; we take another.
        close(std::exchange(fd_, -1));
        continue;
      }
      inode_ = st.st_ino;
      return true;
    }
    error = errorText("mkdirat", destination_.entryPath(std::string(kStagingPrefix) + "*"), EEXIST);
    name_.clear();
    return false;
  }

  int fd() const { return fd_; }

  /// Removes whatever is left inside, then the folder, if its name still
  /// holds it; the lock goes last.
  void discard() {
    if (fd_ < 0) return;
    std::string ignored;
    removeStaging(destination_, name_, fd_, inode_, ignored);
    close(std::exchange(fd_, -1));
  }

 private:
  const DirHandle& destination_;
  std::string name_;
  int fd_ = -1;
  ino_t inode_ = 0;
};

}  // namespace

MoveStatus DirHandle::moveEntry(const std::string& name, const Folder& destinationFolder,
                                const std::string& targetName, std::chrono::seconds treeTimeLimit,
                                std::string& error, EntryAttributes* placed,
                                const EntryAttributes* known) const {
  const DirHandle& destination = destinationFolder.realFolder();
  if (!fs::isEntryName(name) || !fs::isEntryName(targetName) || !destination.isOpen()) {
    error = errorText("renameat", entryPath(name), EINVAL);
    return MoveStatus::kFailed;
  }
  fs::EntryStatus status;
  if (known) {
    status = fs::statusFrom(*known);
  } else if (const int e = fs::statusAt(fd_, name, status)) {
    if (e == ENOENT) return MoveStatus::kGone;
    error = errorText("statx", entryPath(name), e);
    return MoveStatus::kFailed;
  }
  if (!fs::sameFileSystem(status, device_)) {
    error = errorText("renameat", entryPath(name), EXDEV) + ", a mount point, skipping";
    return MoveStatus::kFailed;
  }
  const int e = renameNoReplace(fd_, name.c_str(), destination.fd_, targetName.c_str());
  if (e == 0) {
    if (placed) {
      *placed = status.attributes;  // a rename keeps them all but the change time
      // Which the entry's identity needs only where no birth time tells it
      // apart: one more statx there, none elsewhere.
      fs::EntryStatus moved;
      placed->changeNanoseconds = 0;
      if (!placed->birthNanoseconds && fs::statusAt(destination.fd_, targetName, moved) == 0 &&
          moved.attributes.fileNumber == placed->fileNumber)
        placed->changeNanoseconds = moved.attributes.changeNanoseconds;
    }
    return MoveStatus::kMoved;
  }
  const std::string targetPath = destination.entryPath(targetName);
  if (e != EXDEV) {
    error = errorText("renameat2", entryPath(name) + " -> " + targetPath, e);
    if (e == EEXIST) return MoveStatus::kTargetExists;
    if (e == ENOENT && fs::statusAt(fd_, name, status) == ENOENT) return MoveStatus::kGone;
    return MoveStatus::kFailed;
  }

  // Another volume: copy into a staging folder inside the destination,
  // rename into place, then delete.
  // A source that could not be deleted afterwards is not copied at all: it
  // would stay, and every later check would copy it once more.
  const TreeDeadline deadline(treeTimeLimit);
  if (!fs::mayRemoveTree(fd_, name, entryPath(name), device_, deadline, error)) {
    error += ", not moved";
    return MoveStatus::kFailed;
  }
  struct stat taken;  // spares a whole copy when the name is taken already
  if (fstatat(destination.fd_, targetName.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) {
    error = errorText("renameat2", targetPath, EEXIST);
    return MoveStatus::kTargetExists;
  }
  StagingFolder staging(destination);
  if (!staging.create(error)) return MoveStatus::kFailed;
  TreeCopy copy{device_, deadline, error, entryPath(name)};
  if (!copy.copy(fd_, name, entryPath(name), staging.fd(), targetName, 0)) {
    return MoveStatus::kFailed;
  }
  if (const int r =
          renameNoReplace(staging.fd(), targetName.c_str(), destination.fd_, targetName.c_str())) {
    error = errorText("renameat2", targetPath, r);
    return r == EEXIST ? MoveStatus::kTargetExists : MoveStatus::kFailed;
  }
  staging.discard();
  // The copy must be safe on disk before the only other copy goes.
  syncfs(destination.fd_);
  switch (fs::removeAt(
      fd_, name, [&] { return entryPath(name); }, device_, false, deadline, error)) {
    case RemoveStatus::kRemoved:
    case RemoveStatus::kGone:
      // The copy is a new entry; after a whole copy one more stat is cheap.
      if (placed) *placed = destination.statEntry(targetName).value_or(EntryAttributes());
      return MoveStatus::kMoved;
    default:
      if (deadline.passed()) error += "; its copy at " + targetPath + " is complete";
      return MoveStatus::kSourceRemains;
  }
}

std::vector<LeftoverStaging> removeLeftoverStaging(const DirHandle& destination) {
  std::vector<std::string> candidates;
  fs::forEachName(destination.fd(), [&](const char* name) {
    if (isStagingName(name)) candidates.emplace_back(name);
  });
  std::vector<LeftoverStaging> found;
  for (const std::string& name : candidates) {
    const int fd =
        openat(destination.fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    // Only a folder exactly as a mover makes it: the effective user's own,
    // mode 0700, on the destination's file system and no mount point. The
    // lock tells a mover's folder, and one that another run is removing.
    fs::EntryStatus status;
    const EntryAttributes& a = status.attributes;
    if (fs::statusAt(fd, "", status) == 0 &&
        isPrivateFolderIn(destination, a.mode, a.owner, a.device) && (a.mode & 07777) == 0700 &&
        !a.mountRoot && lockStaging(fd) == 0) {
      LeftoverStaging left{destination.entryPath(name), {}};
      removeStaging(destination, name, fd, a.fileNumber, left.error);
      found.push_back(std::move(left));
    }
    close(fd);
  }
  return found;
}

}  // namespace sweeprun
