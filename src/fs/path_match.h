#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "os/run_world.h"  // kMaxPatternEntriesVisited

namespace sweeprun {

/// What expanding a folder pattern found.
struct PatternExpansion {
  /// The existing paths that match, sorted as glob(3) sorts them (strcoll).
  std::vector<std::string> paths;
  /// True when the walk stopped at the bound of entries looked at; |paths|
  /// is then incomplete and must not be used.
  bool tooManyEntries = false;
};

/// Expands |pattern| as glob(3) with no flags would, but through folder
/// descriptors and within a bound. Components are matched one by one with
/// fnmatch(3): "*", "?" and brackets apply, a backslash quotes the next
/// character, "~" and braces are not expanded, and a leading "." of a name
/// is matched only by a literal "."; "." and ".." are never matched by a
/// wildcard. A trailing "/" keeps only folders. The literal components
/// before the first wildcard are opened as DirHandle::openDirectory opens a
/// path (a link only when root or the effective user owns it); below that a
/// link is never followed, so a pattern cannot loop through links such as
/// /proc/*/root. Every entry listed and every name looked up counts towards
/// |maxEntriesVisited|. Unreadable folders are passed over, as glob(3) does.
PatternExpansion expandPathPattern(const std::string& pattern,
                                   size_t maxEntriesVisited = kMaxPatternEntriesVisited);

/// fnmatch(3) with FNM_PATHNAME | FNM_PERIOD: no wildcard matches a "/", and
/// a "." that begins a path component must be matched literally.
bool pathMatchesPattern(const std::string& path, const std::string& pattern);

}  // namespace sweeprun
