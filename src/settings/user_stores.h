#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "os/run_world.h"

namespace sweeprun {

/// The files of user mode that say what a run or sweeply acts on, below the
/// home folder |homeDirectory|: the folder database and its lock, the
/// preferences of the tool's and the companion's domain, and the run journal
/// and its lock.
std::vector<std::string> userStorePaths(const std::string& homeDirectory);

/// Whether |user| alone controls every user-mode store and the folders on
/// the way to it from the home folder |homeDirectory| (checkOwnedPath), so
/// that no file list another account can write is acted on, above all by
/// root. A store that does not lie below the home folder fails too. False
/// with |error| naming the first entry that fails and its owner.
bool userStoresAreOwned(const std::string& homeDirectory, unsigned user, std::string& error);

/// When |user| is root and the home folder of |world| is not root's own (as
/// its account database gives it): the line that says so,
/// "<program>: running as root with HOME=<home>, not root's own home\n".
/// Empty otherwise.
std::string foreignHomeWarning(const RunWorld& world, std::string_view program, unsigned user);

}  // namespace sweeprun
