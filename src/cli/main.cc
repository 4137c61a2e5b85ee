#include <string>
#include <vector>

#include "cli/startup.h"
#include "fs/mapped_file.h"
#include "fs/trash_location.h"
#include "os/process.h"

int main(int argc, char** argv) {
  using namespace sweeprun;
  installMappedFileGuard();
  Process context;
  // Fixed: nothing in the environment can redirect them.
  context.configPath = "/etc/sweeprun.plist";
  context.usersFolder = "/Users";
  context.postRunPauseSeconds = 11;
  fillRunningProcess(context);
  ScopedProcess installed(context);
  // Located with the installed home folder; start-up drops it in system mode.
  context.userTrashPath = locateUserTrash(context.homeDirectory);
  return exitStatusOf(startup(std::vector<std::string>(argv, argv + argc)));
}
