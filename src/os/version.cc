#include "os/version.h"

namespace sweeprun {

std::string versionText() {
  return SWEEPRUN_VERSION " - (c) the sweeprun developers; free to use, copy and change.";
}

}  // namespace sweeprun
