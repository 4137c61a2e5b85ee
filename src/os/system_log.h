#pragma once

#include <string_view>

namespace sweeprun {

/// How much a message of the system log matters: what a journal query such
/// as "journalctl -p err" selects by.
enum class LogPriority { kError, kNotice };

/// Writes a message to the system log and echoes it on the process's standard
/// error. Where the journal listens, the message becomes a journal record
/// (SYSLOG_IDENTIFIER "sweeprun"), and the echo is left out when standard
/// error is itself a stream into the journal; elsewhere, or when the journal
/// refuses it, it goes to syslog (ident "sweeprun").
void systemLog(std::string_view message, LogPriority priority = LogPriority::kError);

}  // namespace sweeprun
