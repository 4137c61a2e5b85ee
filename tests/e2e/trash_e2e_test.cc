// Trashed entries as their owners meet them: in system mode each entry goes
// to its own owner's Trash, and in user mode an entry on another file system
// to that file system's top-directory Trash, so that each owner lists and
// restores their entries with the desktop's trash tools. Needs root (to
// mount a second file system and to act as other users).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "e2e/run_program.h"
#include "support/temp_dir.h"
#include "support/trash_tools.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kAlice = 4301;  // has a home on the second file system
constexpr uid_t kBob = 4302;    // has no home

struct stat statOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
  return st;
}

class TrashEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system and act as others";
    if (system("command -v trash-list >/dev/null && command -v setpriv >/dev/null") != 0)
      GTEST_SKIP() << "needs trash-list and setpriv";
    fs::permissions(temp.path(), fs::perms(0755));
    fs::create_directories(volume);
    if (mount("none", volume.c_str(), "tmpfs", 0, "size=16m,mode=0755") != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here";
    mounted = true;
  }
  void TearDown() override {
    if (mounted) umount2(volume.c_str(), MNT_DETACH);
  }

  /// |command| runs as |user| with |home| (trash tools find the home Trash
  /// through it), in |folder|, seeing the test's volume and no other.
  ProgramResult runAs(uid_t user, const std::string& home, const std::string& folder,
                      const std::string& command) {
    const std::string id = std::to_string(user);
    return runProgram(kHermeticTrashTool,
                      {kHermeticTrashTool, "--volume", volume, "/usr/bin/setpriv", "--reuid=" + id,
                       "--regid=" + id, "--clear-groups", "sh", "-c", command},
                      {"HOME=" + home, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"}, folder);
  }

  void makeOwned(const std::string& path, uid_t owner, unsigned mode, const std::string& text) {
    temp.write(path.substr(temp.path().size() + 1), text);
    ASSERT_EQ(0, chown(path.c_str(), owner, owner));
    ASSERT_EQ(0, chmod(path.c_str(), mode));
  }

  /// A configuration file of system mode, root's and 0600, with a run log,
  /// over the <dict> elements of |folders|.
  void writeSystemConfig(const std::string& folders) {
    temp.write("sweeprun.plist",
               "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>DataFile</key><string>" +
                   temp.file("system.data") +
                   "</string><key>LogToFile</key><true/><key>LogFileName</key><string>" +
                   temp.file("run.log") + "</string><key>Folders</key><array>" + folders +
                   "</array></dict></plist>");
    fs::permissions(temp.file("sweeprun.plist"), fs::perms(0600));
  }

  /// The environment of the test driver in system mode: Alice (whose home
  /// is |aliceHome|) is the one account known, the volume the one top
  /// directory.
  std::vector<std::string> systemEnvironment(const std::string& aliceHome) {
    std::vector<std::string> environment = toolEnvironment(temp.file("root"), "root", temp.path());
    environment.push_back("SWEEPRUN_TEST_ACCOUNTS=" + std::to_string(kAlice) + ":" +
                          std::to_string(kAlice) + ":" + aliceHome);
    environment.push_back("SWEEPRUN_TEST_TOPDIRS=" + volume);
    return environment;
  }

  TempDir temp;
  const std::string volume = temp.file("volume");
  bool mounted = false;
};

// Every path below |root| with its type, size, mode, owner and change time.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const struct stat st = statOf(entry.path());
    found[entry.path()] = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                          std::to_string(st.st_uid) + " " + std::to_string(st.st_ctim.tv_sec) +
                          "." + std::to_string(st.st_ctim.tv_nsec);
  }
  return found;
}

