#pragma once

#include <functional>
#include <iosfwd>
#include <string_view>

namespace sweeprun {

/// How much a message of the system log matters: what a journal query such
/// as "journalctl -p err" selects by.
enum class LogPriority { kError, kWarning, kNotice };

/// The syslog level of |priority| (LOG_ERR, LOG_WARNING, LOG_NOTICE).
int syslogLevelOf(LogPriority priority);

/// Names the stream systemLog echoes its messages on: the tool's standard
/// error, asked for at each message, or none to echo nothing. The entry
/// points install it with the world they run in (ScopedProcess does, and
/// restores the previous one after); until then messages are echoed on
/// std::cerr. The system log is one per process, like the log it writes to:
/// this is the one piece of process-wide state below the entry points.
/// Returns the previous one.
using SystemLogEcho = std::function<std::ostream*()>;
SystemLogEcho setSystemLogEcho(SystemLogEcho echo);

/// Writes a message to the system log and echoes it on the stream
/// setSystemLogEcho names. Where the journal listens, the message becomes a journal record
/// (SYSLOG_IDENTIFIER "sweeprun"), and the echo is left out when standard
/// error is itself a stream into the journal; elsewhere, or when the journal
/// refuses it, it goes to syslog (ident "sweeprun").
void systemLog(std::string_view message, LogPriority priority = LogPriority::kError);

}  // namespace sweeprun
