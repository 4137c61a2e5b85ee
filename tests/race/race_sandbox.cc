#include "race/race_sandbox.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "race/victim_tree.h"

namespace sweeprun {

namespace {

namespace fs = std::filesystem;

std::string failure(const char* operation, const std::string& path) {
  return std::string(operation) + "(" + path + "): " + std::strerror(errno);
}

void makeRootFolder(const std::string& path, mode_t mode) {
  fs::create_directories(path);
  chown(path.c_str(), 0, 0);
  chmod(path.c_str(), mode);
}

}  // namespace

void giveTo(const std::string& path, uid_t uid) { lchown(path.c_str(), uid, uid); }

RaceSandbox::~RaceSandbox() {
  if (varLibMounted_) umount2("/var/lib", MNT_DETACH);
  if (otherMounted_) umount2(path("other").c_str(), MNT_DETACH);
  if (mounted_) umount2(root_.c_str(), MNT_DETACH);
  if (!root_.empty()) rmdir(root_.c_str());
}

bool RaceSandbox::create(const std::string& driverPath, const std::string& sweeplyPath,
                         std::string& error) {
  if (geteuid() != 0) {
    error = "raced system-mode runs need root (system mode runs as root only)";
    return false;
  }
  if (unshare(CLONE_NEWNS) != 0) return (error = failure("unshare", "CLONE_NEWNS")), false;
  // Nothing mounted from here on may propagate back to the host.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return (error = failure("mount", "/ private")), false;
  root_ = "/tmp/sweeprun-race-" + std::to_string(getpid());
  if (mkdir(root_.c_str(), 0755) != 0) return (error = failure("mkdir", root_)), false;
  // nosuid and nodev: a set-id file or a device node that a raced run
  // leaves behind is found and reported, and can never be used.
  const unsigned long flags = MS_NOSUID | MS_NODEV;
  // Room for both tools as the sanitizer build makes them (about 90 MB).
  if (mount("sweeprun-race", root_.c_str(), "tmpfs", flags, "mode=0755,size=256m") != 0)
    return (error = failure("mount", root_)), false;
  mounted_ = true;
  makeRootFolder(path("other"), 0755);
  if (mount("sweeprun-race-other", path("other").c_str(), "tmpfs", flags, "mode=0755,size=64m") !=
      0)
    return (error = failure("mount", path("other"))), false;
  otherMounted_ = true;

  makeRootFolder(path("bin"), 0755);
  fs::copy_file(driverPath, path("bin/sweeprun"));
  chmod(path("bin/sweeprun").c_str(), 0555);
  fs::copy_file(sweeplyPath, path("bin/sweeply"));
  chmod(path("bin/sweeply").c_str(), 0555);
  makeRootFolder(path("etc"), 0700);
  // sweeply finds the system journal only at /var/lib/sweeprun: a tmpfs
  // over /var/lib (in this namespace alone) puts the driver's journal there.
  makeRootFolder(path("etc/var-lib-sweeprun"), 0700);
  if (mount("sweeprun-race-var-lib", "/var/lib", "tmpfs", flags, "mode=0755,size=1m") != 0)
    return (error = failure("mount", "/var/lib")), false;
  varLibMounted_ = true;
  makeRootFolder("/var/lib/sweeprun", 0700);
  if (mount(path("etc/var-lib-sweeprun").c_str(), "/var/lib/sweeprun", nullptr, MS_BIND,
            nullptr) != 0)
    return (error = failure("mount", "/var/lib/sweeprun")), false;
  makeRootFolder(path("home"), 0700);
  makeRootFolder(path("Users"), 0755);
  makeVictimTree(path("victim"));
  makeVictimTree(path("other/victim"));
  resetAttackerFolders();
  return true;
}

void RaceSandbox::makeAttackerFolder(const std::string& folder) const {
  fs::create_directories(folder);
  for (fs::path p = folder; p.string().size() > root_.size(); p = p.parent_path()) {
    // Only the attacker's own levels: stop at a root folder of the layout.
    const std::string text = p.string();
    if (text == path("Users") || text == path("other")) break;
    giveTo(text, kAttacker);
    chmod(text.c_str(), 0755);
  }
}

void RaceSandbox::resetAttackerFolders() const {
  for (const char* folder : {"Users/attacker", "dest", "other/dest", "other/baits"}) {
    std::error_code ec;
    fs::remove_all(path(folder), ec);  // links are removed, never followed
  }
  for (const std::string& folder :
       {watched(), accountTrash(), path("Users/attacker/baits"), path("Users/attacker/keep"),
        sameDeviceDestination(), otherDeviceDestination(), path("other/baits")}) {
    makeAttackerFolder(folder);
  }
  // The attacker's own file that it hard-links into the watched folder.
  std::ofstream(path("Users/attacker/keep/file")) << "the attacker's own\n";
  giveTo(path("Users/attacker/keep/file"), kAttacker);
}

void RaceSandbox::writeConfig(const std::string& action, bool datedFolders) const {
  const std::string config = path("etc/sweeprun.plist");
  std::ofstream(config, std::ios::trunc)
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      << "<key>DataFile</key><string>" << path("etc/run.data") << "</string>"
      << "<key>LogToFile</key><true/><key>LogFileName</key><string>" << path("etc/run.log")
      << "</string><key>Folders</key><array><dict>"
      << "<key>Path</key><string>" << watched() << "</string>"
      << "<key>Action</key><string>" << action << "</string>"
      << "<key>Condition</key><string>delay: 0 days</string>"
      << "<key>ReadMeFileName</key><string>" << kReadMeName << "</string>"
      << "<key>ReadMeText</key><string>Entries here are removed at once.</string>"
      << "<key>MoveWithDate</key>" << (datedFolders ? "<true/>" : "<false/>")
      << "</dict></array></dict></plist>\n";
  chown(config.c_str(), 0, 0);
  chmod(config.c_str(), 0600);
}

ProgramResult RaceSandbox::runSystemMode() const {
  fs::remove(path("etc/run.data"));
  fs::remove(path("etc/run.log"));
  std::vector<std::string> environment =
      toolEnvironment(path("home"), "root", root_, "etc/sweeprun.plist");
  if (ownersTrash_) {
    for (std::string& variable : environment) {
      if (variable.rfind("SWEEPRUN_TEST_USERS=", 0) == 0)
        variable = "SWEEPRUN_TEST_USERS=" + path("no-accounts");
    }
    environment.push_back("SWEEPRUN_TEST_TOPDIRS=" + root_);
  }
  return runProgram(path("bin/sweeprun"), {"sweeprun", "-s"}, environment, path("home"));
}

ProgramResult RaceSandbox::undoLastRun() const {
  return runProgram(path("bin/sweeply"), {"sweeply", "undo", "--system"},
                    toolEnvironment(path("home"), "root", root_, "etc/sweeprun.plist"),
                    path("home"));
}

}  // namespace sweeprun
