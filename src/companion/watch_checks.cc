#include "companion/watch_checks.h"

#include "fs/folder_identity.h"
#include "os/process.h"
#include "settings/settings_keys.h"
#include "settings/user_defaults.h"

namespace sweeprun {

std::vector<std::optional<WatchRefusal>> watchRefusals(const std::vector<std::string>& paths) {
  // The settings as runs read them, for the run log's name.
  UserDefaults defaults(process(), {"sweeply"});
  defaults.addSuiteNamed(kCompanionDomain);
  defaults.registerDefaults(userModeRegisteredDefaults());
  const WatchGuard guard = userWatchGuard(process(), &defaults);

  std::vector<std::optional<WatchRefusal>> refusals;
  std::vector<std::optional<FolderIdentity>> identities;
  for (const std::string& path : paths) {
    const std::optional<FolderIdentity> identity = folderIdentity(path);
    std::optional<WatchRefusal> refusal = userWatchRefusal(guard, path, identity);
    for (size_t earlier = 0; !refusal && identity && earlier < identities.size(); ++earlier) {
      if (identities[earlier] == identity) {
        refusal = watchedAlreadyRefusal(paths[earlier]);
      }
    }
    refusals.push_back(std::move(refusal));
    identities.push_back(identity);
  }
  return refusals;
}

std::vector<std::string> folderPaths(const FolderList& folders) {
  std::vector<std::string> paths;
  paths.reserve(folders.size());
  for (const TrashFolder& folder : folders) paths.emplace_back(folder.path());
  return paths;
}

}  // namespace sweeprun
