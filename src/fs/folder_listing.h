#pragma once
// fs: a folder's entries, listed a read at a time.

#include <memory>
#include <string>

namespace sweeprun {

/// The names of a folder's entries, read as they are asked for. One read of
/// the folder gives a few hundred names, so a check acts on each entry while
/// the kernel still holds it close (reading an entry's attributes right
/// after its name costs far less than after a whole listing), and no list of
/// the whole folder is held.
class FolderListing {
 public:
  virtual ~FolderListing() = default;

  /// Puts the next name (never "." or "..") in |name|; false at the end of
  /// the listing, or when a read failed part-way (error() then says so).
  virtual bool next(std::string& name) = 0;
  /// 0, or the errno value of the read that cut the listing short.
  virtual int error() const = 0;
};

namespace fs {

/// A listing of the folder |dirFd| with a read position of its own; none,
/// with the errno value in |errorNumber|, when the folder cannot be listed
/// at all (it cannot be opened for reading or searched, or its first read
/// fails).
std::unique_ptr<FolderListing> startListing(int dirFd, int& errorNumber);

}  // namespace fs
}  // namespace sweeprun
