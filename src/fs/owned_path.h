#pragma once

#include <string>

namespace sweeprun {

/// Whether |user| alone controls the entry |relative| below the folder
/// |home|: the home folder and every entry on the way down to |relative|,
/// itself included, that exists belongs to |user| and has no group or other
/// write bit (a sticky world-writable folder is refused as well), and none
/// is a symbolic link. Above |home| and |home| itself, links are followed.
/// Each step is opened relative to the one before with O_NOFOLLOW and its
/// descriptor examined, so a name swapped meanwhile is not seen in its place.
/// What does not exist yet passes: the first missing step ends the walk.
/// False with |error| naming the entry and its owner (the account's name,
/// else "uid N") when one fails, or "operation(path): reason" when one
/// cannot be examined.
bool checkOwnedPath(const std::string& home, const std::string& relative, unsigned user,
                    std::string& error);

/// The name of the account |user| in the account database, else "uid N".
std::string accountNameOf(unsigned user);

}  // namespace sweeprun
