#include "platform/path_match.h"

#include <fnmatch.h>
#include <glob.h>

namespace sweeprun {

std::vector<std::string> globPaths(const std::string& pattern) {
  std::vector<std::string> paths;
  // A NUL would cut the pattern short and match something it does not say.
  if (pattern.find('\0') != std::string::npos) return paths;
  glob_t found{};
  if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
    paths.reserve(found.gl_pathc);
    for (size_t i = 0; i < found.gl_pathc; ++i) paths.emplace_back(found.gl_pathv[i]);
  }
  globfree(&found);
  return paths;
}

bool pathMatchesPattern(const std::string& path, const std::string& pattern) {
  if (path.find('\0') != std::string::npos || pattern.find('\0') != std::string::npos) return false;
  return fnmatch(pattern.c_str(), path.c_str(), FNM_PATHNAME | FNM_PERIOD) == 0;
}

}  // namespace sweeprun
