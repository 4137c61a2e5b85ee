#include "settings/user_stores.h"

#include "fs/owned_path.h"
#include "fs/path.h"
#include "log/run_journal.h"
#include "model/folder_store.h"
#include "os/localization.h"
#include "settings/defaults_domain.h"
#include "settings/settings_keys.h"

namespace sweeprun {

namespace {

constexpr const char* kLockSuffix = ".lock";
constexpr unsigned kRoot = 0;

}  // namespace

std::vector<std::string> userStorePaths(const std::string& homeDirectory) {
  const std::string& home = homeDirectory;
  const std::string database = FolderStore::userDatabasePath();
  const std::string journal = journalPath(false);
  return {database,
          database + kLockSuffix,
          defaultsDomainPath(home, kToolDomain),
          defaultsDomainPath(home, kCompanionDomain),
          journal,
          journal + kLockSuffix};
}

bool userStoresAreOwned(const std::string& homeDirectory, unsigned user, std::string& error) {
  const std::string& home = homeDirectory;
  const std::string base = standardizePath(home, home);
  for (const std::string& store : userStorePaths(home)) {
    const std::string path = standardizePath(store, home);
    // The stores are opened by these paths; one outside the home folder
    // would be checked nowhere.
    const bool below = path.size() > base.size() + 1 && path.compare(0, base.size(), base) == 0 &&
                       (base == "/" || path[base.size()] == '/');
    if (!below) {
      error = localized("%@ is not below the home folder %@", {path, base});
      return false;
    }
    if (!checkOwnedPath(base, path.substr(base.size()), user, error)) return false;
  }
  return true;
}

std::string foreignHomeWarning(const RunWorld& world, std::string_view program, unsigned user) {
  if (user != kRoot) return {};
  const std::string& home = world.homeDirectory;
  const auto root = world.accountOf(kRoot);
  if (root && !root->home.empty() &&
      standardizePath(home, home) == standardizePath(root->home, root->home))
    return {};
  return localized("%@: running as root with HOME=%@, not root's own home\n", {program, home});
}

}  // namespace sweeprun
