#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace sweeprun {

/// Two entries that the attacker swaps (an atomic exchange of names) back and
/// forth for as long as the run lasts. Both must be on one file system, in
/// folders the attacker may change.
struct Exchange {
  std::string first;
  std::string second;
};

/// What the attacker prepares before a run and does during it.
struct RacePlan {
  /// Symbolic links (path, target) the attacker makes before the run.
  std::vector<std::pair<std::string, std::string>> links;
  /// Hard links (new path, existing path) the attacker makes before the run.
  std::vector<std::pair<std::string, std::string>> hardLinks;
  /// FIFOs (path, mode) and sockets the attacker makes before the run.
  std::vector<std::pair<std::string, mode_t>> fifos;
  std::vector<std::string> sockets;
  /// Modes (path, mode) the attacker gives its entries, last.
  std::vector<std::pair<std::string, mode_t>> modes;
  /// Swapped back and forth all run long, one after the other.
  std::vector<Exchange> exchanges;
  /// A folder watched for the temporary nodes and staging folders of moves
  /// across volumes (".sweeprun-move-*") and for any folder root makes there
  /// (a dated folder): a node is replaced by a link to |fileBait|; a folder
  /// is exchanged with a link to |folderBait|, or renamed away and a folder
  /// of the attacker's put in its name, with links named |plantNames| in it
  /// or watched itself. Empty: nothing is watched.
  std::string destination;
  std::string fileBait;
  std::string folderBait;
  /// A file that every other node is replaced with instead, by a hard link:
  /// calls that never follow a link still act on it. On the destination's
  /// file system, and writable by the attacker (protected_hardlinks).
  std::string hardLinkBait;
  std::vector<std::string> plantNames;
};

/// What the attacker got done during one run.
struct RaceStats {
  unsigned long exchanges = 0;            // exchanges that succeeded
  unsigned long temporaryNodes = 0;       // temporary nodes replaced by a link
  unsigned long stagingFolders = 0;       // staging folders swapped or taken over
  unsigned long nodesInTakenFolders = 0;  // nodes root made in a taken-over folder, replaced
  bool ready = false;                     // the attacker was in place before the run
};

/// The racing user: two processes running as |uid| (gid the same, no
/// supplementary groups) that prepare the plan and then, until stop(), one
/// busy-swaps the exchanges while the other reacts to inotify events in the
/// destination.
class Racer {
 public:
  Racer(uid_t uid, const RacePlan& plan);
  ~Racer();
  Racer(const Racer&) = delete;
  Racer& operator=(const Racer&) = delete;

  /// Forks the attacker and waits until it is in place (stats().ready).
  void start();
  /// Stops the attacker, waits for it and gathers what it did.
  RaceStats stop();

 private:
  uid_t uid_;
  const RacePlan& plan_;
  pid_t swapper_ = -1;
  pid_t watcher_ = -1;
  int stopWrite_ = -1;
  int reportRead_ = -1;
  RaceStats stats_;
};

}  // namespace sweeprun
