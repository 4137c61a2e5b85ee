#include "fs/path_match.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "fs/dir_handle.h"
#include "fs/path.h"

namespace sweeprun {
namespace {

// glob(3)'s own test: an unquoted "*" or "?", or a "[" closed by a "]".
// Anything else is a literal name that is looked up, not listed.
bool hasWildcard(std::string_view text) {
  bool openBracket = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      ++i;
    } else if (c == '*' || c == '?') {
      return true;
    } else if (c == '[') {
      openBracket = true;
    } else if (c == ']' && openBracket) {
      return true;
    }
  }
  return false;
}

// A literal component without its quoting backslashes.
std::string unquoted(std::string_view text) {
  std::string name;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    name.push_back(text[i]);
  }
  return name;
}

std::string joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Walks the components below the literal prefix, depth first. At most one
// descriptor per component is open at a time.
class PatternWalker {
 public:
  PatternWalker(std::vector<std::string> components, bool foldersOnly, size_t maxEntriesVisited)
      : components_(std::move(components)),
        foldersOnly_(foldersOnly),
        maxEntriesVisited_(maxEntriesVisited) {}

  void walk(const DirHandle& folder, const std::string& path, size_t index) {
    if (tooManyEntries_) return;
    const std::string& component = components_[index];
    if (hasWildcard(component)) {
      bool listed = false;
      const std::vector<std::string> names = folder.listNames(listed).strings();
      if (!count(names.size())) return;
      for (const std::string& name : names) {
        if (fnmatch(component.c_str(), name.c_str(), FNM_PERIOD) != 0) continue;
        take(folder, joined(path, name), name, index);
        if (tooManyEntries_) return;
      }
      return;
    }
    if (!count(1)) return;
    const std::string name = unquoted(component);
    if (name == "." || name == "..") {
      // Present in every folder, but no entry of it: reached by path.
      const std::string next = joined(path, name);
      if (index + 1 == components_.size()) {
        found(next);
        return;
      }
      DirHandle child;
      std::string error;
      if (DirHandle::openDirectory(next, child, error) == OpenStatus::kOpened)
        walk(child, next, index + 1);
      return;
    }
    take(folder, joined(path, name), name, index);
  }

  bool tooManyEntries() const { return tooManyEntries_; }
  std::vector<std::string> takePaths() { return std::move(paths_); }

 private:
  // |name| of |folder| matched component |index|: a result when it was the
  // last one, else a folder to go on in.
  void take(const DirHandle& folder, const std::string& path, const std::string& name,
            size_t index) {
    const bool last = index + 1 == components_.size();
    if (last && !foldersOnly_) {
      if (folder.statEntry(name)) found(path);
      return;
    }
    DirHandle child;
    std::string error;
    // openChild never follows a link: a link matched here is passed over.
    if (folder.openChild(name, child, error) != OpenStatus::kOpened) return;
    if (last) {
      found(path);
    } else {
      walk(child, path, index + 1);
    }
  }

  void found(const std::string& path) { paths_.push_back(foldersOnly_ ? path + "/" : path); }

  bool count(size_t entries) {
    entriesVisited_ += entries;
    if (entriesVisited_ > maxEntriesVisited_) tooManyEntries_ = true;
    return !tooManyEntries_;
  }

  const std::vector<std::string> components_;
  const bool foldersOnly_;
  const size_t maxEntriesVisited_;
  size_t entriesVisited_ = 0;
  bool tooManyEntries_ = false;
  std::vector<std::string> paths_;
};

}  // namespace

PatternExpansion expandPathPattern(const std::string& pattern, size_t maxEntriesVisited) {
  PatternExpansion expansion;
  // A NUL would cut the pattern short and match something it does not say.
  if (pattern.empty() || pattern.find('\0') != std::string::npos) return expansion;
  const bool absolute = pattern.front() == '/';
  std::vector<std::string> components;
  for (std::string_view part : pathComponents(pattern)) components.emplace_back(part);
  if (components.empty()) {
    expansion.paths.push_back("/");  // only separators: the root itself
    return expansion;
  }

  // The literal prefix is opened as one path; the last component is always
  // left to the walker, which tells whether it exists.
  size_t firstWildcard = 0;
  while (firstWildcard + 1 < components.size() && !hasWildcard(components[firstWildcard]))
    ++firstWildcard;
  std::string prefix = absolute ? "/" : "";
  for (size_t i = 0; i < firstWildcard; ++i) prefix = joined(prefix, unquoted(components[i]));
  DirHandle start;
  std::string error;
  if (DirHandle::openDirectory(prefix.empty() ? "." : prefix, start, error) != OpenStatus::kOpened)
    return expansion;

  const bool foldersOnly = pattern.size() > 1 && pattern.back() == '/';
  PatternWalker walker(
      std::vector<std::string>(components.begin() + firstWildcard, components.end()), foldersOnly,
      maxEntriesVisited);
  walker.walk(start, prefix, 0);
  if (walker.tooManyEntries()) {
    expansion.tooManyEntries = true;
    return expansion;
  }
  expansion.paths = walker.takePaths();
  std::sort(expansion.paths.begin(), expansion.paths.end(),
            [](const std::string& a, const std::string& b) {
              return std::strcoll(a.c_str(), b.c_str()) < 0;
            });
  return expansion;
}

bool pathMatchesPattern(const std::string& path, const std::string& pattern) {
  if (path.find('\0') != std::string::npos || pattern.find('\0') != std::string::npos) return false;
  return fnmatch(pattern.c_str(), path.c_str(), FNM_PATHNAME | FNM_PERIOD) == 0;
}

}  // namespace sweeprun
