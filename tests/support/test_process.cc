#include "support/test_process.h"

namespace sweeprun {

TestProcess::TestProcess() {
  context.homeDirectory = dir_.path();
  context.usersFolder = dir_.file("Users");
  context.configPath = dir_.file("sweeprun.plist");
  context.clock = [this] { return now; };
  context.out = &out_;
  context.err = &err_;
}

}  // namespace sweeprun
