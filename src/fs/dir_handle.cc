#include "fs/dir_handle.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <utility>

#include "fs/descriptor_ops.h"
#include "fs/removal_check.h"
#include "fs/staging_folder.h"
#include "fs/tree_copy.h"
#include "fs/tree_removal.h"
#include "fs/tree_size.h"
#include "os/process_info.h"

namespace sweeprun {

using fs::errorText;
using fs::isEntryName;

namespace {

constexpr int kMaxLinksFollowed = 40;
// Bounds the retries when another process removes a folder we just created.
constexpr int kMaxCreateAttempts = 64;

constexpr int kOpenFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::deque<std::string> componentsOf(const std::string& path) {
  std::deque<std::string> components;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string component = path.substr(start, end - start);
    if (!component.empty() && component != ".") components.push_back(std::move(component));
    start = end + 1;
  }
  return components;
}

// A link is trusted when nobody but root or we ourselves could have made it.
bool isTrustedLinkOwner(uid_t owner) { return owner == 0 || owner == geteuid(); }

bool readLinkAt(int dirFd, const std::string& name, std::string& target) {
  char buffer[4096];
  const ssize_t length = readlinkat(dirFd, name.c_str(), buffer, sizeof buffer);
  if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) return false;
  target.assign(buffer, static_cast<size_t>(length));
  return true;
}

}  // namespace

DirHandle::~DirHandle() {
  if (fd_ >= 0) close(fd_);
}

DirHandle::DirHandle(DirHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      device_(other.device_),
      owner_(other.owner_),
      deletableFolder_(other.deletableFolder_) {}

DirHandle& DirHandle::operator=(DirHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    device_ = other.device_;
    owner_ = other.owner_;
    deletableFolder_ = other.deletableFolder_;
  }
  return *this;
}

OpenStatus DirHandle::openDirectory(const std::string& path, DirHandle& dir, std::string& error) {
  return walkPath(path, false, dir, error);
}

OpenStatus DirHandle::createDirectories(const std::string& path, DirHandle& dir,
                                        std::string& error) {
  return walkPath(path, true, dir, error);
}

OpenStatus DirHandle::walkPath(const std::string& path, bool create, DirHandle& dir,
                               std::string& error) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    error = errorText("openat", path, ENOENT);
    return OpenStatus::kMissing;
  }
  int current = open(path[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (current < 0) {
    error = errorText("open", path, errno);
    return OpenStatus::kFailed;
  }
  std::deque<std::string> rest = componentsOf(path);
  int linksFollowed = 0;
  int createAttempts = 0;
  auto finish = [&](OpenStatus status, const char* operation, int errorNumber) {
    close(current);
    error = errorText(operation, path, errorNumber);
    return status;
  };
  while (!rest.empty()) {
    const std::string component = std::move(rest.front());
    rest.pop_front();
    const int next = openat(current, component.c_str(), kOpenFolderFlags);
    if (next >= 0) {
      close(current);
      current = next;
      continue;
    }
    const int openError = errno;
    if (openError == ENOENT && create && ++createAttempts <= kMaxCreateAttempts) {
      if (mkdirat(current, component.c_str(), 0777) < 0 && errno != EEXIST) {
        return finish(OpenStatus::kFailed, "mkdirat", errno);
      }
      rest.push_front(component);
      continue;
    }
    const bool last = rest.empty();
    if (openError == ELOOP || openError == ENOTDIR) {
      struct stat st;
      if (fstatat(current, component.c_str(), &st, AT_SYMLINK_NOFOLLOW) < 0 ||
          !S_ISLNK(st.st_mode)) {
        if (last) return finish(OpenStatus::kNotDirectory, "openat", ENOTDIR);
        return finish(create ? OpenStatus::kFailed : OpenStatus::kMissing, "openat", ENOTDIR);
      }
      std::string target;
      if (!isTrustedLinkOwner(st.st_uid)) {
        close(current);
        error = "openat(" + path + "): the link '" + component +
                "' belongs to another user, not followed";
        return last ? OpenStatus::kNotDirectory : OpenStatus::kFailed;
      }
      if (++linksFollowed > kMaxLinksFollowed) return finish(OpenStatus::kFailed, "openat", ELOOP);
      if (!readLinkAt(current, component, target)) {
        return finish(OpenStatus::kFailed, "readlinkat", errno ? errno : ENAMETOOLONG);
      }
      if (!target.empty() && target[0] == '/') {
        const int root = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) return finish(OpenStatus::kFailed, "open", errno);
        close(current);
        current = root;
      }
      std::deque<std::string> targetComponents = componentsOf(target);
      rest.insert(rest.begin(), targetComponents.begin(), targetComponents.end());
      continue;
    }
    if (openError == ENOENT) return finish(OpenStatus::kMissing, "openat", openError);
    return finish(OpenStatus::kFailed, create ? "mkdirat" : "openat", openError);
  }
  return dir.adopt(current, path, error) ? OpenStatus::kOpened : OpenStatus::kFailed;
}

