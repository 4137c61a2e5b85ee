#pragma once

#include <string>
#include <vector>

namespace sweeprun {

/// Expands |pattern| with glob(3) and no flags: "*", "?" and brackets apply,
/// with backslash quoting; "~" and braces are not expanded; a leading "." of
/// a name is matched only by a literal ".". The existing paths that match, in
/// glob(3)'s sorted order; empty when nothing matches or the expansion fails.
std::vector<std::string> globPaths(const std::string& pattern);

/// fnmatch(3) with FNM_PATHNAME | FNM_PERIOD: no wildcard matches a "/", and
/// a "." that begins a path component must be matched literally.
bool pathMatchesPattern(const std::string& path, const std::string& pattern);

}  // namespace sweeprun
