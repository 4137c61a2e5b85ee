#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sweeprun {

/// What a race could change about one node: everything that reveals a write,
/// a change of owner or mode, or a replacement.
struct NodeState {
  char type = '?';  // 'f' file, 'd' folder, 'l' link, 'p' FIFO, 's' socket, 'c'/'b' device
  mode_t mode = 0;  // permission and set-id bits
  uid_t owner = 0;
  gid_t group = 0;
  uint64_t size = 0;
  uint64_t contentHash = 0;  // a file's bytes, a link's target
  int64_t modifiedSeconds = 0;
  long modifiedNanoseconds = 0;

  bool operator==(const NodeState& other) const;
  bool operator!=(const NodeState& other) const { return !(*this == other); }
};

/// Every node below a folder, by path relative to it (the folder itself as
/// "."). Links are recorded, never followed.
using TreeSnapshot = std::map<std::string, NodeState>;

/// Makes the root-owned tree a racing user must never reach below |folder|:
/// private and public files, an executable that a stray chmod would make
/// set-id, a world-writable file (that another user may hard-link), folders of several modes,
/// world-writable ones that tempt creation, and a decoy shaped like the attacker's watched area
/// ("decoy/watched"). Every time stamp is set to a fixed past moment.
void makeVictimTree(const std::string& folder);

/// The victim tree's files by their role, relative to its folder.
inline constexpr const char* kVictimSecret = "secret";    // 0600, root only
inline constexpr const char* kVictimPublic = "public";    // 0644
inline constexpr const char* kVictimExecutable = "bait";  // 0755
inline constexpr const char* kVictimShared = "shared";    // 0666: others may hard-link it
inline constexpr const char* kVictimFolder = "dir";       // 0755 with entries
inline constexpr const char* kVictimOpenFolder = "open";  // 0777
inline constexpr const char* kVictimDecoy = "decoy";      // holds "watched"
inline constexpr const char* kVictimSecretText = "root-only secret\n";

TreeSnapshot snapshotTree(const std::string& folder);

/// One line per node created, removed or changed between the snapshots.
std::vector<std::string> treeDifferences(const TreeSnapshot& before, const TreeSnapshot& after);

/// The regular files below |folder| (links not followed, mounts crossed)
/// that are set-user-id root or set-group-id root: none in a raced tree may be.
std::vector<std::string> rootSetIdNodes(const std::string& folder);

}  // namespace sweeprun
