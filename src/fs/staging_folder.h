#pragma once

// fs: the private folder a move to another volume copies into.

#include <sys/types.h>

#include <string>

#include "fs/dir_handle.h"

namespace sweeprun {

// A folder in the destination that only the effective user may enter, where
// a copy is made and finished before it is renamed into place. The
// destination may belong to another user, who can swap any name in it at any
// moment; inside this folder nobody can, and the folder itself is known by
// its descriptor, checked to be the one we made, never by its name.
class StagingFolder {
 public:
  explicit StagingFolder(const DirHandle& destination) : destination_(destination) {}
  ~StagingFolder() { discard(); }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  /// Makes the folder under a fresh name and holds its lock (see
  /// removeLeftoverStaging). False with |error| when none could be made, or
  /// what was opened is not ours.
  bool create(std::string& error);

  int fd() const { return fd_; }

  /// Removes whatever is left inside, then the folder, if its name still
  /// holds it; the lock goes last.
  void discard();

 private:
  const DirHandle& destination_;
  std::string name_;
  int fd_ = -1;
  ino_t inode_ = 0;
};

}  // namespace sweeprun
