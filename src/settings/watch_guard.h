#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/folder_identity.h"

namespace sweeprun {

/// The folders a watched folder may not be, and the tool's own files it may
/// not hold. A watched folder is judged by its path's text and by the folder
/// the path opens, so that a link, a /proc path or a bind mount leading to a
/// guarded folder, or to a folder that holds a guarded file, counts as that
/// folder's own path. The folders on disk are looked up when a guard is
/// added: build a guard afresh for each judgement that must see them as they
/// are now.
class WatchGuard {
 public:
  /// What a watched folder broke: the |tag| its guard was added with, and
  /// the guarded folder or file (standardized).
  struct Hit {
    std::string_view tag;
    std::string path;
    bool isFolder;  // the watched folder is the guarded folder; else it holds the file
  };

  /// No watched folder may be the folder at |path| (standardized). |tag|
  /// must outlive the guard.
  void guardFolder(std::string_view tag, std::string path);
  /// No watched folder may hold the file or folder at |path|
  /// (standardized). |tag| must outlive the guard.
  void guardFile(std::string_view tag, std::string path);

  /// The first guard, folders before files, that the watched folder at
  /// |watched| (standardized), which is |identity| when it opens, breaks;
  /// none when it may be watched.
  std::optional<Hit> hit(const std::string& watched,
                         const std::optional<FolderIdentity>& identity) const;

 private:
  struct Guarded {
    std::string_view tag;
    std::string path;
    std::vector<FolderIdentity> identities;  // the folder itself, or the folders holding the file
  };
  std::vector<Guarded> folders_;
  std::vector<Guarded> files_;
};

/// True when the folder |folder| is an ancestor of |path| (both
/// standardized).
bool pathHolds(const std::string& folder, const std::string& path);

}  // namespace sweeprun
