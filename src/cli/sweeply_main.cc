// The companion command: sets up and inspects the watched folders of user
// mode from a terminal, over the same stores and engine as the tool.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/startup.h"
#include "companion/companion_app.h"
#include "fs/mapped_file.h"
#include "fs/trash_location.h"
#include "os/process.h"

int main(int argc, char** argv) {
  using namespace sweeprun;
  installMappedFileGuard();
  Process context;
  fillRunningProcess(context);
  ScopedProcess installed(context);
  // A preview plans moves into the same Trash that a run would use.
  context.userTrashPath = locateUserTrash(context.homeDirectory);
  try {
    return runCompanion(std::vector<std::string>(argv, argv + argc));
  } catch (const std::exception& e) {
    std::cerr << "sweeply: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "sweeply: unexpected failure\n";
  }
  return kCompanionFailure;
}
