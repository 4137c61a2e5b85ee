#include "race/racer.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>

namespace sweeprun {

namespace {

constexpr unsigned kAttackerSeconds = 120;  // an attacker outliving its run is killed
constexpr int kReadyWaitMilliseconds = 10000;
constexpr int kBaitPool = 32;
constexpr const char* kTemporaryPrefix = ".sweeprun-move-";

// One message from an attacker process to the test.
struct Report {
  char kind;  // 'r' ready, 'x' exchanges, 't' temporary nodes, 's' staging folders,
              // 'n' nodes root made in a folder the attacker took over
  unsigned long value;
};

void report(int fd, char kind, unsigned long value) {
  const Report r{kind, value};
  if (write(fd, &r, sizeof r) != sizeof r) _exit(4);
}

volatile sig_atomic_t stopRequested = 0;
void requestStop(int) { stopRequested = 1; }

// Becomes the attacker for good: no way back to root.
void becomeAttacker(uid_t uid) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  alarm(kAttackerSeconds);
  if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 ||
      setresuid(uid, uid, uid) != 0 || geteuid() != uid || setresuid(0, 0, 0) == 0) {
    _exit(3);
  }
}

// A folder and a name in it, for the *at calls.
struct Place {
  int folder = -1;
  std::string name;
};

Place placeOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  Place place;
  place.folder = open(path.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  place.name = path.substr(slash + 1);
  return place;
}

void makeSocket(const std::string& path) {
  const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  close(s);
}

[[noreturn]] void runSwapper(const RacePlan& plan, int stopRead, int reportWrite) {
  for (const auto& [path, target] : plan.links) symlink(target.c_str(), path.c_str());
  for (const auto& [path, existing] : plan.hardLinks) link(existing.c_str(), path.c_str());
  for (const auto& [path, mode] : plan.fifos) {
    mkfifo(path.c_str(), 0600);
    chmod(path.c_str(), mode);  // set-id bits too: the FIFO is the attacker's
  }
  for (const std::string& path : plan.sockets) makeSocket(path);
  for (const auto& [path, mode] : plan.modes) chmod(path.c_str(), mode);
  std::vector<std::pair<Place, Place>> pairs;
  for (const Exchange& e : plan.exchanges) pairs.emplace_back(placeOf(e.first), placeOf(e.second));
  report(reportWrite, 'r', 0);

  unsigned long exchanged = 0;
  pollfd stop{stopRead, POLLIN, 0};
  while (poll(&stop, 1, 0) == 0) {
    for (const auto& [a, b] : pairs) {
      if (renameat2(a.folder, a.name.c_str(), b.folder, b.name.c_str(), RENAME_EXCHANGE) == 0)
        ++exchanged;
    }
  }
  report(reportWrite, 'x', exchanged);
  _exit(0);
}

// Watches the destination of moves across volumes and attacks every
// temporary node and folder that root makes in it. Everything an attack
// needs is made ahead of time, so that each attack is a single rename.
class Watcher {
 public:
  Watcher(const RacePlan& plan, int reportWrite) : plan_(plan), reportWrite_(reportWrite) {}

