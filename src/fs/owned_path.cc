#include "fs/owned_path.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "fs/path.h"

namespace sweeprun {

namespace {

constexpr unsigned kGroupOrOtherWrite = 022;

// An open descriptor, closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    return *this;
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

std::string systemFailure(const char* operation, const std::string& path) {
  return std::string(operation) + "(" + path + "): " + std::strerror(errno);
}

std::string modeText(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

// The owner and write test of one step; |isLast| steps may be files, the
// others must be folders.
bool stepIsOwned(const struct stat& st, const std::string& path, bool isLast, unsigned user,
                 std::string& error) {
  const std::string owner = accountNameOf(st.st_uid);
  if (S_ISLNK(st.st_mode)) {
    error = path + " is a symbolic link (owner " + owner + ")";
  } else if (st.st_uid != user) {
    error = path + " belongs to " + owner + ", not to " + accountNameOf(user);
  } else if (st.st_mode & kGroupOrOtherWrite) {
    error = path + " (owner " + owner + ") can be written by other accounts (mode " +
            modeText(st.st_mode) + ")";
  } else if (!isLast && !S_ISDIR(st.st_mode)) {
    error = path + " (owner " + owner + ") is not a folder";
  } else {
    return true;
  }
  return false;
}

}  // namespace

std::string accountNameOf(unsigned user) {
  struct passwd entry;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(static_cast<uid_t>(user), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found && found->pw_name && found->pw_name[0] != '\0')
    return found->pw_name;
  return "uid " + std::to_string(user);
}

bool checkOwnedPath(const std::string& home, const std::string& relative, unsigned user,
                    std::string& error) {
  std::string path = home;
  Descriptor current(::open(home.c_str(), O_PATH | O_CLOEXEC));
  if (current.fd() < 0) {
    if (errno == ENOENT) return true;
    error = systemFailure("open", path);
    return false;
  }
  const std::vector<std::string_view> steps = pathComponents(relative);
  for (size_t i = 0;; ++i) {
    struct stat st;
    if (::fstat(current.fd(), &st) != 0) {
      error = systemFailure("fstat", path);
      return false;
    }
    const bool isLast = i == steps.size();
    if (!stepIsOwned(st, path, isLast, user, error)) return false;
    if (isLast) return true;
    path = joinPath(path, steps[i]);
    const std::string name(steps[i]);
    if (name == "..") {
      error = path + " leads out of " + home;
      return false;
    }
    // O_PATH with O_NOFOLLOW opens a link itself, so that fstat sees it.
    current = Descriptor(::openat(current.fd(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (current.fd() < 0) {
      if (errno == ENOENT) return true;
      error = systemFailure("openat", path);
      return false;
    }
  }
}

}  // namespace sweeprun
