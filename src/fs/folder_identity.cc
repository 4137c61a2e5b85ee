#include "fs/folder_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/dir_handle.h"
#include "fs/path.h"

namespace sweeprun {

namespace {

// Deeper than any path the kernel resolves (PATH_MAX allows 2,048 levels);
// a chain of ".." that never reaches a folder that is its own parent
// (which no file system should give) stops here.
constexpr int kMaxLevelsUp = 4096;

constexpr int kOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

std::optional<FolderIdentity> identityOf(int fd) {
  struct stat st;
  if (fstat(fd, &st) < 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return FolderIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

}  // namespace

std::optional<FolderIdentity> folderIdentity(const std::string& path) {
  if (path.empty()) return std::nullopt;
  const int fd = open(path.c_str(), kOpenFlags);
  if (fd < 0) return std::nullopt;
  const std::optional<FolderIdentity> identity = identityOf(fd);
  close(fd);
  return identity;
}

std::optional<FolderIdentity> folderIdentity(const DirHandle& folder) {
  if (!folder.isOpen()) return std::nullopt;
  return identityOf(folder.fd());
}

std::vector<FolderIdentity> foldersHolding(const std::string& file) {
  std::vector<FolderIdentity> chain;
  std::string folder = deletingLastPathComponent(file);
  if (folder.empty()) folder = ".";
  int fd = open(folder.c_str(), kOpenFlags);
  while (fd < 0 && folder != "/" && folder != ".") {
    folder = deletingLastPathComponent(folder);
    if (folder.empty()) folder = ".";
    fd = open(folder.c_str(), kOpenFlags);
  }
  for (int level = 0; fd >= 0 && level < kMaxLevelsUp; ++level) {
    const std::optional<FolderIdentity> identity = identityOf(fd);
    if (!identity || (!chain.empty() && chain.back() == *identity)) break;  // the root
    chain.push_back(*identity);
    const int parent = openat(fd, "..", kOpenFlags);
    close(fd);
    fd = parent;
  }
  if (fd >= 0) close(fd);
  return chain;
}

}  // namespace sweeprun
