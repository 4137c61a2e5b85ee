#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/dir_handle.h"
#include "platform/dir_handle_internal.h"

namespace sweeprun {

using fs::errorText;

namespace {

constexpr int kTemporaryNameAttempts = 8;

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
  std::snprintf(text, sizeof text, ".sweeprun-move-%016llx",
                static_cast<unsigned long long>(generator()));
  return text;
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
// never entering another mounted file system.
struct TreeCopy {
  uint64_t sourceDevice;
  std::string& error;
  bool asRoot = geteuid() == 0;
  bool targetTaken = false;  // the first create step met an existing name

  bool fail(const char* operation, const std::string& path, int errorNumber) {
    if (error.empty()) error = errorText(operation, path, errorNumber);
    return false;
  }

  bool copy(int fromDir, const std::string& name, const std::string& path, int toDir,
            const std::string& toName, int depth) {
    fs::EntryStatus status;
    if (const int e = fs::statusAt(fromDir, name, status)) return fail("statx", path, e);
    if (!fs::sameFileSystem(status, sourceDevice)) {
      return fail("copy", path, EXDEV);  // a mount point inside: not moved at all
    }
    const EntryAttributes& a = status.attributes;
    bool ok;
    if (a.isDirectory()) {
      ok = copyFolder(fromDir, name, path, toDir, toName, status, depth);
    } else if (a.isRegularFile()) {
      ok = copyFile(fromDir, name, path, toDir, toName, status, depth);
    } else if (a.isSymbolicLink()) {
      ok = copyLink(fromDir, name, path, toDir, toName, status, depth);
    } else {
      ok = mknodat(toDir, toName.c_str(), (a.mode & S_IFMT) | 0600, status.specialDevice) == 0;
      if (!ok) noteCreateFailure("mknodat", path, depth);
      ok = ok && setOwnerModeTimes(toDir, toName, -1, status, path);
    }
    return ok;
  }

  void noteCreateFailure(const char* operation, const std::string& path, int depth) {
    if (depth == 0 && errno == EEXIST) targetTaken = true;
    fail(operation, path, errno);
  }

  bool copyFile(int fromDir, const std::string& name, const std::string& path, int toDir,
                const std::string& toName, const fs::EntryStatus& status, int depth) {
    const int in =
        openat(fromDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in < 0) return fail("openat", path, errno);
    struct stat st;
    if (fstat(in, &st) < 0 || st.st_ino != status.attributes.fileNumber) {
      close(in);
      return fail("openat", path, ESTALE);  // replaced since it was read
    }
    const int out =
        openat(toDir, toName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
      noteCreateFailure("openat", path, depth);
      close(in);
      return false;
    }
    bool ok = copyBytes(in, out) || fail("write", path, errno);
    ok = ok && setOwnerModeTimes(toDir, toName, out, status, path);
    if (close(out) < 0 && ok) ok = fail("close", path, errno);
    close(in);
    return ok;
  }

  bool copyFolder(int fromDir, const std::string& name, const std::string& path, int toDir,
                  const std::string& toName, const fs::EntryStatus& status, int depth) {
    if (depth > fs::kMaxTreeDepth) return fail("copy", path, ELOOP);
    if (mkdirat(toDir, toName.c_str(), 0700) < 0) {
      noteCreateFailure("mkdirat", path, depth);
      return false;
    }
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
    ok = ok && setOwnerModeTimes(toDir, toName, out, status, path);
    close(out);
    close(in);
    return ok;
  }

