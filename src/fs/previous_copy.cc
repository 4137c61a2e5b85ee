#include "fs/previous_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fs/dir_handle.h"
#include "fs/file_open.h"
#include "fs/temporary_file.h"

namespace sweeprun {

namespace {

std::string failure(const char* operation, const std::string& path) {
  return std::string(operation) + "(" + path + "): " + std::strerror(errno);
}

// Gives the entry |name| of |folder| the second name |keptName| (a hard link
// made under a temporary name and renamed into place), so that the entry is
// kept when |name| is replaced.
bool keepUnderName(const DirHandle& folder, const std::string& name, const std::string& keptName,
                   std::string& error) {
  std::string temporary;
  bool linked = false;
  for (unsigned attempt = 0; !linked && attempt < 100; ++attempt) {
    temporary = temporaryName(name, attempt);
    linked = ::linkat(folder.fd(), name.c_str(), folder.fd(), temporary.c_str(), 0) == 0;
    if (!linked && errno != EEXIST) break;
  }
  if (!linked) {
    error = failure("link", folder.entryPath(name));
    return false;
  }
  if (::renameat(folder.fd(), temporary.c_str(), folder.fd(), keptName.c_str()) != 0) {
    error = failure("rename", folder.entryPath(keptName));
    ::unlinkat(folder.fd(), temporary.c_str(), 0);
    return false;
  }
  // A rename onto another name of the same file does nothing: the temporary
  // name is then still there.
  ::unlinkat(folder.fd(), temporary.c_str(), 0);
  return true;
}

}  // namespace

bool restorePreviousCopy(const std::string& path, const FileIdentity& shown, std::string& error) {
  DirHandle folder;
  std::string name;
  if (!openContainingFolder(path, folder, name, error)) return false;
  const std::string previous = name + kPreviousCopySuffix;
  const std::string previousPath = folder.entryPath(previous);
  struct stat folderStatus, copy;
  if (::fstat(folder.fd(), &folderStatus) != 0) {
    error = failure("fstat", folder.entryPath("."));
    return false;
  }
  if (::fstatat(folder.fd(), previous.c_str(), &copy, AT_SYMLINK_NOFOLLOW) != 0) {
    error = failure("fstatat", previousPath);
    return false;
  }
  if (!S_ISREG(copy.st_mode)) {
    error = "'" + previousPath + "' is not a regular file";
    return false;
  }
  if (copy.st_uid != folderStatus.st_uid || (copy.st_mode & 022) != 0) {
    error = "'" + previousPath +
            "' belongs to another account than its folder, or others can write it";
    return false;
  }
  if (static_cast<uint64_t>(copy.st_dev) != shown.device ||
      static_cast<uint64_t>(copy.st_ino) != shown.inode) {
    error = "'" + previousPath + "' was replaced after it was read";
    return false;
  }
  struct stat current;
  if (::fstatat(folder.fd(), name.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!keepUnderName(folder, name, name + kReplacedCopySuffix, error)) return false;
  } else if (errno != ENOENT) {
    error = failure("fstatat", path);
    return false;
  }
  if (::renameat(folder.fd(), previous.c_str(), folder.fd(), name.c_str()) != 0) {
    error = failure("rename", previousPath);
    return false;
  }
  ::fsync(folder.fd());
  return true;
}

}  // namespace sweeprun