TEST_F(TrashEndToEndTest, SystemModeGivesEachOwnerTheirEntriesToRestore) {
  const std::string watched = volume + "/shared", aliceHome = volume + "/home/alice";
  fs::create_directories(watched);
  fs::permissions(watched, fs::perms(01777));
  fs::create_directories(aliceHome);
  ASSERT_EQ(0, chown(aliceHome.c_str(), kAlice, kAlice));
  makeOwned(watched + "/alice.old", kAlice, 0640, "alice's");
  makeOwned(watched + "/bob.old", kBob, 0604, "bob's");
  writeSystemConfig("<dict><key>Path</key><string>" + watched +
                    "</string><key>Condition</key><string>name: *.old</string></dict>");
  const std::string tool = readOnlyDriverIn(temp.path());
  const ProgramResult run = runProgram(tool, {tool, "-s"}, systemEnvironment(aliceHome), temp.path());
  ASSERT_EQ(0, run.exitStatus) << run.err << temp.read("run.log");

  // Alice's entry is in her home Trash, Bob's in the volume's Trash for him;
  // everything there is theirs.
  const std::string aliceTrash = aliceHome + "/.local/share/Trash";
  const std::string bobTrash = volume + "/.Trash-" + std::to_string(kBob);
  EXPECT_EQ("alice's", temp.read(aliceTrash.substr(temp.path().size() + 1) + "/files/alice.old"));
  EXPECT_EQ("bob's", temp.read(bobTrash.substr(temp.path().size() + 1) + "/files/bob.old"));
  for (const std::string& path : {aliceHome + "/.local", aliceTrash, aliceTrash + "/files",
                                  aliceTrash + "/info", aliceTrash + "/info/alice.old.trashinfo"}) {
    EXPECT_EQ(kAlice, statOf(path).st_uid) << path;
  }
  for (const std::string& path :
       {bobTrash, bobTrash + "/files", bobTrash + "/info/bob.old.trashinfo"})
    EXPECT_EQ(kBob, statOf(path).st_uid) << path;
  EXPECT_EQ(0700u, statOf(bobTrash).st_mode & 07777);

  // Each owner sees exactly their own entry, and puts it back.
  const ProgramResult aliceList = runAs(kAlice, aliceHome, watched, "trash-list");
  EXPECT_NE(std::string::npos, aliceList.out.find(watched + "/alice.old")) << aliceList.out;
  EXPECT_EQ(std::string::npos, aliceList.out.find("bob.old")) << aliceList.out;
  const ProgramResult bobList = runAs(kBob, "/nonexistent", watched, "trash-list");
  EXPECT_NE(std::string::npos, bobList.out.find(watched + "/bob.old")) << bobList.out;
  EXPECT_EQ(std::string::npos, bobList.out.find("alice.old")) << bobList.out;

  EXPECT_EQ(0, runAs(kAlice, aliceHome, watched, "echo 0 | trash-restore").exitStatus);
  EXPECT_EQ(0, runAs(kBob, "/nonexistent", watched, "echo 0 | trash-restore").exitStatus);
  EXPECT_EQ("alice's", temp.read("volume/shared/alice.old"));
  EXPECT_EQ("bob's", temp.read("volume/shared/bob.old"));
  EXPECT_EQ(kAlice, statOf(watched + "/alice.old").st_uid);
  EXPECT_EQ(0640u, statOf(watched + "/alice.old").st_mode & 07777);
  EXPECT_EQ(kBob, statOf(watched + "/bob.old").st_uid);
  EXPECT_EQ(0604u, statOf(watched + "/bob.old").st_mode & 07777);
}

// What "sweeply preview --system" says is what the next system run does, to
// the Trash of each entry's owner, and the preview itself changes nothing.
TEST_F(TrashEndToEndTest, SystemPreviewAgreesWithTheNextRunAndTouchesNothing) {
  const std::string watched = volume + "/shared", drop = volume + "/drop",
                    aliceHome = volume + "/home/alice";
  for (const std::string& folder : {watched, drop, aliceHome}) fs::create_directories(folder);
  fs::permissions(watched, fs::perms(01777));
  ASSERT_EQ(0, chown(aliceHome.c_str(), kAlice, kAlice));
  writeSystemConfig("<dict><key>Path</key><string>" + watched +
                    "</string><key>Condition</key><string>name: *.old</string></dict>"
                    "<dict><key>Path</key><string>" + drop +
                    "</string><key>Action</key><string>delete</string>"
                    "<key>Condition</key><string>name: *.old</string></dict>");
  const std::string tool = readOnlyDriverIn(temp.path());
  const auto run = [&](std::vector<std::string> arguments) {
    return runProgram(tool, arguments, systemEnvironment(aliceHome), temp.path());
  };
  temp.write("volume/shared/keep.txt", "kept");
  ASSERT_EQ(0, run({tool, "-s"}).exitStatus) << "a first run makes the database and the log";
  makeOwned(watched + "/alice.old", kAlice, 0640, "alice's");
  makeOwned(watched + "/bob.old", kBob, 0604, "bob's");
  temp.write("volume/shared/new.txt", "new");
  temp.write("volume/drop/x.old", "x");

  const std::map<std::string, std::string> before = snapshot(temp.path());
  const ProgramResult preview = run({"sweeply", "preview", "--system"});
  ASSERT_EQ(0, preview.exitStatus) << preview.err;
  EXPECT_EQ(before, snapshot(temp.path())) << "a preview changes nothing";
  std::set<std::string> planned;
  std::istringstream lines(preview.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, 2, "  ") == 0 && line.find("would be removed") == std::string::npos)
      planned.insert(line.substr(2, line.find(" (") - 2));
  }
  const std::string bobTrash = volume + "/.Trash-" + std::to_string(kBob);
  EXPECT_EQ((std::set<std::string>{
                "keep         keep.txt", "take in      new.txt",
                "trash        alice.old -> " + aliceHome + "/.local/share/Trash/files/alice.old",
                "trash        bob.old -> " + bobTrash + "/files/bob.old",
                "delete       x.old"}),
            planned)
      << preview.out;

  ASSERT_EQ(0, run({tool, "-s"}).exitStatus);
  EXPECT_EQ("alice's", temp.read(aliceHome.substr(temp.path().size() + 1) +
                                 "/.local/share/Trash/files/alice.old"));
  EXPECT_EQ("bob's", temp.read(bobTrash.substr(temp.path().size() + 1) + "/files/bob.old"));
  EXPECT_FALSE(fs::exists(drop + "/x.old"));
  EXPECT_TRUE(fs::exists(watched + "/new.txt"));

  // A file the run would refuse to read is refused here too.
  ASSERT_EQ(0, chown(temp.file("sweeprun.plist").c_str(), kAlice, kAlice));
  const ProgramResult refused = run({"sweeply", "preview", "--system"});
  EXPECT_EQ(1, refused.exitStatus);
  EXPECT_NE(std::string::npos, refused.err.find("would not start: root must own")) << refused.err;
}

