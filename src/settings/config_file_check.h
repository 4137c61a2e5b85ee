#pragma once

#include <string>

namespace sweeprun {

/// What system mode finds wrong with its configuration file itself, before
/// it reads a line of it.
enum class ConfigFileFault {
  kNone,
  kMissing,
  kNotOwnedByRoot,
  kAccessibleByOthers,  // group or others may read or write it
  kNotRegularFile,      // a final link counts as one, and is not followed
};

/// The first fault of the file at |path|, in the order above.
ConfigFileFault configFileFault(const std::string& path);

/// The words for |fault| of the file at |path|, as system mode reports them
/// after "Error: " (empty for kNone).
std::string configFileFaultText(ConfigFileFault fault, const std::string& path);

}  // namespace sweeprun
