#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "e2e/run_program.h"

namespace sweeprun {

/// A private world for system-mode runs that another user races: the process
/// enters a mount namespace of its own and mounts a tmpfs (the accounts, the
/// configuration, the victims) with a second tmpfs inside it (another file
/// system, for moves across volumes), so that nothing reaches the host's
/// file systems. Root only.
///
/// Layout below root(), all paths lower-case (a move-to action is compared
/// and stored lower-cased):
///   bin/sweeprun            the test driver, root's and read-only
///   bin/sweeply             the companion command, root's and read-only
///   etc/sweeprun.plist      the configuration (0600), with run.data and run.log
///   etc/var-lib-sweeprun/   the system journal, also at /var/lib/sweeprun
///   home/                   root's HOME
///   Users/attacker/         the attacker's account folder, with area/watched,
///                           .Trash, baits/ and keep/
///   dest/out                a move-to folder on the same file system
///   other/                  the second file system: dest/out, baits/, victim/
///   victim/                 root's tree that no run may touch
class RaceSandbox {
 public:
  static constexpr uid_t kAttacker = 4242;  // no account uses it

  RaceSandbox() = default;
  ~RaceSandbox();
  RaceSandbox(const RaceSandbox&) = delete;
  RaceSandbox& operator=(const RaceSandbox&) = delete;

  /// Enters the namespace and mounts both file systems. False with |error|
  /// when that is impossible (not root, namespaces forbidden).
  bool create(const std::string& driverPath, const std::string& sweeplyPath, std::string& error);

  const std::string& root() const { return root_; }
  std::string path(std::string_view relative) const { return root_ + "/" + std::string(relative); }

  std::string watched() const { return path("Users/attacker/area/watched"); }
  std::string accountTrash() const { return path("Users/attacker/.Trash"); }
  std::string sameDeviceDestination() const { return path("dest/out"); }
  std::string otherDeviceDestination() const { return path("other/dest/out"); }

  /// Writes the configuration: one folder, watched(), with |action| ("delete",
  /// "trash" or "moveto:<path>"), a condition that condemns every entry the
  /// moment it is first seen, and a read-me file (kReadMeName). With
  /// |datedFolders| moved entries go into a sub-folder named after the date.
  void writeConfig(const std::string& action, bool datedFolders = false) const;
  static constexpr const char* kReadMeName = "README.txt";

  /// Gives the attacker's folders back in their first shape, empty: whatever a
  /// race swapped, renamed or left behind goes. Call only with no racer running.
  void resetAttackerFolders() const;

  /// One system-mode run of the driver with a fresh folder database.
  ProgramResult runSystemMode() const;
  /// `sweeply undo --system` of the last run: the real companion command,
  /// which reads the journal the driver's runs write (bind-mounted at
  /// /var/lib/sweeprun inside the namespace).
  ProgramResult undoLastRun() const;

  /// With |on|, runs know no accounts folder above watched() and take the
  /// sandbox's root as a mount point: trashed entries go to their owner's
  /// top-directory Trash, ownersTrash() for the attacker's.
  void setOwnersTrash(bool on) { ownersTrash_ = on; }
  std::string ownersTrash() const { return path(".Trash-" + std::to_string(kAttacker)); }

  /// Makes |path| (and missing parents) a folder of the attacker's.
  void makeAttackerFolder(const std::string& path) const;

 private:
  std::string root_;
  bool mounted_ = false;
  bool otherMounted_ = false;
  bool varLibMounted_ = false;
  bool ownersTrash_ = false;
};

/// Sets owner and group of |path| itself (a link stays a link) to |uid|.
void giveTo(const std::string& path, uid_t uid);

}  // namespace sweeprun
