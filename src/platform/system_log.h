#pragma once

#include <string_view>

namespace sweeprun {

/// Writes a message to the system log (syslog, ident "sweeprun") and echoes it
/// on the process's standard error.
void systemLog(std::string_view message);

}  // namespace sweeprun