bool DirHandle::adopt(int fd, std::string path, std::string& error) {
  struct stat st;
  if (fstat(fd, &st) < 0) {
    error = errorText("fstat", path, errno);
    close(fd);
    return false;
  }
  *this = DirHandle();
  fd_ = fd;
  path_ = std::move(path);
  device_ = st.st_dev;
  owner_ = st.st_uid;
  return true;
}

OpenStatus DirHandle::openChild(const std::string& name, DirHandle& child,
                                std::string& error) const {
  if (!isEntryName(name)) {
    error = errorText("openat", entryPath(name), EINVAL);
    return OpenStatus::kFailed;
  }
  const int fd = openat(fd_, name.c_str(), kOpenFolderFlags);
  if (fd < 0) {
    const int e = errno;
    error = errorText("openat", entryPath(name), e);
    if (e == ENOENT) return OpenStatus::kMissing;
    return e == ELOOP || e == ENOTDIR ? OpenStatus::kNotDirectory : OpenStatus::kFailed;
  }
  return child.adopt(fd, entryPath(name), error) ? OpenStatus::kOpened : OpenStatus::kFailed;
}

OpenStatus DirHandle::openChild(const std::string& name, std::unique_ptr<Folder>& child,
                                std::string& error) const {
  auto opened = std::make_unique<DirHandle>();
  const OpenStatus status = openChild(name, *opened, error);
  if (status == OpenStatus::kOpened) child = std::move(opened);
  return status;
}

OpenStatus DirHandle::createChild(const std::string& name, std::unique_ptr<Folder>& child,
                                  bool& created, std::string& error) const {
  auto opened = std::make_unique<DirHandle>();
  const OpenStatus status = createChild(name, *opened, created, error);
  if (status == OpenStatus::kOpened) child = std::move(opened);
  return status;
}

OpenStatus DirHandle::createChild(const std::string& name, DirHandle& child, bool& created,
                                  std::string& error, unsigned mode) const {
  created = false;
  for (int attempt = 0; attempt < kMaxCreateAttempts; ++attempt) {
    if (!isEntryName(name)) break;
    if (mkdirat(fd_, name.c_str(), mode & 07777) == 0) {
      created = true;
    } else if (errno != EEXIST) {
      error = errorText("mkdirat", entryPath(name), errno);
      return OpenStatus::kFailed;
    }
    const OpenStatus status = openChild(name, child, error);
    // Another user may have swapped a folder of their own in between: only
    // a folder we own counts as the one we made.
    if (status == OpenStatus::kOpened && child.owner() != geteuid()) created = false;
    if (status != OpenStatus::kMissing) return status;
    created = false;  // removed again before we opened it
  }
  error = errorText("mkdirat", entryPath(name), isEntryName(name) ? ENOENT : EINVAL);
  return OpenStatus::kFailed;
}

