// System mode raced by the owner of a watched folder. Root runs the real
// tool (the test driver, from a root-owned read-only copy) over a folder
// that an unprivileged attacker owns, while the attacker swaps condemned
// entries, sub-folders, the watched folder, its parent, the Trash and the
// move-to folder for links into a root-owned victim tree, and attacks the
// temporary nodes and staging folders of moves across volumes. Any change to
// the victim tree, and any set-id root file anywhere, is an escape.
//
// RACE_RUNS (default 200) is the number of raced runs over all scenarios;
// scripts/race_soak.sh runs many more.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "race/race_sandbox.h"
#include "race/racer.h"
#include "race/victim_tree.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr int kDefaultRuns = 200;
constexpr int kScenarios = 5;
constexpr size_t kEscapesShown = 3;
constexpr int kFifos = 16;
constexpr uid_t kAttacker = RaceSandbox::kAttacker;

int totalRuns() {
  const char* text = std::getenv("RACE_RUNS");
  const int runs = text ? std::atoi(text) : kDefaultRuns;
  return runs > 0 ? runs : kDefaultRuns;
}

// One sandbox per process: the mount namespace is the process's own.
RaceSandbox* sandbox(std::string& whyNot) {
  static std::string reason;
  static std::unique_ptr<RaceSandbox> shared = [] {
    auto made = std::make_unique<RaceSandbox>();
    if (!made->create(SWEEPRUN_DRIVER_PATH, SWEEPRUN_SWEEPLY_PATH, reason)) made.reset();
    return made;
  }();
  whyNot = reason;
  return shared.get();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAttackerFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
  giveTo(path, kAttacker);
}

// A run's condemned entries, as root would find them: files, a tree with
// sub-folders, and a device node (the attacker cannot make one; it owns this
// one). The attacker adds its FIFOs, socket and links itself.
void populateWatched(const RaceSandbox& box) {
  const std::string w = box.watched();
  for (const char* folder : {"tree", "tree/sub", "tree/swapdir"}) {
    fs::create_directories(w + "/" + folder);
    giveTo(w + "/" + folder, kAttacker);
  }
  for (const char* file :
       {"plain.txt", "rename-a", "rename-b", RaceSandbox::kReadMeName, "tree/x", "tree/y",
        "tree/swapfile", "tree/swapdir/z", "tree/sub/deep.txt", "tree/sub/f2"}) {
    writeAttackerFile(w + "/" + file, std::string("attacker's ") + file + "\n");
  }
  const std::string device = w + "/device";
  mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3));
  giveTo(device, kAttacker);
}

/// One way of disposing of condemned entries, and where it puts them.
struct Scenario {
  std::string action;
  std::string destination;       // empty when the action moves nothing
  std::string victimOpenFolder;  // on the destination's file system
  std::string victimSharedFile;  // on the destination's file system
  /// The kinds of run, in turn: 'x' exchanges, 'd' exchanges and dated
  /// folders, 'f' exchanges with the folders themselves, 'q' quiet (no
  /// exchanges: the cores are left to the watcher, as replacing a node that
  /// root has just made needs a fast reaction), 'u' exchanges, then an undo
  /// of the run (where the action moves entries), raced too.
  const char* runKinds;
};

// Moves across volumes are attacked mostly by the watcher: half their runs
// are quiet.
constexpr const char* kRunKinds = "xqdfu";
constexpr const char* kRunKindsAcrossVolumes = "xqdqfquq";

