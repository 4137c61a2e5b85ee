// Whole runs of the shipped tool over real folders: the three actions, the
// daily schedule, planted links, and system mode with account Trash folders
// (through the test driver, which takes its fixed paths from the
// environment). Folders are set up with sweeply, as a user would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e/run_program.h"
#include "fs/dir_handle.h"
#include "os/run_world.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

std::string sweeplyPath() { return fs::path(SWEEPRUN_TOOL_PATH).parent_path() / "sweeply"; }

bool hasLine(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string candidate; std::getline(in, candidate);)
    if (candidate == line) return true;
  return false;
}

class CollectionEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home);
    ASSERT_EQ(0, sweeply({"prefs", "LogToFile", "yes"}).exitStatus);
    ASSERT_EQ(0, sweeply({"prefs", "LogFileName", log()}).exitStatus);
  }

  ProgramResult run(const std::string& program, std::vector<std::string> arguments,
                    const std::string& user = "alice") {
    arguments.insert(arguments.begin(), program);
    return runProgram(program, arguments, toolEnvironment(home, user, temp.path()), temp.path());
  }
  ProgramResult sweeply(std::vector<std::string> arguments) {
    return run(sweeplyPath(), std::move(arguments));
  }
  /// One run; returns its section of the run log.
  std::string sweeprun() {
    fs::remove(log());
    ProgramResult result = run(SWEEPRUN_TOOL_PATH, {});
    EXPECT_EQ(0, result.exitStatus) << result.err;
    return temp.read("run.log");
  }
  std::string folder(const std::string& name) {
    fs::create_directories(temp.file(name));
    return temp.file(name);
  }
  std::string log() const { return temp.file("run.log"); }

  TempDir temp;
  const std::string home = temp.file("home");
};

TEST_F(CollectionEndToEndTest, EachActionDisposesOfWhatItsRulesCondemn) {
  const std::string deleting = folder("Deleting"), moving = folder("Moving"),
                    trashing = folder("Trashing"), archive = folder("Archive");
  ASSERT_EQ(
      0, sweeply({"add", deleting, "--action", "delete", "--condition", "name: *.old"}).exitStatus);
  ASSERT_EQ(0, sweeply({"add", moving, "--action", "moveto:" + archive, "--condition", "size: > 5",
                        "--condition", "!name: keep*"})
                   .exitStatus);
  ASSERT_EQ(0, sweeply({"add", trashing, "--condition", "name: *.tmp"}).exitStatus);
  temp.write("Deleting/a.old", "a");
  temp.write("Deleting/a.new", "a");
  temp.write("Moving/big.bin", "123456");
  temp.write("Moving/keep.bin", "123456");
  temp.write("Moving/small.bin", "1");
  temp.write("Archive/big.bin", "already here");
  temp.write("Trashing/x.tmp", "x");

  const std::string section = sweeprun();
  for (const char* line : {"- a.old", "+ a.new", "- big.bin", "+ keep.bin", "+ small.bin",
                           "- x.tmp", "1 item was removed."}) {
    EXPECT_TRUE(hasLine(section, line)) << line << "\n" << section;
  }
  EXPECT_TRUE(hasLine(section,
                      "Searching for items whose size is at least 5 bytes and whose name does "
                      "not start with 'keep'"))
      << section;
  EXPECT_FALSE(fs::exists(temp.file("Deleting/a.old")));
  EXPECT_EQ("123456", temp.read("Archive/big copy 1.bin"));
  EXPECT_EQ("x", temp.read("home/.local/share/Trash/files/x.tmp"));
  EXPECT_NE(std::string::npos, temp.read("home/.local/share/Trash/info/x.tmp.trashinfo")
                                   .find("Path=" + trashing + "/x.tmp"));

  // A second run finds the survivors unchanged.
  const std::string second = sweeprun();
  for (const char* line : {"  a.new", "  keep.bin", "  small.bin", "0 items were removed."}) {
    EXPECT_TRUE(hasLine(second, line)) << line << "\n" << second;
  }
}