bool DirHandle::changeOwner(uint32_t owner, uint32_t group, std::string& error) {
  if (fd_ < 0 || fchown(fd_, owner, group) < 0) {
    error = errorText("fchown", path_, fd_ < 0 ? EBADF : errno);
    return false;
  }
  owner_ = owner;
  return true;
}

EntryNames DirHandle::listNames(bool& ok) const {
  EntryNames names;
  bool full = false;
  ok = fd_ >= 0 && fs::forEachName(fd_, [&names, &full](const char* name) {
         if (!names.add(name)) full = true;
       });
  if (ok && !full) return names;
  ok = false;
  // A listing cut short is no listing: the caller keeps the folder's records.
  const int listError = full ? EOVERFLOW : fd_ >= 0 ? errno : EBADF;
  names = EntryNames();
  errno = listError;
  return names;
}

std::unique_ptr<FolderListing> DirHandle::startListing(int& errorNumber) const {
  return fs::startListing(fd_, errorNumber);
}

std::optional<EntryAttributes> DirHandle::statEntry(const std::string& name,
                                                    int& errorNumber) const {
  fs::EntryStatus status;
  errorNumber = isEntryName(name) ? fs::statusAt(fd_, name, status) : EINVAL;
  if (errorNumber != 0) return std::nullopt;
  return status.attributes;
}

bool DirHandle::isLocked(const std::string& name) const {
  fs::EntryStatus status;
  if (!isEntryName(name) || fs::statusAt(fd_, name, status) != 0) return false;
  const EntryAttributes& a = status.attributes;
  if (!a.isRegularFile() && !a.isDirectory()) return false;
  int flags = 0;
  return fs::inodeFlagsAt(fd_, name, a.isDirectory(), flags) == 0 && (flags & FS_IMMUTABLE_FL);
}

bool DirHandle::unlock(const std::string& name) const {
  fs::EntryStatus status;
  if (!isEntryName(name) || fs::statusAt(fd_, name, status) != 0) return false;
  return fs::unlockAt(fd_, name, status);
}

bool DirHandle::isDeletable(const std::string& name, const EntryAttributes* known) const {
  fs::EntryStatus entry, folder;
  if (!isEntryName(name)) return false;
  if (known) {
    entry = fs::statusFrom(*known);
  } else if (fs::statusAt(fd_, name, entry) != 0) {
    return false;
  }
  if (!fs::sameFileSystem(entry, device_)) return false;
  if (known && deletableFolder_) {
    folder.attributes.mode = deletableFolder_->mode;
    folder.attributes.owner = deletableFolder_->owner;
    return deletableFolder_->mayChangeEntries && fs::stickyAllows(folder, entry);
  }
  if (fs::statusAt(fd_, "", folder) != 0) return false;
  const bool mayChange = fs::mayChangeEntriesOf(fd_, folder);
  if (known) {
    deletableFolder_ = DeletableFolder{mayChange, folder.attributes.mode, folder.attributes.owner};
  }
  return mayChange && fs::stickyAllows(folder, entry);
}

RemoveStatus DirHandle::removeEntry(const std::string& name, std::chrono::seconds treeTimeLimit,
                                    std::string& error, const EntryAttributes* known) const {
  if (!isEntryName(name)) {
    error = errorText("unlinkat", entryPath(name), EINVAL);
    return RemoveStatus::kFailed;
  }
  fs::EntryStatus status;
  if (known) {
    status = fs::statusFrom(*known);
  } else if (const int e = fs::statusAt(fd_, name, status)) {
    if (e == ENOENT) return RemoveStatus::kGone;
    error = errorText("statx", entryPath(name), e);
    return RemoveStatus::kFailed;
  }
  // A locked file is unlocked itself; a folder only below (a locked folder
  // therefore stays, as a locked entry should).
  if (!status.attributes.isDirectory() && fs::sameFileSystem(status, device_)) {
    fs::unlockAt(fd_, name, status);
  }
  return fs::removeAt(
      fd_, name, [&] { return entryPath(name); }, device_, true, TreeDeadline(treeTimeLimit), error,
      known ? &status : nullptr);
}

