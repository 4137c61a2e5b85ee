#include "fs/alias_record.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <deque>
#include <set>
#include <utility>
#include <vector>

#include "fs/path.h"

namespace sweeprun {

namespace {

// Layout, all integers little-endian:
//   "SWAL" version:u8 device:u64 inode:u64 birth:u64
//   hasRelative:u8 relative:(u32 length, bytes) absolute:(u32 length, bytes)
// The relative path is the target's path below the base directory; it is
// absent when the target does not lie below the base ("" is the base itself).
// The birth time (nanoseconds, 0 where the file system keeps none) tells the
// folder from a later one that was given its freed inode number: without it
// a deleted watched folder could be "found" as an unrelated new folder.
constexpr std::string_view kMagic = "SWAL";
constexpr uint8_t kVersion = 2;
constexpr uint32_t kLongestPath = 4096;

// The search for a moved folder stops at these bounds, so that resolving
// stays a matter of milliseconds even in a large home folder.
constexpr int kSearchDepth = 3;
constexpr size_t kMaxEntriesExamined = 5000;
constexpr size_t kMaxDirectoriesOpened = 200;

struct Identity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t birth = 0;  // 0: unknown
  friend bool operator<(Identity a, Identity b) {
    return a.device != b.device ? a.device < b.device : a.inode < b.inode;
  }
  /// The same node: device and inode, and the birth time where both know it.
  bool sameNodeAs(Identity other) const {
    return device == other.device && inode == other.inode &&
           (birth == 0 || other.birth == 0 || birth == other.birth);
  }
};

struct AliasFields {
  Identity target;
  std::optional<std::string> relative;
  std::string absolute;
};

// Facts about a path itself, never following a final symbolic link.
struct Node {
  Identity identity;
  bool isDirectory = false;
};

std::optional<Node> nodeAt(const std::string& path) {
  if (path.empty()) return std::nullopt;
  struct statx sx;
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) ==
      0) {
    uint64_t birth = 0;
    if (sx.stx_mask & STATX_BTIME) {
      birth = static_cast<uint64_t>(sx.stx_btime.tv_sec) * 1000000000u + sx.stx_btime.tv_nsec;
    }
    return Node{{makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino, birth},
                S_ISDIR(sx.stx_mode)};
  }
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return std::nullopt;
  return Node{{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), 0},
              S_ISDIR(st.st_mode)};
}

void putInteger(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

void putText(std::string& out, std::string_view text) {
  putInteger(out, text.size(), 4);
  out.append(text);
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  bool integer(uint64_t& value, int bytes) {
    if (rest_.size() < static_cast<size_t>(bytes)) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i)
      value |= static_cast<uint64_t>(static_cast<unsigned char>(rest_[i])) << (8 * i);
    rest_.remove_prefix(bytes);
    return true;
  }

  bool text(std::string& value) {
    uint64_t length = 0;
    if (!integer(length, 4) || length > kLongestPath || rest_.size() < length) return false;
    value.assign(rest_.substr(0, length));
    rest_.remove_prefix(length);
    return true;
  }

  bool atEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

std::optional<AliasFields> parse(std::string_view bytes) {
  if (bytes.substr(0, kMagic.size()) != kMagic) return std::nullopt;
  Reader reader(bytes.substr(kMagic.size()));
  AliasFields fields;
  uint64_t version = 0, hasRelative = 0;
  std::string relative;
  if (!reader.integer(version, 1) || version != kVersion ||
      !reader.integer(fields.target.device, 8) || !reader.integer(fields.target.inode, 8) ||
      !reader.integer(fields.target.birth, 8) || !reader.integer(hasRelative, 1) || !reader.text(relative) || !reader.text(fields.absolute) ||
      !reader.atEnd() || fields.absolute.empty() || fields.absolute.front() != '/')
    return std::nullopt;
  if (hasRelative) fields.relative = std::move(relative);
  return fields;
}

std::string withoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The path below |base|, "" for the base itself, none when outside it.
std::optional<std::string> relativeTo(const std::string& path, const std::string& base) {
  if (base.empty() || base.front() != '/') return std::nullopt;
  if (path == base) return std::string();
  if (base == "/") return path.substr(1);
  if (path.size() > base.size() && path.compare(0, base.size(), base) == 0 &&
      path[base.size()] == '/')
    return path.substr(base.size() + 1);
  return std::nullopt;
}

std::optional<std::string> belowBase(const std::string& base,
                                     const std::optional<std::string>& relative) {
  if (!relative || base.empty()) return std::nullopt;
  return relative->empty() ? base : joinPath(base, *relative);
}

// Breadth-first search for |target| below |roots| on the target's own
// device: symbolic links are never followed, mount points never entered.
class IdentitySearch {
 public:
  explicit IdentitySearch(Identity target) : target_(target) {}

  std::optional<std::string> find(const std::vector<std::string>& roots) {
    for (const std::string& root : roots) {
      std::optional<Node> node = nodeAt(root);
      if (!node || !node->isDirectory || node->identity.device != target_.device) continue;
      if (!visited_.insert(node->identity).second) continue;
      if (auto found = searchBelow(root)) return found;
    }
    return std::nullopt;
  }

 private:
  std::optional<std::string> searchBelow(const std::string& root) {
    std::deque<std::pair<std::string, int>> queue{{root, 0}};
    while (!queue.empty()) {
      auto [directory, depth] = std::move(queue.front());
      queue.pop_front();
      if (directoriesOpened_++ >= kMaxDirectoriesOpened) return std::nullopt;
      DIR* stream = opendir(directory.c_str());
      if (!stream) continue;
      std::optional<std::string> found;
      while (dirent* entry = readdir(stream)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (entriesExamined_++ >= kMaxEntriesExamined) break;
        const bool maybeDirectory = entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN;
        if (!maybeDirectory && static_cast<uint64_t>(entry->d_ino) != target_.inode) continue;
        std::string path = joinPath(directory, entry->d_name);
        std::optional<Node> node = nodeAt(path);
        if (!node || node->identity.device != target_.device) continue;
        if (node->isDirectory && node->identity.sameNodeAs(target_)) {
          found = std::move(path);
          break;
        }
        if (node->isDirectory && depth + 1 < kSearchDepth && visited_.insert(node->identity).second)
          queue.emplace_back(std::move(path), depth + 1);
      }
      closedir(stream);
      if (found || entriesExamined_ >= kMaxEntriesExamined) return found;
    }
    return std::nullopt;
  }

  Identity target_;
  std::set<Identity> visited_;
  size_t entriesExamined_ = 0;
  size_t directoriesOpened_ = 0;
};

AliasResolution resolved(std::string path, bool changed) {
  AliasResolution result;
  result.resultCode = 0;
  result.changed = changed;
  result.path = std::move(path);
  return result;
}

}  // namespace

