#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sweeprun {

class DirHandle;

/// A folder as the file system knows it, whatever path leads there: a link,
/// "..", a bind mount of the same folder or a /proc link all give the same.
struct FolderIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;

  bool operator==(const FolderIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
  bool operator!=(const FolderIdentity& other) const { return !(*this == other); }
};

/// The folder at |path|, every link on the way followed (the magic links of
/// /proc too): for comparisons only, never to act in. None when nothing
/// there opens as a folder.
std::optional<FolderIdentity> folderIdentity(const std::string& path);

/// The open folder |folder| itself.
std::optional<FolderIdentity> folderIdentity(const DirHandle& folder);

/// The folders that really hold the file at |file|: the folder it lies in
/// (or, when that is missing, the deepest one on its path that exists) and
/// every folder above that up to the root, found through ".." of each, so
/// that links on |file|'s path lead to the folders the file is in. Empty
/// when not even the root opens.
std::vector<FolderIdentity> foldersHolding(const std::string& file);

}  // namespace sweeprun
