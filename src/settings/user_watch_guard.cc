#include "settings/user_watch_guard.h"

#include "fs/path.h"
#include "log/run_journal.h"
#include "model/folder_store.h"
#include "os/localization.h"
#include "settings/defaults_domain.h"
#include "settings/settings.h"
#include "settings/settings_keys.h"

namespace sweeprun {

namespace {

std::string runLogFile(const Settings* settings) {
  if (settings) {
    if (std::optional<std::string> file = settings->stringForKey(kLogFileName)) return *file;
  }
  for (const RegisteredDefault& known : kUserModeRegisteredDefaults) {
    if (known.key == kLogFileName) return std::string(known.text);
  }
  return std::string();
}

}  // namespace

std::string WatchRefusal::detail() const { return path.empty() ? reason : reason + " " + path; }

std::string WatchRefusal::text() const { return localized("it %@", {detail()}); }

WatchGuard userWatchGuard(const RunWorld& world, const Settings* settings) {
  const std::string& home = world.homeDirectory;
  WatchGuard guard;
  guard.guardFolder("is the root folder", "/");
  if (!home.empty()) guard.guardFolder("is the home folder", standardizePath(home, home));
  if (world.userTrashPath)
    guard.guardFolder("is the Trash", standardizePath(*world.userTrashPath, home));
  guard.guardFile("holds the folder database",
                  standardizePath(FolderStore::userDatabasePath(home), home));
  guard.guardFile("holds the preferences",
                  standardizePath(defaultsDomainPath(home, kToolDomain), home));
  guard.guardFile("holds the preferences",
                  standardizePath(defaultsDomainPath(home, kCompanionDomain), home));
  guard.guardFile("holds the journal", standardizePath(userJournalPath(home), home));
  if (const std::string log = runLogFile(settings); !log.empty()) {
    guard.guardFile("holds the run log", standardizePath(log, home));
  }
  if (world.userTrashPath)
    guard.guardFile("holds the Trash", standardizePath(*world.userTrashPath, home));
  return guard;
}

std::optional<WatchRefusal> userWatchRefusal(const WatchGuard& guard, const std::string& path,
                                             const std::optional<FolderIdentity>& identity) {
  const std::optional<WatchGuard::Hit> hit = guard.hit(path, identity);
  if (!hit) return std::nullopt;
  return WatchRefusal{localizedString(hit->tag), hit->isFolder ? std::string() : hit->path};
}

WatchRefusal watchedAlreadyRefusal(const std::string& other) {
  return WatchRefusal{localized("is watched already as '%@'", {other}), std::string()};
}

}  // namespace sweeprun