  [[noreturn]] void run() {
    inotify_ = inotify_init1(IN_CLOEXEC);
    destination_ = open(plan_.destination.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (inotify_ < 0 || destination_ < 0) _exit(5);
    watch(plan_.destination, destination_);
    for (int i = 0; i < kBaitPool; ++i) refill();
    report(reportWrite_, 'r', 0);

    alignas(inotify_event) char buffer[1 << 14];
    while (!stopRequested) {
      const ssize_t n = read(inotify_, buffer, sizeof buffer);
      if (n <= 0) continue;  // EINTR: the stop signal, seen by the loop test
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->len > 0) react(event->wd, event->name, (event->mask & IN_ISDIR) != 0);
      }
    }
    report(reportWrite_, 't', temporaryNodes_);
    report(reportWrite_, 's', stagingFolders_);
    report(reportWrite_, 'n', nodesInTakenFolders_);
    _exit(0);
  }

 private:
  // What a folder root made is exchanged with, in turn.
  enum Swap { kFolderLink, kOwnFolder, kPlantedFolder, kSwapKinds };

  void watch(const std::string& path, int folder) {
    const int wd = inotify_add_watch(inotify_, path.c_str(), IN_CREATE | IN_ONLYDIR);
    if (wd >= 0) folders_[wd] = folder;
  }

  // A folder of ours with |mode|, watched, holding a link to the folder bait
  // (for the folders root makes in it) and, when |planted|, links named like
  // the entries root will copy into it. A private one (0700) looks like a
  // staging folder in all but its owner.
  void makeOwnFolder(const std::string& name, bool planted, mode_t mode) {
    mkdirat(destination_, name.c_str(), 0700);
    const int ours =
        openat(destination_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (ours < 0) return;
    fchmod(ours, mode);
    symlinkat(plan_.folderBait.c_str(), ours, ".bait-folder");
    if (planted) {
      for (const std::string& plant : plan_.plantNames)
        symlinkat(plan_.fileBait.c_str(), ours, plant.c_str());
    }
    watch("/proc/self/fd/" + std::to_string(ours), ours);
  }

  void refill() {
    const std::string n = std::to_string(made_++);
    symlinkat(plan_.fileBait.c_str(), destination_, (".bait-file-" + n).c_str());
    linkat(AT_FDCWD, plan_.hardLinkBait.c_str(), destination_, (".bait-hard-" + n).c_str(), 0);
    symlinkat(plan_.folderBait.c_str(), destination_, (".bait-folder-" + n).c_str());
    // Every other pair private: root must refuse them by their owner.
    const mode_t mode = made_ % 2 == 0 ? 0700 : 0777;
    makeOwnFolder(".own-" + n, false, mode);
    makeOwnFolder(".planted-" + n, true, mode);
  }

  void react(int wd, const char* name, bool isFolder) {
    auto found = folders_.find(wd);
    if (found == folders_.end()) return;
    const int folder = found->second;
    const bool inDestination = folder == destination_;
    // In the destination: temporary nodes, staging folders, and the dated
    // folders root makes there. In a folder of ours: whatever root makes.
    const bool temporary = std::strncmp(name, kTemporaryPrefix, 15) == 0;
    if (inDestination && !temporary && (!isFolder || name[0] == '.')) return;  // ours
    if (!isFolder) {
      // A node root made and will finish by name: a link takes the name,
      // every other time a hard link to a file outside.
      const char* kind = usedFiles_ % 2 == 0 ? ".bait-file-" : ".bait-hard-";
      const std::string bait = kind + std::to_string(usedFiles_);
      if (renameat(destination_, bait.c_str(), folder, name) == 0) {
        ++(inDestination ? temporaryNodes_ : nodesInTakenFolders_);
        ++usedFiles_;
        refill();
      }
      return;
    }
    if (!inDestination) {
      // Root's folder inside ours: only an exchange within ours can move it.
      renameat2(folder, ".bait-folder", folder, name, RENAME_EXCHANGE);
      return;
    }
    const unsigned long n = usedFolders_;
    const char* kinds[kSwapKinds] = {".bait-folder-", ".own-", ".planted-"};
    const std::string ours = kinds[stagingFolders_ % kSwapKinds] + std::to_string(n);
    if (renameat2(destination_, ours.c_str(), destination_, name, RENAME_EXCHANGE) == 0) {
      ++stagingFolders_;
      ++usedFolders_;
      refill();
    }
  }

  const RacePlan& plan_;
  int reportWrite_;
  int inotify_ = -1;
  int destination_ = -1;
  std::map<int, int> folders_;  // watch descriptor -> folder descriptor
  unsigned long made_ = 0, usedFiles_ = 0, usedFolders_ = 0;
  unsigned long temporaryNodes_ = 0, stagingFolders_ = 0, nodesInTakenFolders_ = 0;
};

}  // namespace

Racer::Racer(uid_t uid, const RacePlan& plan) : uid_(uid), plan_(plan) {}

Racer::~Racer() { stop(); }

void Racer::start() {
  int stopPipe[2], reportPipe[2];
  if (pipe2(stopPipe, O_CLOEXEC) != 0) return;
  if (pipe2(reportPipe, O_CLOEXEC) != 0) {
    close(stopPipe[0]);
    close(stopPipe[1]);
    return;
  }
  auto forkAttacker = [&](bool watcher) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    close(stopPipe[1]);
    close(reportPipe[0]);
    becomeAttacker(uid_);
    if (watcher) {
      struct sigaction action {};
      action.sa_handler = requestStop;  // no SA_RESTART: the read returns
      sigaction(SIGUSR1, &action, nullptr);
      Watcher(plan_, reportPipe[1]).run();
    }
    runSwapper(plan_, stopPipe[0], reportPipe[1]);
  };
  stopWrite_ = stopPipe[1];
  reportRead_ = reportPipe[0];
  auto awaitReady = [&] {
    pollfd ready{reportRead_, POLLIN, 0};
    Report r;
    return poll(&ready, 1, kReadyWaitMilliseconds) > 0 &&
           read(reportRead_, &r, sizeof r) == sizeof r && r.kind == 'r';
  };
  // The watcher first: it must open the destination before the swapper
  // starts swapping it out.
  bool ready = true;
  if (!plan_.destination.empty()) {
    watcher_ = forkAttacker(true);
    ready = watcher_ > 0 && awaitReady();
  }
  swapper_ = forkAttacker(false);
  ready = ready && swapper_ > 0 && awaitReady();
  close(stopPipe[0]);  // only the attackers hold these
  close(reportPipe[1]);
  stats_.ready = ready;
}

RaceStats Racer::stop() {
  if (stopWrite_ >= 0) close(stopWrite_);
  stopWrite_ = -1;
  if (watcher_ > 0) {
    // The signal can land just before the watcher blocks again: it is
    // asked again until it ends, and killed after two seconds.
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
      kill(watcher_, SIGUSR1);
      usleep(i == 0 ? 0 : 10000);
      ended = waitpid(watcher_, nullptr, WNOHANG) == watcher_;
    }
    if (!ended) {
      kill(watcher_, SIGKILL);
      waitpid(watcher_, nullptr, 0);
    }
    watcher_ = -1;
  }
  if (swapper_ > 0) {
    waitpid(swapper_, nullptr, 0);
    swapper_ = -1;
  }
  if (reportRead_ >= 0) {
    Report r;
    while (read(reportRead_, &r, sizeof r) == sizeof r) {
      if (r.kind == 'x') stats_.exchanges += r.value;
      if (r.kind == 't') stats_.temporaryNodes += r.value;
      if (r.kind == 's') stats_.stagingFolders += r.value;
      if (r.kind == 'n') stats_.nodesInTakenFolders += r.value;
    }
    close(reportRead_);
    reportRead_ = -1;
  }
  return stats_;
}

}  // namespace sweeprun
