#include "support/fs_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

namespace sweeprun {

void makeFolder(const std::string& path, unsigned mode) {
  if (mkdir(path.c_str(), mode) < 0) ADD_FAILURE() << "mkdir(" << path << "): " << strerror(errno);
  chmod(path.c_str(), mode);  // whatever the umask took away
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

void makeLink(const std::string& target, const std::string& path) {
  if (symlink(target.c_str(), path.c_str()) < 0) {
    ADD_FAILURE() << "symlink(" << path << "): " << strerror(errno);
  }
}

std::optional<std::string> readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool entryExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool isLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool runningAsRoot() { return geteuid() == 0; }

namespace {

bool withFlags(const std::string& path, int flag, bool change, bool on, int& flags) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok && change) {
    flags = on ? (flags | flag) : (flags & ~flag);
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

}  // namespace

bool setImmutable(const std::string& path, bool on) {
  int flags = 0;
  return withFlags(path, FS_IMMUTABLE_FL, true, on, flags);
}

bool isImmutable(const std::string& path) {
  int flags = 0;
  return withFlags(path, FS_IMMUTABLE_FL, false, false, flags) && (flags & FS_IMMUTABLE_FL);
}

bool setAppendOnly(const std::string& path, bool on) {
  int flags = 0;
  return withFlags(path, FS_APPEND_FL, true, on, flags);
}

void clearImmutableBelow(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) < 0 || S_ISLNK(st.st_mode)) return;
  if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
    setImmutable(path, false);
    setAppendOnly(path, false);
  }
  if (!S_ISDIR(st.st_mode)) return;
  DIR* dir = opendir(path.c_str());
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") clearImmutableBelow(path + "/" + name);
  }
  closedir(dir);
}

bool mountTmpfs(const std::string& path, const std::string& options) {
  return runningAsRoot() && mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

void unmount(const std::string& path) { umount2(path.c_str(), MNT_DETACH); }

ScopedTmpfs::ScopedTmpfs(std::string path, const std::string& options)
    : path_(std::move(path)), mounted_(mountTmpfs(path_, options)) {}

ScopedTmpfs::~ScopedTmpfs() {
  if (mounted_) unmount(path_);
}

ScopedEffectiveUser::ScopedEffectiveUser(unsigned user) {
  EXPECT_EQ(0, setegid(user));
  EXPECT_EQ(0, seteuid(user));
}

ScopedEffectiveUser::~ScopedEffectiveUser() {
  EXPECT_EQ(0, seteuid(0));
  EXPECT_EQ(0, setegid(0));
}

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
  if (const char* old = std::getenv(name)) previous_ = old;
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

}  // namespace sweeprun