RacePlan planFor(const RaceSandbox& box, const Scenario& s, char kind) {
  const std::string w = box.watched(), baits = box.path("Users/attacker/baits");
  const std::string victim = box.path("victim");
  RacePlan plan;
  plan.links = {{baits + "/l-secret", victim + "/" + kVictimSecret},
                {baits + "/l-dir", victim + "/" + kVictimFolder},
                {baits + "/l-public", victim + "/" + kVictimPublic},
                {baits + "/l-decoy", victim + "/" + kVictimDecoy},
                {baits + "/l-decoy-watched", victim + "/decoy/watched"},
                {w + "/link-to-secret", victim + "/" + kVictimSecret},
                {baits + "/l-readme", victim + "/open/README.txt"}};
  // Set-id FIFOs, several: each one copied across volumes is a chance.
  plan.fifos = {{w + "/tree/fifo", 06777}};
  for (int i = 0; i < kFifos; ++i) plan.fifos.push_back({w + "/fifo-" + std::to_string(i), 06777});
  plan.sockets = {w + "/sock"};
  // Set-id on every special node: whichever a race catches, what it reaches
  // becomes set-id root.
  plan.modes = {{w + "/sock", 06777}, {w + "/device", 06777}};
  // Hard links to its own file and to root's world-writable one (which
  // protected_hardlinks allows): each must go as a link, root's file intact.
  plan.hardLinks = {{w + "/hard", box.path("Users/attacker/keep/file")},
                    {w + "/hard-shared", victim + "/" + kVictimShared}};
  // Entries swapped for links, and renamed, while the folder is walked.
  if (kind != 'q') {
    plan.exchanges = {{w + "/plain.txt", baits + "/l-secret"},
                      {w + "/tree/sub", baits + "/l-dir"},
                      {w + "/tree/sub/deep.txt", baits + "/l-public"},
                      {w + "/tree/x", w + "/tree/y"},
                      {w + "/tree/swapdir", w + "/tree/swapfile"},
                      {w + "/rename-a", w + "/rename-b"},
                      {w + "/" + RaceSandbox::kReadMeName, baits + "/l-readme"}};
  }
  // The owner's own Trash: its "files" and "info" are the attacker's, and
  // swapped for links while root works in them.
  if (kind != 'q' && s.destination.rfind("/files") == s.destination.size() - 6) {
    const std::string trash = fs::path(s.destination).parent_path();
    plan.exchanges.push_back({trash + "/files", baits + "/l-dir"});
    plan.exchanges.push_back({trash + "/info", baits + "/l-dir"});
  }
  // The folders themselves: while they are out, the run finds a link and
  // must leave the folder alone.
  if (kind == 'f') {
    plan.exchanges.push_back({box.path("Users/attacker/area"), baits + "/l-decoy"});
    plan.exchanges.push_back({w, baits + "/l-decoy-watched"});
    if (!s.destination.empty()) {
      const std::string swapped = fs::path(s.destination).parent_path() / "l-open";
      plan.links.push_back({swapped, s.victimOpenFolder});
      plan.exchanges.push_back({s.destination, swapped});
    }
  }
  plan.destination = s.destination;
  plan.fileBait = victim + "/" + kVictimExecutable;
  plan.folderBait = s.victimOpenFolder;
  plan.hardLinkBait = s.victimSharedFile;
  plan.plantNames = {"fifo-0", "plain.txt", "tree", "sub", "deep.txt", "device", "sock", "hard"};
  return plan;
}

struct Tally {
  int runs = 0;
  int escapes = 0;
  int setIdEscapes = 0;  // runs that left a set-id root file behind
  int failedRuns = 0;    // the tool did not exit 0 (not an escape by itself)
  int attackerMissing = 0;
  RaceStats attacks;
  std::vector<std::string> shown;
};

/// What changed outside the attacker's reach since |before|.
std::vector<std::string> escapesSince(const RaceSandbox& box, const TreeSnapshot& before,
                                      const TreeSnapshot& otherBefore) {
  std::vector<std::string> lines = treeDifferences(before, snapshotTree(box.path("victim")));
  for (std::string& line : treeDifferences(otherBefore, snapshotTree(box.path("other/victim"))))
    lines.push_back("other/" + line);
  for (std::string& path : rootSetIdNodes(box.root())) lines.push_back("set-id root: " + path);
  return lines;
}

// The attacker of an undo: the entries put back are swapped for links as
// soon as they are back, and whatever the undo makes in the watched folder
// (the staging folders of a copy back from another volume) is attacked as a
// run's are in its destination. Nothing is planted in the watched folder
// first: a name taken there would only keep its entry from coming back.
RacePlan undoPlanFor(const RaceSandbox& box, RacePlan plan) {
  const std::string w = box.watched() + "/";
  auto inWatched = [&](const auto& item) { return item.first.rfind(w, 0) == 0; };
  plan.links.erase(std::remove_if(plan.links.begin(), plan.links.end(), inWatched),
                   plan.links.end());
  plan.hardLinks.clear();
  plan.fifos.clear();
  plan.sockets.clear();
  plan.modes.clear();
  plan.destination = box.watched();
  plan.folderBait = box.path("victim/") + kVictimOpenFolder;
  plan.hardLinkBait = box.path("victim/") + kVictimShared;
  return plan;
}