  bool copyLink(int fromDir, const std::string& name, const std::string& path, int toDir,
                const std::string& toName, const fs::EntryStatus& status, int depth) {
    std::string target(static_cast<size_t>(status.attributes.size) + 1, '\0');
    const ssize_t n = readlinkat(fromDir, name.c_str(), &target[0], target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size())
      return fail("readlinkat", path, errno ? errno : ESTALE);
    target.resize(static_cast<size_t>(n));
    if (symlinkat(target.c_str(), toDir, toName.c_str()) < 0) {
      noteCreateFailure("symlinkat", path, depth);
      return false;
    }
    if (asRoot)
      fchownat(toDir, toName.c_str(), status.attributes.owner, status.group, AT_SYMLINK_NOFOLLOW);
    const timespec times[2] = {{status.accessSeconds, status.accessNanoseconds},
                               {status.modificationSeconds, status.modificationNanoseconds}};
    utimensat(toDir, toName.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return true;
  }

  // |fd| is the copy itself, or -1 to reach it by name (a node we created).
  bool setOwnerModeTimes(int toDir, const std::string& toName, int fd,
                         const fs::EntryStatus& status, const std::string& path) {
    const EntryAttributes& a = status.attributes;
    // Owners first: a change of owner clears the set-id bits.
    if (asRoot) {
      const int r =
          fd >= 0 ? fchown(fd, a.owner, status.group)
                  : fchownat(toDir, toName.c_str(), a.owner, status.group, AT_SYMLINK_NOFOLLOW);
      if (r < 0) return fail("fchown", path, errno);
    }
    const int r =
        fd >= 0 ? fchmod(fd, a.mode & 07777) : fchmodat(toDir, toName.c_str(), a.mode & 07777, 0);
    if (r < 0) return fail("fchmod", path, errno);
    const timespec times[2] = {{status.accessSeconds, status.accessNanoseconds},
                               {status.modificationSeconds, status.modificationNanoseconds}};
    const int t = fd >= 0 ? futimens(fd, times)
                          : utimensat(toDir, toName.c_str(), times, AT_SYMLINK_NOFOLLOW);
    if (t < 0) return fail("utimensat", path, errno);
    return true;
  }
};

}  // namespace

MoveStatus DirHandle::moveEntry(const std::string& name, const DirHandle& destination,
                                const std::string& targetName, std::string& error) const {
  const std::string targetPath = destination.entryPath(targetName);
  if (!fs::isEntryName(name) || !fs::isEntryName(targetName) || !destination.isOpen()) {
    error = errorText("renameat", entryPath(name), EINVAL);
    return MoveStatus::kFailed;
  }
  fs::EntryStatus status;
  if (const int e = fs::statusAt(fd_, name, status)) {
    if (e == ENOENT) return MoveStatus::kGone;
    error = errorText("statx", entryPath(name), e);
    return MoveStatus::kFailed;
  }
  if (!fs::sameFileSystem(status, device_)) {
    error = errorText("renameat", entryPath(name), EXDEV) + ", a mount point, skipping";
    return MoveStatus::kFailed;
  }
  const int e = renameNoReplace(fd_, name.c_str(), destination.fd_, targetName.c_str());
  if (e == 0) return MoveStatus::kMoved;
  if (e != EXDEV) {
    error = errorText("renameat2", entryPath(name) + " -> " + targetPath, e);
    if (e == EEXIST) return MoveStatus::kTargetExists;
    if (e == ENOENT && fs::statusAt(fd_, name, status) == ENOENT) return MoveStatus::kGone;
    return MoveStatus::kFailed;
  }

  // Another volume: copy beside the target, rename into place, then delete.
  // A source that could not be deleted afterwards is not copied at all: it
  // would stay, and every later check would copy it once more.
  if (!fs::mayRemoveTree(fd_, name, entryPath(name), device_, error)) {
    error += ", not moved";
    return MoveStatus::kFailed;
  }
  std::string temporary;
  bool copied = false;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && !copied; ++attempt) {
    temporary = temporaryName();
    std::string copyError;
    TreeCopy copy{device_, copyError};
    copied = copy.copy(fd_, name, entryPath(name), destination.fd_, temporary, 0);
    if (copied) break;
    if (!copy.targetTaken) {
      std::string ignored;
      fs::removeAt(destination.fd_, temporary, destination.entryPath(temporary),
                   destination.device_, false, ignored);
      error = copyError;
      return MoveStatus::kFailed;
    }
  }
  if (!copied) {
    error = errorText("copy", targetPath, EEXIST);
    return MoveStatus::kFailed;
  }
  if (const int r = renameNoReplace(destination.fd_, temporary.c_str(), destination.fd_,
                                    targetName.c_str())) {
    std::string ignored;
    fs::removeAt(destination.fd_, temporary, destination.entryPath(temporary), destination.device_,
                 false, ignored);
    error = errorText("renameat2", targetPath, r);
    return r == EEXIST ? MoveStatus::kTargetExists : MoveStatus::kFailed;
  }
  // The copy must be safe on disk before the only other copy goes.
  syncfs(destination.fd_);
  switch (fs::removeAt(fd_, name, entryPath(name), device_, false, error)) {
    case RemoveStatus::kRemoved:
    case RemoveStatus::kGone:
      return MoveStatus::kMoved;
    default:
      return MoveStatus::kSourceRemains;
  }
}

}  // namespace sweeprun
