#include "fs/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>

namespace sweeprun {
namespace fs {

namespace {

bool isDotOrDotDot(const char* n) {
  return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0));
}

class DirectoryListing : public FolderListing {
 public:
  explicit DirectoryListing(DIR* dir) : dir_(dir) { first_.reserve(NAME_MAX + 1); }
  ~DirectoryListing() override { closedir(dir_); }
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  /// Reads ahead to the first name, so that a folder that cannot be read
  /// fails before anything of it is used.
  bool start() {
    pending_ = read(first_);
    return error_ == 0;
  }

  bool next(std::string& name) override {
    if (pending_) {
      pending_ = false;
      name.assign(first_);
      return true;
    }
    return read(name);
  }
  int error() const override { return error_; }

 private:
  bool read(std::string& name) {
    if (error_ != 0) return false;
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir_);
      if (!entry) {
        error_ = errno;
        return false;
      }
      if (isDotOrDotDot(entry->d_name)) continue;
      name.assign(entry->d_name);
      return true;
    }
  }

  DIR* dir_;
  std::string first_;
  bool pending_ = false;
  int error_ = 0;
};

}  // namespace

std::unique_ptr<FolderListing> startListing(int dirFd, int& errorNumber) {
  // Reopening "." gives a descriptor with its own read position.
  const int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);  // EBADF for a closed one
  if (fd < 0) {
    errorNumber = errno;
    return nullptr;
  }
  DIR* dir = fdopendir(fd);
  if (!dir) {
    errorNumber = errno;
    close(fd);
    return nullptr;
  }
  auto listing = std::make_unique<DirectoryListing>(dir);
  if (!listing->start()) {
    errorNumber = listing->error();
    return nullptr;
  }
  errorNumber = 0;
  return listing;
}

}  // namespace fs
}  // namespace sweeprun