/// One raced program (|act|): snapshot, race, compare.
void racedProgram(RaceSandbox& box, const RacePlan& plan, Tally& tally,
                  ProgramResult (RaceSandbox::*act)() const) {
  const TreeSnapshot before = snapshotTree(box.path("victim"));
  const TreeSnapshot otherBefore = snapshotTree(box.path("other/victim"));
  Racer racer(kAttacker, plan);
  racer.start();
  const ProgramResult result = (box.*act)();
  const RaceStats stats = racer.stop();
  ++tally.runs;
  if (!stats.ready) ++tally.attackerMissing;
  if (result.exitStatus != 0) ++tally.failedRuns;
  tally.attacks.exchanges += stats.exchanges;
  tally.attacks.temporaryNodes += stats.temporaryNodes;
  tally.attacks.stagingFolders += stats.stagingFolders;
  tally.attacks.nodesInTakenFolders += stats.nodesInTakenFolders;
  const std::vector<std::string> escaped = escapesSince(box, before, otherBefore);
  if (!escaped.empty()) {
    ++tally.escapes;
    for (const std::string& line : escaped) {
      if (line.rfind("set-id root: ", 0) == 0) {
        ++tally.setIdEscapes;
        break;
      }
    }
    if (tally.shown.size() < kEscapesShown) {
      std::string text = "run " + std::to_string(tally.runs) + ":";
      for (const std::string& line : escaped) text += "\n    " + line;
      tally.shown.push_back(text);
    }
    // The next run starts from an untouched victim tree.
    fs::remove_all(box.path("victim"));
    fs::remove_all(box.path("other/victim"));
    makeVictimTree(box.path("victim"));
    makeVictimTree(box.path("other/victim"));
  }
}

/// One raced run: set up, race a run and, with |undo|, the undo of it
/// (tallied in |undone|), clean up.
void racedRun(RaceSandbox& box, const RacePlan& plan, Tally& tally, bool undo, Tally& undone) {
  populateWatched(box);
  racedProgram(box, plan, tally, &RaceSandbox::runSystemMode);
  if (undo) racedProgram(box, undoPlanFor(box, plan), undone, &RaceSandbox::undoLastRun);
  box.resetAttackerFolders();
}

void report(const std::string& name, const Tally& t) {
  std::printf(
      "race %s: runs %d, escapes %d (set-id root %d), runs not ending 0 %d, "
      "attacker not ready %d; "
      "exchanges %lu, temporary nodes replaced %lu, staging and dated folders attacked %lu, nodes "
      "replaced in taken-over folders %lu\n",
      name.c_str(), t.runs, t.escapes, t.setIdEscapes, t.failedRuns, t.attackerMissing, t.attacks.exchanges,
      t.attacks.temporaryNodes, t.attacks.stagingFolders, t.attacks.nodesInTakenFolders);
  for (const std::string& shown : t.shown) std::printf("  escape in %s\n", shown.c_str());
  std::fflush(stdout);
}

class SystemModeRaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    box = sandbox(whyNot);
    if (!box) GTEST_SKIP() << whyNot;
    box->resetAttackerFolders();
  }

  /// "delete", "trash" (into the account's Trash), "trash-owner" (into the
  /// owner's top-directory Trash), "moveto-same-device" or
  /// "moveto-other-device".
  Scenario scenario(const std::string& name) const {
    const bool across = name == "moveto-other-device";
    const std::string victim = box->path(across ? "other/victim/" : "victim/");
    Scenario s{name, "", victim + kVictimOpenFolder, victim + kVictimShared,
               across ? kRunKindsAcrossVolumes : kRunKinds};
    if (name == "trash") s.destination = box->accountTrash();
    if (name == "trash-owner") {
      s.action = "trash";
      s.destination = box->ownersTrash() + "/files";
    }
    if (name.rfind("moveto", 0) == 0) {
      s.destination = across ? box->otherDeviceDestination() : box->sameDeviceDestination();
      s.action = "moveto:" + s.destination;
    }
    return s;
  }

  void race(const char* name) {
    const Scenario s = scenario(name);
    box->setOwnersTrash(std::string(name) == "trash-owner");
    Tally tally, undone;
    const bool undoes = !s.destination.empty();
    const int runs = std::max(1, totalRuns() / kScenarios);
    const size_t kinds = std::strlen(s.runKinds);
    for (int run = 0; run < runs; ++run) {
      const char kind = s.runKinds[static_cast<size_t>(run) % kinds];
      box->writeConfig(s.action, kind == 'd');
      // The attacker's Trash as the first run makes it: theirs, for them to
      // swap things in.
      if (std::string(name) == "trash-owner") {
        fs::remove_all(box->ownersTrash());  // whatever the last race left swapped
        box->makeAttackerFolder(box->ownersTrash() + "/files");
        box->makeAttackerFolder(box->ownersTrash() + "/info");
      }
      racedRun(*box, planFor(*box, s, kind), tally, undoes && kind == 'u', undone);
    }
    report(name, tally);
    if (undoes) report(std::string(name) + " undo", undone);
    EXPECT_EQ(0, tally.attackerMissing + undone.attackerMissing)
        << "the attacker could not get in place";
    EXPECT_EQ(0, tally.escapes) << tally.escapes << " of " << tally.runs << " runs escaped";
    EXPECT_EQ(0, undone.escapes) << undone.escapes << " of " << undone.runs << " undos escaped";
  }

  RaceSandbox* box = nullptr;
};

