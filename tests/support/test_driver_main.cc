// The tool's start-up for end-to-end tests: the same start-up as the shipped
// binary, but the configuration file, the account folder, the post-run
// pause, the bound of a folder pattern, the time limit of an entry's tree
// and an offset of the clock come from the environment (and the system data folder lies beside
// the configuration file), so that tests of system and check mode never
// touch /etc or /Users. Started as "sweeply" (its first argument), it is the
// companion command over that same world, so that a test compares what
// "sweeply preview --system" says with what the next system run does. Built
// with the tests only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/startup.h"
#include "companion/companion_app.h"
#include "fs/mapped_file.h"
#include "fs/mount_table.h"
#include "fs/path.h"
#include "fs/trash_location.h"
#include "os/process.h"
#include "os/process_info.h"

int main(int argc, char** argv) {
  using namespace sweeprun;
  const auto config = environmentValue("SWEEPRUN_TEST_CONFIG");
  const auto users = environmentValue("SWEEPRUN_TEST_USERS");
  if (!config || !users) {
    std::fprintf(stderr,
                 "sweeprun_test_driver: set SWEEPRUN_TEST_CONFIG and SWEEPRUN_TEST_USERS\n");
    return 2;
  }
  installMappedFileGuard();
  Process context;
  context.configPath = *config;
  context.usersFolder = *users;
  // The system journal beside the configuration file, never in /var/lib.
  context.systemDataFolder = deletingLastPathComponent(*config) + "/var-lib-sweeprun";
  const std::string pause = environmentValue("SWEEPRUN_TEST_PAUSE").value_or("0");
  context.postRunPauseSeconds = static_cast<unsigned>(std::strtoul(pause.c_str(), nullptr, 10));
  // A small bound lets a test reach "too many entries" with a small tree.
  if (const auto bound = environmentValue("SWEEPRUN_TEST_PATTERN_BOUND"))
    context.maxPatternEntriesVisited = std::strtoul(bound->c_str(), nullptr, 10);
  // A short limit lets a test see a run give up an entry's tree.
  if (const auto limit = environmentValue("SWEEPRUN_TEST_TREE_SECONDS"))
    context.entryTreeTimeLimit = std::chrono::seconds(std::strtol(limit->c_str(), nullptr, 10));
  // A clock set off by some seconds lets a test give entries first-seen
  // dates days apart, and reach an age without waiting for it.
  if (const auto offset = environmentValue("SWEEPRUN_TEST_CLOCK_OFFSET")) {
    const double seconds = std::strtod(offset->c_str(), nullptr);
    context.clock = [seconds] { return Date{Date::now().seconds + seconds}; };
  }
  fillRunningProcess(context);
  // The accounts and mount points a run may use for Trash folders: only those
  // a test names, never a real user's home or a real file system's top.
  //   SWEEPRUN_TEST_ACCOUNTS="uid:gid:home;..."   SWEEPRUN_TEST_TOPDIRS="dir:dir"
  std::map<unsigned, UserAccount> accounts;
  std::istringstream accountList(environmentValue("SWEEPRUN_TEST_ACCOUNTS").value_or(""));
  for (std::string entry; std::getline(accountList, entry, ';');) {
    unsigned user = 0;
    UserAccount account;
    char colon = 0;
    std::istringstream fields(entry);
    if (fields >> user >> colon >> account.group >> colon && std::getline(fields, account.home))
      accounts[user] = account;
  }
  context.accountOf = [accounts](unsigned user) -> std::optional<UserAccount> {
    const auto found = accounts.find(user);
    if (found == accounts.end()) return std::nullopt;
    return found->second;
  };
  std::vector<std::string> topdirs;
  std::istringstream topdirList(environmentValue("SWEEPRUN_TEST_TOPDIRS").value_or(""));
  for (std::string dir; std::getline(topdirList, dir, ':');) topdirs.push_back(dir);
  context.mountPointOf = [topdirs](uint64_t device,
                                   const std::string& path) -> std::optional<std::string> {
    const std::optional<std::string> point = mountPointOf(device, path);
    if (point && std::find(topdirs.begin(), topdirs.end(), *point) != topdirs.end()) return point;
    return std::nullopt;
  };
  ScopedProcess installed(context);
  // Located with the installed home folder; start-up drops it in system mode.
  context.userTrashPath = locateUserTrash(context.homeDirectory);
  const std::vector<std::string> arguments(argv, argv + argc);
  if (argc > 0 && lastPathComponent(argv[0]) == "sweeply") return runCompanion(arguments);
  return exitStatusOf(startup(arguments));
}
