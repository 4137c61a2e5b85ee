#include "fs/file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fs/descriptor_ops.h"
#include "fs/path.h"

namespace sweeprun {

namespace {

constexpr int kMaxLinksFollowed = 40;

// The rule DirHandle::openDirectory applies to the folders on the way.
bool isTrustedLinkOwner(uid_t owner) { return owner == 0 || owner == geteuid(); }

bool readLinkAt(int dirFd, const std::string& name, std::string& target) {
  char buffer[4096];
  const ssize_t length = ::readlinkat(dirFd, name.c_str(), buffer, sizeof buffer);
  if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) return false;
  target.assign(buffer, static_cast<size_t>(length));
  return true;
}

}  // namespace

bool openContainingFolder(const std::string& path, DirHandle& folder, std::string& name,
                          std::string& error) {
  name = lastPathComponent(path);
  if (path.empty() || path.back() == '/' || !fs::isEntryName(name)) {
    errno = EINVAL;
    error = fs::errorText("open", path, EINVAL);
    return false;
  }
  std::string directory = deletingLastPathComponent(path);
  if (directory.empty()) directory = ".";
  switch (DirHandle::openDirectory(directory, folder, error)) {
    case OpenStatus::kOpened:
      return true;
    case OpenStatus::kMissing:
      errno = ENOENT;
      error = fs::errorText("open", path, ENOENT);
      return false;
    case OpenStatus::kNotDirectory:
      errno = ENOTDIR;
      return false;
    case OpenStatus::kFailed:
      break;
  }
  errno = EACCES;
  return false;
}

int openFileForReading(const std::string& path, int extraFlags, std::string& error) {
  std::string current = path;
  for (int linksFollowed = 0;; ++linksFollowed) {
    DirHandle folder;
    std::string name;
    if (!openContainingFolder(current, folder, name, error)) return -1;
    const int fd = ::openat(folder.fd(), name.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | extraFlags);
    if (fd >= 0) return fd;
    const int openError = errno;
    struct stat link;
    if (openError != ELOOP ||
        ::fstatat(folder.fd(), name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISLNK(link.st_mode)) {
      error = fs::errorText("open", path, openError);
      errno = openError;
      return -1;
    }
    if (!isTrustedLinkOwner(link.st_uid)) {
      error = "open(" + path + "): the link '" + folder.entryPath(name) +
              "' belongs to another user, not followed";
      errno = ELOOP;
      return -1;
    }
    std::string target;
    if (linksFollowed >= kMaxLinksFollowed || !readLinkAt(folder.fd(), name, target)) {
      errno = ELOOP;
      error = fs::errorText("open", path, ELOOP);
      return -1;
    }
    current = !target.empty() && target[0] == '/' ? target : joinPath(folder.path(), target);
  }
}

bool readFromDescriptor(int fd, long long offset, std::string& bytes) {
  bytes.clear();
  // Reserving the size up front keeps a large database from being copied
  // over and over as the string grows.
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > offset) {
    bytes.reserve(static_cast<size_t>(info.st_size - offset));
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return true;
    bytes.append(buffer, static_cast<size_t>(got));
    offset += got;
  }
}

}  // namespace sweeprun
