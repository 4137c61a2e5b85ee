#include "settings/watch_guard.h"

#include <algorithm>

namespace sweeprun {

bool pathHolds(const std::string& folder, const std::string& path) {
  if (folder.empty() || path.size() <= folder.size()) return false;
  if (folder == "/") return path[0] == '/';
  return path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

void WatchGuard::guardFolder(std::string_view tag, std::string path) {
  std::vector<FolderIdentity> identities;
  if (std::optional<FolderIdentity> identity = folderIdentity(path))
    identities.push_back(*identity);
  folders_.push_back({tag, std::move(path), std::move(identities)});
}

void WatchGuard::guardFile(std::string_view tag, std::string path) {
  std::vector<FolderIdentity> holders = foldersHolding(path);
  files_.push_back({tag, std::move(path), std::move(holders)});
}

std::optional<WatchGuard::Hit> WatchGuard::hit(
    const std::string& watched, const std::optional<FolderIdentity>& identity) const {
  auto among = [&identity](const std::vector<FolderIdentity>& identities) {
    return identity &&
           std::find(identities.begin(), identities.end(), *identity) != identities.end();
  };
  for (const Guarded& folder : folders_) {
    if (watched == folder.path || among(folder.identities))
      return Hit{folder.tag, folder.path, true};
  }
  for (const Guarded& file : files_) {
    if (pathHolds(watched, file.path) || among(file.identities)) {
      return Hit{file.tag, file.path, false};
    }
  }
  return std::nullopt;
}

}  // namespace sweeprun
