#include "os/process_info.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "fs/path.h"

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
    if (static_cast<size_t>(length) < buffer.size())
      return deletingLastPathComponent(
          std::string_view(buffer.data(), static_cast<size_t>(length)));
    buffer.resize(buffer.size() * 2);
  }
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
