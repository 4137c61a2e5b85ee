#include "fs/path.h"

#include <vector>

namespace sweeprun {

std::vector<std::string_view> pathComponents(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

namespace {

std::string_view withoutTrailingSeparators(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

}  // namespace

std::string standardizePath(std::string_view path, std::string_view homeDirectory) {
  std::string expanded;
  // Only the current user's "~" is expanded; "~name" stays as it is.
  if (!path.empty() && path[0] == '~' && (path.size() == 1 || path[1] == '/') &&
      !homeDirectory.empty()) {
    expanded.assign(homeDirectory);
    expanded.push_back('/');
    expanded.append(path.substr(1));
  } else {
    expanded.assign(path);
  }
  if (expanded.empty()) return expanded;

  const bool absolute = expanded[0] == '/';
  std::vector<std::string_view> kept;
  for (std::string_view part : pathComponents(expanded)) {
    if (part == ".") continue;
    if (part == ".." && absolute) {
      // ".." at the root stays at the root.
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(part);
  }

  std::string result = absolute ? "/" : "";
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) result.push_back('/');
    result.append(kept[i]);
  }
  if (result.empty()) result = ".";  // a relative path made only of "." parts
  return result;
}

std::string lastPathComponent(std::string_view path) {
  path = withoutTrailingSeparators(path);
  if (path == "/") return "/";
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string deletingLastPathComponent(std::string_view path) {
  path = withoutTrailingSeparators(path);
  if (path == "/") return "/";
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string();
  return std::string(withoutTrailingSeparators(path.substr(0, slash == 0 ? 1 : slash)));
}

std::string joinPath(std::string_view directory, std::string_view name) {
  std::string joined;
  assignJoinedPath(joined, directory, name);
  return joined;
}

void assignJoinedPath(std::string& joined, std::string_view directory, std::string_view name) {
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  joined.assign(directory.empty() ? name : directory);
  if (directory.empty() || name.empty()) return;
  while (joined.size() > 1 && joined.back() == '/') joined.pop_back();
  if (joined.back() != '/') joined.push_back('/');
  joined.append(name);
}

}  // namespace sweeprun
