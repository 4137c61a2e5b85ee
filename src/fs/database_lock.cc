#include "fs/database_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "fs/dir_handle.h"
#include "fs/file_open.h"

namespace sweeprun {

namespace {

constexpr std::chrono::milliseconds kRetryInterval{20};

}  // namespace

DatabaseLock::~DatabaseLock() {
  if (fd_ >= 0) ::close(fd_);
}

DatabaseLock::DatabaseLock(DatabaseLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

DatabaseLock& DatabaseLock::operator=(DatabaseLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

DatabaseLock::Status DatabaseLock::acquire(const std::string& databasePath,
                                           std::chrono::milliseconds wait, DatabaseLock& lock,
                                           std::string& error) {
  const std::string path = databasePath + ".lock";
  DirHandle folder;
  std::string name;
  if (!openContainingFolder(path, folder, name, error)) return Status::kFailed;
  const int fd = ::openat(folder.fd(), name.c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) {
    error = "open(" + path + "): " + std::strerror(errno);
    return Status::kFailed;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = "open(" + path + "): not a regular file";
    return Status::kFailed;
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      error = "flock(" + path + "): " + std::strerror(errno);
      ::close(fd);
      return Status::kFailed;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      error = "flock(" + path + "): held by another program";
      return Status::kBusy;
    }
    std::this_thread::sleep_for(kRetryInterval);
  }
  lock = DatabaseLock();
  lock.fd_ = fd;
  return Status::kLocked;
}

}  // namespace sweeprun