bool DirHandle::treeSize(const std::string& name, std::chrono::seconds treeTimeLimit,
                         uint64_t& bytes, std::string& error) const {
  if (!isEntryName(name)) {
    error = errorText("openat", entryPath(name), EINVAL);
    return false;
  }
  return fs::treeSizeAt(fd_, name, entryPath(name), device_, TreeDeadline(treeTimeLimit), bytes,
                        error);
}

RemoveStatus DirHandle::removeFile(const std::string& name, std::string& error) const {
  if (!isEntryName(name)) {
    error = errorText("unlinkat", entryPath(name), EINVAL);
    return RemoveStatus::kFailed;
  }
  if (unlinkat(fd_, name.c_str(), 0) == 0) return RemoveStatus::kRemoved;
  const int e = errno;
  if (e == ENOENT) return RemoveStatus::kGone;
  if (e == EISDIR) return RemoveStatus::kIsDirectory;
  error = errorText("unlinkat", entryPath(name), e);
  return RemoveStatus::kFailed;
}

CreateStatus DirHandle::createFileExclusive(const std::string& name, std::string_view contents,
                                            unsigned mode, std::string& error) const {
  return createFile(name, contents, mode, error, std::nullopt);
}

CreateStatus DirHandle::createFileExclusive(const std::string& name, std::string_view contents,
                                            unsigned mode, std::string& error, uint32_t owner,
                                            uint32_t group) const {
  return createFile(name, contents, mode, error, std::make_pair(owner, group));
}

CreateStatus DirHandle::createFile(const std::string& name, std::string_view contents,
                                   unsigned mode, std::string& error,
                                   std::optional<std::pair<uint32_t, uint32_t>> owner) const {
  if (!isEntryName(name)) {
    error = errorText("openat", entryPath(name), EINVAL);
    return CreateStatus::kFailed;
  }
  // Made with its final bits, so that the usual file (an info file for
  // every trashed entry) takes one create, one write and one close.
  const unsigned bits = mode & 07777;
  const int fd =
      openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, bits);
  if (fd < 0) {
    const int e = errno;
    error = errorText("openat", entryPath(name), e);
    return e == EEXIST ? CreateStatus::kExists : CreateStatus::kFailed;
  }
  size_t written = 0;
  int failure = 0;
  while (written < contents.size()) {
    const ssize_t n = write(fd, contents.data() + written, contents.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      failure = errno;
      break;
    }
    written += static_cast<size_t>(n);
  }
  if (!failure && owner && fchown(fd, owner->first, owner->second) < 0) failure = errno;
  // The bits again only when the umask took some away, or when a change of
  // owner cleared the set-id ones.
  const bool bitsChanged = (bits & fileCreationMask()) != 0 || (owner && (bits & 06000) != 0);
  if (!failure && bitsChanged && fchmod(fd, bits) < 0) failure = errno;
  struct stat created;
  const bool known = failure && fstat(fd, &created) == 0;
  // (A file whose close alone fails stays: it can no longer be told apart
  // from one that took its name meanwhile.)
  if (close(fd) < 0 && !failure) failure = errno;
  if (!failure) return CreateStatus::kCreated;
  error = errorText("write", entryPath(name), failure);
  // Remove our half-written file, but only if the name still holds it.
  struct stat now;
  if (known && fstatat(fd_, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
      now.st_ino == created.st_ino && now.st_dev == created.st_dev) {
    unlinkat(fd_, name.c_str(), 0);
  }
  return CreateStatus::kFailed;
}

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
  const int e = fs::renameNoReplace(fd_, name.c_str(), destination.fd_, targetName.c_str());
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
  if (!fs::copyTree(fd_, name, entryPath(name), staging.fd(), targetName, targetPath, device_,
                    deadline, error)) {
    return MoveStatus::kFailed;
  }
  if (const int r = fs::renameNoReplace(staging.fd(), targetName.c_str(), destination.fd_,
                                        targetName.c_str())) {
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

}  // namespace sweeprun
