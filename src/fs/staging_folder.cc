#include "fs/staging_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "fs/descriptor_ops.h"
#include "fs/place_entry.h"
#include "fs/tree_removal.h"

namespace sweeprun {

using fs::errorText;

namespace {

constexpr int kTemporaryNameAttempts = 8;
// A staging folder's name: the prefix and 16 lowercase hexadecimal digits.
constexpr char kStagingPrefix[] = ".sweeprun-move-";
constexpr size_t kStagingDigits = 16;

// A fresh staging name: 64 bits from the system's random source, so that
// movers in other processes and threads pick apart; a name taken anyway is
// refused by mkdirat and the next one tried.
std::string temporaryName() {
  std::random_device random;
  const unsigned long long bits =
      (static_cast<unsigned long long>(random()) << 32) ^ static_cast<unsigned long long>(random());
  char text[40];
  std::snprintf(text, sizeof text, "%s%016llx", kStagingPrefix, bits);
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

}  // namespace

bool StagingFolder::create(std::string& error) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    name_ = temporaryName();
    if (mkdirat(destination_.fd(), name_.c_str(), 0700) < 0) {
      if (errno == EEXIST) continue;
      error = errorText("mkdirat", destination_.entryPath(name_), errno);
      name_.clear();
      return false;
    }
    fd_ = openat(destination_.fd(), name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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

void StagingFolder::discard() {
  if (fd_ < 0) return;
  std::string ignored;
  removeStaging(destination_, name_, fd_, inode_, ignored);
  close(std::exchange(fd_, -1));
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
