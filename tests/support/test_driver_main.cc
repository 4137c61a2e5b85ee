// The tool's start-up for end-to-end tests: the same start-up as the shipped
// binary, but the configuration file, the account folder, the post-run
// pause and the bound of a folder pattern come from the environment, so
// that tests of system and check mode never touch /etc or /Users. Built
// with the tests only.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/startup.h"
#include "platform/process.h"
#include "platform/process_info.h"
#include "platform/trash_location.h"

int main(int argc, char** argv) {
  using namespace sweeprun;
  const auto config = environmentValue("SWEEPRUN_TEST_CONFIG");
  const auto users = environmentValue("SWEEPRUN_TEST_USERS");
  if (!config || !users) {
    std::fprintf(stderr,
                 "sweeprun_test_driver: set SWEEPRUN_TEST_CONFIG and SWEEPRUN_TEST_USERS\n");
    return 2;
  }
  Process context;
  context.configPath = *config;
  context.usersFolder = *users;
  const std::string pause = environmentValue("SWEEPRUN_TEST_PAUSE").value_or("0");
  context.postRunPauseSeconds = static_cast<unsigned>(std::strtoul(pause.c_str(), nullptr, 10));
  // A small bound lets a test reach "too many entries" with a small tree.
  if (const auto bound = environmentValue("SWEEPRUN_TEST_PATTERN_BOUND"))
    context.maxPatternEntriesVisited = std::strtoul(bound->c_str(), nullptr, 10);
  fillRunningProcess(context);
  ScopedProcess installed(context);
  // Located with the installed home folder; start-up drops it in system mode.
  context.userTrashPath = locateUserTrash();
  return exitStatusOf(startup(std::vector<std::string>(argv, argv + argc)));
}
