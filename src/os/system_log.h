#pragma once

#include <string_view>

namespace sweeprun {

/// How much a message of the system log matters: what a journal query such
/// as "journalctl -p err" selects by.
enum class LogPriority { kError, kNotice };

/// Writes a message to the system log (syslog, ident "sweeprun") and echoes it
/// on the process's standard error.
void systemLog(std::string_view message, LogPriority priority = LogPriority::kError);

}  // namespace sweeprun