TEST_F(SystemModeRaceTest, DeleteStaysInsideTheWatchedFolder) { race("delete"); }

TEST_F(SystemModeRaceTest, TrashStaysInsideTheAccount) { race("trash"); }

TEST_F(SystemModeRaceTest, TrashOfTheOwnerStaysInsideIt) { race("trash-owner"); }

TEST_F(SystemModeRaceTest, MoveOnOneVolumeStaysInsideBothFolders) { race("moveto-same-device"); }

TEST_F(SystemModeRaceTest, MoveAcrossVolumesStaysInsideBothFolders) { race("moveto-other-device"); }

// Not raced: a link in a tree moved across volumes is re-created as a link,
// and its owner and times are set on the link, never on what it names.
TEST_F(SystemModeRaceTest, MoveAcrossVolumesLeavesLinkTargetsAlone) {
  const std::string w = box->watched(), victim = box->path("victim");
  fs::create_directories(w + "/tree");
  giveTo(w + "/tree", kAttacker);
  const timespec linkTimes[2] = {{1104537600, 0}, {1104537600, 0}};  // 2005
  for (const std::string& link : {w + "/link", w + "/tree/link"}) {
    fs::create_symlink(victim + "/" + kVictimPublic, link);
    giveTo(link, kAttacker);
    utimensat(AT_FDCWD, link.c_str(), linkTimes, AT_SYMLINK_NOFOLLOW);
  }
  utimensat(AT_FDCWD, (w + "/tree").c_str(), linkTimes, AT_SYMLINK_NOFOLLOW);
  const TreeSnapshot before = snapshotTree(victim);
  box->writeConfig("moveto:" + box->otherDeviceDestination());

  const ProgramResult result = box->runSystemMode();
  EXPECT_EQ(0, result.exitStatus) << result.out << result.err;
  const std::string moved = box->otherDeviceDestination();
  for (const std::string& link : {moved + "/link", moved + "/tree/link"}) {
    SCOPED_TRACE(link);
    ASSERT_TRUE(fs::is_symlink(link))
        << "the move did not happen: " << readFile(box->path("etc/run.log"));
    struct stat st;
    ASSERT_EQ(0, lstat(link.c_str(), &st));
    EXPECT_EQ(kAttacker, st.st_uid);
    EXPECT_EQ(1104537600, st.st_mtim.tv_sec);
  }
  for (const std::string& line : treeDifferences(before, snapshotTree(victim)))
    ADD_FAILURE() << line;
}

// Raced, as a best effort: files of a tree moved across volumes are swapped
// for links to root's secret while the tree is copied. Whatever the copy
// meets, no regular file in the destination may hold the secret.
TEST_F(SystemModeRaceTest, MoveAcrossVolumesNeverCopiesASwappedInSecret) {
  constexpr int kFiles = 64;
  const std::string w = box->watched(), baits = box->path("Users/attacker/baits");
  const std::string secret = box->path("victim") + "/" + kVictimSecret;
  box->writeConfig("moveto:" + box->otherDeviceDestination());
  RacePlan plan;
  for (int i = 0; i < kFiles; ++i) {
    const std::string n = std::to_string(i);
    plan.links.push_back({baits + "/s" + n, secret});
    plan.exchanges.push_back({w + "/box/f" + n, baits + "/s" + n});
  }
  const int runs = std::max(4, totalRuns() / 2);
  int linksLanded = 0, copiesHoldingSecret = 0;
  for (int run = 0; run < runs; ++run) {
    fs::create_directories(w + "/box");
    giveTo(w + "/box", kAttacker);
    for (int i = 0; i < kFiles; ++i)
      writeAttackerFile(w + "/box/f" + std::to_string(i), "attacker data\n");
    Racer racer(kAttacker, plan);
    racer.start();
    box->runSystemMode();
    EXPECT_TRUE(racer.stop().ready) << "run " << run << ": the attacker could not get in place";
    std::error_code ec;
    for (fs::recursive_directory_iterator it(box->otherDeviceDestination(), ec), end;
         !ec && it != end; it.increment(ec)) {
      if (it->is_symlink()) ++linksLanded;
      if (it->symlink_status().type() == fs::file_type::regular &&
          readFile(it->path()) == kVictimSecretText) {
        ++copiesHoldingSecret;
        ADD_FAILURE() << "run " << run << ": " << it->path() << " holds the secret";
      }
    }
    box->resetAttackerFolders();
  }
  std::printf("race secret swap: runs %d, links moved in place of files %d, secrets copied %d\n",
              runs, linksLanded, copiesHoldingSecret);
}

}  // namespace
}  // namespace sweeprun