std::optional<std::string> makeAliasRecord(const std::string& path,
                                           const std::string& baseDirectory) {
  const std::string absolute = withoutTrailingSeparator(path);
  if (absolute.empty() || absolute.front() != '/' || absolute.size() > kLongestPath)
    return std::nullopt;
  std::optional<Node> node = nodeAt(absolute);
  if (!node) return std::nullopt;
  const std::optional<std::string> relative =
      relativeTo(absolute, withoutTrailingSeparator(baseDirectory));

  std::string bytes(kMagic);
  putInteger(bytes, kVersion, 1);
  putInteger(bytes, node->identity.device, 8);
  putInteger(bytes, node->identity.inode, 8);
  putInteger(bytes, node->identity.birth, 8);
  putInteger(bytes, relative ? 1 : 0, 1);
  putText(bytes, relative ? *relative : std::string());
  putText(bytes, absolute);
  return bytes;
}

AliasResolution resolveAliasRecord(std::string_view bytes, const std::string& baseDirectory,
                                   const std::string& storedPath) {
  if (bytes.empty()) return AliasResolution();
  const std::optional<AliasFields> fields = parse(bytes);
  if (!fields) {
    // Made elsewhere (or damaged): the stored path is all we can go by.
    std::optional<Node> node = nodeAt(storedPath);
    if (node && node->isDirectory) return resolved(storedPath, false);
    return AliasResolution();
  }

  const std::string base = withoutTrailingSeparator(baseDirectory);
  const std::optional<std::string> fromBase = belowBase(base, fields->relative);
  std::vector<std::string> recordedPaths;
  if (fromBase) recordedPaths.push_back(*fromBase);
  recordedPaths.push_back(fields->absolute);
  for (const std::string& candidate : recordedPaths) {
    std::optional<Node> node = nodeAt(candidate);
    if (node && node->identity.sameNodeAs(fields->target))
      return resolved(candidate, candidate != fields->absolute);
  }

  // Moved or renamed: look near where it was, then below the base.
  const std::string parent = deletingLastPathComponent(fields->absolute);
  std::vector<std::string> roots{parent, deletingLastPathComponent(parent)};
  if (!base.empty()) roots.push_back(base);
  if (std::optional<std::string> found = IdentitySearch(fields->target).find(roots)) {
    const bool changed = *found != fields->absolute;
    return resolved(std::move(*found), changed);
  }

  // A directory at the recorded path is taken as the folder: it was replaced
  // by a new one of the same name, or its volume came back under another
  // device number. Disabling a folder the user still sees there would
  // surprise more than following the path does.
  for (auto it = recordedPaths.rbegin(); it != recordedPaths.rend(); ++it) {
    std::optional<Node> node = nodeAt(*it);
    if (node && node->isDirectory) return resolved(*it, *it != fields->absolute);
  }
  return AliasResolution();
}

}  // namespace sweeprun