TEST_F(CollectionEndToEndTest, AOnceADayFolderIsCheckedAgainOnlyWhenAsked) {
  const std::string inbox = folder("Inbox");
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "delay: 4 days"}).exitStatus);
  EXPECT_TRUE(hasLine(sweeprun(), "Checking folder '" + inbox + "'."));
  EXPECT_TRUE(hasLine(sweeprun(), "Not checking folder '" + inbox + "' (already checked today)."));
  ASSERT_EQ(0, sweeply({"check-now", inbox}).exitStatus);
  EXPECT_TRUE(hasLine(sweeprun(), "Checking folder '" + inbox + "'."));
  EXPECT_TRUE(hasLine(sweeprun(), "Not checking folder '" + inbox + "' (already checked today)."));
}

TEST_F(CollectionEndToEndTest, PlantedLinksAreRemovedAsLinks) {
  const std::string inbox = folder("Inbox"), outside = folder("Outside");
  temp.write("Outside/precious.txt", "keep me");
  fs::create_symlink(outside, inbox + "/link-to-folder.old");
  fs::create_symlink(outside + "/precious.txt", inbox + "/link-to-file.old");
  fs::create_directories(inbox + "/tree.old/sub");
  fs::create_symlink(outside, inbox + "/tree.old/sub/escape");
  ASSERT_EQ(0,
            sweeply({"add", inbox, "--action", "delete", "--condition", "name: *.old"}).exitStatus);

  const std::string section = sweeprun();
  EXPECT_TRUE(hasLine(section, "3 items were removed.")) << section;
  EXPECT_TRUE(fs::is_empty(inbox));
  EXPECT_EQ("keep me", temp.read("Outside/precious.txt"));
}