TEST_F(TrashEndToEndTest, UserModeTrashesIntoTheTopDirectoryTrashOfTheEntrysFileSystem) {
  const std::string home = temp.file("home"), watched = volume + "/stick";
  fs::create_directories(home);
  fs::create_directories(watched);
  temp.write("volume/stick/photo.tmp", "pixels");
  const ino_t inode = statOf(watched + "/photo.tmp").st_ino;
  const auto sweeply = [&](std::vector<std::string> arguments) {
    const std::string path = fs::path(SWEEPRUN_TOOL_PATH).parent_path() / "sweeply";
    arguments.insert(arguments.begin(), path);
    return runProgram(path, arguments, toolEnvironment(home, "root", temp.path()), temp.path());
  };
  ASSERT_EQ(0, sweeply({"add", watched, "--condition", "name: *.tmp"}).exitStatus);
  const ProgramResult run = runProgram(SWEEPRUN_TOOL_PATH, {SWEEPRUN_TOOL_PATH},
                                       toolEnvironment(home, "root", temp.path()), temp.path());
  ASSERT_EQ(0, run.exitStatus) << run.err;

  const std::string trashed = volume + "/.Trash-0/files/photo.tmp";
  EXPECT_EQ(inode, statOf(trashed).st_ino) << "renamed, not copied";
  EXPECT_EQ("[Trash Info]\nPath=stick/photo.tmp\n",
            temp.read("volume/.Trash-0/info/photo.tmp.trashinfo").substr(0, 34))
      << "a top-directory Trash records the path below its mount point";
  EXPECT_FALSE(fs::exists(home + "/.local/share/Trash/files/photo.tmp"));

  EXPECT_EQ(0, runAs(0, home, watched, "echo 0 | trash-restore").exitStatus);
  EXPECT_EQ("pixels", temp.read("volume/stick/photo.tmp"));
}

// A shared Trash that is a link or not sticky, and a Trash of the user's
// that another user owns, are never used; the run log says why.
TEST_F(TrashEndToEndTest, UnsafeTopDirectoryTrashFoldersAreRefused) {
  const std::string home = temp.file("home"), watched = volume + "/stick";
  fs::create_directories(home);
  fs::create_directories(watched);
  fs::create_directories(temp.file("elsewhere"));
  const auto sweeply = [&](std::vector<std::string> arguments) {
    const std::string path = fs::path(SWEEPRUN_TOOL_PATH).parent_path() / "sweeply";
    arguments.insert(arguments.begin(), path);
    return runProgram(path, arguments, toolEnvironment(home, "root", temp.path()), temp.path());
  };
  ASSERT_EQ(0, sweeply({"add", watched, "--condition", "name: *.tmp"}).exitStatus);
  ASSERT_EQ(0, sweeply({"prefs", "LogToFile", "yes"}).exitStatus);
  ASSERT_EQ(0, sweeply({"prefs", "LogFileName", temp.file("run.log")}).exitStatus);
  const struct {
    const char* label;
    std::function<void()> prepare;
    const char* logged;
  } kCases[] = {
      {"a link as .Trash",
       [&] { fs::create_directory_symlink(temp.file("elsewhere"), volume + "/.Trash"); },
       "/.Trash is a symbolic link, not used"},
      {"a .Trash that is not sticky", [&] { fs::create_directories(volume + "/.Trash"); },
       "/.Trash is not sticky, not used"},
      {"a .Trash-0 of another user",
       [&] {
         fs::create_directories(volume + "/.Trash-0");
         ASSERT_EQ(0, chown((volume + "/.Trash-0").c_str(), kBob, kBob));
       },
       "/.Trash-0): owned by another user, not used"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    c.prepare();
    temp.write("volume/stick/a.tmp", "a");
    fs::remove(temp.file("run.log"));
    runProgram(SWEEPRUN_TOOL_PATH, {SWEEPRUN_TOOL_PATH}, toolEnvironment(home, "root", temp.path()),
               temp.path());
    EXPECT_NE(std::string::npos, temp.read("run.log").find(c.logged)) << temp.read("run.log");
    EXPECT_TRUE(fs::is_empty(temp.file("elsewhere")));
    fs::remove_all(volume + "/.Trash");
    fs::remove_all(volume + "/.Trash-0");
    fs::remove_all(home + "/.local/share/Trash");
    fs::remove(watched + "/a.tmp");
  }
}

}  // namespace
}  // namespace sweeprun
