#pragma once

#include <string>

namespace sweeprun {

/// The version text: the release number and a one-line rights notice. The
/// tool prints it as "Version %s\n" and each run writes it to the run log.
std::string versionText();

}  // namespace sweeprun