// A scratch folder on a tmpfs where there is one (a disk that discards each
// freed block takes minutes over 100,000 folders, with a limit or without),
// removed with whatever a test left in it, a tree of any depth included.
class MemoryScratch {
 public:
  explicit MemoryScratch(const std::string& fallback) {
    std::string pattern = "/dev/shm/sweeprun-XXXXXX";
    path_ = mkdtemp(pattern.data()) ? pattern : fallback;
    fs::create_directories(path_);
  }
  ~MemoryScratch() {
    DirHandle folder;
    std::string error;
    if (DirHandle::openDirectory(path_, folder, error) != OpenStatus::kOpened) return;
    bool listed = false;
    for (const std::string& name : folder.listNames(listed).strings()) {
      for (int attempt = 0; attempt < 10 && folder.removeEntry(name, kEntryTreeTimeLimit, error) ==
                                                RemoveStatus::kFailed;
           ++attempt) {
      }
    }
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A tree of 100,000 levels, built through descriptors since its paths are
// far longer than any path the system takes, holds up a run at most for the
// time limit of one entry: the run removes it or gives it up, and goes on
// with the next folder either way.
TEST_F(CollectionEndToEndTest, ADeepTreeIsRemovedOrGivenUpAndTheRunGoesOn) {
  const MemoryScratch scratch(temp.file("scratch"));
  const std::string deep = scratch.path(), next = folder("Next");
  int fd = open(deep.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; fd >= 0 && level < 100000; ++level) {
    const char* name = level == 0 ? "tree.old" : "d";
    const int below =
        mkdirat(fd, name, 0755) == 0 ? openat(fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    close(fd);
    fd = below;
  }
  ASSERT_GE(fd, 0) << "could not build the tree";
  close(fd);
  temp.write("Next/x.old", "x");
  for (const std::string& watched : {deep, next})
    ASSERT_EQ(
        0,
        sweeply({"add", watched, "--action", "delete", "--condition", "name: *.old"}).exitStatus);

  std::vector<std::string> environment = toolEnvironment(home, "alice", temp.path());
  environment.push_back("SWEEPRUN_TEST_TREE_SECONDS=20");
  const ProgramResult result =
      runProgram(SWEEPRUN_DRIVER_PATH, {SWEEPRUN_DRIVER_PATH}, environment, temp.path());
  const std::string section = temp.read("run.log");
  if (fs::exists(deep + "/tree.old")) {
    EXPECT_EQ(74, result.exitStatus) << result.err;
    EXPECT_TRUE(hasLine(section, "Error: unlinkat(" + deep +
                                     "/tree.old): took longer than 20 s, stopped; the entry is "
                                     "left partly removed"))
        << section;
  } else {
    EXPECT_EQ(0, result.exitStatus) << result.err;
    EXPECT_TRUE(hasLine(section, "- tree.old")) << section;
  }
  EXPECT_TRUE(hasLine(section, "Checking folder '" + next + "'.")) << section;
  EXPECT_TRUE(hasLine(section, "- x.old")) << section;
}

TEST_F(CollectionEndToEndTest, SystemModeTrashesIntoTheAccountsTrash) {
  if (geteuid() != 0) GTEST_SKIP() << "system mode runs as root";
  const std::string downloads = folder("Users/alice/Downloads"), shared = folder("Shared");
  ASSERT_EQ(0, chown(temp.file("Users/alice").c_str(), 4321, 4321));
  temp.write("Users/alice/Downloads/setup.dmg", "image");
  temp.write("Shared/setup.dmg", "image");
  temp.write("sweeprun.plist",
             "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
             "<key>DataFile</key><string>" +
                 temp.file("system.data") +
                 "</string>"
                 "<key>LogToFile</key><true/><key>LogFileName</key><string>" +
                 log() +
                 "</string>"
                 "<key>Folders</key><array>"
                 "<dict><key>Path</key><string>" +
                 temp.file("Users/*/Downloads") +
                 "</string>"
                 "<key>Condition</key><string>name: *.dmg</string></dict>"
                 "<dict><key>Path</key><string>" +
                 shared +
                 "</string>"
                 "<key>Condition</key><string>name: *.dmg</string></dict>"
                 "</array></dict></plist>");
  fs::permissions(temp.file("sweeprun.plist"), fs::perms(0600));
  // The tool's own file must be root's and read-only.
  readOnlyDriverIn(temp.path());

  ProgramResult result = run(temp.file("sweeprun"), {"-s"}, "root");
  // Outside the accounts an entry goes to its owner's Trash; this test's
  // context names neither a home nor a mount point for root: no Trash.
  EXPECT_EQ(74, result.exitStatus) << result.out << result.err;
  const std::string section = temp.read("run.log");
  EXPECT_TRUE(hasLine(section, "Checking folder '" + downloads + "'.")) << section;
  EXPECT_TRUE(hasLine(section, "= setup.dmg (not removed)")) << section;
  EXPECT_TRUE(hasLine(section, "Error: no mount point found for '" + shared + "/setup.dmg'"))
      << section;
  EXPECT_EQ("image", temp.read("Users/alice/.Trash/setup.dmg"));
  struct stat trash;
  ASSERT_EQ(0, lstat(temp.file("Users/alice/.Trash").c_str(), &trash));
  EXPECT_EQ(4321u, trash.st_uid) << "the account can empty its Trash";
  EXPECT_TRUE(fs::exists(temp.file("system.data")));
}

// A run that could not dispose of an entry ends with a status of its own, and
// says why in the run log and on standard error: a full file system as root
// (a tmpfs too small for the entry), a folder it may not write otherwise.
TEST_F(CollectionEndToEndTest, AFailedRemovalFailsTheRunAndGivesTheReason) {
  const std::string moving = folder("Moving"), archive = folder("Archive");
  std::string reason;
  if (geteuid() == 0) {
    if (system(("mount -t tmpfs -o size=64k none '" + archive + "' 2>/dev/null").c_str()) != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here";
    reason = "No space left on device";
  } else {
    fs::permissions(archive, fs::perms(0555));
    reason = "Permission denied";
  }
  ASSERT_EQ(0,
            sweeply({"add", moving, "--action", "moveto:" + archive, "--condition", "name: *.bin"})
                .exitStatus);
  temp.write("Moving/big.bin", std::string(1 << 20, 'x'));
  fs::remove(log());
  ProgramResult result = run(SWEEPRUN_TOOL_PATH, {});
  const std::string section = temp.read("run.log");
  if (geteuid() == 0) system(("umount '" + archive + "'").c_str());
  fs::permissions(archive, fs::perms(0755));

  EXPECT_EQ(74, result.exitStatus);
  EXPECT_TRUE(hasLine(section, "Error: Unable to (re)move 'big.bin'.")) << section;
  EXPECT_NE(std::string::npos, section.find(reason)) << section;
  EXPECT_TRUE(hasLine(section, "= big.bin (not removed)")) << section;
  EXPECT_NE(std::string::npos, result.err.find(reason)) << result.err;
  EXPECT_EQ(std::string(1 << 20, 'x'), temp.read("Moving/big.bin"));
}

// As its owner meets it (root searches every folder): a watched folder that
// can be read but not searched was once taken for an empty one, and every
// tracked entry was dropped. The run now keeps them and fails with the reason.
TEST_F(CollectionEndToEndTest, AFolderThatCannotBeSearchedKeepsItsHistoryAndFailsTheRun) {
  if (geteuid() != 0 || !fs::exists("/usr/bin/setpriv"))
    GTEST_SKIP() << "needs root and setpriv to run as an account that cannot search a folder";
  // The owner runs copies of the tools: the build folder may be closed to it.
  fs::permissions(temp.path(), fs::perms(0755));
  const std::string tools = folder("tools"), inbox = folder("Inbox");
  for (const std::string& tool : {std::string(SWEEPRUN_TOOL_PATH), sweeplyPath()})
    fs::copy_file(tool, tools + "/" + fs::path(tool).filename().string());
  temp.write("Inbox/report.txt", "kept");
  ASSERT_EQ(0, system(("chown -R 4242:4242 '" + home + "' '" + inbox + "'").c_str()));
  const auto asOwner = [&](const std::string& tool, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"setpriv", "--reuid=4242", "--regid=4242",
                                         "--clear-groups", tools + "/" + tool});
    return runProgram("/usr/bin/setpriv", arguments, toolEnvironment(home, "alice", temp.path()),
                      temp.path());
  };
  ASSERT_EQ(0, asOwner("sweeply", {"prefs", "LogFileName", home + "/run.log"}).exitStatus);
  ASSERT_EQ(0, asOwner("sweeply", {"add", inbox}).exitStatus);
  ASSERT_EQ(0, asOwner("sweeprun", {}).exitStatus) << "tracks report.txt";

  fs::permissions(inbox, fs::perms(0600));
  const ProgramResult run = asOwner("sweeprun", {});
  fs::permissions(inbox, fs::perms(0755));
  EXPECT_EQ(74, run.exitStatus);
  EXPECT_NE(std::string::npos, run.err.find("Unable to list folder '" + inbox +
                                            "': Permission denied; its entries are kept"))
      << run.err;
  const ProgramResult shown = asOwner("sweeply", {"show", inbox});
  EXPECT_NE(std::string::npos, shown.out.find("report.txt")) << shown.out << shown.err;
}

// Errors must stand out in the system log ("journalctl -p err"). The tool runs
// in a mount namespace of its own whose /dev/log is a socket the test reads.
TEST_F(CollectionEndToEndTest, ErrorsReachTheSystemLogAtErrorPriority) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private /dev/log";
  if (system("command -v unshare >/dev/null 2>&1") != 0) GTEST_SKIP() << "no unshare";
  const std::string socketPath = temp.file("log.sock");
  const int sink = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(sink, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(0, bind(sink, reinterpret_cast<sockaddr*>(&address), sizeof address));
  fs::create_directories(temp.file("dev"));
  const std::string script =
      "mount --make-rprivate / && mount --bind /dev '" + temp.file("dev") +
      "' && mount -t tmpfs none /dev && touch /dev/null /dev/urandom /dev/log && "
      "mount --bind '" +
      temp.file("dev") + "/null' /dev/null && mount --bind '" + temp.file("dev") +
      "/urandom' /dev/urandom && mount --bind '" + socketPath + "' /dev/log && exec '" +
      SWEEPRUN_TOOL_PATH + "'";
  ProgramResult result = runProgram("/usr/bin/unshare", {"unshare", "-m", "sh", "-c", script},
                                    toolEnvironment(home, "alice", temp.path()), temp.path());
  EXPECT_EQ(1, result.exitStatus) << result.err;
  char message[2048] = {};
  const ssize_t n = recv(sink, message, sizeof message - 1, MSG_DONTWAIT);
  close(sink);
  ASSERT_GT(n, 0) << "nothing reached the system log";
  // <facility * 8 + severity>: the user facility (1) at error severity (3).
  EXPECT_EQ(0u, std::string(message).rfind("<11>", 0)) << message;
  EXPECT_NE(std::string::npos, std::string(message).find("No folder database exists")) << message;
}

}  // namespace
}  // namespace sweeprun
