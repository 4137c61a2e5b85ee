#include "os/process_info.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string_view>
#include <vector>

namespace sweeprun {

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::string currentHomeDirectory() {
  if (auto home = environmentValue("HOME"); home && !home->empty()) return *home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir)
    return std::string();
  return found->pw_dir;
}

std::string currentExecutableDirectory() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size()) {
      // The link names the executable by its absolute, canonical path: the
      // folder is everything before the last separator.
      const std::string_view path(buffer.data(), static_cast<size_t>(length));
      const size_t slash = path.rfind('/');
      if (slash == std::string_view::npos) return std::string();
      return std::string(path.substr(0, slash == 0 ? 1 : slash));
    }
    buffer.resize(buffer.size() * 2);
  }
}

unsigned fileCreationMask() {
  static const unsigned mask = [] {
    // Read where the kernel shows it: umask(2) can only tell it by setting
    // another, which a file created meanwhile would get.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.compare(0, 6, "Umask:") == 0)
        return static_cast<unsigned>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    const mode_t current = umask(0);
    umask(current);
    return static_cast<unsigned>(current);
  }();
  return mask;
}

unsigned effectiveUserId() { return static_cast<unsigned>(geteuid()); }

unsigned currentProcessId() { return static_cast<unsigned>(getpid()); }

std::optional<UserAccount> accountOfUser(unsigned user) {
  struct passwd entry;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(static_cast<uid_t>(user), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      !found) {
    return std::nullopt;
  }
  UserAccount account;
  if (found->pw_dir && found->pw_dir[0] == '/') account.home = found->pw_dir;
  account.group = found->pw_gid;
  return account;
}

}  // namespace sweeprun
